// korvatine_page_frames: the frames the show draws, with the label page read
// from a file instead of rasterised, for machines that have a GPU driver and
// nothing else. With --reference, each frame is compared with the frame of the
// same name there (the software rasteriser's, say).
//
//   korvatine_page_frames --page PAGE.png --build NAME --times M,M,... --out DIR [--reference DIR]
//
// NAME is a build of builds.txt. Frames are written as DIR/<build>_m<M>.png.
// Exit status 1 on a failure, 2 on a usage error.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "offscreen.hpp"
#include "tools/command_line.hpp"

namespace {

// Shares of pixels whose largest channel difference exceeds 2/255 and 8/255.
struct Difference {
    double over_2 = 0, over_8 = 0;
};

Difference difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    size_t over_2 = 0, over_8 = 0;
    const size_t pixels = a.size() / 4;
    for (size_t i = 0; i < pixels; ++i) {
        int largest = 0;
        for (int channel = 0; channel < 4; ++channel)
            largest = std::max(largest, std::abs(int(a[i * 4 + channel]) - int(b[i * 4 + channel])));
        over_2 += largest > 2;
        over_8 += largest > 8;
    }
    return {double(over_2) / pixels, double(over_8) / pixels};
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr,
                 "korvatine_page_frames: %s\nusage: korvatine_page_frames --page PAGE.png --build %s --times "
                 "M,M,... --out DIR [--reference DIR]\n",
                 problem.c_str(), show_build_names().c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine options(
        argc, argv, {{"page", true}, {"build", true}, {"times", true}, {"out", true}, {"reference", true}});
    if (!options.problem().empty()) return usage_error(options.problem());
    const std::string page = options.value("page"), out = options.value("out"),
                      reference = options.value("reference");
    const ShowBuild* build = find_show_build(options.value("build"));
    std::vector<float> moments;
    if (page.empty() || out.empty()) return usage_error("--page and --out are needed");
    if (!build) return usage_error("--build is " + show_build_names());
    if (!parse_times(options.value("times"), &moments)) return usage_error("--times takes moments, M,M,...");

    OffscreenGl gl;
    if (!gl.ok()) {
        std::fprintf(stderr, "korvatine_page_frames: %s\n", gl.error().c_str());
        return 1;
    }
    std::printf("GL_RENDERER: %s\n", gl.renderer().c_str());
    std::string error;
    if (!bind_label_page_file(page, &error)) {
        std::fprintf(stderr, "korvatine_page_frames: cannot read the page %s: %s\n", page.c_str(),
                     error.c_str());
        return 1;
    }
    GLuint program = build_fragment_program(build->shader_text, &error);
    if (!program) {
        std::fprintf(stderr, "korvatine_page_frames: the %s shader did not compile:\n%s", build->name,
                     error.c_str());
        return 1;
    }
    int status = 0;
    for (float m : moments) {
        char time[32];
        std::snprintf(time, sizeof time, "%g", double(m));
        const std::string name = std::string(build->name) + "_m" + time + ".png";
        const std::vector<std::uint8_t> frame = render_show_frame(program, *build, m);
        if (!write_png(out + "/" + name, frame.data(), build->width, build->height, 4, &error)) {
            std::fprintf(stderr, "korvatine_page_frames: cannot write %s/%s: %s\n", out.c_str(), name.c_str(),
                         error.c_str());
            return 1;
        }
        if (reference.empty()) {
            std::printf("%-5s m = %5s: %s/%s\n", build->name, time, out.c_str(), name.c_str());
            continue;
        }
        std::vector<std::uint8_t> expected;
        int width = 0, height = 0, channels = 0;
        if (!read_png(reference + "/" + name, &expected, &width, &height, &channels, &error) ||
            width != build->width || height != build->height || channels != 4) {
            std::fprintf(stderr, "korvatine_page_frames: no reference frame %s/%s of %dx%d: %s\n",
                         reference.c_str(), name.c_str(), build->width, build->height, error.c_str());
            status = 1;
            continue;
        }
        const Difference off = difference(frame, expected);
        std::printf("%-5s m = %5s: %s/%s; pixels off the reference by more than 2/255: %6.3f %%, "
                    "by more than 8/255: %6.3f %%\n",
                    build->name, time, out.c_str(), name.c_str(), off.over_2 * 100, off.over_8 * 100);
    }
    return status;
}
