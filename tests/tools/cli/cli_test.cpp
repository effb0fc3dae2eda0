// facelume-cli as a user runs it: pictures, videos and raw frames through the service built with
// the recording engine (which inverts every pixel byte and logs every engine call), and the
// command lines it must refuse with their exit codes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine_log.h"
#include "scratch_folder.h"

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

cv::Mat picture(int width, int height, int seed) {
    cv::Mat image(height, width, CV_8UC3);
    cv::randu(image, cv::Scalar::all(seed % 50), cv::Scalar::all(256));
    return image;
}

// Codec names of a media file's streams, as its header gives them.
std::vector<std::string> streamsOf(const std::string& file) {
    std::vector<std::string> codecs;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return codecs;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        codecs.push_back(avcodec_get_name(context->streams[i]->codecpar->codec_id));
    avformat_close_input(&context);
    return codecs;
}

// Each test runs in a folder of its own, where it and facelume-cli name files without a path.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override { fs::current_path(m_folder.path()); }
    void TearDown() override { fs::current_path(fs::temp_directory_path()); }

    // Runs facelume-cli with the arguments (separated by blanks: the test's paths have neither
    // blanks nor quotes), with the recording service unless they name a service.
    CliRun cli(std::string arguments, const std::string& input = "/dev/null") {
        if (arguments.find("--service") == std::string::npos) {
            arguments += " --service " FACELUME_RECORDING_SERVICE;
        }
        std::string command = FACELUME_CLI;
        std::istringstream words(arguments);
        for (std::string word; words >> word;) command += " '" + word + "'";
        const int status = std::system((command + " >cli.out 2>cli.err <" + input).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, m_folder.read("cli.out"),
                m_folder.read("cli.err")};
    }

    // Files in the test folder other than the test's own: what a run left behind.
    std::vector<std::string> leftovers(const std::vector<std::string>& own) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(m_folder.path())) {
            const std::string name = entry.path().filename().string();
            if (std::find(own.begin(), own.end(), name) == own.end()) found.push_back(name);
        }
        return found;
    }

    const ScratchFolder m_folder;
    EngineLog m_log;
};

// Each effect option with a value of its own reaches its control before the picture's last pass
// (controls travel on the pipe, the picture through shared memory: the first pass may overtake
// them); the preset named gives what the command line does not. The recording engine has no
// faces to find: a few passes, not a wait for face effects.
TEST_F(CliTest, PictureGoesThroughWithEveryEffectSideBySide) {
    const cv::Mat input = picture(40, 30, 1);
    ASSERT_TRUE(cv::imwrite("in.tif", input));
    const CliRun run =
        cli("in.tif both.webp --side-by-side --stats --passes 3 --preset natural --white 11 "
            "--smooth 12 --eyes -13 --thin 14 --sticker glasses --lipstick #c2185b:16 --cheeks off "
            "--eyebrow brown");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat both = cv::imread("both.webp", cv::IMREAD_COLOR);
    ASSERT_EQ(both.size(), cv::Size(80, 30));
    EXPECT_EQ(cv::norm(both(cv::Rect(0, 0, 40, 30)), input, cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(both(cv::Rect(40, 0, 40, 30)), cv::Scalar::all(255) - input, cv::NORM_INF),
              0);
    EXPECT_NE(run.out.find("frames      3\ndropped     0"), std::string::npos) << run.out;

    const std::vector<std::string> calls = m_log.lines();
    const std::string pass = "process 40 30 " + std::to_string(input.data[0]);
    const auto lastPass = calls.rend() - std::find(calls.rbegin(), calls.rend(), pass) - 1;
    for (const char* line :
         {"modify_skin_white 0.11", "modify_skin_smooth 0.12", "modify_shape_eye_scale -0.13",
          "modify_shape_face_thin 0.14", "modify_filter \"warm\" 0.35",
          "modify_sticker \"glasses\"", "modify_makeup_lipstick \"#c2185b\" 0.16",
          "modify_makeup_cheeks null 0", "modify_makeup_eyebrow \"brown\" 1"}) {
        EXPECT_LT(std::find(calls.begin(), calls.end(), line) - calls.begin(), lastPass) << line;
    }
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "modify_skin_smooth 0.45"), 0);
}

