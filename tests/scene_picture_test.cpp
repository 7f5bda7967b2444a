// Whole frames of the scene through the shipped small text. The label sheet is
// stood in for by a blank white page, so these hold whatever the print holds;
// set SCENE_TEST_FRAMES to a folder to keep the frames as PNG files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "shader_probe.hpp"

namespace {

struct Vec3 {
    double x, y, z;
};
Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator*(double s, Vec3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 normalize(Vec3 a) {
    return (1 / std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z)) * a;
}

constexpr int WIDTH = 640, HEIGHT = 360;
constexpr double BAR = 1.0448;

// The camera the show uses at time m, in double precision; never used within
// a hair of a cut.
struct Camera {
    Vec3 eye, forward, side, up;

    explicit Camera(double m) {
        const int bar = static_cast<int>(m / BAR);
        double spin = 1, height_offset = 0;
        if ((bar > 39 && bar < 60 && bar % 2 == 0) || bar > 59) spin = -1, height_offset = 100;
        if (bar < 8 && bar % 2 == 0) spin = -1;
        eye = 16 * Vec3{-std::sin(0.3 * spin * m), std::cos(0.3 * spin * m),
                        std::sin(0.018 * (height_offset + m))};
        forward = normalize(-1 * eye);
        side = normalize(cross(forward, {0, 0, -1}));
        up = normalize(cross(forward, side));
    }
    // Direction of the ray through a pixel, counted from the top-left corner.
    Vec3 direction(int column, int row_from_top) const {
        const double qx = (column + 0.5 - WIDTH / 2) / (WIDTH / 2);
        const double qy = (HEIGHT - 1 - row_from_top + 0.5 - HEIGHT / 2) / (WIDTH / 2);
        return normalize(forward + 0.36397 * (-qx * side + qy * up));
    }
};

// True when the ray cannot come near any instrument before it leaves through
// the floor cut or passes 40 units: its stretch between the floor cut and just
// above the instruments' tops stays outside a rectangle around all three.
bool misses_instruments(Vec3 eye, Vec3 d) {
    if (d.z >= 0) return true;
    double t0 = std::max(0.0, (0.11 - eye.z) / d.z), t1 = std::min(40.0, (-0.1 - eye.z) / d.z);
    if (t0 >= t1) return true;
    // Clip the stretch's xy projection against |x| <= 6.8, |y| <= 4.2.
    const double origin[2] = {eye.x, eye.y}, step[2] = {d.x, d.y}, half[2] = {6.8, 4.2};
    for (int axis = 0; axis < 2; ++axis) {
        if (step[axis] == 0) {
            if (std::abs(origin[axis]) > half[axis]) return true;
            continue;
        }
        double a = (-half[axis] - origin[axis]) / step[axis], b = (half[axis] - origin[axis]) / step[axis];
        if (a > b) std::swap(a, b);
        t0 = std::max(t0, a), t1 = std::min(t1, b);
    }
    return t0 >= t1;
}

// Where a ray from above first comes down to the instruments' top plane z = 0.1.
enum class Landing {
    ruler,
    protractor_frame,
    protractor_opening,
    set_square_frame,
    set_square_opening,
    other
};

Landing landing(Vec3 eye, Vec3 d) {
    if (d.z >= 0) return Landing::other;
    const Vec3 p = eye + ((0.1 - eye.z) / d.z) * d;
    // Well inside the flat parts, or well away from any edge of an opening: a
    // steep ray crosses less than 0.3 sideways on its way down to the floor cut.
    if (std::abs(p.x) < 0.3 && std::abs(p.y) < 3.4 && std::hypot(p.x, p.y + 3) > 0.6) return Landing::ruler;
    const double d_shape = std::max(std::hypot(5.5 - p.x, p.y) - 3.3, p.x - 5.9); // 0 on the frame's middle
    if (std::abs(d_shape) < 0.25) return Landing::protractor_frame;
    if (d_shape < -1.15) return Landing::protractor_opening;
    // The legs' middles; the opening around its inscribed circle's centre.
    if ((std::abs(p.x + 5) < 0.1 && p.y > -3 && p.y < 2) ||
        (std::abs(p.y + 3.5) < 0.1 && p.x > -5 && p.x < -2.5))
        return Landing::set_square_frame;
    if (std::hypot(p.x + 3.972, p.y + 2.472) < 0.1) return Landing::set_square_opening;
    return Landing::other;
}

struct Pixel {
    int r, g, b;
    int brightness() const { return r + g + b; }
};

// The colour the tone map gives a traced colour of 0.
const Pixel BLACK_LEVEL = {12, 12, 18};

bool near_black_level(Pixel p) {
    return std::abs(p.r - BLACK_LEVEL.r) <= 1 && std::abs(p.g - BLACK_LEVEL.g) <= 1 &&
           std::abs(p.b - BLACK_LEVEL.b) <= 1;
}

class ScenePicture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!shared_offscreen_gl().ok()) return;
        build_ = find_show_build("small");
        std::string log;
        program_ = build_fragment_program(build_->shader_text, &log);
        compile_log_ = log;
        white_page_ = bind_label_stand_in(1, 1, {1.0f});
    }
    static void TearDownTestSuite() {
        if (program_) glDeleteProgram(program_);
        if (white_page_) glDeleteTextures(1, &white_page_);
        program_ = white_page_ = 0;
    }
    void SetUp() override {
        ASSERT_TRUE(shared_offscreen_gl().ok()) << shared_offscreen_gl().error();
        ASSERT_NE(program_, 0u) << compile_log_;
    }

    // The frame at time m, top row first.
    std::vector<Pixel> frame(float m) {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, white_page_);
        const std::vector<std::uint8_t> rgba = render_show_frame(program_, *build_, m);
        if (const char* folder = std::getenv("SCENE_TEST_FRAMES")) {
            const std::string path = std::string(folder) + "/scene_" + std::to_string(m) + ".png";
            write_png(path, rgba.data(), WIDTH, HEIGHT, 4, nullptr);
        }
        std::vector<Pixel> pixels(WIDTH * HEIGHT);
        for (int i = 0; i < WIDTH * HEIGHT; ++i)
            pixels[i] = {rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]};
        return pixels;
    }

    static const ShowBuild* build_;
    static GLuint program_, white_page_;
    static std::string compile_log_;
};
const ShowBuild* ScenePicture::build_ = nullptr;
GLuint ScenePicture::program_ = 0;
GLuint ScenePicture::white_page_ = 0;
std::string ScenePicture::compile_log_;

