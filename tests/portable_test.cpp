// The portable edition's own font map. The page a show rasterised is taken from
// it by a preloaded library (page_dump_preload.cpp) that ends the show there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "label.hpp"
#include "postscript_ps_min.h"
#include "show_harness.hpp"

namespace {

namespace fs = std::filesystem;

constexpr long PAGE_BYTES = 4096L * 4096 * 4;
// Where Debian's update-gsfontmap writes the font registrations Ghostscript reads.
const char SYSTEM_FONTMAP[] = "/var/lib/ghostscript/fonts/Fontmap";

std::vector<unsigned char> read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

class PortableFonts : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok()) << "Xvfb did not start";
        folder = fs::temp_directory_path() / ("korvatine_portable_" + std::to_string(getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // Runs the program until it has rasterised its label page; returns the page,
    // empty if it did not get there. With hide_registration, in a mount
    // namespace of its own where Ghostscript's system font map is empty.
    std::vector<unsigned char> page_of(const std::string& program, bool hide_registration,
                                       const std::vector<std::string>& more_environment = {}) {
        const fs::path page = folder / "page.raw";
        fs::remove(page);
        std::vector<std::string> command = {program};
        if (hide_registration)
            command = {"/usr/bin/unshare",
                       "-m",
                       "/bin/sh",
                       "-c",
                       std::string("mount --bind /dev/null ") + SYSTEM_FONTMAP + " && exec \"$0\"",
                       program};
        // A session's runtime folder: without one SDL3's Wayland probe complains on standard error.
        const fs::path runtime = folder / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        std::vector<std::string> environment = {
            "DISPLAY=" + display.name(), "XDG_RUNTIME_DIR=" + runtime.string(), "SDL_AUDIODRIVER=dummy",
            "LD_PRELOAD=" PAGE_DUMP_PRELOAD, "KORVATINE_PAGE_DUMP=" + page.string()};
        environment.insert(environment.end(), more_environment.begin(), more_environment.end());
        ShowProcess show(command, environment);
        auto result = show.wait(60);
        said = result ? result->error_output : "";
        EXPECT_TRUE(result && result->exited && result->status == 0)
            << program << " did not end after its page: " << said;
        return read_file(page);
    }

    VirtualDisplay display;
    fs::path folder;
    std::string said; // the last run's standard error
};

TEST_F(PortableFonts, WithGhostscriptsRegistrationHiddenItsPageIsTheDesignedOneAndThePackedProgramsIsNot) {
    if (geteuid() != 0 || system("unshare -m true 2>/dev/null") != 0 || !fs::exists(SYSTEM_FONTMAP))
        GTEST_SKIP() << "needs root, mount namespaces and " << SYSTEM_FONTMAP;
    // The designed page: rasterised here, with the fonts registered as set up.
    const unsigned char* raster = render_label_page(postscript_ps_min, postscript_ps_min_len);
    ASSERT_NE(raster, nullptr);
    const std::vector<unsigned char> designed(raster, raster + PAGE_BYTES);
    std::free(const_cast<unsigned char*>(raster));

    const std::vector<unsigned char> portable = page_of(built_program("portable/korvatine_small"), true);
    ASSERT_EQ(long(portable.size()), PAGE_BYTES);
    EXPECT_TRUE(portable == designed) << "the portable edition's page is not the designed one";
    EXPECT_EQ(said, "");

    const std::vector<unsigned char> packed = page_of(built_program("korvatine_small"), true);
    ASSERT_EQ(long(packed.size()), PAGE_BYTES);
    EXPECT_FALSE(packed == designed) << "without the registration the packed program's page should change";
}

// Fontconfig that knows only DejaVu: the three FreeFont faces are named in one line, and the show goes on.
TEST_F(PortableFonts, AFontThatIsNotInstalledIsNamedInOneLine) {
    const fs::path config = folder / "fonts.conf";
    std::ofstream(config)
        << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>"
           "<dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>"
        << (folder / "cache").string() << "</cachedir></fontconfig>\n";
    const std::vector<unsigned char> page =
        page_of(built_program("portable/korvatine_small"), false, {"FONTCONFIG_FILE=" + config.string()});
    EXPECT_EQ(long(page.size()), PAGE_BYTES) << "no page was rasterised";
    EXPECT_EQ(said,
              "korvatine: fonts not installed: FreeSans, FreeSans-Bold, FreeSans-Italic; the label sheet is "
              "drawn with substitutes (install GNU FreeFont and DejaVu Sans)\n");
}

} // namespace
