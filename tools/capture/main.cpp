// korvatine_capture: renders what the show shows, without a display.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "offscreen.hpp"

namespace {

const char USAGE[] = "usage:\n"
                     "  korvatine_capture frame --build small|full --time M --out FILE.png\n";

// Options of the form --name value; anything else is a usage error.
struct Options {
    std::map<std::string, std::string> values;
    bool valid = true;

    Options(const std::vector<std::string>& arguments, const std::vector<std::string>& allowed) {
        for (size_t i = 0; i < arguments.size(); i += 2) {
            const std::string& name = arguments[i];
            bool known = false;
            for (const std::string& option : allowed)
                known |= name == "--" + option;
            if (!known || i + 1 >= arguments.size() || values.count(name.substr(2))) {
                valid = false;
                return;
            }
            values[name.substr(2)] = arguments[i + 1];
        }
    }
    bool has(const char* name) const { return values.count(name) != 0; }
    const std::string& get(const char* name) const { return values.at(name); }
};

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "korvatine_capture: %s\n%s", problem.c_str(), USAGE);
    return 2;
}

bool parse_number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

// Opens the offscreen context and builds the show's program for the build.
struct ShowRenderer {
    OffscreenGl gl;
    GLuint program = 0;
    std::string error;

    explicit ShowRenderer(const ShowBuild& build) {
        if (!gl.ok()) {
            error = gl.error();
            return;
        }
        std::string log;
        program = build_fragment_program(build.shader_text, &log);
        if (!program) error = "the shader did not compile:\n" + log;
    }
};

int command_frame(const std::vector<std::string>& arguments) {
    Options options(arguments, {"build", "time", "out"});
    if (!options.valid || !options.has("build") || !options.has("time") || !options.has("out"))
        return usage_error("frame needs --build, --time and --out");
    const ShowBuild* build = find_show_build(options.get("build"));
    if (!build) return usage_error("--build is small or full");
    double m;
    if (!parse_number(options.get("time"), &m)) return usage_error("--time takes a number of seconds");

    ShowRenderer renderer(*build);
    if (!renderer.error.empty()) {
        std::fprintf(stderr, "korvatine_capture: %s\n", renderer.error.c_str());
        return 1;
    }
    std::vector<std::uint8_t> pixels = render_show_frame(renderer.program, *build, static_cast<float>(m));
    std::string error;
    if (!write_png(options.get("out"), pixels.data(), build->width, build->height, 4, &error)) {
        std::fprintf(stderr, "korvatine_capture: cannot write %s: %s\n", options.get("out").c_str(),
                     error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    if (command == "frame") return command_frame(arguments);
    return usage_error("unknown command '" + command + "'");
}
