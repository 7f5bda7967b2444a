// The label sheet: its stored text, the page as the show rasterises it, the
// fonts it is drawn with, the texture and the title card made from it, and the
// white page the show falls back to.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "label.hpp"
#include "offscreen.hpp"
#include "postscript_ps_min.h"

namespace {

const double PI = std::acos(-1.0);

std::string stored_text() {
    return std::string(reinterpret_cast<const char*>(postscript_ps_min), postscript_ps_min_len);
}

// Runs Ghostscript without a display on the stored document followed by the
// given PostScript, and returns everything it printed.
std::string run_ghostscript(const std::string& before, const std::string& after) {
    char directory[] = "/tmp/label_test_XXXXXX";
    if (!mkdtemp(directory)) return "mkdtemp failed";
    const std::string path = std::string(directory) + "/label.ps";
    std::ofstream(path, std::ios::binary) << before << stored_text() << after;
    std::string output;
    if (FILE* pipe = popen(("gs -dNODISPLAY -dBATCH -dNOPAUSE " + path + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (size_t read = fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, read);
        pclose(pipe);
    }
    std::remove(path.c_str());
    rmdir(directory);
    return output;
}

// A point in the label sheet's user space: X 0..1024, Y 0..2048.
struct Point {
    double x, y;
};

// The point at (along, up) from an origin whose axes are turned by degrees.
Point local_point(Point origin, double degrees, double along, double up) {
    const double a = degrees * PI / 180;
    return {origin.x + along * std::cos(a) - up * std::sin(a),
            origin.y + along * std::sin(a) + up * std::cos(a)};
}

// --- The stored text.

TEST(LabelDocument, IsStoredAsHeaderBoundingBoxAndOneProgramLine) {
    const std::string text = stored_text();
    ASSERT_EQ(text.size(), sizeof postscript_ps_min);
    const std::string head = "%!PS\n%%BoundingBox: 0 0 4096 4096\n";
    ASSERT_EQ(text.compare(0, head.size(), head), 0);
    const std::string program = text.substr(head.size());
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program.back(), '\n');
    EXPECT_EQ(program.find('\n'), program.size() - 1) << "the program is one line";
    // Outside strings: no comment, single spaces only, no page-ending operator.
    std::string outside_strings;
    int depth = 0;
    for (char c : program) {
        EXPECT_TRUE(c == '\n' || (c >= ' ' && c <= '~')) << "byte " << int(c);
        if (c == '(' && depth++ == 0) outside_strings += '$'; // the string itself
        if (depth == 0) outside_strings += c;
        if (c == ')') --depth;
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(outside_strings.find('%'), std::string::npos);
    EXPECT_EQ(outside_strings.find("  "), std::string::npos);
    EXPECT_EQ(outside_strings.find('\t'), std::string::npos);
    EXPECT_EQ(outside_strings.find("showpage"), std::string::npos);
    EXPECT_NE(outside_strings.find("/drawScale {{ "), std::string::npos);
    EXPECT_EQ(outside_strings.find("{{"), outside_strings.rfind("{{"));
    EXPECT_NE(program.find("(KORVATINE          BELOTRAVIA KESTIN          2019) show"), std::string::npos);
}

// Counting every stroke and every shown text while Ghostscript runs the sheet:
// six strokes a scale division and two a protractor pass; the title, five texts
// a logo, one label a division and two numbers a pass.
TEST(LabelDocument, DrawsEveryTickAndTextOfTheSheet) {
    const std::string counters = "/strokes 0 def /texts 0 def\n"
                                 "/stroke { /strokes strokes 1 add def stroke } bind def\n"
                                 "/show { /texts texts 1 add def show } bind def\n"
                                 "/glyphshow { /texts texts 1 add def glyphshow } bind def\n";
    const std::string output = run_ghostscript(counters, "(COUNTS ) print strokes =only ( ) print texts =\n");
    const int divisions = 13 + 9 + 13 + 13 + 6 + 13, passes = 19, logos = 3;
    const std::string expected = "COUNTS " + std::to_string(6 * divisions + 2 * passes) + " " +
                                 std::to_string(1 + 5 * logos + divisions + 2 * passes);
    EXPECT_NE(output.find(expected), std::string::npos) << output;
}

// Ghostscript finds all four fonts by name, draws the named glyphs from
// DejaVu Sans, and the title has the length those fonts give it.
TEST(LabelDocument, FontsResolveByNameWithoutSubstitution) {
    const std::string queries =
        "\n/FreeSans findfont pop /FreeSans-Italic findfont pop\n"
        "/DejaVuSans findfont /CharStrings get dup\n"
        "(CHECKMARK ) print /checkmark known =only ( REGISTERED ) print /registered known =\n"
        "20 /FreeSans-Bold f (TITLE ) print "
        "(KORVATINE          BELOTRAVIA KESTIN          2019) stringwidth pop =\n";
    const std::string output = run_ghostscript("", queries);
    EXPECT_EQ(output.find("Substitut"), std::string::npos) << output;
    EXPECT_EQ(output.find("Didn't find"), std::string::npos) << output;
    EXPECT_EQ(output.find("Error"), std::string::npos) << output;
    EXPECT_NE(output.find("CHECKMARK true REGISTERED true"), std::string::npos) << output;
    const size_t title = output.find("TITLE ");
    ASSERT_NE(title, std::string::npos) << output;
    EXPECT_NEAR(std::atof(output.c_str() + title + 6), 486.1, 0.5)
        << "the title's length in FreeSans-Bold 20";
}

// --- The page as the show rasterises it.

class LabelPage : public testing::Test {
  protected:
    static void SetUpTestSuite() { raster = render_label_page(postscript_ps_min, postscript_ps_min_len); }
    static void TearDownTestSuite() { std::free(const_cast<unsigned char*>(raster)); }
    void SetUp() override { ASSERT_NE(raster, nullptr) << "the sheet did not render"; }

    // The red byte of page pixel (column, row), rows counted from the top.
    static int red(int column, int row) { return raster[(static_cast<size_t>(row) * 4096 + column) * 4 + 2]; }
    // The pixel that holds a point of user space: 4 columns and 2 rows a unit.
    static int red_at(Point point) {
        const int column = static_cast<int>(std::floor(4 * point.x));
        const int row = 4095 - static_cast<int>(std::floor(2 * point.y));
        if (column < 0 || column > 4095 || row < 0 || row > 4095) {
            ADD_FAILURE() << "(" << point.x << ", " << point.y << ") is off the page";
            return 128;
        }
        return red(column, row);
    }
    static bool ink(Point point) { return red_at(point) < 64; }
    static bool paper(Point point) { return red_at(point) > 191; }

    // Ink within a box of a drawing's own axes, in square user units; each
    // pixel covers an eighth of one.
    static double ink_area(Point origin, double degrees, double along0, double along1, double up0,
                           double up1) {
        const double a = degrees * PI / 180, c = std::cos(a), s = std::sin(a);
        double area = 0;
        for (int row = 0; row < 4096; ++row) {
            const double y = (4095 - row + 0.5) / 2 - origin.y;
            for (int column = 0; column < 4096; ++column) {
                const double x = (column + 0.5) / 4 - origin.x;
                const double along = x * c + y * s, up = -x * s + y * c;
                if (along >= along0 && along <= along1 && up >= up0 && up <= up1)
                    area += (255 - red(column, row)) / 255.0 / 8;
            }
        }
        return area;
    }

    static const unsigned char* raster;
};
const unsigned char* LabelPage::raster;

TEST_F(LabelPage, IsWhitePaperWithBlackInk) {
    size_t paper_pixels = 0, ink_pixels = 0, not_grey = 0;
    for (size_t i = 0; i < size_t(4096) * 4096; ++i) {
        const unsigned char* p = raster + i * 4;
        not_grey += p[0] != p[2] || p[1] != p[2];
        paper_pixels += p[2] == 255;
        ink_pixels += p[2] == 0;
    }
    const double total = 4096.0 * 4096;
    EXPECT_EQ(not_grey, 0u) << "blue, green and red always agree";
    EXPECT_GT(paper_pixels / total, 0.95);
    EXPECT_GT(ink_pixels / total, 0.01) << "the marks are solid black";
    EXPECT_LT((total - paper_pixels - ink_pixels) / total, 0.01) << "greys only along the edges";
    for (int corner : {0, 4095})
        EXPECT_EQ(red(corner, corner), 255);
}

// The title's baseline is the bottom edge of row 395 (page y 3700); its first
// letter starts at page x 1040 plus the K's side bearing, and nothing else
// reaches the strip the title card shows.
// The revision of the Ghostscript that libspectre renders with (10050 for 10.05.0).
long ghostscript_revision() {
    struct Revision {
        const char* product;
        const char* copyright;
        long revision;
        long revision_date;
    } revision{};
    auto* get = reinterpret_cast<int (*)(Revision*, int)>(dlsym(RTLD_DEFAULT, "gsapi_revision"));
    return get && get(&revision, sizeof revision) == 0 ? revision.revision : 0;
}

TEST_F(LabelPage, TitleLineStandsOnItsBaselineFromPageX1040) {
    // Before 10.05 round letters overshoot the baseline into row 396; from 10.05 on
    // Ghostscript draws nothing below row 395.
    const long revision = ghostscript_revision();
    ASSERT_GT(revision, 0) << "libspectre's Ghostscript does not say its revision";
    const int lowest = revision >= 10050 ? 395 : 396;
    auto inked_columns = [](int row) {
        int count = 0;
        for (int column = 819; column <= 3277; ++column)
            count += red(column, row) < 128;
        return count;
    };
    EXPECT_GT(inked_columns(395), 500) << "letters stand on the baseline";
    EXPECT_LT(inked_columns(396), inked_columns(395) / 5) << "only round letters overshoot it";
    int first_row = 4096, last_row = -1, first_column = 4096, last_column = -1;
    for (int row = 286; row <= 451; ++row)
        for (int column = 819; column <= 3277; ++column)
            if (red(column, row) < 128) {
                first_row = std::min(first_row, row);
                last_row = std::max(last_row, row);
                first_column = std::min(first_column, column);
                last_column = std::max(last_column, column);
            }
    EXPECT_EQ(last_row, lowest) << "Ghostscript revision " << revision;
    EXPECT_NEAR(first_row, lowest - 2 * 14.6, 2) << "capitals 14.6 units tall";
    EXPECT_GE(first_column, 1040);
    EXPECT_LE(first_column, 1040 + 12);
    EXPECT_NEAR(last_column, 4 * 746, 12) << "the line is about 486 units long";
}

// Each scale: its major ticks every 70 units, 40 tall; minor ticks every 14,
// hanging 14 from the top line; paper between them; the 0 label centred 25
// along from the first tick.
TEST_F(LabelPage, ScaleTicksStandAtTheirDivisions) {
    struct Scale {
        Point start;
        double degrees;
        int divisions;
    };
    const Scale scales[] = {{{60, 1100}, 0, 13}, {{200, 320}, 0, 9},  {{970, 950}, 180, 13},
                            {{54, 1700}, 0, 13}, {{40, 1280}, 90, 6}, {{964, 220}, 180, 13}};
    for (const Scale& scale : scales) {
        SCOPED_TRACE("scale from (" + std::to_string(scale.start.x) + ", " + std::to_string(scale.start.y) +
                     ")");
        for (int k : {0, 1, scale.divisions - 1, scale.divisions}) {
            const double at = 70.0 * k;
            for (double up : {2.0, 20.0, 38.0})
                EXPECT_TRUE(ink(local_point(scale.start, scale.degrees, at, up))) << "major tick " << k;
            if (k == scale.divisions) break;
            for (int j = 1; j <= 4; ++j) {
                EXPECT_TRUE(ink(local_point(scale.start, scale.degrees, at + 14 * j, 33)))
                    << "minor tick " << k;
                EXPECT_TRUE(paper(local_point(scale.start, scale.degrees, at + 14 * j - 7, 33)))
                    << "gap " << k;
                EXPECT_TRUE(paper(local_point(scale.start, scale.degrees, at + 14 * j, 23))) << "below " << k;
            }
            EXPECT_TRUE(paper(local_point(scale.start, scale.degrees, at + 7, 20))) << "beside label " << k;
        }
        // The 0 label: ink centred 25 along, between the base line and the minor ticks.
        double sum = 0, weight = 0;
        for (double along = 12; along <= 38; along += 0.25)
            for (double up = 0; up <= 24; up += 0.25) {
                const double w = 255 - red_at(local_point(scale.start, scale.degrees, along, up));
                sum += w * along;
                weight += w;
            }
        ASSERT_GT(weight, 0);
        EXPECT_NEAR(sum / weight, 25, 1.0) << "label 0 centred on its division";
    }
}

// The degree arc: 19 passes on a circle of radius 411.48 about (515.48, 326),
// inner ticks from radius 321.48 to 401.48 and outer ones from 471.48 to 541.48,
// all pointing at the centre, with paper between them.
TEST_F(LabelPage, DegreeArcTicksPointAtTheCentre) {
    const Point centre = {515.48, 326};
    auto at = [&](double radius, double degrees) {
        return Point{centre.x + radius * std::cos(degrees * PI / 180),
                     centre.y + radius * std::sin(degrees * PI / 180)};
    };
    for (int k = 0; k <= 18; ++k) {
        const double angle = 180 - 10 * k;
        for (double radius : {325.0, 361.48, 398.0, 475.0, 506.48, 538.0}) {
            const Point point = at(radius, angle);
            if (point.x < 0 || point.x >= 1024) continue; // the page's edge cuts the ends' outer ticks
            EXPECT_TRUE(ink(point)) << "pass " << k << " at radius " << radius;
        }
        EXPECT_TRUE(paper(at(310, angle))) << "inside the inner tick of pass " << k;
        if (k >= 3 && k <= 15) EXPECT_TRUE(paper(at(553, angle))) << "beyond the outer tick of pass " << k;
        if (k < 18)
            for (double radius : {361.48, 506.48})
                EXPECT_TRUE(paper(at(radius, angle - 5))) << "between passes " << k << " and " << k + 1;
    }
    EXPECT_TRUE(ink({0.5, 326})) << "the first outer tick runs off the page's left edge";
}

// The three logos are the same drawing, upright, upside down and tilted 25
// degrees: the check mark, the name and the origin line each hold about the
// same ink in the logo's own axes.
TEST_F(LabelPage, ThreeLogosArePrintedAlike) {
    struct Logo {
        Point start;
        double degrees;
    };
    const Logo logos[] = {{{200, 1000}, 0}, {{900, 290}, 180}, {{150, 1340}, 25}};
    struct Part {
        const char* name;
        double along0, along1;
    };
    const Part parts[] = {{"check mark", 5, 40}, {"name", 40, 300}, {"origin line", 300, 650}};
    double upright[3] = {};
    for (int logo = 0; logo < 3; ++logo)
        for (int part = 0; part < 3; ++part) {
            SCOPED_TRACE(std::string(parts[part].name) + " of logo " + std::to_string(logo));
            const double area = ink_area(logos[logo].start, logos[logo].degrees, parts[part].along0,
                                         parts[part].along1, 0, 62);
            if (logo == 0) {
                upright[part] = area;
                EXPECT_GT(area, 150);
            } else {
                EXPECT_NEAR(area / upright[part], 1, 0.05);
            }
        }
    // Nothing below the check mark's baseline line or above the name.
    EXPECT_LT(ink_area(logos[0].start, 0, 0, 700, -10, 0), 0.5);
    EXPECT_LT(ink_area(logos[0].start, 0, 0, 700, 62, 80), 0.5);
}

// --- The texture and the title card.

class LabelTexture : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        gl = new OffscreenGl;
        if (!gl->ok()) return;
        std::string log;
        program = build_fragment_program(find_show_build("small")->shader_text, &log);
        EXPECT_NE(program, 0u) << log;
        glUseProgram(program);
    }
    static void TearDownTestSuite() { delete gl; }
    // The show fills the default texture object; each test fills one of its own,
    // bound where the show's is, and deletes it.
    void SetUp() override {
        ASSERT_TRUE(gl->ok()) << gl->error();
        ASSERT_NE(program, 0u);
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
    }
    void TearDown() override { glDeleteTextures(1, &texture); }

    static std::vector<std::uint8_t> title_card() {
        return render_show_frame(program, *find_show_build("small"), -2.08f);
    }

    static OffscreenGl* gl;
    static GLuint program;
    GLuint texture = 0;
};
OffscreenGl* LabelTexture::gl;
GLuint LabelTexture::program;

// The texture the show draws with: what is bound on unit 0, 4096 x 4096
// floats, linear, repeating, holding each raster byte b as b / 255 with the
// top row first.
TEST_F(LabelTexture, HoldsThePageAsFloatsOnUnitZero) {
    build_label_texture(postscript_ps_min, postscript_ps_min_len);
    const unsigned char* raster = rendered_data;
    ASSERT_NE(raster, nullptr);
    GLint value = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &value);
    EXPECT_EQ(value, GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(GLuint(value), texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &value);
    EXPECT_EQ(value, 4096);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &value);
    EXPECT_EQ(value, 4096);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &value);
    EXPECT_EQ(value, GL_RGBA32F);
    for (GLenum filter : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER}) {
        glGetTexParameteriv(GL_TEXTURE_2D, filter, &value);
        EXPECT_EQ(value, GL_LINEAR);
    }
    for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T}) {
        glGetTexParameteriv(GL_TEXTURE_2D, wrap, &value);
        EXPECT_EQ(value, GL_REPEAT);
    }
    // A block across the title's first letter and baseline.
    const int x0 = 1040, y0 = 380, size = 32;
    std::vector<float> texels(size * size * 4);
    glGetTextureSubImage(texture, 0, x0, y0, 0, size, size, 1, GL_RGBA, GL_FLOAT,
                         texels.size() * sizeof(float), texels.data());
    int inked = 0;
    for (int row = 0; row < size; ++row)
        for (int column = 0; column < size; ++column) {
            const unsigned char* bgra = raster + ((static_cast<size_t>(y0 + row) * 4096) + x0 + column) * 4;
            const float* rgba = &texels[(row * size + column) * 4];
            ASSERT_FLOAT_EQ(rgba[0], bgra[2] / 255.0f);
            ASSERT_FLOAT_EQ(rgba[1], bgra[1] / 255.0f);
            ASSERT_FLOAT_EQ(rgba[2], bgra[0] / 255.0f);
            inked += bgra[2] == 0;
        }
    EXPECT_GT(inked, 50);
    std::free(rendered_data);
}

