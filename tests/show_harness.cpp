#include "show_harness.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int stdout_fd,
            int stderr_fd) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        auto equals = text.find('=');
        variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const std::string& text : environment) {
        auto equals = text.find('=');
        std::string name = text.substr(0, equals), value = text.substr(equals + 1);
        if (value.empty())
            variables.erase(name);
        else
            variables[name] = value;
    }
    std::vector<std::string> flat;
    for (auto& [name, value] : variables)
        flat.push_back(name + "=" + value);

    pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<char*> args, envp;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (std::string& entry : flat)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(stdout_fd >= 0 ? stdout_fd : null_fd, 1);
    dup2(stderr_fd >= 0 ? stderr_fd : null_fd, 2);
    setpgid(0, 0);
    execve(args[0], args.data(), envp.data());
    _exit(127);
}

// Runs a short helper command to completion and returns what it printed.
std::string run_output(const std::vector<std::string>& argv, const std::string& display) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return "";
    pid_t pid = spawn(argv, {"DISPLAY=" + display}, pipe_fds[1], -1);
    close(pipe_fds[1]);
    std::string output;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, n);
    close(pipe_fds[0]);
    int status;
    waitpid(pid, &status, 0);
    return output;
}

std::string which(const std::string& program) {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        std::string path = dir + program;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return program;
}

} // namespace

VirtualDisplay::VirtualDisplay(int width, int height) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    server_ = spawn({which("Xvfb"), "-displayfd", std::to_string(pipe_fds[1]), "-screen", "0", screen,
                     "-nolisten", "tcp", "-noreset"},
                    {}, -1, -1);
    close(pipe_fds[1]);
    // Xvfb writes its display number once it accepts connections.
    pollfd ready{pipe_fds[0], POLLIN, 0};
    std::string number;
    if (poll(&ready, 1, 10000) > 0) {
        char buffer[16];
        ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        for (ssize_t i = 0; i < n && buffer[i] >= '0' && buffer[i] <= '9'; ++i)
            number += buffer[i];
    }
    close(pipe_fds[0]);
    if (!number.empty()) name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
    if (server_ > 0) {
        kill(server_, SIGTERM);
        int status;
        waitpid(server_, &status, 0);
    }
}

ShowProcess::ShowProcess(const std::vector<std::string>& command,
                         const std::vector<std::string>& environment) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    launched_ = now_seconds();
    pid_ = spawn(command, environment, -1, pipe_fds[1]);
    close(pipe_fds[1]);
    error_pipe_ = pipe_fds[0];
    fcntl(error_pipe_, F_SETFL, O_NONBLOCK);
}

ShowProcess::~ShowProcess() {
    if (pid_ > 0 && !exit_) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
    }
    if (error_pipe_ >= 0) close(error_pipe_);
}

double ShowProcess::seconds_since_launch() const {
    return now_seconds() - launched_;
}

void ShowProcess::drain_error_output() {
    char buffer[4096];
    ssize_t n;
    while (error_pipe_ >= 0 && (n = read(error_pipe_, buffer, sizeof buffer)) > 0)
        error_output_.append(buffer, n);
}

const std::string& ShowProcess::error_output() {
    drain_error_output();
    return exit_ ? exit_->error_output : error_output_;
}

bool ShowProcess::running() {
    return !wait(0).has_value();
}

std::optional<ShowExit> ShowProcess::wait(double timeout_seconds) {
    if (exit_) return exit_;
    const double deadline = now_seconds() + timeout_seconds;
    for (;;) {
        drain_error_output();
        int status;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            const double ended = now_seconds();
            fcntl(error_pipe_, F_SETFL, 0);
            drain_error_output();
            ShowExit result;
            result.exited = WIFEXITED(status);
            result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
            result.seconds = ended - launched_;
            result.error_output = error_output_;
            exit_ = result;
            return exit_;
        }
        if (now_seconds() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

unsigned long ShowProcess::wait_for_window(const std::string& display, double timeout_seconds) {
    const double deadline = now_seconds() + timeout_seconds;
    while (now_seconds() < deadline && running()) {
        std::string found =
            run_output({which("xdotool"), "search", "--onlyvisible", "--pid", std::to_string(pid_)}, display);
        unsigned long window = std::strtoul(found.c_str(), nullptr, 10);
        if (window) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

bool ShowProcess::send_key(const std::string& display, unsigned long window, const std::string& key) {
    // Focus the window (there is no window manager), then type through XTEST.
    std::string id = std::to_string(window);
    run_output({which("xdotool"), "windowfocus", "--sync", id, "key", key}, display);
    return true;
}

bool ShowProcess::request_close(const std::string& display, unsigned long window) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, window, False, NoEventMask, &event);
    XFlush(connection);
    XCloseDisplay(connection);
    return true;
}

std::string window_title(const std::string& display, unsigned long window) {
    std::string title = run_output({which("xdotool"), "getwindowname", std::to_string(window)}, display);
    while (!title.empty() && title.back() == '\n')
        title.pop_back();
    return title;
}

WindowPixels window_pixels(const std::string& display, unsigned long window) {
    WindowPixels pixels;
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) return pixels;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(connection, window, &attributes)) {
        XImage* image =
            XGetImage(connection, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
        if (image) {
            pixels.width = image->width;
            pixels.height = image->height;
            for (int y = 0; y < image->height; ++y)
                for (int x = 0; x < image->width; ++x) {
                    unsigned long value = XGetPixel(image, x, y);
                    pixels.rgb.push_back(static_cast<unsigned char>((value & image->red_mask) >> 16));
                    pixels.rgb.push_back(static_cast<unsigned char>((value & image->green_mask) >> 8));
                    pixels.rgb.push_back(static_cast<unsigned char>(value & image->blue_mask));
                }
            XDestroyImage(image);
        }
    }
    XCloseDisplay(connection);
    return pixels;
}

std::string built_program(const std::string& name) {
    return std::string(KORVATINE_BUILD_DIR) + "/" + name;
}
