// facelume-cli: runs pictures, videos, raw frame streams or a camera through the facelume service.
//   facelume-cli INPUT OUTPUT [--smooth 70 --white 40 --filter warm:80 ...]
// Starts the facelume beside itself (or joins a running one with --recv/--send) and writes the
// processed picture or video. See --help for the options and the exit codes.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <random>
#include <string>
#include <vector>

#include "audio_muxer.h"
#include "cli_options.h"
#include "facelume_client.h"
#include "output_file.h"
#include "progress_bar.h"
#include "run_statistics.h"
#include "video_device.h"

namespace fs = std::filesystem;

namespace {

enum ExitCode {
    kDone = 0,
    kProcessingFailed = 1,
    kBadCommandLine = 2,
    kUnreadableInput = 3,
    kUnwritableOutput = 4,
    kServiceFailed = 5,
};

// The largest frame facelume-cli takes: 8K UHD. Larger ones are refused before anything starts.
constexpr long long kMaxPixels = 7680LL * 4320LL;
constexpr int kMinChannelSize = 921700;
constexpr long long kMessageOverhead = 12;
// The engine loads its face model at start-up: seconds, and far more on a busy machine.
constexpr int kStartTimeoutMs = 60000;

// The signal that asked the run to stop (Ctrl-C, a process manager's SIGTERM, a closed
// terminal's SIGHUP), 0 while none did. The run then cleans up and exits with 128 + its number,
// as the shell reports a process that the signal ended.
std::atomic<int> g_stopSignal{0};
// The user's terminal. Standard error itself goes to /dev/null, so that the warnings OpenCV,
// libpng and FFmpeg print there never reach the user.
std::FILE* g_user = stderr;

void onStopSignal(int signal) { g_stopSignal = signal; }
bool stopRequested() { return g_stopSignal != 0; }
int stoppedCode() { return 128 + g_stopSignal; }

int fail(int code, const std::string& message) {
    std::fprintf(g_user, "facelume-cli: %s\n", message.c_str());
    return code;
}

void quietLibraries() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    const int user = ::dup(STDERR_FILENO);
    std::FILE* file = user >= 0 ? ::fdopen(user, "w") : nullptr;
    std::FILE* null = std::fopen("/dev/null", "w");
    if (file == nullptr || null == nullptr) return;
    ::dup2(::fileno(null), STDERR_FILENO);
    std::fclose(null);
    g_user = file;
}

std::string lowerExtension(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool isImage(const std::string& path) {
    static const char* const kExtensions[] = {".jpg", ".jpeg", ".png", ".bmp",
                                              ".tif", ".tiff", ".webp"};
    return std::find(std::begin(kExtensions), std::end(kExtensions), lowerExtension(path)) !=
           std::end(kExtensions);
}

bool isCameraIndex(const std::string& input) {
    return !input.empty() && input.size() < 4 &&
           input.find_first_not_of("0123456789") == std::string::npos;
}

std::string serviceBesideUs(const char* argv0) {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) self = fs::absolute(argv0);
    return (self.parent_path() / "facelume").string();
}

std::string servicePath(const CliOptions& options, const char* argv0) {
    return options.service.empty() ? serviceBesideUs(argv0) : options.service;
}

// Refuses a frame too large for facelume-cli, in 64 bits so that no size can overflow.
std::string sizeProblem(long long width, long long height) {
    if (width * height <= kMaxPixels) return {};
    return "a " + std::to_string(width) + "x" + std::to_string(height) +
           " frame is larger than facelume-cli takes (at most " + std::to_string(kMaxPixels) +
           " pixels, 7680x4320)";
}