// At the first frame the title card shows the title line bright on black,
// upright and reading left to right, from q.x = -0.8203 with its baseline at
// q.y = -0.0334.
TEST_F(LabelTexture, TitleCardShowsTheTitleUprightFromTheLeft) {
    build_label_texture(postscript_ps_min, postscript_ps_min_len);
    std::free(rendered_data);
    const std::vector<std::uint8_t> image = title_card();
    auto bright = [&](int x, int row) { return image[(static_cast<size_t>(row) * 640 + x) * 4] > 128; };
    // Pixel centres in the shader's centred coordinates, and where the card
    // shows a point of the sheet: u = X / 1024 = 0.3 q.x - 0.5 (repeating),
    // t = 1 - Y / 2048 = 0.09 - 0.2 q.y.
    auto qx = [](int x) { return (x + 0.5 - 320) / 320; };
    auto qy = [](int row) { return (359 - row + 0.5 - 180) / 320; };
    auto qx_of = [](double x) { return (x / 1024 - 0.5) / 0.3; };
    auto qy_of = [](double y) { return (0.09 - (1 - y / 2048)) / 0.2; };
    ASSERT_NEAR(qx_of(260), -0.8203125, 1e-9);
    ASSERT_NEAR(qy_of(1850), -0.0333984375, 1e-9);

    int first_row = 360, last_row = -1, first_column = 640, last_column = -1;
    std::vector<int> column_ink(640);
    for (int row = 0; row < 360; ++row)
        for (int x = 0; x < 640; ++x)
            if (bright(x, row)) {
                first_row = std::min(first_row, row);
                last_row = std::max(last_row, row);
                first_column = std::min(first_column, x);
                last_column = std::max(last_column, x);
                ++column_ink[x];
            }
    ASSERT_GE(last_row, 0) << "the title card is black";
    // The line starts at X 260 (its K 1.5 units later) and ends near X 746; a
    // pixel is 3.4 units wide.
    EXPECT_NEAR(qx(first_column), qx_of(261.5), 0.0035);
    EXPECT_NEAR(qx(last_column), qx_of(745), 0.007);
    // Upright: the lowest bright row sits just above the baseline (a row is
    // 1.28 units tall) and the capitals rise 14.6 units above it.
    EXPECT_NEAR(qy(last_row), qy_of(1850.6), 0.0035);
    EXPECT_NEAR(qy(first_row), qy_of(1850 + 14.6 - 0.6), 0.0035);

    // Left to right: three words separated by two wide gaps, narrow-wide-narrower
    // in that order ("KORVATINE", "BELOTRAVIA KESTIN", "2019").
    std::vector<std::pair<int, int>> words;
    for (int x = first_column, gap = 0; x <= last_column; ++x) {
        if (!column_ink[x]) {
            ++gap;
            continue;
        }
        if (words.empty() || gap > 20) words.push_back({x, x});
        words.back().second = x;
        gap = 0;
    }
    ASSERT_EQ(words.size(), 3u);
    const int widths[3] = {words[0].second - words[0].first, words[1].second - words[1].first,
                           words[2].second - words[2].first};
    EXPECT_GT(widths[1], widths[0]);
    EXPECT_GT(widths[0], widths[2]);
}

