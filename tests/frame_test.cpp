// The shader frame as shipped: letterbox, black level, title card, and the
// minified texts against their readable source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "offscreen.hpp"
#include "shader_probe.hpp"

namespace {

std::string readable_text(const std::string& build) {
    return read_text_file(std::string(KORVATINE_GENERATED_DIR) + "/shader_" + build + ".frag");
}

// The tone map's output for a linear colour channel.
double tone_map(double colour, double bias) {
    return 0.9 * std::pow(std::log(1 + 0.7 * std::max(colour + bias, 0.0)), 0.6);
}
// Its inverse, for outputs above the black level.
double linear_colour(double output, double bias) {
    return (std::exp(std::pow(output / 0.9, 1 / 0.6)) - 1) / 0.7 - bias;
}

class ShaderFrame : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        gl = &shared_offscreen_gl();
        if (!gl->ok()) return;
        for (const char* name : {"small", "full"}) {
            std::string log;
            GLuint program = build_fragment_program(find_show_build(name)->shader_text, &log);
            EXPECT_NE(program, 0u) << name << ":\n" << log;
            programs[name] = program;
        }
    }
    void SetUp() override { ASSERT_TRUE(gl->ok()) << gl->error(); }

    static std::vector<std::uint8_t> frame(const char* build, float m) {
        return render_show_frame(programs[build], *find_show_build(build), m);
    }

    static OffscreenGl* gl;
    static std::map<std::string, GLuint> programs;
};
OffscreenGl* ShaderFrame::gl;
std::map<std::string, GLuint> ShaderFrame::programs;

