// The scene's geometry and light transport, evaluated by the GL driver from the
// readable shader text the shipped texts are minified from.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "shader_probe.hpp"

namespace {

constexpr double PI = 3.14159265358979323846;

class SceneProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(shared_offscreen_gl().ok()) << shared_offscreen_gl().error();
        ASSERT_FALSE(source_.empty()) << "cannot read " << SCENE_SHADER_READABLE;
    }
    void TearDown() override {
        if (label_) glDeleteTextures(1, &label_);
    }

    // Results of `body` (which writes f from the input a) for each input.
    std::vector<ProbeValue> run(const std::string& body, const std::vector<ProbeValue>& inputs, float m = 0) {
        ShaderProbe probe(source_);
        std::vector<ProbeValue> values = probe.evaluate(body, inputs, m);
        EXPECT_EQ(values.size(), inputs.size()) << probe.error();
        values.resize(inputs.size());
        return values;
    }
    // The scalar `expression` of the input a, for each input.
    std::vector<float> scalar(const std::string& expression, const std::vector<ProbeValue>& inputs) {
        std::vector<float> result;
        for (const ProbeValue& value : run("f = vec4(" + expression + ", 0, 0, 1);", inputs))
            result.push_back(value[0]);
        return result;
    }
    void bind_label(int width, int height, const std::vector<float>& red) {
        label_ = bind_label_stand_in(width, height, red);
    }

    std::string source_ = read_text_file(SCENE_SHADER_READABLE);
    GLuint label_ = 0;
};

// --- Geometry -----------------------------------------------------------------

TEST_F(SceneProbe, RulerFacesRimAndInterior) {
    const std::vector<ProbeValue> points = {
        {0, 0, 0.1f, 0},       {0, 0, -0.05f, 0}, {0, 0, 0.025f, -0.075f},
        {0, 0, 0.2f, 0.1f},    {0.85f, 0, 0, 0}, // outermost point of the rounded long edge
        {0.3f, 1.5f, 0.1f, 0},                   // the flat top away from the centre
        {0, -4.05f, 0, 0},                       // outermost point of the -y end
    };
    const std::vector<float> distance = scalar("sceneDistance(a.xyz)", points);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_NEAR(distance[i], points[i][3], 2e-6) << "at point " << i;
}

TEST_F(SceneProbe, HolesHaveVerticalWallsThroughTheWholeThickness) {
    const std::vector<ProbeValue> points = {
        {0, -3, 0, 0.3f},
        {0, 3.95f, 0, 0.05f},
        {0, 4, 0, 0.1f},
        {0.3f, -3, -0.04f, 0},
        {0.3f, -3, 0.09f, 0},
        {0, -2.7f, 0.05f, 0},
        // Just outside the round hole the full thickness remains: no bevel there.
        {0, -2.65f, 0.095f, -0.005f},
        {0, -2.65f, -0.045f, -0.005f},
    };
    const std::vector<float> distance = scalar("sceneDistance(a.xyz)", points);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_NEAR(distance[i], points[i][3], 2e-6) << "at point " << i;
}

TEST_F(SceneProbe, ProtractorIsADShapedFrameOnThePlusXSide) {
    const std::vector<ProbeValue> points = {
        {3, 0, 0, 0.05f},           // in the opening, 0.1 from the inner arc
        {2.2f, 0, 0.025f, -0.075f}, // middle of the arc's band
        {5.9f, 0, 0.025f, -0.075f}, // middle of the straight edge's band
        {6.65f, 0, 0, 0},           // rim of the straight edge
        {1.45f, 0, 0, 0},           // rim of the outer arc, facing the ruler
        {5.5f, 4.05f, 0, 0},        // rim of the outer arc at the top
        {2.9f, 0, 0, -0.05f},       // on the opening's arc, at half height
        {5.2f, 0, 0, -0.05f},       // on the opening's straight edge, at half height
    };
    const std::vector<float> distance = scalar("sceneDistance(a.xyz)", points);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_NEAR(distance[i], points[i][3], 2e-5) << "at point " << i;
    // Its mirror image across x = 0 is empty floor.
    const std::vector<float> mirrored = scalar("sceneDistance(a.xyz * vec3(-1, 1, 1))", points);
    EXPECT_GT(mirrored[1], 0.3f);
    EXPECT_GT(mirrored[2], 0.3f);
}

