#include "video.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "song.hpp"

namespace {

volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int) {
    interrupted = 1;
}

std::string find_on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

bool write_all(int fd, const void* data, size_t length) {
    auto bytes = static_cast<const char*>(data);
    while (length) {
        ssize_t written = write(fd, bytes, length);
        if (written < 0 && errno == EINTR && !interrupted) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= written;
    }
    return true;
}

std::string clock_text(double seconds) {
    long whole = std::lround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// Frames done out of total, frames per second and time left, on standard error:
// redrawn in place on a terminal, a line every ten per cent otherwise.
class Progress {
  public:
    explicit Progress(long total) : total_(total), started_(now()), terminal_(isatty(2)) {}

    void update(long done) {
        const double elapsed = now() - started_;
        const double fps = done / std::max(elapsed, 1e-9);
        const double left = (total_ - done) / std::max(fps, 1e-9);
        const int tenth = static_cast<int>(10 * done / total_);
        if (!terminal_ && tenth == last_tenth_ && done != total_) return;
        last_tenth_ = tenth;
        const int width = 30, filled = static_cast<int>(width * done / total_);
        std::fprintf(stderr, "%s[%s%s] %ld/%ld frames  %.2f fps  %s left%s", terminal_ ? "\r" : "",
                     std::string(filled, '#').c_str(), std::string(width - filled, ' ').c_str(), done, total_,
                     fps, clock_text(left).c_str(), terminal_ ? "" : "\n");
        if (terminal_ && done == total_) std::fputc('\n', stderr);
    }

  private:
    static double now() {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    long total_;
    double started_;
    bool terminal_;
    int last_tenth_ = -1;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "korvatine_capture: %s\n", message.c_str());
    return 1;
}

} // namespace

FrameRange frames_in(const VideoRequest& request) {
    const long first = static_cast<long>(std::ceil(request.from * request.fps - 1e-9));
    const long end = static_cast<long>(std::ceil(request.to * request.fps - 1e-9));
    return {first, std::max(end - first, 0L)};
}

std::vector<std::int16_t> song_as_played(const std::int16_t* samples, long count) {
    std::vector<std::int16_t> played(count - 1);
    for (long k = 0; k + 1 < count; ++k)
        played[k] = played_value(samples, k);
    return played;
}

// The video is written under this name and renamed when complete, so an
// output file is never a half-written video.
static std::string partial_name(const std::string& out) {
    return out + ".partial";
}

std::string video_output_problem(const std::string& out) {
    if (find_on_path("ffmpeg").empty())
        return "ffmpeg was not found on PATH (on Debian: apt-get install ffmpeg)";
    const std::string partial = partial_name(out);
    int probe = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (probe < 0) return "cannot write " + out + ": " + std::strerror(errno);
    close(probe);
    unlink(partial.c_str());
    return "";
}

int write_video(const VideoRequest& request, const std::vector<std::int16_t>& played_song,
                const FrameRenderer& render) {
    if (std::string problem = video_output_problem(request.out); !problem.empty()) return fail(problem);
    const FrameRange frames = frames_in(request);
    if (frames.count == 0) return fail("the range holds no frame");
    const std::string ffmpeg = find_on_path("ffmpeg"), partial = partial_name(request.out);

    // The audio that goes with the frames: from the first frame's time, as long as the frames last.
    const long audio_start = std::lround(frames.first * double(PLAYBACK_RATE) / request.fps);
    const long audio_count = std::lround(frames.count * double(PLAYBACK_RATE) / request.fps);
    std::vector<std::int16_t> audio(audio_count, 0);
    for (long i = 0; i < audio_count && audio_start + i < long(played_song.size()); ++i)
        audio[i] = played_song[audio_start + i];

    int video_pipe[2], audio_pipe[2];
    if (pipe2(video_pipe, O_CLOEXEC) != 0 || pipe2(audio_pipe, O_CLOEXEC) != 0) {
        unlink(partial.c_str());
        return fail(std::string("cannot make pipes: ") + std::strerror(errno));
    }
    const std::string size = std::to_string(request.width) + "x" + std::to_string(request.height);
    const std::string rate = std::to_string(request.fps);
    std::vector<std::string> args = {ffmpeg,
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-y",
                                     "-f",
                                     "rawvideo",
                                     "-pix_fmt",
                                     "rgba",
                                     "-s",
                                     size,
                                     "-framerate",
                                     rate,
                                     "-i",
                                     "pipe:0",
                                     "-f",
                                     "s16le",
                                     "-ar",
                                     std::to_string(PLAYBACK_RATE),
                                     "-ac",
                                     "1",
                                     "-i",
                                     "pipe:3",
                                     "-c:v",
                                     "libx264",
                                     "-preset",
                                     "medium",
                                     "-pix_fmt",
                                     "yuv420p",
                                     "-c:a",
                                     "aac",
                                     "-b:a",
                                     "192k",
                                     "-movflags",
                                     "+faststart",
                                     "-f",
                                     "mp4",
                                     partial};
    // The video's rate: constant quality, or a constant bit rate that x264
    // pads with filler data so that no stretch of the video falls below it.
    const std::string kbits = std::to_string(request.video_kbits) + "k";
    std::vector<std::string> rate_options = {"-crf", "16"};
    if (request.video_kbits)
        rate_options = {"-b:v", kbits,      "-minrate", kbits,          "-maxrate",
                        kbits,  "-bufsize", kbits,      "-x264-params", "nal-hrd=cbr"};
    args.insert(std::find(args.begin(), args.end(), "-preset"), rate_options.begin(), rate_options.end());
    pid_t encoder = fork();
    if (encoder == 0) {
        dup2(video_pipe[0], 0);
        dup2(audio_pipe[0], 3);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(video_pipe[0]);
    close(audio_pipe[0]);

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    // ffmpeg reads both inputs as it goes, so the audio is fed alongside the frames.
    bool audio_ok = true;
    std::thread audio_writer([&] {
        audio_ok = write_all(audio_pipe[1], audio.data(), audio.size() * sizeof audio[0]);
        close(audio_pipe[1]);
    });

    Progress progress(frames.count);
    bool frames_ok = true;
    for (long k = 0; k < frames.count && frames_ok && !interrupted; ++k) {
        const float m = static_cast<float>((frames.first + k) / double(request.fps) - TITLE_CARD_SECONDS);
        std::vector<std::uint8_t> pixels = render(m);
        frames_ok = write_all(video_pipe[1], pixels.data(), pixels.size());
        progress.update(k + 1);
    }
    close(video_pipe[1]);
    if (interrupted || !frames_ok) kill(encoder, SIGTERM);
    audio_writer.join();
    int status = 0;
    waitpid(encoder, &status, 0);

    const bool encoded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (interrupted || !frames_ok || !audio_ok || !encoded) {
        unlink(partial.c_str());
        if (interrupted) return fail("interrupted; no video written");
        return fail("ffmpeg failed to encode " + request.out + "; no video written");
    }
    if (rename(partial.c_str(), request.out.c_str()) != 0) {
        unlink(partial.c_str());
        return fail("cannot write " + request.out + ": " + std::strerror(errno));
    }
    return 0;
}
