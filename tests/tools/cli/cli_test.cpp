// facelume-cli as a user runs it: pictures and a short video through the service built with the
// recording engine (which inverts every pixel byte and logs every engine call), side-by-side
// output, statistics, and the command lines it must refuse with their exit codes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine_log.h"
#include "test_names.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // Runs facelume-cli with the recording service unless the arguments name a service.
    CliRun cli(std::vector<std::string> arguments, bool withService = true,
               const std::string& input = "/dev/null") {
        if (withService) {
            arguments.push_back("--service");
            arguments.push_back(FACELUME_RECORDING_SERVICE);
        }
        std::string command = shellQuoted(FACELUME_CLI);
        for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
        command += " >" + shellQuoted((m_folder / "out.txt").string()) + " 2>" +
                   shellQuoted((m_folder / "err.txt").string()) + " <" + shellQuoted(input);
        const int status = std::system(command.c_str());
        CliRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = readFile(m_folder / "out.txt");
        run.err = readFile(m_folder / "err.txt");
        return run;
    }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    // Files in the test folder other than the test's own: what a run left behind.
    std::vector<std::string> leftovers(const std::vector<std::string>& own) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            const std::string name = entry.path().filename().string();
            if (std::find(own.begin(), own.end(), name) == own.end()) found.push_back(name);
        }
        return found;
    }

    void writeVideo(const std::string& name, int frames) {
        cv::VideoWriter writer(path(name), cv::CAP_FFMPEG,
                               cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 12.0, cv::Size(64, 48));
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < frames; ++i) writer.write(picture(64, 48, i) / 2);
    }

    static cv::Mat picture(int width, int height, int seed) {
        cv::Mat image(height, width, CV_8UC3);
        cv::randu(image, cv::Scalar::all(seed % 50), cv::Scalar::all(256));
        return image;
    }

    const fs::path m_folder = fs::temp_directory_path() / testnames::letterName("facelumecli");
    EngineLog m_log;
};

// The signature and header chunk of a PNG picture of the given size, without pixels.
std::string hugePngHeader(std::uint32_t width, std::uint32_t height) {
    std::string chunk = "IHDR";
    for (const std::uint32_t value : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>(value >> shift);
    }
    chunk += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : chunk) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    std::string png = "\x89PNG\r\n\x1a\n";
    png += std::string("\x00\x00\x00\x0d", 4) + chunk;
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>(crc >> shift);
    return png;
}

std::ptrdiff_t indexOf(const std::vector<std::string>& lines, const std::string& line) {
    const auto found = std::find(lines.begin(), lines.end(), line);
    return found == lines.end() ? -1 : found - lines.begin();
}