TEST_F(SceneProbe, SetSquareIsATriangularFrameOnTheMinusXSide) {
    const std::vector<ProbeValue> points = {
        {-5, 0, 0.025f, -0.075f},     // middle of the leg along y
        {-4, -3.5f, 0.025f, -0.075f}, // middle of the leg along x
        {-5.55f, 0, 0, 0},            // rim of the outer outline
        {-4.5f, -2, 0, -0.05f},       // on the opening's edge, at half height
        {-3.6f, -3, 0, -0.05f},       // on the opening's bottom edge
    };
    const std::vector<float> distance = scalar("sceneDistance(a.xyz)", points);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_NEAR(distance[i], points[i][3], 2e-5) << "at point " << i;
    // The opening and the outside of the hypotenuse are empty.
    const std::vector<float> empty = scalar("sceneDistance(a.xyz)", {{-4, -2, 0, 0}, {-2.5f, 0, 0, 0}});
    EXPECT_GT(empty[0], 0.2f);
    EXPECT_GT(empty[1], 0.2f);
    // Its mirror image across x = 0 lies in the protractor's opening.
    EXPECT_GT(scalar("sceneDistance(a.xyz * vec3(-1, 1, 1))", {{-5, 0, 0.025f, 0}})[0], 0.1f);
}

TEST_F(SceneProbe, EveryOutlineDeeperThanTheBevelHasTheFullThickness) {
    // (x, y) of points deeper than 0.4 inside some outline, away from the holes.
    const std::vector<std::pair<float, float>> deep = {{0, 0},     {-0.35f, 2}, {0.3f, -3.5f}, {2.2f, 1},
                                                       {5.9f, -2}, {-5, 1},     {-3, -3.5f}};
    std::vector<ProbeValue> points;
    for (auto [x, y] : deep)
        for (float z : {-0.049f, 0.0f, 0.05f, 0.099f, -0.051f, 0.101f})
            points.push_back({x, y, z, 0});
    const std::vector<float> distance = scalar("sceneDistance(a.xyz)", points);
    for (size_t i = 0; i < points.size(); ++i) {
        const bool inside = points[i][2] > -0.05f && points[i][2] < 0.1f;
        EXPECT_EQ(distance[i] < 0, inside)
            << "at (" << points[i][0] << ", " << points[i][1] << ", " << points[i][2] << ")";
    }
}

TEST_F(SceneProbe, EdgeProfileCrossSection) {
    // Depth inside the outline, and the heights the solid lies between.
    struct Row {
        float depth, bottom, top;
    };
    const Row rows[] = {{0.5f, -0.05f, 0.1f},     {0.4f, -0.05f, 0.1f},   {0.3f, -0.05f, 0.088f},
                        {0.2f, -0.05f, 0.075f},   {0.1f, -0.05f, 0.063f}, {0, -0.05f, 0.05f},
                        {-0.02f, -0.046f, 0.046f}};
    std::vector<ProbeValue> points;
    for (const Row& row : rows)
        for (float z : {row.bottom - 0.001f, row.bottom + 0.001f, row.top - 0.001f, row.top + 0.001f})
            points.push_back({z, row.depth, 0, 0});
    const std::vector<float> solid = scalar("bevelProfile(a.xy) - 0.05", points);
    for (size_t i = 0; i < points.size(); ++i) {
        const bool inside = i % 4 == 1 || i % 4 == 2;
        EXPECT_EQ(solid[i] < 0, inside) << "depth " << points[i][1] << ", height " << points[i][0];
    }
    // Only the rim's outermost point remains 0.05 outside the outline.
    const std::vector<float> rim =
        scalar("bevelProfile(a.xy) - 0.05", {{0, -0.05f, 0, 0}, {0.01f, -0.05f, 0, 0}});
    EXPECT_NEAR(rim[0], 0, 1e-6);
    EXPECT_GT(rim[1], 0);
    // Along the bevel the top is the slope of 1 in 8 lifted by the rounding.
    std::vector<ProbeValue> bevel;
    for (float depth = 0.02f; depth < 0.39f; depth += 0.03f)
        bevel.push_back({depth / 8 + 0.05f * std::sqrt(65.0f) / 8, depth, 0, 0});
    for (float value : scalar("bevelProfile(a.xy) - 0.05", bevel))
        EXPECT_NEAR(value, 0, 3e-6);
}

