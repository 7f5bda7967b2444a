// Preloaded into a show (LD_PRELOAD) to see the label page it rasterised:
// stands in for spectre_document_render, lets libspectre render, writes the
// raster (4096 rows of 16384 bytes) to the file named by
// KORVATINE_PAGE_DUMP and ends the process with status 0. The packed program
// finds this definition too, since it looks through the loader's list of
// objects, where preloaded ones come before the libraries it names.
#include <dlfcn.h>
#include <fcntl.h>
#include <libspectre/spectre.h>
#include <stdlib.h>
#include <unistd.h>

extern "C" void spectre_document_render(SpectreDocument* document, unsigned char** page_data,
                                        int* row_length) {
    using Render = void (*)(SpectreDocument*, unsigned char**, int*);
    auto render = reinterpret_cast<Render>(dlsym(RTLD_NEXT, "spectre_document_render"));
    if (!render) _exit(3);
    render(document, page_data, row_length);
    const char* path = getenv("KORVATINE_PAGE_DUMP");
    int file = path ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
    if (file < 0 || !*page_data || *row_length != 4096 * 4) _exit(4);
    const unsigned char* bytes = *page_data;
    for (long left = 4096L * 4096 * 4; left > 0;) {
        ssize_t written = write(file, bytes, left);
        if (written <= 0) _exit(5);
        bytes += written;
        left -= written;
    }
    close(file);
    _exit(0);
}
