// The packed programs: they fit the size class the build packs for, their decoder gives back what
// the compressor was given, and when they cannot unpack or run what they
// unpacked they end with status 1, quickly, without a crash and without
// leaving anything behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "show_harness.hpp"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(PackedProgram, BothFitTheSizeClass) {
    for (const char* name : {"korvatine_small", "korvatine_full"}) {
        const auto size = fs::file_size(built_program(name));
        EXPECT_LE(size, PACKED_SIZE_CLASS) << name << " is " << size << " bytes";
    }
}

// A copy of the small program, packed unless a test reads another, changed, in a folder of its own that
// must stay as it is; removed afterwards.
class DoctoredProgram : public testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("korvatine_packed_" + std::to_string(getpid()));
        fs::create_directories(folder / "cwd");
        bytes = read_file(built_program("korvatine_small"));
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string write_program() const {
        const fs::path program = folder / "korvatine_doctored";
        std::ofstream(program, std::ios::binary) << bytes;
        fs::permissions(program, fs::perms::owner_all);
        return program;
    }

    // Runs the command in the empty folder and expects the end with status 1.
    void expect_clean_failure(const std::vector<std::string>& command, const std::string& said = "") const {
        const fs::path previous = fs::current_path();
        fs::current_path(folder / "cwd");
        ShowProcess run(command, {"SDL_AUDIODRIVER=dummy", "DISPLAY=", "WAYLAND_DISPLAY="});
        auto result = run.wait(10);
        fs::current_path(previous);
        ASSERT_TRUE(result) << "still running after 10 s";
        EXPECT_TRUE(result->exited) << "ended by signal " << result->status;
        EXPECT_EQ(result->status, 1) << result->error_output;
        EXPECT_NE(result->error_output.find(said), std::string::npos) << result->error_output;
        EXPECT_LT(result->seconds, 5);
        EXPECT_TRUE(fs::is_empty(folder / "cwd")) << "it left a file behind";
    }

    // The command that runs the program in a process namespace of its own
    // with vm.memfd_noexec at the setting given; empty where that cannot be.
    std::vector<std::string> where_memfd_noexec_is(int setting) const {
        if (geteuid() != 0 || system("unshare -p -f true 2>/dev/null") != 0 ||
            !fs::exists("/proc/sys/vm/memfd_noexec"))
            return {};
        return {"/usr/bin/unshare",
                "-p",
                "-f",
                "--mount-proc",
                "sh",
                "-c",
                "echo " + std::to_string(setting) + " >/proc/sys/vm/memfd_noexec && exec " + write_program()};
    }

    fs::path folder;
    std::string bytes;
};

// The stub checks what it decoded before it runs it.
TEST_F(DoctoredProgram, WithChangedBytesEndsWithStatusOne) {
    for (size_t at = bytes.size() / 2; at < bytes.size() / 2 + 16; ++at)
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
    expect_clean_failure({write_program()});
}

TEST_F(DoctoredProgram, CutShortEndsWithStatusOne) {
    bytes.resize(bytes.size() * 3 / 4);
    expect_clean_failure({write_program()});
}

// At 1 an in-memory file runs only if it asked to be executable when it was
// made: the show itself starts, and without a display says so.
TEST_F(DoctoredProgram, WhereInMemoryFilesAreNotExecutableByDefaultTheShowRuns) {
    const auto command = where_memfd_noexec_is(1);
    if (command.empty()) GTEST_SKIP() << "needs root, process namespaces and the vm.memfd_noexec setting";
    expect_clean_failure(command, "korvatine: no display");
}

// At 2 no in-memory file may be executed.
TEST_F(DoctoredProgram, WhereInMemoryFilesMayNotRunEndsWithStatusOne) {
    const auto command = where_memfd_noexec_is(2);
    if (command.empty()) GTEST_SKIP() << "needs root, process namespaces and the vm.memfd_noexec setting";
    expect_clean_failure(command);
}

// The unpacked program, asking for a function no library has, says so.
TEST_F(DoctoredProgram, AskingForAFunctionNoLibraryHasEndsWithStatusOne) {
    bytes = read_file(built_program("korvatine_small.elf"));
    std::uint32_t hash = 5381;
    for (char c : std::string("SDL_Init"))
        hash = hash * 33 + static_cast<unsigned char>(c);
    const std::string stored(reinterpret_cast<const char*>(&hash), sizeof hash);
    const size_t at = bytes.find(stored);
    ASSERT_NE(at, std::string::npos) << "no import hash of SDL_Init";
    bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
    expect_clean_failure({write_program()}, "korvatine: a library is too old\n");
}

// The compressor and both decoders (the reference one in C++ and the stub's
// own, run) on an image of one byte, on bytes no model predicts, and on the
// show itself: the packer fails unless each gives the image back.
TEST(PackedDecoder, GivesBackWhatWasCompressed) {
    const fs::path folder = fs::temp_directory_path() / ("korvatine_images_" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::string noise(3000, 0);
    std::uint32_t state = 1;
    for (char& byte : noise) {
        state = state * 1664525 + 1013904223;
        byte = static_cast<char>(state >> 24);
    }
    std::ofstream(folder / "one", std::ios::binary) << 'K';
    std::ofstream(folder / "noise", std::ios::binary) << noise;
    for (const fs::path& image :
         {folder / "one", folder / "noise", fs::path(built_program("korvatine_small.elf"))}) {
        const std::string command = std::string(KORVATINE_PACK) + " --compressor " + KORVATINE_COMPRESSOR +
                                    " --check-image " + image.string() + " >/dev/null";
        EXPECT_EQ(system(command.c_str()), 0) << image;
    }
    fs::remove_all(folder);
}

} // namespace