TEST_F(SceneProbe, PlaneHelpers) {
    const std::vector<float> values =
        scalar("a.x == 0.0 ? edgeSide(vec2(1, 1), vec2(0), vec2(4, 0)) :"
               "a.x == 1.0 ? edgeSide(vec2(1, -1), vec2(0), vec2(4, 0)) :"
               "a.x == 2.0 ? segmentDistance(vec2(2, 3), vec2(0), vec2(4, 0)) :"
               "a.x == 3.0 ? segmentDistance(vec2(-3, 4), vec2(0), vec2(4, 0)) :"
               "a.x == 4.0 ? segmentDistance(vec2(7, -4), vec2(0), vec2(4, 0)) :"
               "a.x == 5.0 ? setSquareTriangle(vec2(0)) :"
               "a.x == 6.0 ? setSquareTriangle(vec2(-0.5, -4)) :"
               "a.x == 7.0 ? setSquareTriangle(vec2(-1.5, 0)) :"
               "a.x == 8.0 ? boxDistance(vec2(1, 5), vec2(0.8, 4)) :"
               "a.x == 9.0 ? boxDistance(vec2(0), vec2(0.8, 4)) :"
               "a.x == 10.0 ? protractorBand(vec2(3.3, 0), 3.3, 0.7) :"
               "a.x == 11.0 ? protractorBand(vec2(-0.4, 1), 3.3, 0.7) :"
               "a.x == 12.0 ? bump(vec2(0)) :"
               "a.x == 13.0 ? bump(vec2(0.3, 0.4)) : bump(vec2(0, 1.2))",
               {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}, {12}, {13}, {14}});
    const float expected[] = {-4,    4,     3,     5, 5,       -0.5f, 0, 1, std::sqrt(1.04f),
                              -0.8f, -0.7f, -0.7f, 1, 0.0625f, 0};
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(values[i], expected[i], 1e-5) << "case " << i;
}

// --- Interior density ---------------------------------------------------------

TEST_F(SceneProbe, DensityAtKnownPointsIgnoresHeight) {
    const std::vector<ProbeValue> points = {
        {0, 0, -0.05f, 1.375f},    {0, 0, 0.1f, 1.375f},         {0, 0, 3, 1.375f},
        {5.2f, 2.6f, 0, 5.497f},   {5.2f, -2.6f, 0.05f, 5.497f}, {0, 4, 0, 2.339f},
        {0, -3.3f, 0, 3.072f},     {0, -2.7f, 0, 3.109f},        {0.5f, -3, 0, 0.5737f},
        {-0.5f, -3, 0, 0.3633f},   {6.3f, 3.7f, 0, 0.9744f},     {6.3f, -3.6f, 0, 0.9554f},
        {-4.5f, -0.4f, 0, 4.821f}, {-3.2f, -2.9f, 0, 4.7219f},   {-4.5f, -3, 0, 4.7073f},
    };
    const std::vector<float> density = scalar("interiorDensity(a.xyz)", points);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_NEAR(density[i], points[i][3], 2e-3) << "at point " << i;
}

