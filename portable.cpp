// The portable edition: the show from the same source as an ordinary
// dynamically linked program, with the decoder linked in (so the song is the
// one it was made with on any system) and the label sheet's fonts found here
// through fontconfig and handed to Ghostscript as a font map of its own, so
// that no font needs registering with Ghostscript.
#define SHOW_PORTABLE 1
#include "korvatine.cpp"

#include <fontconfig/fontconfig.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "label_fonts.h"

namespace portable {

// The names the label sheet asks for, and the fonts' own PostScript names
// (assets/label_fonts.txt).
struct LabelFont {
    const char* sheet_name;
    const char* postscript_name;
};
constexpr LabelFont LABEL_FONTS[] = {LABEL_FONT_ROWS};
constexpr int LABEL_FONT_COUNT = sizeof LABEL_FONTS / sizeof *LABEL_FONTS;

// A text built in a fixed buffer; what does not fit makes it unusable.
template <unsigned capacity> struct Text {
    char bytes[capacity];
    unsigned length = 0;
    bool overflowed = false;
    void add(const char* text, unsigned count) {
        if (length + count >= capacity) {
            overflowed = true;
            return;
        }
        memcpy(bytes + length, text, count);
        length += count;
        bytes[length] = 0;
    }
    void add(const char* text) { add(text, strlen(text)); }
};

// The font map: first the one Ghostscript finds in its own library path, for
// every other name and for its substitutes, then the sheet's fonts, which win
// because later entries of one map replace earlier ones.
static Text<4 * 8192 + 256> font_map;
static Text<128 * LABEL_FONT_COUNT> missing;
static char font_file[4096];

// The file of the installed font with this PostScript name, preferring
// TrueType (the face the page was drawn with) over other formats; false if
// fontconfig knows no readable one.
static bool find_font_file(const char* postscript_name) {
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* properties = FcObjectSetBuild(FC_FILE, FC_FONTFORMAT, FC_INDEX, nullptr);
    bool found = false, found_truetype = false;
    if (pattern && properties &&
        FcPatternAddString(pattern, FC_POSTSCRIPT_NAME, (const FcChar8*)postscript_name)) {
        if (FcFontSet* fonts = FcFontList(nullptr, pattern, properties)) {
            for (int i = 0; i < fonts->nfont && !found_truetype; ++i) {
                FcChar8 *file = nullptr, *format = nullptr;
                int index = 0;
                // A face inside a collection cannot be named by its file alone.
                if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch ||
                    (FcPatternGetInteger(fonts->fonts[i], FC_INDEX, 0, &index) == FcResultMatch && index) ||
                    strlen((const char*)file) >= sizeof font_file || access((const char*)file, R_OK))
                    continue;
                const bool truetype =
                    FcPatternGetString(fonts->fonts[i], FC_FONTFORMAT, 0, &format) == FcResultMatch &&
                    !strcmp((const char*)format, "TrueType");
                if (!found || truetype) strcpy(font_file, (const char*)file);
                found = true;
                found_truetype = truetype;
            }
            FcFontSetDestroy(fonts);
        }
    }
    if (properties) FcObjectSetDestroy(properties);
    if (pattern) FcPatternDestroy(pattern);
    return found;
}

// A file name as a PostScript string: parentheses and backslashes escaped.
static void add_postscript_string(const char* text) {
    font_map.add("(");
    for (const char* c = text; *c; ++c) {
        if (*c == '(' || *c == ')' || *c == '\\') font_map.add("\\");
        font_map.add(c, 1);
    }
    font_map.add(")");
}

static char gs_options[8192];

// Writes the font map into an in-memory file and names it to Ghostscript
// through GS_OPTIONS (after whatever options are already there). Fonts that
// are not installed are left to Ghostscript's own map, which substitutes for
// them as without this edition, and are named in one line.
static void hand_fonts_to_ghostscript() {
    font_map.add("(Fontmap) .runlibfile\n");
    int found = 0;
    for (const LabelFont& font : LABEL_FONTS) {
        if (find_font_file(font.postscript_name)) {
            font_map.add("/");
            font_map.add(font.sheet_name);
            font_map.add(" ");
            add_postscript_string(font_file);
            font_map.add(" ;\n");
            ++found;
        } else {
            missing.add(missing.length ? ", " : "");
            missing.add(font.sheet_name);
        }
    }
    if (found < LABEL_FONT_COUNT)
        report("fonts not installed: ", missing.bytes,
               "; the label sheet is drawn with substitutes (install GNU FreeFont and DejaVu Sans)");
    if (!found || font_map.overflowed) return;
    int descriptor = sys_memfd_create("", 0);
    if (descriptor < 0 || sys_write(descriptor, font_map.bytes, font_map.length) != long(font_map.length)) {
        report("no in-memory file for the font map, the label sheet may substitute fonts");
        return;
    }
    const char* earlier = getenv("GS_OPTIONS");
    int length = snprintf(gs_options, sizeof gs_options, "%s%s-sFONTMAP=/proc/self/fd/%d",
                          earlier ? earlier : "", earlier && *earlier ? " " : "", descriptor);
    if (length > 0 && length < int(sizeof gs_options)) setenv("GS_OPTIONS", gs_options, 1);
}

} // namespace portable

int main() {
    portable::hand_fonts_to_ghostscript();
    show::show_main();
}
