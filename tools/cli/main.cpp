// facelume-cli: runs pictures, videos or a camera through the facelume service.
//   facelume-cli INPUT OUTPUT [--smooth 70 --white 40 --filter warm:80 ...]
// Starts the facelume beside itself (or joins a running one with --recv/--send) and writes the
// processed picture or video. See --help for the options and the exit codes.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "cli_options.h"
#include "facelume_client.h"
#include "progress_bar.h"
#include "run_statistics.h"

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

std::atomic<bool> g_interrupted{false};

void onInterrupt(int) { g_interrupted = true; }

int fail(int code, const std::string& message) {
    std::fprintf(stderr, "facelume-cli: %s\n", message.c_str());
    return code;
}

std::string lowerExtension(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool isImage(const std::string& path) {
    const std::string extension = lowerExtension(path);
    return extension == ".jpg" || extension == ".jpeg" || extension == ".png" ||
           extension == ".bmp";
}

bool isCameraIndex(const std::string& input) {
    return !input.empty() && input.size() < 4 &&
           input.find_first_not_of("0123456789") == std::string::npos;
}

// A folder that exists and that we may write into.
std::string outputProblem(const std::string& output) {
    const fs::path folder = fs::absolute(output).parent_path();
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return "the folder " + folder.string() + " does not exist";
    if (fs::is_directory(output, error)) return output + " is a folder";
    const fs::path probe = folder / (".facelume-cli-probe-" + std::to_string(::getpid()));
    std::FILE* file = std::fopen(probe.c_str(), "w");
    if (file == nullptr) return "cannot write into " + folder.string();
    std::fclose(file);
    fs::remove(probe, error);
    return {};
}

std::string serviceBesideUs(const char* argv0) {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) self = fs::absolute(argv0);
    return (self.parent_path() / "facelume").string();
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
    if (options.joins()) {
        facelume::ChannelOptions channel;
        channel.receiveName = options.receiveName;
        channel.sendName = options.sendName;
        channel.size = options.size;
        result = client.connect(channel);
    } else {
        facelume::ServiceOptions service;
        service.executable = options.service.empty() ? serviceBesideUs(argv0) : options.service;
        service.channel.receiveName = "cli" + std::to_string(::getpid()) + "in";
        service.channel.sendName = "cli" + std::to_string(::getpid()) + "out";
        service.channel.size = std::max(921700, 12 + width * height * 3);
        result = client.start(service);
    }
    if (!result) return fail(kServiceFailed, "the service did not start: " + result.message());
    if (!client.fits(width, height)) {
        return fail(kBadCommandLine, "a " + std::to_string(width) + "x" + std::to_string(height) +
                                         " frame needs a channel size of at least " +
                                         std::to_string(12 + width * height * 3) + " bytes");
    }
    result = applyControls(client, options);
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

int runImage(const CliOptions& options, const char* argv0) {
    const cv::Mat input = cv::imread(options.input, cv::IMREAD_COLOR);
    if (input.empty()) return fail(kUnreadableInput, "cannot read the picture " + options.input);
    if (!isImage(options.output) || !cv::haveImageWriter(options.output)) {
        return fail(kUnwritableOutput,
                    "cannot write a picture to " + options.output + " (use .jpg, .png or .bmp)");
    }
    const std::string problem = outputProblem(options.output);
    if (!problem.empty()) return fail(kUnwritableOutput, problem);

    facelume::Client client;
    const int opened = openService(client, options, argv0, input.cols, input.rows);
    if (opened != kDone) return opened;
    RunStatistics statistics;
    facelume::Frame frame;
    cv::Mat output;
    std::string error;
    cv::Mat attempt;
    for (int pass = 0; pass < options.passes; ++pass) {
        const int dropped = statistics.dropped();
        if (!processFrame(client, input, attempt, frame, statistics, options.timeoutMs, error)) {
            return fail(kProcessingFailed, error);
        }
        // The latest result that came back is the one written.
        if (statistics.dropped() == dropped) cv::swap(attempt, output);
    }
    if (statistics.dropped() == statistics.frames()) {
        return fail(kProcessingFailed, "the service sent no result within " +
                                           std::to_string(options.timeoutMs) + " ms");
    }
    if (!cv::imwrite(options.output, composed(input, output, options.sideBySide))) {
        return fail(kUnwritableOutput, "cannot write " + options.output);
    }
    if (options.stats) std::fputs(statistics.report().c_str(), stdout);
    return kDone;
}

int fourccFor(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".avi") return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    return cv::VideoWriter::fourcc('m', 'p', '4', 'v');
}