// Rows 46 to 313 are the visible band.
constexpr int BAND_TOP = 46, BAND_BOTTOM = 313;

TEST_F(ScenePicture, BeforeTheRevealEverythingIsLitBluishWhite) {
    const float m = 20;
    const Camera camera(m);
    const std::vector<Pixel> pixels = frame(m);
    int bluish = 0, floor_seen = 0, floor_brightness = 0, reddish = 0;
    for (int row = BAND_TOP; row <= BAND_BOTTOM; ++row)
        for (int column = 0; column < WIDTH; ++column) {
            const Pixel p = pixels[row * WIDTH + column];
            bluish += p.r <= p.g + 1 && p.g <= p.b + 1;
            reddish += p.r > p.b + 8 || p.g > p.b + 8;
            const Vec3 d = camera.direction(column, row);
            if (d.z < -0.3 && misses_instruments(camera.eye, d)) {
                ++floor_seen;
                floor_brightness += p.g;
            }
        }
    EXPECT_EQ(bluish, WIDTH * (BAND_BOTTOM - BAND_TOP + 1));
    EXPECT_EQ(reddish, 0);
    // The floor seen directly is lit.
    ASSERT_GT(floor_seen, 5000);
    EXPECT_GT(floor_brightness / floor_seen, 100);
}

TEST_F(ScenePicture, FloorSeenDirectlyFadesOutDuringTheReveal) {
    // Brightest blue of the directly seen floor; how many floor pixels there are.
    auto floor_blue = [&](float m, int* brightest, int* count, int* at_black_level) {
        const Camera camera(m);
        const std::vector<Pixel> pixels = frame(m);
        *brightest = *count = *at_black_level = 0;
        for (int row = BAND_TOP; row <= BAND_BOTTOM; ++row)
            for (int column = 0; column < WIDTH; ++column)
                if (misses_instruments(camera.eye, camera.direction(column, row))) {
                    const Pixel p = pixels[row * WIDTH + column];
                    *brightest = std::max(*brightest, p.b);
                    ++*count;
                    *at_black_level += near_black_level(p);
                }
    };
    int brightest, count, black;
    floor_blue(40.9f, &brightest, &count, &black); // before: reveal 0
    ASSERT_GT(count, 5000);
    EXPECT_GT(brightest, 150);
    // Halfway in time the reveal is 0.707 and the floor weighs (1 - 0.707)^2:
    // at most 0.0858 x 3.399 in blue, which the tone map makes 86.7.
    floor_blue(41.5f, &brightest, &count, &black);
    ASSERT_GT(count, 5000);
    EXPECT_LE(brightest, 87);
    EXPECT_GT(brightest, 40);
    // From m = 42 the floor seen directly adds nothing.
    floor_blue(42.5f, &brightest, &count, &black);
    ASSERT_GT(count, 5000);
    EXPECT_EQ(black, count);
}