// Each refusal with its exit code and the words that say why; a refused run writes nothing.
TEST_F(CliTest, CommandLinesThatWouldGoWrongAreRefusedWithReasonsAndExitCodes) {
    ASSERT_TRUE(cv::imwrite("in.png", picture(8, 8, 3)));
    fs::create_hard_link("in.png", "link.png");
    std::ofstream("broken.png") << "not a picture";
    std::ofstream("bad.yml") << "%YAML:1.0\n---\nsparkle: 5\n";
    const struct {
        const char* arguments;
        int exitCode;
        const char* said;
    } refusals[] = {
        // A short pointer to --help, not the whole help.
        {"in.png out.png --sparkle 5", 2,
         "--sparkle\nusage: facelume-cli INPUT OUTPUT [options]   ("},
        {"in.png out.png --smooth 150", 2, "--smooth 150 is out of range (0 to 100)"},
        {"in.png out.png --lipstick red:lots", 2, "whole number"},
        {"in.png", 2, "give one INPUT and one OUTPUT"},
        {"in.png out.png --filter sparkle", 2, "unknown filter \"sparkle\"; available in "},
        {"in.png out.png --preset bad.yml", 2, "unknown option \"sparkle\""},
        // The same file, here through a second link, would be destroyed by the output.
        {"in.png link.png", 2, "the same file"},
        {"broken.png out.png", 3, "cannot read"},
        {"missing.mp4 out.mp4", 3, "does not exist"},
        // Sizes are refused before anything is read, and 30000x26000 does not overflow.
        {"- - --size 20000x20000", 3,
         "a 20000x20000 frame is larger than facelume-cli takes (at "
         "most 33177600 pixels"},
        {"- - --size 30000x26000", 3, "a 30000x26000 frame is larger"},
        {"in.png no/such/folder/out.png", 4, "does not exist"},
        {"in.png out.txt", 4, "cannot write a picture"},
        {"in.png out.png --service nowhere/facelume", 5, "nowhere/facelume"},
    };
    for (const auto& refusal : refusals) {
        const CliRun run = cli(refusal.arguments);
        EXPECT_EQ(run.exitCode, refusal.exitCode) << refusal.arguments;
        EXPECT_NE(run.err.find(refusal.said), std::string::npos) << run.err;
    }
    EXPECT_EQ(leftovers({"in.png", "link.png", "broken.png", "bad.yml", "cli.out", "cli.err"}),
              std::vector<std::string>{});

    // The names the effects take come from the service's resource folder.
    const CliRun help = cli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("filters: cool, warm\n  stickers: glasses\n  colours: #rrggbb or "
                            "brown, caf"),
              std::string::npos)
        << help.out;
    EXPECT_EQ(cli("--version").out, "facelume-cli " FACELUME_VERSION "\n");
}

// ffmpeg ... -f rawvideo - | facelume-cli - - --size WxH | ffmpeg ...
TEST_F(CliTest, RawFramesGoThroughStandardInputAndOutput) {
    std::string frames;
    for (int i = 0; i < 3; ++i) {
        const cv::Mat frame = picture(16, 8, i);
        frames.append(reinterpret_cast<const char*>(frame.data), frame.total() * 3);
    }
    std::ofstream("in.raw", std::ios::binary) << frames;
    std::ofstream("cut.raw", std::ios::binary) << frames.substr(0, 16 * 8 * 3 + 100);
    CliRun run = cli("- - --size 16x8 --stats", "in.raw");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (char& byte : frames) byte = static_cast<char>(255 - static_cast<unsigned char>(byte));
    EXPECT_TRUE(run.out == frames);
    // Statistics go to standard error when standard output carries frames.
    EXPECT_NE(run.err.find("frames      3"), std::string::npos) << run.err;

    run = cli("- - --size 16x8", "cut.raw");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("ended inside a frame (100 of 384 bytes)"), std::string::npos)
        << run.err;
}

