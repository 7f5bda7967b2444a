// Runs the real show in a window under Xvfb: starts a private X server, launches
// the program with a chosen environment, finds its window, sends it keys or a
// close request, and waits for it to end with a time limit.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class VirtualDisplay {
  public:
    explicit VirtualDisplay(int width = 1920, int height = 1080);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; } // such as ":3"

  private:
    pid_t server_ = -1;
    std::string name_;
};

struct ShowExit {
    bool exited = false; // false: ended by a signal
    int status = -1;     // exit status, or the signal number
    double seconds = 0;  // from launch to the end
    std::string error_output;
};

class ShowProcess {
  public:
    // Launches program with the current environment plus the NAME=VALUE
    // entries given (an entry "NAME=" removes NAME). Standard error is captured.
    ShowProcess(const std::string& program, const std::vector<std::string>& environment)
        : ShowProcess(std::vector<std::string>{program}, environment) {}
    // The same for a command line: the program and its arguments.
    ShowProcess(const std::vector<std::string>& command, const std::vector<std::string>& environment);
    ~ShowProcess(); // kills the process if it still runs
    ShowProcess(const ShowProcess&) = delete;
    ShowProcess& operator=(const ShowProcess&) = delete;

    // The id of the process's mapped window, once it has one; 0 on timeout or exit.
    unsigned long wait_for_window(const std::string& display, double timeout_seconds);
    bool send_key(const std::string& display, unsigned long window, const std::string& key);
    // Asks the window to close, as a window manager's close button does.
    bool request_close(const std::string& display, unsigned long window);
    // The process's end, or nothing if it still runs after the timeout.
    std::optional<ShowExit> wait(double timeout_seconds);
    bool running();
    // What the process has written on standard error so far.
    const std::string& error_output();
    pid_t pid() const { return pid_; }
    double seconds_since_launch() const;

  private:
    void drain_error_output();

    pid_t pid_ = -1;
    int error_pipe_ = -1;
    double launched_ = 0;
    std::string error_output_;
    std::optional<ShowExit> exit_;
};

// A window's title, and its pixels as the X server holds them: RGB, top row first.
std::string window_title(const std::string& display, unsigned long window);
struct WindowPixels {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};
WindowPixels window_pixels(const std::string& display, unsigned long window);

// Paths of the built programs, from the build.
std::string built_program(const std::string& name);
