#include "shader_probe.hpp"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

OffscreenGl& shared_offscreen_gl() {
    static OffscreenGl gl;
    return gl;
}

std::string read_text_file(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

namespace {

bool is_word_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Index just past the comment starting at i, or i if none starts there.
size_t skip_comment(const std::string& text, size_t i) {
    if (text.compare(i, 2, "//") == 0) {
        size_t end = text.find('\n', i);
        return end == std::string::npos ? text.size() : end;
    }
    if (text.compare(i, 2, "/*") == 0) {
        size_t end = text.find("*/", i + 2);
        return end == std::string::npos ? text.size() : end + 2;
    }
    return i;
}

// Index of the brace that closes the one at `open`, skipping comments.
size_t matching_brace(const std::string& text, size_t open) {
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i) {
        size_t after = skip_comment(text, i);
        if (after != i) {
            i = after - 1;
            continue;
        }
        if (text[i] == '{') ++depth;
        if (text[i] == '}' && --depth == 0) return i;
    }
    return std::string::npos;
}

std::string float_literal(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string literal = text;
    if (literal.find_first_of(".eEn") == std::string::npos) literal += ".0";
    return literal;
}

} // namespace

bool replace_function(std::string* source, const std::string& name, const std::string& definition) {
    const std::string& text = *source;
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        size_t after = skip_comment(text, i);
        if (after != i) {
            i = after - 1;
            continue;
        }
        if (text[i] == '{') ++depth;
        if (text[i] == '}') --depth;
        if (depth != 0 || text.compare(i, name.size(), name) != 0) continue;
        if ((i > 0 && is_word_char(text[i - 1])) || is_word_char(text[i + name.size()])) continue;
        size_t paren = text.find_first_not_of(" \t\n", i + name.size());
        if (paren == std::string::npos || text[paren] != '(') continue;
        // The return type is the word before the name.
        size_t type_end = text.find_last_not_of(" \t\n", i - 1);
        if (type_end == std::string::npos || !is_word_char(text[type_end])) continue;
        size_t start = type_end;
        while (start > 0 && is_word_char(text[start - 1]))
            --start;
        size_t close_paren = text.find(')', paren);
        size_t open = text.find_first_not_of(" \t\n", close_paren + 1);
        if (open == std::string::npos || text[open] != '{') continue; // a declaration only
        size_t close = matching_brace(text, open);
        if (close == std::string::npos) return false;
        source->replace(start, close + 1 - start, definition);
        return true;
    }
    return false;
}

std::vector<ProbeValue> ShaderProbe::evaluate(const std::string& body, const std::vector<ProbeValue>& inputs,
                                              float m) {
    std::string table = "const vec4 probe_inputs[" + std::to_string(inputs.size()) + "] = vec4[](";
    for (size_t i = 0; i < inputs.size(); ++i) {
        table += i ? ", vec4(" : "vec4(";
        for (int c = 0; c < 4; ++c)
            table += (c ? ", " : "") + float_literal(inputs[i][c]);
        table += ")";
    }
    table += ");\n";
    return run(table + "void main() {\n    reveal = 0.0;\n    vec4 a = probe_inputs[int(gl_FragCoord.x)];\n" +
                   body + "\n}\n",
               static_cast<int>(inputs.size()), 1, m);
}

std::vector<ProbeValue> ShaderProbe::evaluate_grid(const std::string& body, int width, int height, float m) {
    return run("void main() {\n    reveal = 0.0;\n    ivec2 cell = ivec2(gl_FragCoord.xy);\n" + body +
                   "\n}\n",
               width, height, m);
}

std::vector<ProbeValue> ShaderProbe::run(const std::string& main_definition, int width, int height, float m) {
    std::string text = source_;
    if (!replace_function(&text, "main", main_definition)) {
        error_ = "the shader has no main to replace";
        return {};
    }
    std::string log;
    GLuint program = build_fragment_program(text.c_str(), &log);
    if (!program) {
        error_ = log + "\n--- probe text ---\n" + text;
        return {};
    }
    error_.clear();
    std::vector<float> pixels;
    {
        Framebuffer framebuffer(width, height, GL_RGBA32F);
        framebuffer.draw(program, m);
        pixels = framebuffer.read_rgba32f();
    }
    glDeleteProgram(program);
    // The framebuffer reads back top row first; cells count upward.
    std::vector<ProbeValue> values(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                values[static_cast<size_t>(y) * width + x][c] =
                    pixels[(static_cast<size_t>(height - 1 - y) * width + x) * 4 + c];
    return values;
}

GLuint bind_label_stand_in(int width, int height, const std::vector<float>& red) {
    std::vector<float> rgba(static_cast<size_t>(width) * height * 4, 1.0f);
    for (size_t i = 0; i < red.size() && i * 4 < rgba.size(); ++i)
        rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = red[i];
    GLuint texture;
    glGenTextures(1, &texture);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    return texture;
}