TEST_F(CliTest, PictureGoesThroughTheServiceWithItsEffects) {
    const cv::Mat input = picture(64, 48, 1);
    ASSERT_TRUE(cv::imwrite(path("in.tif"), input));
    // The recording engine has no faces to find: a few passes, not a wait for face effects.
    // --smooth and --filter: see the preset test.
    const CliRun run = cli({path("in.tif"), path("out.webp"), "--white", "40", "--eyes", "-20",
                            "--thin", "30", "--sticker", "glasses", "--lipstick", "#c2185b:60",
                            "--cheeks", "off", "--eyebrow", "brown", "--passes", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat output = cv::imread(path("out.webp"), cv::IMREAD_COLOR);
    ASSERT_EQ(output.size(), input.size());
    EXPECT_EQ(cv::norm(output, cv::Scalar::all(255) - input, cv::NORM_INF), 0);

    // The controls reach the engine before the picture's last pass (they travel on the pipe,
    // the picture through shared memory: the first pass may overtake them).
    const std::vector<std::string> calls = m_log.lines();
    const std::string pass = "process 64 48 " + std::to_string(input.data[0]);
    const std::ptrdiff_t processed =
        calls.rend() - std::find(calls.rbegin(), calls.rend(), pass) - 1;
    ASSERT_GE(processed, 0);
    for (const char* line :
         {"modify_skin_white 0.4", "modify_shape_eye_scale -0.2", "modify_shape_face_thin 0.3",
          "modify_sticker \"glasses\"", "modify_makeup_lipstick \"#c2185b\" 0.6",
          "modify_makeup_cheeks null 0", "modify_makeup_eyebrow \"brown\" 1"}) {
        const std::ptrdiff_t at = indexOf(calls, line);
        EXPECT_GE(at, 0) << line;
        EXPECT_LT(at, processed) << line;
    }
}

TEST_F(CliTest, SideBySidePictureHoldsBeforeAndAfter) {
    const cv::Mat input = picture(40, 30, 2);
    ASSERT_TRUE(cv::imwrite(path("in.bmp"), input));
    const CliRun run =
        cli({path("in.bmp"), path("both.png"), "--side-by-side", "--stats", "--passes", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat both = cv::imread(path("both.png"), cv::IMREAD_COLOR);
    ASSERT_EQ(both.cols, 80);
    ASSERT_EQ(both.rows, 30);
    EXPECT_EQ(cv::norm(both(cv::Rect(0, 0, 40, 30)), input, cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(both(cv::Rect(40, 0, 40, 30)), cv::Scalar::all(255) - input, cv::NORM_INF),
              0);
    EXPECT_NE(run.out.find("frames      3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("dropped     0"), std::string::npos) << run.out;
}

TEST_F(CliTest, VideoKeepsItsFramesAndFrameRate) {
    writeVideo("in.avi", 10);
    const CliRun run = cli({path("in.avi"), path("out.avi"), "--side-by-side", "--stats"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Not a terminal: no progress line.
    EXPECT_EQ(run.err.find("frames"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("frames      10"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("latency     p50"), std::string::npos) << run.out;

    cv::VideoCapture output(path("out.avi"), cv::CAP_FFMPEG);
    ASSERT_TRUE(output.isOpened());
    EXPECT_NEAR(output.get(cv::CAP_PROP_FPS), 12.0, 0.01);
    int frames = 0;
    for (cv::Mat frame; output.read(frame) && !frame.empty(); ++frames) {
        ASSERT_EQ(frame.cols, 128);
        // Lossy compression blurs the bytes: compare averages of before and after.
        const cv::Scalar before = cv::mean(frame(cv::Rect(0, 0, 64, 48)));
        const cv::Scalar after = cv::mean(frame(cv::Rect(64, 0, 64, 48)));
        EXPECT_NEAR(before[0] + after[0], 255.0, 12.0);
    }
    EXPECT_EQ(frames, 10);
}

TEST_F(CliTest, BadCommandLinesAreRefusedWithReasonsAndExitCodes) {
    ASSERT_TRUE(cv::imwrite(path("in.png"), picture(8, 8, 3)));

    CliRun run = cli({path("in.png"), path("out.png"), "--sparkle", "5"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown option --sparkle"), std::string::npos) << run.err;
    // A short pointer to --help, not the whole help.
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("exit codes"), std::string::npos) << run.err;

    run = cli({path("in.png"), path("out.png"), "--smooth", "150"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--smooth 150 is out of range (0 to 100)"), std::string::npos)
        << run.err;

    run = cli({path("in.png"), path("out.png"), "--lipstick", "red:lots"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("whole number"), std::string::npos) << run.err;

    run = cli({path("in.png")});
    EXPECT_EQ(run.exitCode, 2);

    std::ofstream(path("broken.png")) << "not a picture";
    run = cli({path("broken.png"), path("out.png")});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("cannot read"), std::string::npos) << run.err;

    // A picture too large to take is refused from its header, before it is decoded.
    std::ofstream(path("huge.png"), std::ios::binary) << hugePngHeader(20000, 20000);
    run = cli({path("huge.png"), path("out.png")});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("larger than 33177600 pixels"), std::string::npos) << run.err;

    run = cli({path("missing.mp4"), path("out.mp4")});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;

    run = cli({path("in.png"), path("no/such/folder/out.png")});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;

    run = cli({path("in.png"), path("out.txt")});
    EXPECT_EQ(run.exitCode, 4);

    run = cli({path("in.png"), path("out.png"), "--service", path("nowhere/facelume")}, false);
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.err.find("nowhere/facelume"), std::string::npos) << run.err;

    EXPECT_EQ(leftovers({"in.png", "broken.png", "huge.png", "out.txt", "err.txt"}),
              std::vector<std::string>{});
}

// The effects' names come from the service's resource folder; a name the engine would ignore is
// refused before any picture goes through, and --help lists what there is.
TEST_F(CliTest, NamesAndFilesThatWouldGiveAWrongResultAreRefused) {
    ASSERT_TRUE(cv::imwrite(path("in.png"), picture(8, 8, 4)));
    const std::pair<std::vector<std::string>, const char*> refusals[] = {
        {{"--filter", "sparkle"}, "unknown filter \"sparkle\"; available in "},
        {{"--sticker", "hat"}, ": glasses"},
        {{"--eyebrow", "purple"}, "#rrggbb or in "},
        {{"--lipstick", "#12345:50"}, "not of the form #rrggbb"},
    };
    for (const auto& [options, message] : refusals) {
        std::vector<std::string> arguments = {path("in.png"), path("out.png")};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const CliRun run = cli(arguments);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(path("out.png")));

    // The same file, by its name or through a second link, would be destroyed by the output.
    fs::create_hard_link(path("in.png"), path("link.png"));
    const std::string before = readFile(path("in.png"));
    for (const char* output : {"in.png", "link.png"}) {
        const CliRun run = cli({path("in.png"), path(output), "--passes", "1"});
        EXPECT_EQ(run.exitCode, 2) << output;
        EXPECT_NE(run.err.find("the same file"), std::string::npos) << run.err;
    }
    EXPECT_EQ(readFile(path("in.png")), before);

    const CliRun help = cli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("filters: cool, warm\n"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("stickers: glasses\n"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("colours: #rrggbb or brown, caf"), std::string::npos) << help.out;
    const CliRun version = cli({"--version"});
    EXPECT_EQ(version.out, "facelume-cli " FACELUME_VERSION "\n");
}

TEST_F(CliTest, PresetGivesOptionsThatTheCommandLineOverrides) {
    ASSERT_TRUE(cv::imwrite(path("in.png"), picture(8, 8, 5)));
    std::ofstream(path("mine.yml")) << "%YAML:1.0\n---\nsmooth: 70\nfilter: \"warm:80\"\n";
    CliRun run = cli({path("in.png"), path("out.png"), "--preset", path("mine.yml"), "--smooth",
                      "20"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> calls = m_log.lines();
    EXPECT_GE(indexOf(calls, "modify_skin_smooth 0.2"), 0);
    EXPECT_LT(indexOf(calls, "modify_skin_smooth 0.7"), 0);
    EXPECT_GE(indexOf(calls, "modify_filter \"warm\" 0.8"), 0);

    // A plain name is one of the presets shipped in beauty_res/presets.
    run = cli({path("in.png"), path("out.png"), "--preset", "natural"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    calls = m_log.lines();
    EXPECT_GE(indexOf(calls, "modify_filter \"warm\" 0.35"), 0);

    std::ofstream(path("bad.yml")) << "%YAML:1.0\n---\nsparkle: 5\n";
    run = cli({path("in.png"), path("out.png"), "--preset", path("bad.yml")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown option \"sparkle\""), std::string::npos) << run.err;
}

// ffmpeg ... -f rawvideo - | facelume-cli - - --size WxH | ffmpeg ...
TEST_F(CliTest, RawFramesGoThroughStandardInputAndOutput) {
    std::string frames;
    for (int i = 0; i < 3; ++i) {
        const cv::Mat frame = picture(16, 8, i);
        frames.append(reinterpret_cast<const char*>(frame.data), frame.total() * 3);
    }
    std::ofstream(path("in.raw"), std::ios::binary) << frames;
    CliRun run = cli({"-", "-", "--size", "16x8", "--stats"}, true, path("in.raw"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.out.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(run.out[i]),
                  255 - static_cast<unsigned char>(frames[i]))
            << i;
    }
    // Statistics go to standard error when standard output carries frames.
    EXPECT_NE(run.err.find("frames      3"), std::string::npos) << run.err;

    std::ofstream(path("cut.raw"), std::ios::binary) << frames.substr(0, 16 * 8 * 3 + 100);
    run = cli({"-", "-", "--size", "16x8"}, true, path("cut.raw"));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("ended inside a frame (100 of 384 bytes)"), std::string::npos)
        << run.err;

    // Sizes are refused before anything is read, and 30000x26000 does not overflow.
    for (const char* size : {"20000x20000", "30000x26000"}) {
        run = cli({"-", "-", "--size", size}, true, path("in.raw"));
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.err.find(std::string("a ") + size +
                               " frame is larger than facelume-cli "
                               "takes (at most 33177600 pixels"),
                  std::string::npos)
            << run.err;
    }
}

// Streams of a media file: codec names, video first.
std::vector<std::string> streamsOf(const std::string& file) {
    std::vector<std::string> codecs;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return codecs;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            codecs.push_back(avcodec_get_name(context->streams[i]->codecpar->codec_id));
        }
    }
    avformat_close_input(&context);
    std::sort(codecs.begin(), codecs.end(),
              [](const std::string& a, const std::string&) { return a == "h264" || a == "mjpeg"; });
    return codecs;
}

TEST_F(CliTest, VideoKeepsItsSoundOrIsRefusedBeforeAnyWork) {
    const std::string make =
        "gst-launch-1.0 -q videotestsrc num-buffers=30 ! video/x-raw,width=64,height=48,"
        "framerate=15/1 ! jpegenc ! avimux name=m ! filesink location=" +
        path("in.avi") +
        " audiotestsrc num-buffers=20 ! audio/x-raw,rate=16000,channels=1 ! audioconvert ! m.";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_EQ(streamsOf(path("in.avi")), (std::vector<std::string>{"mjpeg", "pcm_s16le"}));

    CliRun run = cli({path("in.avi"), path("out.mkv")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(streamsOf(path("out.mkv")), (std::vector<std::string>{"h264", "pcm_s16le"}));

    // MP4 cannot hold PCM sound: refused before the service starts, nothing written.
    fs::remove(m_log.path());
    run = cli({path("in.avi"), path("out.mp4")});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("its pcm_s16le sound does not fit in a .mp4 file; write a .mkv"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(m_log.lines(), std::vector<std::string>{});
    EXPECT_EQ(leftovers({"in.avi", "out.mkv", "out.txt", "err.txt"}), std::vector<std::string>{});
}

// The path of --to-device: where no v4l2loopback device can exist, a plain file takes the same
// I420 frames that the device would.
TEST_F(CliTest, DeviceOutputTakesI420FramesOfTheResult) {
    writeVideo("in.avi", 4);
    // Like a device node, the file must be there: a mistyped device is never created.
    EXPECT_EQ(cli({path("in.avi"), "--to-device", path("device.yuv")}).exitCode, 4);
    std::ofstream(path("device.yuv")).close();
    const CliRun run = cli({path("in.avi"), "--to-device", path("device.yuv")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string written = readFile(path("device.yuv"));
    ASSERT_EQ(written.size(), 4u * 64 * 48 * 3 / 2);
    cv::VideoCapture input(path("in.avi"), cv::CAP_FFMPEG);
    cv::Mat frame;
    cv::Mat expected;
    for (int i = 0; i < 4 && input.read(frame); ++i) {
        cv::cvtColor(cv::Scalar::all(255) - frame, expected, cv::COLOR_BGR2YUV_I420);
        const std::string want(reinterpret_cast<const char*>(expected.data), expected.total());
        EXPECT_EQ(written.substr(i * want.size(), want.size()), want) << "frame " << i;
    }
}

// With the real service: face effects on a still picture need the face found and faded in, and
// the result must show them every time; without a face the run says so.
TEST_F(CliTest, StillPictureComesOutWithItsFaceEffects) {
    const std::string portrait = FACELUME_TEST_PICTURES "/astronaut.png";
    const CliRun run = cli(
        {portrait, path("out.png"), "--lipstick", "#c2185b", "--service", FACELUME_SERVICE}, false);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const cv::Mat input = cv::imread(portrait, cv::IMREAD_COLOR);
    const cv::Mat output = cv::imread(path("out.png"), cv::IMREAD_COLOR);
    ASSERT_EQ(output.size(), input.size());
    cv::Mat difference;
    cv::absdiff(input, output, difference);
    std::vector<cv::Mat> channels;
    cv::split(difference, channels);
    const int changed =
        cv::countNonZero(cv::max(cv::max(channels[0], channels[1]), channels[2]) > 24);
    // The lips: some hundreds of pixels, far below 5% of the picture.
    EXPECT_GT(changed, 300);
    EXPECT_LT(changed, static_cast<int>(input.total() / 20));

    const CliRun noFace = cli({FACELUME_TEST_PICTURES "/coffee.png", path("cup.png"), "--lipstick",
                               "red", "--service", FACELUME_SERVICE},
                              false);
    EXPECT_EQ(noFace.exitCode, 0) << noFace.err;
    EXPECT_NE(noFace.err.find("no face found in"), std::string::npos) << noFace.err;
}

// Ctrl-C while a video is written: no partial output, exit 130.
TEST_F(CliTest, InterruptedRunLeavesNoOutputAndExits130) {
    int frames[2];
    ASSERT_EQ(::pipe(frames), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(frames[0], STDIN_FILENO);
        ::close(frames[1]);
        ::execl(FACELUME_CLI, FACELUME_CLI, "-", path("out.avi").c_str(), "--size", "16x8",
                "--service", FACELUME_RECORDING_SERVICE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(frames[0]);
    const cv::Mat frame = picture(16, 8, 6);
    ASSERT_EQ(::write(frames[1], frame.data, frame.total() * 3),
              static_cast<ssize_t>(frame.total() * 3));
    // The run has begun once its temporary output exists; it then waits for the next frame.
    int status = 0;
    while (leftovers({}).empty()) {
        ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "ended before writing anything";
        ::usleep(10000);
    }
    ::kill(child, SIGINT);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(frames[1]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(leftovers({}), std::vector<std::string>{});
}

}  // namespace