TEST_F(SceneProbe, DensityPeaksAtTheProtractorsInnerCorners) {
    // A 0.02 grid over every instrument, at mid height.
    const int width = 651, height = 421;
    ShaderProbe probe(source_);
    const std::vector<ProbeValue> values =
        probe.evaluate_grid("vec3 p = vec3(-6.0 + 0.02 * float(cell.x), -4.2 + 0.02 * float(cell.y), 0.025);"
                            "f = vec4(interiorDensity(p), sceneDistance(p), p.xy);",
                            width, height);
    ASSERT_EQ(values.size(), size_t(width) * height) << probe.error();
    float highest = -1, lowest = 100, x_at_highest = 0, y_at_highest = 0;
    double sum = 0;
    int count = 0;
    for (const ProbeValue& v : values) {
        if (v[1] >= 0) continue;
        sum += v[0];
        ++count;
        lowest = std::min(lowest, v[0]);
        if (v[0] > highest) highest = v[0], x_at_highest = v[2], y_at_highest = v[3];
    }
    EXPECT_NEAR(highest, 5.497f, 0.01f);
    EXPECT_NEAR(x_at_highest, 5.2f, 0.03f);
    EXPECT_NEAR(std::abs(y_at_highest), 2.6f, 0.03f);
    EXPECT_NEAR(lowest, 0.17f, 0.03f);
    EXPECT_NEAR(sum / count, 1.03, 0.05);
}

// --- Light --------------------------------------------------------------------