// Writing the output over the input would destroy the input before it is read.
bool sameFile(const std::string& input, const std::string& output) {
    struct stat in {};
    struct stat out {};
    if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

facelume::Result applyControls(facelume::Client& client, const CliOptions& options) {
    auto value = [](int percent) { return static_cast<float>(percent) / 100.0f; };
    facelume::Result result;
    if (result && options.white) result = client.setSkinWhite(value(*options.white));
    if (result && options.smooth) result = client.setSkinSmooth(value(*options.smooth));
    if (result && options.eyes) result = client.setEyeScale(value(*options.eyes));
    if (result && options.thin) result = client.setFaceThin(value(*options.thin));
    if (result && options.filter) {
        result = client.setFilter(options.filter->name, value(options.filter->strength));
    }
    if (result && options.sticker) result = client.setSticker(options.sticker->name);
    if (result && options.lipstick) {
        result = client.setLipstick(options.lipstick->name, value(options.lipstick->strength));
    }
    if (result && options.cheeks) {
        result = client.setCheeks(options.cheeks->name, value(options.cheeks->strength));
    }
    if (result && options.eyebrow) {
        result = client.setEyebrow(options.eyebrow->name, value(options.eyebrow->strength));
    }
    return result;
}

// Starts or joins the service with room for width x height frames, and sets the controls.
int openService(facelume::Client& client, const CliOptions& options, const char* argv0, int width,
                int height) {
    facelume::Result result;
    const long long needed = kMessageOverhead + 3LL * width * height;
    if (options.joins()) {
        facelume::ChannelOptions channel;
        channel.receiveName = options.receiveName;
        channel.sendName = options.sendName;
        channel.size = options.channelSize;
        result = client.connect(channel);
    } else {
        facelume::ServiceOptions service;
        service.executable = servicePath(options, argv0);
        // Names no other user can guess and plant objects under in advance.
        std::random_device random;
        const std::string unique = std::to_string(random()) + "x" + std::to_string(random());
        service.channel.receiveName = "cli" + unique + "in";
        service.channel.sendName = "cli" + unique + "out";
        service.channel.size = static_cast<int>(std::max<long long>(kMinChannelSize, needed));
        service.startTimeoutMs = kStartTimeoutMs;
        result = client.start(service);
    }
    if (!result) return fail(kServiceFailed, "the service did not start: " + result.message());
    if (!client.fits(width, height)) {
        return fail(kBadCommandLine, "a " + std::to_string(width) + "x" + std::to_string(height) +
                                         " frame needs a channel size of at least " +
                                         std::to_string(needed) + " bytes");
    }
    result = applyControls(client, options);
    if (result.status() == facelume::Status::InvalidArgument) {
        return fail(kBadCommandLine, result.message());
    }
    if (!result) return fail(kProcessingFailed, result.message());
    return kDone;
}

// Runs one frame through the service; a frame that does not come back is passed on as it was.
bool processFrame(facelume::Client& client, const cv::Mat& input, cv::Mat& output,
                  facelume::Frame& frame, RunStatistics& statistics, int timeoutMs,
                  std::string& error) {
    const auto begin = std::chrono::steady_clock::now();
    facelume::Result result =
        client.process(input.cols, input.rows, input.data, input.step[0], frame, timeoutMs);
    if (result.status() == facelume::Status::Timeout) {
        statistics.addDropped();
        input.copyTo(output);
        return true;
    }
    if (!result) {
        error = result.message();
        return false;
    }
    statistics.addFrame(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
            .count());
    cv::Mat(frame.height, frame.width, CV_8UC3, frame.pixels.data()).copyTo(output);
    return true;
}

cv::Mat composed(const cv::Mat& input, const cv::Mat& output, bool sideBySide) {
    if (!sideBySide) return output;
    cv::Mat both;
    cv::hconcat(input, output, both);
    return both;
}

// A still picture goes through the service as a still video until its face effects are there:
// the engine finds faces on a worker thread and fades the effects in over a few frames. The
// result has then changed from the first one and stays the same.
class StillPicture {
public:
    static constexpr int kSettledPasses = 8;
    // The engine's first look over a new picture scans it square by square for about a second
    // (longer on a busy machine): the faces of a group come in by turns, with pauses between.
    static constexpr auto kSettledTime = std::chrono::seconds(2);
    static constexpr int kMaxPasses = 600;
    // Without any change this long (and kMinPasses passes), there is no face to find.
    static constexpr int kMinPasses = 20;
    static constexpr auto kFaceWait = std::chrono::seconds(5);

    // Without face effects the result is there once it repeats: the first one may have been
    // made before the controls, which travel on the pipe, reached the service.
    explicit StillPicture(bool faceEffects) : m_faceEffects(faceEffects) {}

    // True: send the picture again; false: the latest result is the one to write.
    bool next(const cv::Mat& result) {
        ++m_passes;
        if (m_first.empty()) {
            result.copyTo(m_first);
            result.copyTo(m_last);
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        const bool same = cv::norm(result, m_last, cv::NORM_INF) == 0;
        m_settled = same ? m_settled + 1 : 0;
        if (!same) {
            result.copyTo(m_last);
            m_changed = true;
            m_lastChange = now;
        }
        if (!m_faceEffects) return !same && m_passes < kMaxPasses;
        if (m_changed) {
            const bool settled = m_settled >= kSettledPasses && now - m_lastChange >= kSettledTime;
            return !settled && m_passes < kMaxPasses;
        }
        return m_passes < kMinPasses || now - m_begin < kFaceWait;
    }
    bool effectsArrived() const { return m_changed; }

private:
    const bool m_faceEffects;
    cv::Mat m_first;
    cv::Mat m_last;
    int m_passes = 0;
    int m_settled = 0;
    bool m_changed = false;
    std::chrono::steady_clock::time_point m_begin = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastChange;
};

int runImage(const CliOptions& options, const char* argv0) {
    const cv::Mat input = cv::imread(options.input, cv::IMREAD_COLOR);
    if (input.empty()) {
        return fail(kUnreadableInput, "cannot read the picture " + options.input +
                                          " (not a picture, damaged, or larger than " +
                                          std::to_string(kMaxPixels) + " pixels)");
    }
    const std::string tooLarge = sizeProblem(input.cols, input.rows);
    if (!tooLarge.empty()) return fail(kUnreadableInput, tooLarge);
    if (!isImage(options.output) || !cv::haveImageWriter(options.output)) {
        return fail(kUnwritableOutput, "cannot write a picture to " + options.output +
                                           " (use .jpg, .png, .bmp, .tif or .webp)");
    }
    OutputFile file;
    const std::string problem = file.create(options.output);
    if (!problem.empty()) return fail(kUnwritableOutput, problem);

    facelume::Client client;
    const int opened = openService(client, options, argv0, input.cols, input.rows);
    if (opened != kDone) return opened;
    RunStatistics statistics;
    facelume::Frame frame;
    cv::Mat output;
    std::string error;
    cv::Mat attempt;
    const bool untilSettled = options.passes == 0;
    StillPicture still(options.hasFaceEffects());
    for (int pass = 0; untilSettled || pass < options.passes; ++pass) {
        if (stopRequested()) return fail(stoppedCode(), "interrupted");
        const int dropped = statistics.dropped();
        if (!processFrame(client, input, attempt, frame, statistics, options.timeoutMs, error)) {
            return fail(kProcessingFailed, error);
        }
        // The latest result that came back is the one written.
        if (statistics.dropped() != dropped) continue;
        cv::swap(attempt, output);
        if (untilSettled && !still.next(output)) break;
    }
    if (output.empty()) {
        return fail(kProcessingFailed, "the service sent no result within " +
                                           std::to_string(options.timeoutMs) + " ms");
    }
    if (untilSettled && options.hasFaceEffects() && !still.effectsArrived()) {
        std::fprintf(g_user,
                     "facelume-cli: no face found in %s: the face effects were not applied\n",
                     options.input.c_str());
    }
    if (!cv::imwrite(file.path(), composed(input, output, options.sideBySide))) {
        return fail(kUnwritableOutput, "cannot write " + options.output);
    }
    const std::string committed = file.commit();
    if (!committed.empty()) return fail(kUnwritableOutput, committed);
    if (options.stats) std::fputs(statistics.report().c_str(), stdout);
    return kDone;
}

// Where frames come from: a video file, a camera, or raw BGR frames on standard input.
class FrameSource {
public:
    std::string open(const CliOptions& options) {
        if (options.input == "-") {
            const std::string tooLarge = sizeProblem(options.rawWidth, options.rawHeight);
            if (!tooLarge.empty()) return tooLarge;
            m_raw = cv::Mat(options.rawHeight, options.rawWidth, CV_8UC3);
            return {};
        }
        m_camera = isCameraIndex(options.input);
        if (m_camera) {
            m_capture.open(std::stoi(options.input));
        } else {
            m_capture.open(options.input, cv::CAP_FFMPEG);
        }
        if (m_capture.isOpened()) return {};
        return (m_camera ? "cannot open the camera " : "cannot read ") + options.input;
    }
    // False at the end; error says why when it is not a clean end.
    bool read(cv::Mat& frame, std::string& error) {
        if (m_raw.empty()) return m_capture.read(frame) && !frame.empty();
        const std::size_t bytes = m_raw.total() * 3;
        const std::size_t got = std::fread(m_raw.data, 1, bytes, stdin);
        if (got != bytes && got != 0) {
            error = "standard input ended inside a frame (" + std::to_string(got) + " of " +
                    std::to_string(bytes) + " bytes): is --size right?";
        }
        if (got != bytes) return false;
        m_raw.copyTo(frame);
        return true;
    }
    bool camera() const { return m_camera; }
    double fps() const {
        const double fps = m_raw.empty() ? m_capture.get(cv::CAP_PROP_FPS) : 0.0;
        return fps > 0 && fps < 1000 ? fps : (m_camera ? 30.0 : 25.0);
    }
    int frameCount() const {
        if (m_camera || !m_raw.empty()) return 0;
        return static_cast<int>(m_capture.get(cv::CAP_PROP_FRAME_COUNT));
    }

private:
    cv::VideoCapture m_capture;
    cv::Mat m_raw;
    bool m_camera = false;
};

// Where processed frames go: a video file (written under a temporary name, with the input's
// sound added when done), raw BGR frames on standard output, or a video device.
class FrameSink {
public:
    std::string open(const CliOptions& options, cv::Size size, double fps) {
        if (options.output == "-") {
            m_raw = true;
            return {};
        }
        if (options.toDevice) return m_device.open(options.output, size.width, size.height);
        if (isImage(options.output))
            return "a video goes to a video file, not to " + options.output;
        std::string problem =
            hasSound(options) ? AudioMuxer::check(options.input, options.output) : std::string();
        if (problem.empty()) problem = m_file.create(options.output);
        if (!problem.empty()) return problem;
        for (const int fourcc : fourccsFor(options.output)) {
            if (m_writer.open(m_file.path(), cv::CAP_FFMPEG, fourcc, fps, size)) return {};
        }
        return "cannot write a video to " + options.output + " (use .mp4, .mkv or .avi)";
    }
    std::string write(const cv::Mat& frame) {
        if (m_raw) {
            const std::size_t bytes = frame.total() * 3;
            if (std::fwrite(frame.data, 1, bytes, stdout) != bytes) {
                return "cannot write to standard output";
            }
            return {};
        }
        if (m_writer.isOpened()) {
            m_writer.write(frame);
            return {};
        }
        return m_device.write(frame);
    }
    // Finishes the file: the input's sound goes in, then the file takes the output's name.
    std::string finish(const CliOptions& options) {
        if (m_raw)
            return std::fflush(stdout) == 0 ? std::string() : "cannot write to standard output";
        if (!m_writer.isOpened()) return {};
        m_writer.release();
        if (hasSound(options)) {
            const std::string muxed = AudioMuxer::addAudio(options.input, m_file.path());
            if (!muxed.empty()) return muxed;
        }
        return m_file.commit();
    }

private:
    static bool hasSound(const CliOptions& options) {
        return options.input != "-" && !isCameraIndex(options.input);
    }
    static std::vector<int> fourccsFor(const std::string& path) {
        if (lowerExtension(path) == ".avi") return {cv::VideoWriter::fourcc('M', 'J', 'P', 'G')};
        // H.264 where the FFmpeg build has an encoder for it, MPEG-4 part 2 otherwise.
        return {cv::VideoWriter::fourcc('a', 'v', 'c', '1'),
                cv::VideoWriter::fourcc('m', 'p', '4', 'v')};
    }

    bool m_raw = false;
    OutputFile m_file;
    cv::VideoWriter m_writer;
    VideoDevice m_device;
};

int runVideo(const CliOptions& options, const char* argv0) {
    FrameSource source;
    std::string error = source.open(options);
    cv::Mat input;
    if (error.empty() && !source.read(input, error) && error.empty()) {
        error = "no frame in " + options.input;
    }
    if (!error.empty()) return fail(kUnreadableInput, error);
    const std::string tooLarge = sizeProblem(input.cols, input.rows);
    if (!tooLarge.empty()) return fail(kUnreadableInput, tooLarge);
    int total = source.frameCount();
    if (options.maxFrames > 0)
        total = total > 0 ? std::min(total, options.maxFrames) : options.maxFrames;

    const cv::Size size(input.cols * (options.sideBySide ? 2 : 1), input.rows);
    FrameSink sink;
    error = sink.open(options, size, source.fps());
    if (!error.empty()) return fail(kUnwritableOutput, error);
    facelume::Client client;
    const int opened = openService(client, options, argv0, input.cols, input.rows);
    if (opened != kDone) return opened;

    RunStatistics statistics;
    ProgressBar progress(total, g_user);
    facelume::Frame frame;
    cv::Mat output;
    do {
        if (input.cols * (options.sideBySide ? 2 : 1) != size.width || input.rows != size.height) {
            progress.finish();
            return fail(kUnreadableInput, "the frame size changes within " + options.input);
        }
        if (!processFrame(client, input, output, frame, statistics, options.timeoutMs, error)) {
            progress.finish();
            return fail(kProcessingFailed, error);
        }
        error = sink.write(composed(input, output, options.sideBySide));
        if (!error.empty()) return fail(kUnwritableOutput, error);
        progress.update(statistics.frames());
        if (options.maxFrames > 0 && statistics.frames() >= options.maxFrames) break;
    } while (!stopRequested() && source.read(input, error));
    progress.finish();
    if (stopRequested() && !source.camera()) return fail(stoppedCode(), "interrupted");
    if (!error.empty()) return fail(kUnreadableInput, error);
    error = sink.finish(options);
    if (!error.empty()) return fail(kUnwritableOutput, error);
    if (options.stats) {
        std::fputs(statistics.report().c_str(), options.output == "-" ? g_user : stdout);
    }
    return kDone;
}

int checkFiles(const CliOptions& options) {
    if (options.input == "-" || isCameraIndex(options.input)) return kDone;
    if (!fs::exists(options.input))
        return fail(kUnreadableInput, options.input + " does not exist");
    if (options.output != "-" && sameFile(options.input, options.output)) {
        return fail(kBadCommandLine,
                    options.input + " and " + options.output +
                        " are the same file: writing the result would destroy the input");
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    // OpenCV refuses larger pictures after reading their header, before decoding them.
    ::setenv("OPENCV_IO_MAX_IMAGE_PIXELS", std::to_string(kMaxPixels).c_str(), 1);
    quietLibraries();
    CliOptions options;
    options.presetFolder = facelume::resourceFolderOf(serviceBesideUs(argv[0])) + "/presets";
    const std::string error = options.parse(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(
            CliOptions::usage(facelume::resourceFolderOf(servicePath(options, argv[0]))).c_str(),
            stdout);
        return kDone;
    }
    if (options.version) {
        std::printf("facelume-cli %s\n", FACELUME_VERSION);
        return kDone;
    }
    if (!error.empty()) {
        std::fprintf(g_user, "facelume-cli: %s\n%s", error.c_str(),
                     CliOptions::shortUsage().c_str());
        return kBadCommandLine;
    }
    // Without SA_RESTART: a read of standard input that waits for frames ends at the signal.
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &stop, nullptr);
    try {
        const int checked = checkFiles(options);
        if (checked != kDone) return checked;
        const bool picture = options.input != "-" && isImage(options.input);
        const int code = picture ? runImage(options, argv[0]) : runVideo(options, argv[0]);
        return stopRequested() && code != kDone ? stoppedCode() : code;
    } catch (const std::exception& exception) {
        return fail(kProcessingFailed, exception.what());
    }
}