struct Rgba {
    int r, g, b, a;
};
Rgba pixel(const std::vector<std::uint8_t>& image, int width, int x, int row) {
    const std::uint8_t* p = &image[(static_cast<size_t>(row) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

TEST_F(ShaderFrame, LetterboxBarsAreTransparentBlackAndTheBandIsDrawn) {
    struct Case {
        const char* build;
        int width, height, first_drawn_row, last_drawn_row;
    };
    for (Case c : {Case{"small", 640, 360, 46, 313}, Case{"full", 1920, 1080, 137, 942}}) {
        SCOPED_TRACE(c.build);
        for (float m : {-2.08f, 20.5f}) {
            std::vector<std::uint8_t> image = frame(c.build, m);
            int bar_pixels_not_zero = 0;
            for (int row = 0; row < c.height; ++row) {
                if (row >= c.first_drawn_row && row <= c.last_drawn_row) continue;
                for (int x = 0; x < c.width; ++x) {
                    Rgba p = pixel(image, c.width, x, row);
                    bar_pixels_not_zero += p.r || p.g || p.b || p.a;
                }
            }
            EXPECT_EQ(bar_pixels_not_zero, 0) << "at m = " << m;
            for (int row : {c.first_drawn_row, c.last_drawn_row})
                for (int x : {0, c.width / 2, c.width - 1})
                    EXPECT_EQ(pixel(image, c.width, x, row).a, 255) << "row " << row << " at m = " << m;
        }
    }
}

TEST_F(ShaderFrame, AfterTheFadeTheWholeBandShowsTheBlackLevel) {
    const int black[3] = {static_cast<int>(std::lround(255 * tone_map(0, 0.01))),
                          static_cast<int>(std::lround(255 * tone_map(0, 0.01))),
                          static_cast<int>(std::lround(255 * tone_map(0, 0.02)))};
    ASSERT_EQ(black[0], 12); // 0.0458 of full scale
    ASSERT_EQ(black[2], 18); // 0.0692 of full scale
    for (float m : {74.4f, 74.7f}) {
        std::vector<std::uint8_t> image = frame("small", m);
        int off = 0;
        for (int row = 46; row <= 313; ++row)
            for (int x = 0; x < 640; ++x) {
                Rgba p = pixel(image, 640, x, row);
                off += std::abs(p.r - black[0]) > 1 || std::abs(p.g - black[1]) > 1 ||
                       std::abs(p.b - black[2]) > 1 || p.a != 255;
            }
        EXPECT_EQ(off, 0) << "pixels off the black level at m = " << m;
    }
}

// A texture whose red and green hold the texel's own u and t, in place of the
// label sheet, shows exactly where the title card samples.
TEST_F(ShaderFrame, TitleCardShowsTheLabelStripInvertedAndTripledWithoutVignette) {
    const int size = 1024;
    std::vector<float> texels(size * size * 4);
    for (int t = 0; t < size; ++t)
        for (int u = 0; u < size; ++u) {
            float* texel = &texels[(static_cast<size_t>(t) * size + u) * 4];
            texel[0] = (u + 0.5f) / size;
            texel[1] = (t + 0.5f) / size;
            texel[2] = 1;
            texel[3] = 1;
        }
    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, size, size, 0, GL_RGBA, GL_FLOAT, texels.data());

    Framebuffer framebuffer(640, 360, GL_RGBA32F);
    framebuffer.draw(programs["small"], -2.08f);
    std::vector<float> image = framebuffer.read_rgba32f();
    glDeleteTextures(1, &texture);

    int band_rows = 0;
    for (int row = 46; row <= 313; ++row) {
        const double qy = (359 - row + 0.5 - 180) / 320.0;
        for (int x = 0; x < 640; x += 7) {
            const double qx = (x + 0.5 - 320) / 320.0;
            const float* p = &image[(static_cast<size_t>(row) * 640 + x) * 4];
            if (std::abs(qy) > 0.1) {
                ASSERT_NEAR(p[0], tone_map(0, 0.01), 1e-5) << "outside the title strip, row " << row;
                continue;
            }
            const double u = 1 - linear_colour(p[0], 0.01) / 3, t = 1 - linear_colour(p[1], 0.01) / 3;
            const double expected_u = 0.3 * qx - 0.5 - std::floor(0.3 * qx - 0.5);
            const double expected_t = -0.2 * qy + 0.09;
            ASSERT_NEAR(u, expected_u, 1.5 / size) << "row " << row << ", x " << x;
            ASSERT_NEAR(t, expected_t, 1.5 / size) << "row " << row << ", x " << x;
            band_rows += x == 0;
        }
    }
    EXPECT_EQ(band_rows, 64); // |q.y| <= 0.1 spans 64 rows of the small window
}

// With every path bringing the same light, the frame shows the vignette, the
// fade and the tone map alone.
TEST_F(ShaderFrame, VignetteFadeAndToneMapOfAKnownLight) {
    std::string source = readable_text("small");
    ASSERT_TRUE(replace_function(&source, "trace", "void trace(inout Co r) { r.i = vec3(LIGHT); }"));
    auto frame_with_light = [&](const char* light, float m) {
        std::string text = source;
        text.replace(text.find('\n') + 1, 0, std::string("#define LIGHT ") + light + "\n");
        std::string log;
        GLuint program = build_fragment_program(text.c_str(), &log);
        EXPECT_NE(program, 0u) << log;
        Framebuffer framebuffer(640, 360, GL_RGBA32F);
        framebuffer.draw(program, m);
        glDeleteProgram(program);
        return framebuffer.read_rgba32f();
    };
    auto red_at = [](const std::vector<float>& image, int x, int row) {
        return image[(static_cast<size_t>(row) * 640 + x) * 4];
    };

    // The tone map: 1 -> 0.618, 3 -> 0.970, and negative light is clipped after the bias.
    EXPECT_NEAR(red_at(frame_with_light("1.0", 30), 320, 179), 0.618, 0.001);
    EXPECT_NEAR(red_at(frame_with_light("3.0", 30), 320, 179), 0.970, 0.001);
    EXPECT_EQ(red_at(frame_with_light("-1.0", 30), 320, 179), 0.0f);

    // The vignette, (1 - (0.7 |q|)^4)^3: 0.439 at |q| = 1 on the centre line, 0.298
    // in the band's corners; the pixel centres lie just inside those points.
    auto vignette = [](int x, int row) {
        const double qx = (x + 0.5 - 320) / 320, qy = (359 - row + 0.5 - 180) / 320;
        return std::pow(1 - std::pow(0.7 * std::hypot(qx, qy), 4), 3);
    };
    std::vector<float> lit = frame_with_light("1.0", 30);
    for (auto [x, row] : {std::pair{0, 179}, {639, 180}, {0, 46}, {639, 313}, {160, 100}})
        EXPECT_NEAR(linear_colour(red_at(lit, x, row), 0.01), vignette(x, row), 0.0005) << x << ", " << row;
    EXPECT_NEAR(vignette(0, 179), 0.439, 0.003);
    EXPECT_NEAR(vignette(0, 46), 0.298, 0.004);

    // The fade: 1 until m = 71, then 0.784, 0.352 and 0.028 a second apart, 0 from 74.333.
    const std::pair<float, double> fades[] = {
        {70.9f, 1.0}, {72, 0.784}, {73, 0.352}, {74, 0.028}, {74.4f, 0}};
    for (auto [m, fade] : fades) {
        const double colour = linear_colour(red_at(frame_with_light("1.0", m), 320, 179), 0.01);
        EXPECT_NEAR(colour, fade, 0.001) << "at m = " << m; // the centre's vignette is 1 - 1e-11
    }
}

// Each path reports its eye position as its light, so the centre pixel shows
// where the camera stands, bar by bar.
TEST_F(ShaderFrame, CameraFollowsTheBarScheduleWithItsCuts) {
    std::string source = readable_text("small");
    ASSERT_TRUE(
        replace_function(&source, "trace", "void trace(inout Co r) { r.i = vec3(0.5) + r.o / 40.0; }"));
    std::string log;
    GLuint program = build_fragment_program(source.c_str(), &log);
    ASSERT_NE(program, 0u) << log;
    Framebuffer framebuffer(640, 360, GL_RGBA32F);

    struct Regime {
        int first_bar, last_bar, bar_step;
        double spin, height_offset;
    };
    const Regime schedule[] = {
        {0, 6, 2, -1, 0},     {1, 7, 2, 1, 0},   {8, 39, 1, 1, 0},
        {40, 58, 2, -1, 100}, {41, 59, 2, 1, 0}, {60, 67, 1, -1, 100},
    };
    int checked = 0;
    for (const Regime& regime : schedule)
        for (int bar = regime.first_bar; bar <= regime.last_bar; bar += regime.bar_step) {
            const float m = static_cast<float>(bar * 1.0448 + 0.5);
            framebuffer.draw(program, m);
            const std::vector<float> image = framebuffer.read_rgba32f();
            const float* centre = &image[(179 * 640 + 320) * 4];
            const double expected[3] = {-16 * std::sin(0.3 * regime.spin * m),
                                        16 * std::cos(0.3 * regime.spin * m),
                                        16 * std::sin(0.018 * (regime.height_offset + m))};
            for (int axis = 0; axis < 3; ++axis) {
                const double bias = axis == 2 ? 0.02 : 0.01;
                const double eye = (linear_colour(centre[axis], bias) - 0.5) * 40; // no fade before m = 71
                EXPECT_NEAR(eye, expected[axis], 0.01) << "bar " << bar << ", axis " << axis;
            }
            ++checked;
        }
    EXPECT_EQ(checked, 68);
    glDeleteProgram(program);
}

TEST_F(ShaderFrame, MinifiedTextsDrawWhatTheReadableSourceDraws) {
    for (const char* build : {"small"}) {
        std::string log;
        GLuint readable = build_fragment_program(readable_text(build).c_str(), &log);
        ASSERT_NE(readable, 0u) << log;
        const ShowBuild& show = *find_show_build(build);
        for (float m : {-1.5f, 3.3f, 20.5f, 41.6f, 50.2f, 72.5f}) {
            std::vector<std::uint8_t> shipped = render_show_frame(programs[build], show, m);
            std::vector<std::uint8_t> source = render_show_frame(readable, show, m);
            size_t differing = 0;
            int largest = 0;
            for (size_t i = 0; i < shipped.size(); ++i) {
                int difference = std::abs(shipped[i] - source[i]);
                differing += difference != 0;
                largest = std::max(largest, difference);
            }
            EXPECT_LE(largest, 1) << "at m = " << m;
            EXPECT_LE(differing, shipped.size() / 1000) << "at m = " << m;
        }
        glDeleteProgram(readable);
    }
}

// Runs the reference compiler on a fragment shader text; returns its exit status.
int reference_compiler(const std::string& text, const char* options, std::string* output) {
    static int serial = 0;
    std::string path = testing::TempDir() + "/reference_" + std::to_string(serial++) + ".frag";
    std::ofstream(path) << text;
    std::string command = "glslangValidator " + std::string(options) + " -S frag " + path + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        *output += buffer;
    return pclose(pipe);
}

// The reference compiler's syntax tree, one node a line, with the shader's own
// names numbered in order of appearance (locals afresh in each function) and
// the grouping of statements and GLSL ES's precision words left out, so that
// renaming, merged declarations, statements joined by commas and the precision
// every type has in the browser's text vanish but any change of operation,
// operand, type or constant shows.
std::vector<std::string> syntax_tree(const std::string& text) {
    std::string output;
    EXPECT_EQ(reference_compiler(text, "-i", &output), 0) << output;
    const std::regex location(R"(^\d+:(\d+|\?) +)"), function(R"(Function (Definition|Call): (\w+)\()"),
        name(R"('(\w+)')"), precision(R"(highp )");
    std::map<std::string, std::string> functions, names;
    std::vector<std::string> nodes;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_search(line, location)) continue;
        line = std::regex_replace(std::regex_replace(line, location, ""), precision, "");
        if (line == "Sequence" || line.rfind("Comma ", 0) == 0) continue;
        std::smatch match;
        if (std::regex_search(line, match, function)) {
            if (match[1] == "Definition") names.clear();
            auto [entry, _] = functions.emplace(match[2], "F" + std::to_string(functions.size()));
            line.replace(match.position(2), match.length(2), entry->second);
        }
        std::string renamed;
        auto rest = line.cbegin();
        for (std::sregex_iterator it(line.begin(), line.end(), name), end; it != end; ++it) {
            auto [entry, _] = names.emplace((*it)[1], "N" + std::to_string(names.size()));
            renamed.append(rest, (*it)[0].first).append(entry->second);
            rest = (*it)[0].second;
        }
        nodes.push_back(renamed.append(rest, line.cend()));
    }
    return nodes;
}