// --- The white page in place of a page that cannot be made.

std::string failure_line(const char* document) {
    testing::internal::CaptureStderr();
    const unsigned char* raster =
        render_label_page(reinterpret_cast<const unsigned char*>(document), std::strlen(document));
    std::string line = testing::internal::GetCapturedStderr();
    EXPECT_EQ(raster, nullptr);
    std::free(rendered_data);
    // libspectre may add its own lines; the show's is the last one.
    const size_t start = line.rfind("korvatine: ");
    return start == std::string::npos ? line : line.substr(start);
}

TEST(LabelFallback, EachFailureIsReportedInOneLine) {
    EXPECT_EQ(failure_line(""), "korvatine: label sheet: load failed, printing a white page\n");
    EXPECT_EQ(failure_line("%!PS\n%%BoundingBox: 0 0 4096 4096\n0 0 moveto nosuchoperator\n"),
              "korvatine: label sheet: render failed, printing a white page\n");
    EXPECT_EQ(failure_line("%!PS\n%%BoundingBox: 0 0 100 100\n0 0 moveto 10 10 lineto stroke\n"),
              "korvatine: label sheet: raster is not 4096 x 4096, printing a white page\n");
}

// With every descriptor in use, the in-memory file cannot be made.
[[noreturn]] void render_without_descriptors() {
    const int lowest_free = dup(0);
    close(lowest_free);
    const rlimit limit{static_cast<rlim_t>(lowest_free), static_cast<rlim_t>(lowest_free)};
    setrlimit(RLIMIT_NOFILE, &limit);
    std::_Exit(render_label_page(postscript_ps_min, postscript_ps_min_len) == nullptr ? 0 : 1);
}

TEST(LabelFallback, NoInMemoryFileIsReported) {
    EXPECT_EXIT(render_without_descriptors(), testing::ExitedWithCode(0),
                "^korvatine: label sheet: no in-memory file, printing a white page\n$");
}

// The show goes on with one white texel: the print vanishes and the title card
// shows only the black level.
TEST_F(LabelTexture, AFailedRenderLeavesAWhitePageAndABlackTitleCard) {
    testing::internal::CaptureStderr();
    build_label_texture(reinterpret_cast<const unsigned char*>("%!PS\n"), 5);
    testing::internal::GetCapturedStderr();
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 1);
    float texel[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texel);
    for (float channel : texel)
        EXPECT_EQ(channel, 1.0f);
    const std::vector<std::uint8_t> image = title_card();
    int off_black = 0;
    for (int row = 46; row <= 313; ++row)
        for (int x = 0; x < 640; ++x) {
            const std::uint8_t* p = &image[(static_cast<size_t>(row) * 640 + x) * 4];
            off_black += p[0] > 13 || p[1] > 13 || p[2] > 19;
        }
    EXPECT_EQ(off_black, 0);
}

} // namespace