TEST_F(SceneProbe, PaletteValues) {
    const std::vector<ProbeValue> phases = {{0.3f}, {0.5f}, {0.8f}, {1}};
    const float expected[][3] = {{0.842f, 0.948f, 1.133f},
                                 {0.329f, 0.057f, 0.284f},
                                 {0.476f, 0.955f, 0.497f},
                                 {0.926f, 0.240f, 0.927f}};
    const std::vector<ProbeValue> colours = run("f = vec4(palette(a.x), 1);", phases);
    for (size_t i = 0; i < phases.size(); ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(colours[i][c], expected[i][c], 1.5e-3)
                << "phase " << phases[i][0] << " channel " << c;
}

TEST_F(SceneProbe, EnvironmentStraightDownIsThePaletteTripled) {
    // Input: phase, reveal.
    const std::vector<ProbeValue> inputs = {{0, 0}, {2, 0}, {0.2f, 1}, {0.5f, 1}};
    const std::vector<ProbeValue> colours =
        run("reveal = a.y; f = vec4(environment(vec3(0, 0, -1), a.x) - 3.0 * palette(0.3 + a.y * a.x), 0);",
            inputs);
    for (const ProbeValue& c : colours)
        EXPECT_LT(std::abs(c[0]) + std::abs(c[1]) + std::abs(c[2]), 1e-5);
    // Before the reveal the interior phase makes no difference: bluish white.
    const std::vector<ProbeValue> before =
        run("f = vec4(environment(vec3(0, 0, -1), a.x), 1);", {{0}, {2.7f}});
    for (const ProbeValue& c : before) {
        EXPECT_NEAR(c[0], 2.527f, 3e-3);
        EXPECT_NEAR(c[1], 2.844f, 3e-3);
        EXPECT_NEAR(c[2], 3.399f, 3e-3);
    }
}

TEST_F(SceneProbe, NoLightFromAboveOrNearTheHorizon) {
    // Direction, and the expected fraction of the light from straight down.
    const std::vector<ProbeValue> directions = {
        {0, 0, -0.3f, 0.352f}, {0, 0, -0.45f, 1}, {0, 0, -0.2f, 0}, {0, 0, -0.15f, 0}, {0.6f, 0.8f, 0, 0},
        {0.3f, 0, 0.9f, 0},    {0, 0, 1, 0},      {0, 0, 0, 0}, // the direction after a total reflection
        {1, 0, -1e-7f, 0},
    };
    const std::vector<ProbeValue> ratio =
        run("f = vec4(environment(a.xyz, 0.0) / environment(vec3(0, 0, -1), 0.0), 1);", directions);
    for (size_t i = 0; i < directions.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            ASSERT_FALSE(std::isnan(ratio[i][c])) << "direction " << i;
            EXPECT_NEAR(ratio[i][c], directions[i][3], 1e-3) << "direction " << i;
        }
}

TEST_F(SceneProbe, GridLinesHaveADarkCoreAndSoftShoulders) {
    // (phase offset from a line's centre along x, expected grid factor). The
    // directions look steeply down so the floor ramp is 1.
    const double offsets[] = {0, 0.1, 0.5, PI / 2, PI};
    std::vector<ProbeValue> directions;
    for (double offset : offsets)
        directions.push_back({static_cast<float>((PI - offset) / 400), 0, -1, 0});
    directions.push_back({static_cast<float>(7 * PI / 400 / 2), static_cast<float>(3 * PI / 400 * 2), -2, 0});
    const std::vector<ProbeValue> ratio =
        run("f = vec4(environment(a.xyz, 0.0) / environment(vec3(0, 0, -1), 0.0), 1);", directions);
    for (size_t i = 0; i < std::size(offsets); ++i) {
        const double expected = std::pow(0.5 - 0.5 * std::cos(offsets[i]), 0.02);
        EXPECT_NEAR(ratio[i][0], expected, 0.01) << "offset " << offsets[i];
        EXPECT_NEAR(ratio[i][2], expected, 0.01) << "offset " << offsets[i];
    }
    // A line along x, in a direction longer than 1: the grid depends on ratios only.
    EXPECT_LT(ratio.back()[1], 1e-3);
}

TEST_F(SceneProbe, NormalsPointIntoTheMaterial) {
    const std::vector<ProbeValue> points = {
        {0, 0, 0.1f}, {0, 0, -0.05f}, {0.85f, 0, 0}, {0, -2.7f, 0}, {-5.55f, 0, 0}};
    const float expected[][3] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    const std::vector<ProbeValue> normals = run("f = vec4(inwardNormal(a.xyz), 1);", points);
    for (size_t i = 0; i < points.size(); ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(normals[i][c], expected[i][c], 0.02) << "point " << i;
}

TEST_F(SceneProbe, MarchHitsEscapesAndStopsAtTheFloor) {
    // Input: origin; a.w selects the direction.
    const std::string body =
        "vec3 d = a.w == 0.0 ? vec3(0, 0, -1) : a.w == 1.0 ? vec3(0, 0, 1) : vec3(0.6, 0, -0.8);"
        "Co r = Co(a.xyz, d, a.xyz, vec3(0), 0.5, 0.0);"
        "bool hit = march(r);"
        "f = vec4(hit ? 1.0 : 0.0, r.k.z, r.c, r.m);";
    const std::vector<ProbeValue> results = run(body, {
                                                          {0, 0, 1, 0},       // down onto the ruler
                                                          {0, 0, 1, 1},       // up, into nothing
                                                          {0, -8, 1, 0},      // down beside everything
                                                          {0, 0, 0.025f, 0},  // from inside, down
                                                          {0, 0, 0.1f, 0},    // starting on the surface
                                                          {-1.175f, 0, 3, 2}, // slanting down past the ruler
                                                      });
    EXPECT_EQ(results[0][0], 1);
    EXPECT_NEAR(results[0][1], 0.1f, 1e-4);
    EXPECT_EQ(results[0][2], 0.5f);
    EXPECT_EQ(results[0][3], 0);
    EXPECT_EQ(results[1][0], 0); // past 40 units; the throughput stays
    EXPECT_EQ(results[1][2], 0.5f);
    EXPECT_EQ(results[2][0], 0); // through the floor cut
    EXPECT_LT(results[2][1], -0.1f);
    EXPECT_EQ(results[2][2], 0.5f);
    EXPECT_EQ(results[3][0], 1); // inside: the phase gathers 5 x density x length
    EXPECT_NEAR(results[3][1], -0.05f, 1e-4);
    EXPECT_NEAR(results[3][3], 5 * 1.375f * 0.075f, 2e-3);
    EXPECT_EQ(results[4][0], 1); // the hit test comes before any step
    EXPECT_EQ(results[4][1], 0.1f);
    EXPECT_EQ(results[5][0], 0);
    EXPECT_EQ(results[5][2], 0.5f);
}

TEST_F(SceneProbe, MarchGathersTheDensityAtEachStepsStart) {
    // A slab 0 < z < 1 whose density is its height, crossed downward from just
    // under its top: every step's length is the distance to the nearer face.
    ShaderProbe probe(source_);
    ASSERT_TRUE(
        probe.replace("sceneDistance", "float sceneDistance(vec3 p) { return max(p.z - 1.0, -p.z); }"));
    ASSERT_TRUE(probe.replace("interiorDensity", "float interiorDensity(vec3 p) { return p.z; }"));
    const std::vector<ProbeValue> v =
        probe.evaluate("Co r = Co(vec3(0, 0, 0.999), vec3(0, 0, -1), vec3(0, 0, 0.999), vec3(0), 1.0, 0.0);"
                       "bool hit = march(r);"
                       "f = vec4(hit ? 1.0 : 0.0, r.k.z, r.m, r.c);",
                       {{0}});
    ASSERT_EQ(v.size(), 1u) << probe.error();
    double z = 0.999, phase = 0;
    for (int step = 0; step < 100 && std::min(1 - z, z) >= 1e-4; ++step) {
        const double length = std::min(1 - z, z);
        phase += 5 * z * length;
        z -= length;
    }
    EXPECT_EQ(v[0][0], 1);
    EXPECT_NEAR(v[0][1], z, 1e-5);
    EXPECT_NEAR(v[0][2], phase, 1e-4); // sampled at the ends it would be about 0.9 lower
    EXPECT_EQ(v[0][3], 1);
}

TEST_F(SceneProbe, EnteringTheTopFaceBendsTowardTheNormal) {
    bind_label(1, 1, {0.5f});
    // Comes down from o at 30 degrees from the vertical onto the ruler's flat top
    // at (0.2, 1, 0.1).
    const std::string body = "vec3 d = normalize(vec3(0.5, 0, -sqrt(3.0) / 2.0));"
                             "vec3 o = vec3(0.2, 1, 0.1) - 4.0 * d;"
                             "Co r = Co(o, d, o, vec3(0), 1.0, 0.0);"
                             "bool hit = march(r);"
                             "vec3 k = r.k;"
                             "shadeHit(r);"
                             "float afterPrint = r.c;"
                             "refractRay(r);"
                             "f = a.x == 0.0 ? vec4(r.d, r.c) :"
                             "    a.x == 1.0 ? vec4(r.k - k, afterPrint) :"
                             "                 vec4(r.o - r.k, length(r.i) + (hit ? 0.0 : 100.0));";
    const std::vector<ProbeValue> v = run(body, {{0}, {1}, {2}});
    EXPECT_NEAR(v[0][0], 0.7f * 0.5f, 1e-4); // sin of the refracted angle: 0.7 times sin 30
    EXPECT_NEAR(v[0][2], -std::sqrt(1 - 0.35f * 0.35f), 1e-4);
    EXPECT_NEAR(v[0][3], std::exp(-0.01f * 4.0004f), 2e-6); // attenuated over the segment
    EXPECT_NEAR(v[1][2], -0.0005f, 2e-6);                   // pushed across
    EXPECT_EQ(v[1][3], 1.0f);                               // no print on a top face
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(v[2][c], 0); // the next segment starts there
    EXPECT_LT(v[2][3], 1e-6);  // the reflection points up, where there is no light
}

TEST_F(SceneProbe, ReflectionWeightGrowsTowardGrazing) {
    // From inside, up onto the ruler's top face at (0.2, 1, 0.1): the reflection
    // looks down at the floor. Input: the direction's x (z is 1).
    const std::string body = "vec3 d = normalize(vec3(a.x, 0, 1));"
                             "vec3 k = vec3(0.2, 1, 0.1);"
                             "Co r = Co(k - 0.05 * d, d, k, vec3(0), 0.7, 0.0);"
                             "shadeHit(r);"
                             "float weight = 0.8 * (1.0 - 0.98 * d.z);"
                             "f = vec4(r.i / (environment(reflect(d, vec3(0, 0, 1)), 0.0) * 0.7), weight);";
    const std::vector<ProbeValue> v = run(body, {{0}, {0.5f}});
    for (const ProbeValue& value : v)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(value[c], value[3], 1e-3);
    EXPECT_NEAR(v[0][0], 0.016f, 1e-4); // head-on
}

TEST_F(SceneProbe, ThePrintDarkensOnlyTheLightGoingOn) {
    bind_label(1, 1, {0.25f});
    // From below, up onto the ruler's bottom face: the reflection looks down at
    // the floor and keeps the throughput from before the print.
    const std::string body = "vec3 d = normalize(vec3(0.5, 0, 1));"
                             "vec3 k = vec3(0.2, 1, -0.05);"
                             "Co r = Co(k - d, d, k, vec3(0), 0.8, 0.0);"
                             "shadeHit(r);"
                             "vec3 expected = environment(reflect(d, vec3(0, 0, -1)), 0.0) * 0.8 *"
                             "    (1.0 - 0.98 * d.z) * 0.8;"
                             "f = vec4(r.i - expected, r.c);";
    const ProbeValue v = run(body, {{0}})[0];
    EXPECT_LT(std::abs(v[0]) + std::abs(v[1]) + std::abs(v[2]), 1e-5f);
    EXPECT_NEAR(v[3], 0.8f * 0.25f, 1e-6);
}

TEST_F(SceneProbe, TotalInternalReflectionEndsThePath) {
    // From inside the ruler, up at 60 degrees from the vertical: beyond the
    // critical angle of about 45.6 degrees.
    const std::string body = "vec3 d = vec3(sin(radians(a.x)), 0, cos(radians(a.x)));"
                             "vec3 o = vec3(0, 0.5, 0.02);"
                             "Co r = Co(o, d, o, vec3(0), 1.0, 0.0);"
                             "trace(r);"
                             "Co first = Co(o, d, o, vec3(0), 1.0, 0.0);"
                             "march(first);"
                             "vec3 reflected = environment(reflect(d, vec3(0, 0, 1)), first.m) *"
                             "    0.8 * (1.0 - 0.98 * d.z);"
                             "f = vec4(length(r.i - reflected), length(r.d), r.c, length(reflected));";
    const std::vector<ProbeValue> v = run(body, {{60}, {40}});
    EXPECT_GT(v[0][3], 0.1f);
    EXPECT_LT(v[0][0], 1e-3f * v[0][3]); // only the reflection at the top face
    EXPECT_EQ(v[0][1], 0);               // no direction after the reflection
    EXPECT_EQ(v[0][2], 0);               // the stuck march gives up all light
    // Below the critical angle the ray leaves and keeps its throughput.
    EXPECT_NEAR(v[1][1], 1, 1e-5);
    EXPECT_GT(v[1][2], 0.9f);
}

TEST_F(SceneProbe, LeavingTheMaterialBendsAwayFromTheNormal) {
    const std::string body = "vec3 d = vec3(0.5, 0, sqrt(0.75));" // 30 degrees from the vertical
                             "vec3 o = vec3(0, 0.5, 0.02);"
                             "Co r = Co(o, d, o, vec3(0), 1.0, 0.0);"
                             "march(r); shadeHit(r); refractRay(r);"
                             "f = vec4(r.d, r.k.z);";
    const ProbeValue v = run(body, {{0}})[0];
    EXPECT_NEAR(v[0], 0.7f, 1e-4); // 1.4 times sin 30
    EXPECT_NEAR(v[2], std::sqrt(0.51f), 1e-4);
    EXPECT_NEAR(v[3], 0.1005f, 1.2e-4); // pushed out above the top face
}

TEST_F(SceneProbe, StraightDownThroughTheRulerGathersPhaseAndPrint) {
    bind_label(1, 1, {0.5f});
    // Input: x, y of the vertical ray; the reveal.
    const std::string body = "reveal = a.z;"
                             "Co r = Co(vec3(a.xy, 5), vec3(0, 0, -1), vec3(a.xy, 5), vec3(0), 1.0, 0.0);"
                             "trace(r);"
                             "vec3 floorLight = environment(vec3(0, 0, -1), r.m) * r.c;"
                             "f = a.w == 0.0 ? vec4(r.c, r.m, interiorDensity(vec3(a.xy, 0)), r.d.z) :"
                             "                 vec4(r.i - floorLight, length(floorLight));";
    const std::vector<ProbeValue> v = run(body, {{0, 0, 0, 0}, {0.2f, 0.5f, 1, 0}, {0.2f, 0.5f, 1, 1}});
    // Two attenuations over 4.9005 and 0.15 units, and half the light through the print.
    EXPECT_NEAR(v[0][0], 0.5f * std::exp(-0.01f * 5.0505f), 2e-5);
    EXPECT_NEAR(v[0][1], 1.031f, 0.01f);
    EXPECT_NEAR(v[1][1], 5 * v[1][2] * 0.1495f, 0.01f);
    EXPECT_NEAR(v[0][3], -1, 1e-6); // a flat slab does not turn the ray
    // With full reveal the miss after the second surface is still weighted 1:
    // all the light is the floor seen through the ruler.
    EXPECT_GT(v[2][3], 0.1f);
    EXPECT_LT(std::abs(v[2][0]) + std::abs(v[2][1]) + std::abs(v[2][2]), 1e-4f);
}

TEST_F(SceneProbe, FirstSegmentMissFadesWithTheReveal) {
    // From above the floor beside the instruments, down through the floor cut.
    // Input: reveal.
    const std::string body = "reveal = a.x;"
                             "vec3 o = vec3(0, -10, 5), d = normalize(vec3(0, 3, -5.1));"
                             "Co r = Co(o, d, o, vec3(0), 1.0, 0.0);"
                             "trace(r);"
                             "f = vec4(r.i / environment(d, 0.0), r.c);";
    const std::vector<ProbeValue> v = run(body, {{0}, {0.5f}, {std::sqrt(0.5f)}, {1}});
    const float expected[] = {1, 0.25f, (1 - std::sqrt(0.5f)) * (1 - std::sqrt(0.5f)), 0};
    for (size_t i = 0; i < v.size(); ++i) {
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(v[i][c], expected[i], 1e-5) << "case " << i;
        EXPECT_EQ(v[i][3], 1); // a miss is not attenuated by its own length
    }
}

TEST_F(SceneProbe, UndersidePrintReadsTheLabelBelowTheHit) {
    // Texel (column, row) holds (1 + column + 4 row) / 16; row 0 is t = 0.
    std::vector<float> red(16);
    for (int i = 0; i < 16; ++i)
        red[i] = (1 + i) / 16.0f;
    bind_label(4, 4, red);
    // Input: a hit point; light comes from above and leaves through it.
    const std::string body = "Co r = Co(a.xyz + vec3(0, 0, 0.05), vec3(0, 0, -1), a.xyz, vec3(0), 1.0, 0.0);"
                             "shadeHit(r);"
                             "f = vec4(r.c, 0, 0, 1);";
    const std::vector<ProbeValue> points = {
        {0.5f, 1, -0.05f, 11 / 16.0f},     // ruler: column 2, row 2
        {-0.5f, -3.7f, -0.05f, 5 / 16.0f}, // ruler: column 0, row 1
        {6.2f, 0.3f, -0.05f, 15 / 16.0f},  // protractor: column 2, row 3
        {-5, 2.5f, -0.05f, 4 / 16.0f},     // set square: column 3, row 0
        {0.2f, 1, 0.1f, 1},                // top face: no print
        {0.7f, 1, 0.0629f, 1},             // bevel: no print
        {0.85f, 1, 0, 1},                  // side of the rim: no print
    };
    const std::vector<ProbeValue> v = run(body, points);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_NEAR(v[i][0], points[i][3], 1e-6) << "point " << i;
}

} // namespace