// Drivers other than Mesa are stricter: the reference compiler must accept
// both shipped texts and the browser's GLSL ES texts, and it must see in each
// exactly the computation of the readable source with the same constants.
TEST(ShippedShaderText, BothBuildsCompileToTheReadableSourcesSyntaxTree) {
    for (std::string text_name : {"small", "full", "small.es", "full.es"}) {
        SCOPED_TRACE(text_name);
        const std::string build = text_name.substr(0, text_name.find('.'));
        const std::vector<std::string> shipped = syntax_tree(
            build == text_name ? std::string(find_show_build(build)->shader_text)
                               : read_text_file(KORVATINE_GENERATED_DIR "/shader_" + text_name + ".frag"));
        const std::vector<std::string> readable = syntax_tree(readable_text(build));
        ASSERT_GT(readable.size(), 1000u);
        // No lookup takes derivatives: both of the label sheet's are at level
        // 0, since one with an implicit level in a loop that can end early
        // makes some compilers unroll the loop.
        auto lookups = [&](const char* call) {
            return std::count_if(shipped.begin(), shipped.end(),
                                 [&](const std::string& node) { return node.rfind(call, 0) == 0; });
        };
        EXPECT_EQ(lookups("texture ("), 0);
        EXPECT_EQ(lookups("textureLod ("), 2);
        auto [shipped_node, readable_node] =
            std::mismatch(shipped.begin(), shipped.end(), readable.begin(), readable.end());
        EXPECT_TRUE(shipped_node == shipped.end() && readable_node == readable.end())
            << "first difference at node " << shipped_node - shipped.begin() << ": shipped "
            << (shipped_node == shipped.end() ? "(end)" : *shipped_node) << ", readable "
            << (readable_node == readable.end() ? "(end)" : *readable_node);
    }
}

TEST(ShippedShaderText, IsMinifiedWithEachBuildsConstants) {
    struct Case {
        const char* build;
        std::vector<std::string> constants;
    };
    for (const Case& c : {Case{"small", {"vec2(320,180))/320;", "<1;", "/640*2.5", "/1;"}},
                          Case{"full", {"vec2(960,540))/960;", "<4;", "/1920*2.5", "/4;"}}}) {
        SCOPED_TRACE(c.build);
        const std::string text = find_show_build(c.build)->shader_text;
        ASSERT_EQ(text.rfind("#version 420\n", 0), 0u);
        EXPECT_EQ(text.find('\n', 13), std::string::npos);
        EXPECT_EQ(text.find("  "), std::string::npos);
        for (const std::string& constant : c.constants)
            EXPECT_NE(text.find(constant), std::string::npos) << constant;
        for (const char* name :
             {"uniform float m;", "uniform sampler2D v;", "out vec4 f;", "struct Co{", "void main(){"})
            EXPECT_NE(text.find(name), std::string::npos) << name;
    }
}

} // namespace
