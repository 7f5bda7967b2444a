// Offscreen rendering for the capture tool and the picture tests: an EGL
// context with no display, and the show's shader drawn the way the show draws
// it, into a framebuffer of the build's window size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

// The builds of the show (builds.txt), as the capture tool names them.
struct ShowBuild {
    const char* name;
    int width;
    int height;
    const char* shader_text;
};
const ShowBuild* find_show_build(const std::string& name);
// Their names as usage texts give them: "small|full".
std::string show_build_names();

// The show's shader for any size and rays a pixel: the readable text with the
// constants of that size written in as the builds' are. The picture is the
// design's at that size, finer or coarser.
std::string shader_text_at_size(int width, int height, int rays);

class OffscreenGl {
  public:
    // Creates a desktop-GL compatibility context and makes it current. On
    // failure, ok() is false and error() says why.
    OffscreenGl();
    ~OffscreenGl();
    OffscreenGl(const OffscreenGl&) = delete;
    OffscreenGl& operator=(const OffscreenGl&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string renderer() const;

  private:
    void* display_ = nullptr;
    void* context_ = nullptr;
    void* surface_ = nullptr;
    std::string error_;
};

// Compiles and links a fragment shader alone, as the show does. Returns 0 and
// fills log on failure.
GLuint build_fragment_program(const char* text, std::string* log);

// A framebuffer of the given size and format (GL_RGBA8 or GL_RGBA32F), bound
// for drawing while it lives.
class Framebuffer {
  public:
    Framebuffer(int width, int height, GLenum format);
    ~Framebuffer();
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;

    // Draws the show's rectangle with the program in use and the uniform m set.
    void draw(GLuint program, float m);
    std::vector<std::uint8_t> read_rgba8() const; // top row first
    std::vector<float> read_rgba32f() const;      // top row first
    int width() const { return width_; }
    int height() const { return height_; }
    GLuint id() const { return framebuffer_; }

  private:
    int width_, height_;
    GLuint framebuffer_ = 0, renderbuffer_ = 0;
};

// The frame the show draws at time m, RGBA, top row first.
std::vector<std::uint8_t> render_show_frame(GLuint program, const ShowBuild& build, float m);

// The moments of a comma-separated list such as "5,20,50"; false if one is not a number.
bool parse_times(const std::string& list, std::vector<float>* times);

// The label texture made from a page the capture tool wrote (korvatine_capture
// page: 8-bit grey, top row first), left bound on unit 0 exactly as the show
// leaves the rasterised sheet: every byte b becomes b / 255 in red, green and
// blue. For programs that carry the page instead of rasterising it.
bool bind_label_page_file(const std::string& path, std::string* error);

bool write_png(const std::string& path, const std::uint8_t* pixels, int width, int height, int channels,
               std::string* error);
bool read_png(const std::string& path, std::vector<std::uint8_t>* pixels, int* width, int* height,
              int* channels, std::string* error);