// A moving green ball on dark blue (colours that tell the chroma planes apart), with sound. Also
// the path of --to-device: where no v4l2loopback device can exist, a plain file takes the same I420
// frames that the device would.
TEST_F(CliTest, VideoKeepsItsFramesFrameRateAndSoundOrIsRefusedBeforeAnyWork) {
    ASSERT_EQ(std::system("gst-launch-1.0 -q videotestsrc num-buffers=10 pattern=ball "
                          "foreground-color=0xff30c050 background-color=0xff102040 ! "
                          "video/x-raw,width=64,height=48,framerate=12/1 ! jpegenc ! avimux name=m "
                          "! filesink location=in.avi audiotestsrc num-buffers=10 ! "
                          "audio/x-raw,rate=16000,channels=1 ! audioconvert ! m."),
              0);
    ASSERT_EQ(streamsOf("in.avi"), (std::vector<std::string>{"mjpeg", "pcm_s16le"}));
    CliRun run = cli("in.avi out.avi --side-by-side --stats");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Not a terminal: no progress line.
    EXPECT_EQ(run.err.find("frames"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("frames      10"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("latency     p50"), std::string::npos) << run.out;
    cv::VideoCapture output("out.avi", cv::CAP_FFMPEG);
    EXPECT_NEAR(output.get(cv::CAP_PROP_FPS), 12.0, 0.01);
    int frames = 0;
    for (cv::Mat frame; output.read(frame) && !frame.empty(); ++frames) {
        ASSERT_EQ(frame.cols, 128);
        // Lossy compression blurs the bytes: compare averages of before and after.
        const double before = cv::mean(frame(cv::Rect(0, 0, 64, 48)))[0];
        EXPECT_NEAR(before + cv::mean(frame(cv::Rect(64, 0, 64, 48)))[0], 255.0, 12.0);
    }
    EXPECT_EQ(frames, 10);

    // Like a device node, the file must be there: a mistyped device is never created.
    EXPECT_EQ(cli("in.avi --to-device device.yuv").exitCode, 4);
    std::ofstream("device.yuv").close();
    ASSERT_EQ(cli("in.avi --to-device device.yuv").exitCode, 0);
    const std::string written = m_folder.read("device.yuv");
    ASSERT_EQ(written.size(), 10u * 64 * 48 * 3 / 2);
    cv::VideoCapture input("in.avi", cv::CAP_FFMPEG);
    cv::Mat expected;
    for (int i = 0; i < 10 && input.read(expected); ++i) {
        cv::cvtColor(cv::Scalar::all(255) - expected, expected, cv::COLOR_BGR2YUV_I420);
        EXPECT_EQ(written.substr(i * expected.total(), expected.total()),
                  std::string(reinterpret_cast<const char*>(expected.data), expected.total()))
            << "frame " << i;
    }

    run = cli("in.avi out.mkv");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(streamsOf("out.mkv"), (std::vector<std::string>{"h264", "pcm_s16le"}));
    // MP4 cannot hold PCM sound: refused before the service starts, nothing written.
    fs::remove(m_log.path());
    run = cli("in.avi out.mp4");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("its pcm_s16le sound does not fit in a .mp4 file; write a .mkv"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(m_log.lines(), std::vector<std::string>{});
    EXPECT_EQ(leftovers({"in.avi", "out.avi", "device.yuv", "out.mkv", "cli.out", "cli.err"}),
              std::vector<std::string>{});
}

// With the real service: face effects on a still picture need every face found and faded in, and
// the result must show them every time; without a face the run says so. Six small faces come in
// by turns as the engine's first look goes over the picture square by square.
TEST_F(CliTest, StillPictureComesOutWithEveryFacesEffects) {
    const cv::Mat portrait = cv::imread(FACELUME_TEST_PICTURES "/astronaut.png", cv::IMREAD_COLOR);
    ASSERT_FALSE(portrait.empty());
    cv::Mat group(720, 1280, CV_8UC3, cv::Scalar::all(128));
    std::vector<cv::Rect> cells;
    for (int i = 0; i < 6; ++i) {
        cells.emplace_back(100 + i % 3 * 400, 100 + i / 3 * 320, 160, 160);
        cv::resize(portrait, group(cells.back()), cells.back().size(), 0, 0, cv::INTER_AREA);
    }
    ASSERT_TRUE(cv::imwrite("group.png", group));
    const CliRun run = cli("group.png out.png --lipstick #c2185b --service " FACELUME_SERVICE);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const cv::Mat output = cv::imread("out.png", cv::IMREAD_COLOR);
    ASSERT_EQ(output.size(), group.size());
    cv::Mat unchanged;
    cv::absdiff(group, output, unchanged);
    cv::inRange(unchanged, cv::Scalar::all(0), cv::Scalar::all(24), unchanged);
    for (const cv::Rect& cell : cells) {
        // The lips of a face of about 40 pixels: some tens of pixels, far below 5% of the cell.
        const int changed = cell.area() - cv::countNonZero(unchanged(cell));
        EXPECT_GT(changed, 15) << "face at " << cell.tl();
        EXPECT_LT(changed, cell.area() / 20) << "face at " << cell.tl();
    }

    const CliRun noFace = cli(FACELUME_TEST_PICTURES
                              "/coffee.png cup.png --lipstick red --service " FACELUME_SERVICE);
    EXPECT_EQ(noFace.exitCode, 0) << noFace.err;
    EXPECT_NE(noFace.err.find("no face found in"), std::string::npos) << noFace.err;
}

// With the real service: the cameraman's landmarks lay a frontal face over his near profile, one
// side turned the wrong way, its jaw line on his nose (its tip at (250, 162)). The blush belongs
// on the cheek that shows, in front of his ear (the apple about (215, 162)).
TEST_F(CliTest, NearProfileGetsItsBlushOnTheCheekThatShows) {
    const CliRun run = cli(FACELUME_TEST_PICTURES
                           "/camera.png out.png --cheeks #ff0000 --service " FACELUME_SERVICE);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat input = cv::imread(FACELUME_TEST_PICTURES "/camera.png", cv::IMREAD_COLOR);
    const cv::Mat output = cv::imread("out.png", cv::IMREAD_COLOR);
    ASSERT_EQ(output.size(), input.size());
    cv::Mat changed;
    cv::absdiff(input, output, changed);
    cv::cvtColor(changed, changed, cv::COLOR_BGR2GRAY);
    const auto meanAround = [&](cv::Point centre) {
        return cv::mean(changed(cv::Rect(centre - cv::Point(6, 6), cv::Size(13, 13))))[0];
    };
    EXPECT_GT(meanAround({215, 162}), 5.0);
    EXPECT_LT(meanAround({250, 162}), 1.0);
}

// With the real service: a dim clip's frames differ by a third as many grey levels as a lit one's,
// its cut too. Where the woman was, the shot after the cut shows no effect of hers.
TEST_F(CliTest, DimClipsCutLeavesNoEffectWhereTheFaceWas) {
    constexpr int kFirst = 80, kCut = 98, kLast = 104;
    const cv::Size size(720, 528);
    cv::VideoCapture clip(FACELUME_TEST_PICTURES "/Megamind.avi");
    std::vector<cv::Mat> frames;
    cv::RNG noise(7);
    {
        std::ofstream raw("dim.raw", std::ios::binary);
        cv::Mat frame;
        for (int i = 0; i <= kLast && clip.read(frame); ++i) {
            if (i < kFirst) continue;
            ASSERT_EQ(frame.size(), size);
            cv::Mat grain(size, CV_16SC3), dim;
            noise.fill(grain, cv::RNG::NORMAL, 0, 4);
            frame.convertTo(dim, CV_16SC3, 0.3);
            dim += grain;
            dim.convertTo(dim, CV_8UC3);
            raw.write(reinterpret_cast<const char*>(dim.data), dim.total() * 3);
            frames.push_back(dim);
        }
    }
    ASSERT_EQ(frames.size(), size_t(kLast - kFirst + 1)) << "no Megamind.avi";
    const CliRun run = cli(
        "- - --size 720x528 --lipstick #c2185b:100 --sticker glasses --service " FACELUME_SERVICE,
        "dim.raw");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.out.size(), frames.size() * frames[0].total() * 3);
    const cv::Rect herSide(0, 0, 360, 528);  // the man sits right of it after the cut
    // Pixels of frame i changed by more than 8 grey levels on her side.
    const auto changedOnHerSide = [&](int i) {
        const cv::Mat& in = frames[size_t(i - kFirst)];
        const cv::Mat out(size, CV_8UC3,
                          const_cast<char*>(run.out.data()) + (i - kFirst) * in.total() * 3);
        cv::Mat changed;
        cv::absdiff(in(herSide), out(herSide), changed);
        cv::cvtColor(changed, changed, cv::COLOR_BGR2GRAY);
        return cv::countNonZero(changed > 8);
    };
    for (int i = kCut; i <= kLast; ++i) EXPECT_LT(changedOnHerSide(i), 20) << "frame " << i;
    // Before the cut her effects were there.
    EXPECT_GT(changedOnHerSide(kCut - 1), 500);
}

// Ctrl-C or a process manager's SIGTERM while a video is written: the run cleans up (no partial
// output) and exits with 128 + the signal's number, as the shell reports a run it ended.
TEST_F(CliTest, StoppedRunLeavesNoOutputAndSaysWhichSignalStoppedIt) {
    for (const int signal : {SIGINT, SIGTERM}) {
        int frames[2];
        ASSERT_EQ(::pipe(frames), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(frames[0], STDIN_FILENO);
            ::close(frames[1]);
            ::execl(FACELUME_CLI, FACELUME_CLI, "-", "out.avi", "--size", "16x8", "--service",
                    FACELUME_RECORDING_SERVICE, static_cast<char*>(nullptr));
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
        ::kill(child, signal);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(frames[1]);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << signal << " without cleaning up";
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(leftovers({}), std::vector<std::string>{});
    }
}

}  // namespace