TEST_F(ScenePicture, BusySectionShowsColouredInstrumentsOverBlack) {
    // Seen from high above: the ruler in the middle, the D-shaped protractor
    // frame on +x and the triangular set-square frame on -x carry the floor's
    // light, shifted along the palette; the floor seen directly, also through
    // the frames' openings, is black.
    const float m = 51.5f;
    const Camera camera(m);
    ASSERT_GT(camera.eye.z, 12);
    const std::vector<Pixel> pixels = frame(m);
    constexpr int KINDS = 6;
    int count[KINDS] = {}, lit[KINDS] = {}, black[KINDS] = {};
    int floor_count = 0, floor_black = 0, coloured = 0;
    for (int row = BAND_TOP; row <= BAND_BOTTOM; ++row)
        for (int column = 0; column < WIDTH; ++column) {
            const Vec3 d = camera.direction(column, row);
            const Pixel p = pixels[row * WIDTH + column];
            coloured += p.r > p.b + 8 || p.g > p.b + 8;
            if (misses_instruments(camera.eye, d)) ++floor_count, floor_black += near_black_level(p);
            const int kind = static_cast<int>(landing(camera.eye, d));
            ++count[kind];
            lit[kind] += p.brightness() > BLACK_LEVEL.brightness() + 40;
            black[kind] += near_black_level(p);
        }
    ASSERT_GT(floor_count, 5000);
    EXPECT_EQ(floor_black, floor_count);
    for (Landing frame_part : {Landing::ruler, Landing::protractor_frame, Landing::set_square_frame}) {
        const int kind = static_cast<int>(frame_part);
        ASSERT_GT(count[kind], 200) << "part " << kind;
        EXPECT_GT(lit[kind], count[kind] * 3 / 4) << "part " << kind;
    }
    for (Landing opening : {Landing::protractor_opening, Landing::set_square_opening}) {
        const int kind = static_cast<int>(opening);
        ASSERT_GT(count[kind], 30) << "part " << kind;
        EXPECT_EQ(black[kind], count[kind]) << "part " << kind;
    }
    EXPECT_GT(coloured, 5000);
}

TEST_F(ScenePicture, OpeningCutsToTheMirrorImage) {
    // At the start of bar 7 the eye jumps across the plane x = 0. The floor seen
    // directly depends on the direction alone and is symmetric in x, so it comes
    // back mirrored left to right.
    const float cut = static_cast<float>(7 * BAR);
    const float before_m = cut - 1e-4f, after_m = cut + 1e-4f;
    const Camera before_camera(before_m), after_camera(after_m);
    const std::vector<Pixel> before = frame(before_m), after = frame(after_m);
    long mirrored_difference = 0, straight_difference = 0;
    int compared = 0;
    for (int row = BAND_TOP; row <= BAND_BOTTOM; ++row)
        for (int column = 0; column < WIDTH; ++column) {
            const int mirror = WIDTH - 1 - column;
            const Vec3 d = after_camera.direction(column, row);
            if (d.z > -0.22 || !misses_instruments(after_camera.eye, d) ||
                !misses_instruments(before_camera.eye, before_camera.direction(mirror, row)) ||
                !misses_instruments(before_camera.eye, before_camera.direction(column, row)))
                continue;
            const Pixel a = after[row * WIDTH + column];
            mirrored_difference += std::abs(a.brightness() - before[row * WIDTH + mirror].brightness());
            straight_difference += std::abs(a.brightness() - before[row * WIDTH + column].brightness());
            ++compared;
        }
    ASSERT_GT(compared, 1000);
    EXPECT_LT(mirrored_difference, compared * 3);
    EXPECT_GT(straight_difference, 4 * mirrored_difference);
}

} // namespace
