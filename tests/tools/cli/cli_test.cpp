// facelume-cli as a user runs it: pictures and a short video through the service built with the
// recording engine (which inverts every pixel byte and logs every engine call), side-by-side
// output, statistics, and the command lines it must refuse with their exit codes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <string>
#include <vector>

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
        m_folder = fs::temp_directory_path() /
                   ("facelume-cli-test-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        ::setenv("FACELUME_RECORDING_LOG", (m_folder / "engine.log").c_str(), 1);
        ::unsetenv("FACELUME_RECORDING_FAIL_INIT");
    }
    void TearDown() override {
        ::unsetenv("FACELUME_RECORDING_LOG");
        ::unsetenv("FACELUME_RECORDING_FAIL_INIT");
        fs::remove_all(m_folder);
    }

    // Runs facelume-cli with the recording service unless the arguments name a service.
    CliRun cli(std::vector<std::string> arguments, bool withService = true) {
        if (withService) {
            arguments.push_back("--service");
            arguments.push_back(FACELUME_RECORDING_SERVICE);
        }
        std::string command = shellQuoted(FACELUME_CLI);
        for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
        command += " >" + shellQuoted((m_folder / "out.txt").string()) + " 2>" +
                   shellQuoted((m_folder / "err.txt").string()) + " </dev/null";
        const int status = std::system(command.c_str());
        CliRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = readFile(m_folder / "out.txt");
        run.err = readFile(m_folder / "err.txt");
        return run;
    }

    std::vector<std::string> engineCalls() {
        std::vector<std::string> lines;
        std::ifstream file(m_folder / "engine.log");
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    static cv::Mat picture(int width, int height, int seed) {
        cv::Mat image(height, width, CV_8UC3);
        cv::randu(image, cv::Scalar::all(seed % 50), cv::Scalar::all(256));
        return image;
    }

    fs::path m_folder;
};

std::ptrdiff_t indexOf(const std::vector<std::string>& lines, const std::string& line) {
    const auto found = std::find(lines.begin(), lines.end(), line);
    return found == lines.end() ? -1 : found - lines.begin();
}

TEST_F(CliTest, PictureGoesThroughTheServiceWithItsEffects) {
    const cv::Mat input = picture(64, 48, 1);
    ASSERT_TRUE(cv::imwrite(path("in.png"), input));
    const CliRun run = cli({path("in.png"), path("out.png"), "--smooth",  "70",        "--white",
                            "40",           "--eyes",        "-20",       "--thin",    "30",
                            "--filter",     "warm:80",       "--sticker", "glasses",   "--lipstick",
                            "#c2185b:60",   "--cheeks",      "off",       "--eyebrow", "brown"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat output = cv::imread(path("out.png"), cv::IMREAD_COLOR);
    ASSERT_EQ(output.size(), input.size());
    EXPECT_EQ(cv::norm(output, cv::Scalar::all(255) - input, cv::NORM_INF), 0);

    // The controls reach the engine before the picture does.
    const std::vector<std::string> calls = engineCalls();
    const std::ptrdiff_t processed =
        indexOf(calls, "process 64 48 " + std::to_string(input.data[0]));
    ASSERT_GE(processed, 0);
    for (const char* line :
         {"modify_skin_smooth 0.7", "modify_skin_white 0.4", "modify_shape_eye_scale -0.2",
          "modify_shape_face_thin 0.3", "modify_filter \"warm\" 0.8", "modify_sticker \"glasses\"",
          "modify_makeup_lipstick \"#c2185b\" 0.6", "modify_makeup_cheeks null 0",
          "modify_makeup_eyebrow \"brown\" 1"}) {
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
    {
        cv::VideoWriter writer(path("in.avi"), cv::CAP_FFMPEG,
                               cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 12.0, cv::Size(64, 48));
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 10; ++i) writer.write(picture(64, 48, i) / 2);
    }
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

    ::setenv("FACELUME_RECORDING_FAIL_INIT", "1", 1);
    run = cli({path("in.png"), path("out.png")});
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.err.find("initError"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(path("out.png")));
}

}  // namespace
