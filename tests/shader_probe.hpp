// Evaluates pieces of the show's readable shader on the GL path: the shader's
// own text with `main` (and any other top-level function) replaced by a probe
// definition, drawn into a float framebuffer, one result per pixel.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "offscreen.hpp"

using ProbeValue = std::array<float, 4>;

// One offscreen context for the whole test program, made current on first use.
OffscreenGl& shared_offscreen_gl();

// The text of a file, or an empty string if it cannot be read.
std::string read_text_file(const std::string& path);

// Replaces the definition of the top-level function `name` (from its return type
// to its closing brace) with `definition`. Returns false if there is no such
// definition.
bool replace_function(std::string* source, const std::string& name, const std::string& definition);

class ShaderProbe {
  public:
    // source: a complete shader text with a `main`.
    explicit ShaderProbe(std::string source) : source_(std::move(source)) {}

    // Puts `definition` in place of the top-level function `name`; false if the
    // shader has no such function.
    bool replace(const std::string& name, const std::string& definition) {
        return replace_function(&source_, name, definition);
    }

    // Runs `body` once per input as the whole of `main`, with the input in
    // `vec4 a`; the body writes its result to `f`. `reveal` starts at 0 and m
    // holds the given time. Returns one value per input, or an empty vector with
    // error() set if the probe does not compile.
    std::vector<ProbeValue> evaluate(const std::string& body, const std::vector<ProbeValue>& inputs,
                                     float m = 0);

    // Runs `body` once per cell of a width x height grid; the cell is
    // `ivec2 cell` (x to the right, y upward). Results are indexed y * width + x.
    std::vector<ProbeValue> evaluate_grid(const std::string& body, int width, int height, float m = 0);

    const std::string& error() const { return error_; }

  private:
    std::vector<ProbeValue> run(const std::string& main_definition, int width, int height, float m);

    std::string source_;
    std::string error_;
};

// Binds a texture of the given red values (row 0 first, so it is t = 0) on
// unit 0 in place of the label sheet: nearest filtering, repeat wrapping.
// Returns the texture name; delete it with glDeleteTextures.
GLuint bind_label_stand_in(int width, int height, const std::vector<float>& red);
