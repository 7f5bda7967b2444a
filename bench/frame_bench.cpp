// korvatine_frame_bench: milliseconds per frame of the shipped shader texts,
// drawn offscreen the way the show draws them. Prints the machine it ran on.
//
//   korvatine_frame_bench [repetitions]
//       both builds at the usual moments, on a blank white label page
//   korvatine_frame_bench --build NAME --times M,M,... [--frames N] [--warmup N] [--page PAGE.png]
//       one build at the given moments, N timed frames each after the warm-up
//       ones, on the label page the capture tool wrote (white without --page);
//       NAME is a build of builds.txt
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "offscreen.hpp"
#include "tools/command_line.hpp"

#include "machine.hpp"

namespace {

// A white page on unit 0, so every underside print lets the light through.
void bind_blank_label() {
    GLuint texture;
    glGenTextures(1, &texture);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    const float white[4] = {1, 1, 1, 1};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 1, 1, 0, GL_RGBA, GL_FLOAT, white);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

// Processor time of the whole process (the rasteriser's threads included), in ms.
double process_cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-3;
}

struct FrameTime {
    double wall_ms; // median
    double cpu_ms;  // median processor time over all threads
};

// Frame time at time m, after one frame to warm up. The processor time shows
// the work itself when other programs share the processors.
FrameTime median_frame_time(const ShowBuild& build, GLuint program, float m, int warmup, int repetitions) {
    Framebuffer framebuffer(build.width, build.height, GL_RGBA8);
    for (int i = 0; i < warmup; ++i)
        framebuffer.draw(program, m);
    std::vector<double> wall, cpu;
    for (int i = 0; i < repetitions; ++i) {
        const double cpu_start = process_cpu_ms();
        const auto start = std::chrono::steady_clock::now();
        framebuffer.draw(program, m); // ends with glFinish
        const auto end = std::chrono::steady_clock::now();
        cpu.push_back(process_cpu_ms() - cpu_start);
        wall.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

double load_average() {
    double load = -1;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1) load = -1;
        std::fclose(file);
    }
    return load;
}

struct Case {
    std::string build;
    float m;
    int repetitions;
};

// The cases the command line asks for, or a usage error's problem.
std::string parse_cases(int argc, char** argv, std::vector<Case>* cases, int* warmup, std::string* page) {
    if (argc == 1 || argv[1][0] != '-') {
        const int repetitions = argc == 1 ? 5 : std::max(1, std::atoi(argv[1]));
        // The full build costs seconds a frame on a software rasteriser.
        *cases = {{"small", 5, repetitions},
                  {"small", 20, repetitions},
                  {"small", 50, repetitions},
                  {"full", 20, std::max(1, repetitions / 2)}};
        return argc <= 2 ? "" : "one number of repetitions at most";
    }
    const CommandLine options(
        argc, argv, {{"build", true}, {"times", true}, {"frames", true}, {"warmup", true}, {"page", true}});
    if (!options.problem().empty()) return options.problem();
    std::vector<float> moments;
    if (!find_show_build(options.value("build"))) return "--build is " + show_build_names();
    if (!parse_times(options.value("times"), &moments)) return "--times takes moments, M,M,...";
    const int frames = options.has("frames") ? std::max(1, std::atoi(options.value("frames").c_str())) : 5;
    if (options.has("warmup")) *warmup = std::max(0, std::atoi(options.value("warmup").c_str()));
    *page = options.value("page");
    for (float m : moments)
        cases->push_back({options.value("build"), m, frames});
    return "";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<Case> cases;
    int warmup = 1;
    std::string page;
    if (const std::string problem = parse_cases(argc, argv, &cases, &warmup, &page); !problem.empty()) {
        std::fprintf(stderr,
                     "korvatine_frame_bench: %s\nusage: korvatine_frame_bench [repetitions]\n"
                     "       korvatine_frame_bench --build %s --times M,M,... [--frames N] [--warmup N] "
                     "[--page PAGE.png]\n",
                     problem.c_str(), show_build_names().c_str());
        return 2;
    }
    OffscreenGl gl;
    if (!gl.ok()) {
        std::fprintf(stderr, "korvatine_frame_bench: %s\n", gl.error().c_str());
        return 1;
    }
    std::printf("CPU: %s (%d logical processors)\n", cpu_model().c_str(), cpu_count());
    std::printf("GL_RENDERER: %s\n", gl.renderer().c_str());
    std::printf("GL_VERSION: %s\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("median of %d frames after %d warm-up frame%s; label: %s\n", cases.front().repetitions,
                warmup, warmup == 1 ? "" : "s", page.empty() ? "a blank white page" : page.c_str());
    std::printf("load average before the run: %.2f (other programs slow the wall-clock figures)\n",
                load_average());
    std::string error;
    if (page.empty())
        bind_blank_label();
    else if (!bind_label_page_file(page, &error)) {
        std::fprintf(stderr, "korvatine_frame_bench: cannot read the page %s: %s\n", page.c_str(),
                     error.c_str());
        return 1;
    }

    for (const Case& c : cases) {
        const ShowBuild& build = *find_show_build(c.build);
        std::string log;
        GLuint program = build_fragment_program(build.shader_text, &log);
        if (!program) {
            std::fprintf(stderr, "korvatine_frame_bench: the %s shader did not compile:\n%s", c.build.c_str(),
                         log.c_str());
            return 1;
        }
        const FrameTime time = median_frame_time(build, program, c.m, warmup, c.repetitions);
        const double fps = 1000 / time.wall_ms;
        std::printf("%-5s %4dx%-4d m = %4.1f: %9.1f ms per frame (processor time %9.1f ms), %7.1f fps, "
                    "%6.1f %% of 60\n",
                    c.build.c_str(), build.width, build.height, static_cast<double>(c.m), time.wall_ms,
                    time.cpu_ms, fps, fps / 60 * 100);
        std::fflush(stdout);
        glDeleteProgram(program);
    }
    return 0;
}