int runVideo(const CliOptions& options, const char* argv0) {
    cv::VideoCapture capture;
    const bool camera = isCameraIndex(options.input);
    if (camera) {
        capture.open(std::stoi(options.input));
    } else {
        capture.open(options.input, cv::CAP_FFMPEG);
    }
    cv::Mat input;
    if (!capture.isOpened() || !capture.read(input) || input.empty()) {
        return fail(kUnreadableInput,
                    (camera ? "cannot open the camera " : "cannot read ") + options.input);
    }
    if (isImage(options.output)) {
        return fail(kUnwritableOutput, "a video goes to a video file, not to " + options.output);
    }
    const std::string problem = outputProblem(options.output);
    if (!problem.empty()) return fail(kUnwritableOutput, problem);
    double fps = capture.get(cv::CAP_PROP_FPS);
    if (!(fps > 0 && fps < 1000)) fps = camera ? 30.0 : 25.0;
    int total = camera ? 0 : static_cast<int>(capture.get(cv::CAP_PROP_FRAME_COUNT));
    if (options.maxFrames > 0)
        total = total > 0 ? std::min(total, options.maxFrames) : options.maxFrames;

    const cv::Size size(input.cols * (options.sideBySide ? 2 : 1), input.rows);
    cv::VideoWriter writer(options.output, cv::CAP_FFMPEG, fourccFor(options.output), fps, size);
    if (!writer.isOpened()) {
        return fail(kUnwritableOutput,
                    "cannot write a video to " + options.output + " (use .mp4, .avi or .mkv)");
    }
    facelume::Client client;
    const int opened = openService(client, options, argv0, input.cols, input.rows);
    if (opened != kDone) return opened;

    ::signal(SIGINT, onInterrupt);
    RunStatistics statistics;
    ProgressBar progress(total);
    facelume::Frame frame;
    cv::Mat output;
    std::string error;
    do {
        if (input.cols * (options.sideBySide ? 2 : 1) != size.width || input.rows != size.height) {
            progress.finish();
            return fail(kUnreadableInput, "the frame size changes within " + options.input);
        }
        if (!processFrame(client, input, output, frame, statistics, options.timeoutMs, error)) {
            progress.finish();
            return fail(kProcessingFailed, error);
        }
        writer.write(composed(input, output, options.sideBySide));
        progress.update(statistics.frames());
        if (options.maxFrames > 0 && statistics.frames() >= options.maxFrames) break;
    } while (!g_interrupted && capture.read(input) && !input.empty());
    progress.finish();
    writer.release();
    if (options.stats) std::fputs(statistics.report().c_str(), stdout);
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    const std::string error = options.parse(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(CliOptions::usage().c_str(), stdout);
        return kDone;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "facelume-cli: %s\n%s", error.c_str(), CliOptions::usage().c_str());
        return kBadCommandLine;
    }
    try {
        if (!isCameraIndex(options.input) && !fs::exists(options.input)) {
            return fail(kUnreadableInput, options.input + " does not exist");
        }
        return isImage(options.input) ? runImage(options, argv[0]) : runVideo(options, argv[0]);
    } catch (const std::exception& exception) {
        return fail(kProcessingFailed, exception.what());
    }
}
