#include "offscreen.hpp"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "shader_sized.h"
#include "show_builds.h"

namespace {

// The builds as builds.txt lists them.
const ShowBuild SHOW_BUILDS[] = {SHOW_BUILD_ROWS};

EGLDisplay platform_display(EGLenum platform, void* native) {
    auto get_platform_display =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!get_platform_display) return EGL_NO_DISPLAY;
    return get_platform_display(platform, native, nullptr);
}

// The first display that initialises: Mesa's surfaceless platform, then the
// first GPU device (drivers without the surfaceless platform), then the default.
EGLDisplay open_display() {
    EGLint major, minor;
    EGLDisplay display = platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    auto query_devices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (query_devices && query_devices(8, devices, &count)) {
        for (EGLint i = 0; i < count; ++i) {
            display = platform_display(EGL_PLATFORM_DEVICE_EXT, devices[i]);
            if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
        }
    }
    display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    return EGL_NO_DISPLAY;
}

} // namespace

const ShowBuild* find_show_build(const std::string& name) {
    for (const ShowBuild& build : SHOW_BUILDS)
        if (name == build.name) return &build;
    return nullptr;
}

std::string shader_text_at_size(int width, int height, int rays) {
    const std::pair<const char*, int> fields[] = {
        {"{half_width}", width / 2}, {"{half_height}", height / 2}, {"{width}", width}, {"{rays}", rays}};
    std::string constants = shader_constants_form;
    for (const auto& [field, value] : fields)
        for (size_t at; (at = constants.find(field)) != std::string::npos;)
            constants.replace(at, std::string(field).size(), std::to_string(value));
    return std::string(shader_template_head) + "\n" + constants + shader_template_body;
}

std::string show_build_names() {
    std::string names;
    for (const ShowBuild& build : SHOW_BUILDS)
        names += (names.empty() ? "" : "|") + std::string(build.name);
    return names;
}

OffscreenGl::OffscreenGl() {
    EGLDisplay display = open_display();
    if (display == EGL_NO_DISPLAY) {
        error_ = "no EGL display could be initialised";
        return;
    }
    display_ = display;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error_ = "EGL has no desktop OpenGL";
        return;
    }
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE,
                                        EGL_PBUFFER_BIT,
                                        EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT,
                                        EGL_RED_SIZE,
                                        8,
                                        EGL_GREEN_SIZE,
                                        8,
                                        EGL_BLUE_SIZE,
                                        8,
                                        EGL_ALPHA_SIZE,
                                        8,
                                        EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display, config_attributes, &config, 1, &count) || count == 0) {
        error_ = "no EGL configuration for desktop OpenGL with a pbuffer";
        return;
    }
    const EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                         4,
                                         EGL_CONTEXT_MINOR_VERSION,
                                         2,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                         EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                         EGL_NONE};
    context_ = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
    if (context_ == EGL_NO_CONTEXT) {
        context_ = nullptr;
        error_ = "no OpenGL 4.2 compatibility-profile context";
        return;
    }
    const EGLint surface_attributes[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display, config, surface_attributes);
    if (surface_ == EGL_NO_SURFACE) surface_ = nullptr;
    if (!eglMakeCurrent(display, surface_, surface_, context_))
        error_ = "the OpenGL context could not be made current";
}

OffscreenGl::~OffscreenGl() {
    if (!display_) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (surface_) eglDestroySurface(display_, surface_);
    if (context_) eglDestroyContext(display_, context_);
    eglTerminate(display_);
}

std::string OffscreenGl::renderer() const {
    auto text = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return text ? text : "unknown";
}

GLuint build_fragment_program(const char* text, std::string* log) {
    GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (!status) {
        GLint length = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        std::string message(length, '\0');
        glGetShaderInfoLog(shader, length, nullptr, message.data());
        if (log) *log = message;
        glDeleteShader(shader);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, shader);
    glLinkProgram(program);
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (!status) {
        GLint length = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::string message(length, '\0');
        glGetProgramInfoLog(program, length, nullptr, message.data());
        if (log) *log = message;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

Framebuffer::Framebuffer(int width, int height, GLenum format) : width_(width), height_(height) {
    glGenRenderbuffers(1, &renderbuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, format, width, height);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer_);
    glViewport(0, 0, width, height);
}

Framebuffer::~Framebuffer() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteRenderbuffers(1, &renderbuffer_);
}

void Framebuffer::draw(GLuint program, float m) {
    glUseProgram(program);
    glUniform1f(glGetUniformLocation(program, "m"), m);
    glRecti(-1, -1, 1, 1);
    glFinish();
}

std::vector<std::uint8_t> Framebuffer::read_rgba8() const {
    std::vector<std::uint8_t> pixels(static_cast<size_t>(width_) * height_ * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    std::vector<std::uint8_t> top_first(pixels.size());
    const size_t row = static_cast<size_t>(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::copy_n(&pixels[(height_ - 1 - y) * row], row, &top_first[y * row]);
    return top_first;
}

std::vector<float> Framebuffer::read_rgba32f() const {
    std::vector<float> pixels(static_cast<size_t>(width_) * height_ * 4);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_FLOAT, pixels.data());
    std::vector<float> top_first(pixels.size());
    const size_t row = static_cast<size_t>(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::copy_n(&pixels[(height_ - 1 - y) * row], row, &top_first[y * row]);
    return top_first;
}

std::vector<std::uint8_t> render_show_frame(GLuint program, const ShowBuild& build, float m) {
    Framebuffer framebuffer(build.width, build.height, GL_RGBA8);
    framebuffer.draw(program, m);
    return framebuffer.read_rgba8();
}

bool parse_times(const std::string& list, std::vector<float>* times) {
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        const std::string time = list.substr(start, end - start);
        char* parsed = nullptr;
        times->push_back(std::strtof(time.c_str(), &parsed));
        if (time.empty() || *parsed) return false;
        start = end + 1;
    }
    return true;
}

bool bind_label_page_file(const std::string& path, std::string* error) {
    std::vector<std::uint8_t> page;
    int width = 0, height = 0, channels = 0;
    if (!read_png(path, &page, &width, &height, &channels, error)) return false;
    if (channels != 1 || width != height) {
        if (error) *error = "the page is not a square grey picture";
        return false;
    }
    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Luminance fills red, green and blue with the one byte, as the sheet's grey raster has them.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, page.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return true;
}

bool write_png(const std::string& path, const std::uint8_t* pixels, int width, int height, int channels,
               std::string* error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = channels == 4 ? PNG_FORMAT_RGBA : channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr)) {
        if (error) *error = image.message;
        return false;
    }
    return true;
}

bool read_png(const std::string& path, std::vector<std::uint8_t>* pixels, int* width, int* height,
              int* channels, std::string* error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        if (error) *error = image.message;
        return false;
    }
    const bool grey = !(image.format & PNG_FORMAT_FLAG_COLOR);
    image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGBA;
    pixels->resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr)) {
        if (error) *error = image.message;
        return false;
    }
    *width = image.width;
    *height = image.height;
    *channels = grey ? 1 : 4;
    return true;
}
