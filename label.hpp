// The label sheet: the embedded PostScript page, rasterised by libspectre
// from an in-memory file and uploaded as the scene's texture on unit 0.
#pragma once

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <libspectre/spectre.h>
#include <stdio.h>

#include "linux_syscalls.hpp"

// One point per pixel: the page's bounding box makes the raster this size.
constexpr int LABEL_PAGE_PIXELS = 4096;
constexpr int LABEL_ROW_BYTES = LABEL_PAGE_PIXELS * 4;

static char memfd_path[64];
static unsigned char* rendered_data;

// One line on standard error: what went wrong, and what the show does instead.
inline void label_failure(const char* what) {
    report("label sheet: ", what, ", printing a white page");
}

// Rasterises the document into rendered_data: 4096 rows of 4096 pixels, blue,
// green, red and a fourth byte each, top row first. Returns the raster, or null
// after one line on standard error when any step failed or the raster has
// another shape, so that nothing reads past what the renderer returned.
inline const unsigned char* render_label_page(const unsigned char* document_text, unsigned length) {
    rendered_data = nullptr;
    int descriptor = sys_memfd_create("", 0);
    if (descriptor < 0 || sys_write(descriptor, document_text, length) != static_cast<long>(length)) {
        label_failure("no in-memory file");
        return nullptr;
    }
    sprintf(memfd_path, "/proc/self/fd/%d", descriptor);
    SpectreDocument* document = spectre_document_new();
    if (document) spectre_document_load(document, memfd_path);
    if (!document || spectre_document_status(document)) {
        label_failure("load failed");
        return nullptr;
    }
    int row_length = 0;
    spectre_document_render(document, &rendered_data, &row_length);
    if (spectre_document_status(document) || !rendered_data) {
        label_failure("render failed");
        return nullptr;
    }
    int width = 0, height = 0;
    spectre_document_get_page_size(document, &width, &height);
    if (row_length != LABEL_ROW_BYTES || width != LABEL_PAGE_PIXELS || height != LABEL_PAGE_PIXELS) {
        label_failure("raster is not 4096 x 4096");
        return nullptr;
    }
    return rendered_data;
}

// Builds the label texture in what is bound on texture unit 0, in the show the
// default texture object, which is there from the start: linear
// filters (there is only level 0), repeat wrapping as GL starts it, each raster
// byte b stored as the float b / 255. Without a page it holds one white texel,
// which samples the same everywhere: the print disappears and the title card
// stays black.
inline void build_label_texture(const unsigned char* document_text, unsigned length) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    static constexpr unsigned char white_texel[4] = {255, 255, 255, 255};
    const unsigned char* page = render_label_page(document_text, length);
    int size = page ? LABEL_PAGE_PIXELS : 1;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, size, size, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 page ? page : white_texel);
}
