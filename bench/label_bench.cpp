// korvatine_label_bench: time of the show's label-sheet step (in-memory file,
// load, render, upload), through the show's own code, on whatever renderer the
// offscreen context gets. Prints the machine it ran on.
//
//   korvatine_label_bench [repetitions]
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "label.hpp"
#include "offscreen.hpp"
#include "postscript_ps_min.h"

#include "machine.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in MiB.
double peak_resident_mib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

struct Times {
    std::vector<double> memfd_load, render, upload, whole_step;
};

void report(const char* what, std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    std::printf("  %-44s min %7.1f ms   median %7.1f ms\n", what, 1000 * seconds.front(),
                1000 * seconds[seconds.size() / 2]);
}

void delete_bound_texture() {
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    GLuint name = texture;
    glDeleteTextures(1, &name);
    glFinish();
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    OffscreenGl gl;
    if (!gl.ok()) {
        std::fprintf(stderr, "korvatine_label_bench: %s\n", gl.error().c_str());
        return 1;
    }
    utsname machine{};
    uname(&machine);
    std::printf("machine: %s, %ld cores, %s %s\nrenderer: %s\n", cpu_model().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), machine.sysname, machine.release, gl.renderer().c_str());
    std::printf("document: %u bytes; page 4096 x 4096; texture GL_RGBA32F (256 MiB)\n",
                postscript_ps_min_len);

    Times times;
    for (int i = 0; i < repetitions; ++i) {
        // The step in its pieces, as render_label_page and build_label_texture do them.
        Clock::time_point start = Clock::now();
        const int descriptor = sys_memfd_create("", 0);
        sys_write(descriptor, postscript_ps_min, postscript_ps_min_len);
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", descriptor);
        SpectreDocument* document = spectre_document_new();
        spectre_document_load(document, path);
        times.memfd_load.push_back(seconds_since(start));
        start = Clock::now();
        unsigned char* page = nullptr;
        int row_length = 0;
        spectre_document_render(document, &page, &row_length);
        times.render.push_back(seconds_since(start));
        if (!page || row_length != LABEL_ROW_BYTES) {
            std::fprintf(stderr, "korvatine_label_bench: the sheet did not render\n");
            return 1;
        }
        GLuint texture;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        start = Clock::now();
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 4096, 4096, 0, GL_BGRA, GL_UNSIGNED_BYTE, page);
        glFinish();
        times.upload.push_back(seconds_since(start));
        delete_bound_texture();
        std::free(page);
        spectre_document_free(document);
        close(descriptor);

        // The whole step through the show's own function.
        start = Clock::now();
        build_label_texture(postscript_ps_min, postscript_ps_min_len);
        glFinish();
        times.whole_step.push_back(seconds_since(start));
        delete_bound_texture();
        std::free(rendered_data);
    }
    std::printf("%d repetitions:\n", repetitions);
    report("in-memory file and load", times.memfd_load);
    report("render (libspectre, 4096 x 4096)", times.render);
    report("upload (glTexImage2D to RGBA32F, finished)", times.upload);
    report("whole step (build_label_texture, finished)", times.whole_step);
    std::printf("peak resident memory of this benchmark: %.0f MiB\n", peak_resident_mib());
    return 0;
}
