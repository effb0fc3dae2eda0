// The GStreamer element in real pipelines run by gst-launch-1.0: a synthetic video through the
// service built with the recording engine (which inverts every byte and logs every engine call),
// an unknown name, and a real portrait through the real service, where the face effects must
// arrive.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "client_test_support.h"
#include "test_names.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string invertedFrame(const std::string& frames, std::size_t index, std::size_t frameBytes) {
    std::string inverted = frames.substr(index * frameBytes, frameBytes);
    for (char& byte : inverted) byte = static_cast<char>(255 - static_cast<unsigned char>(byte));
    return inverted;
}

class GstFacelumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // Runs gst-launch-1.0 with the element's build folder on the plugin path; the exit code.
    int launch(const std::string& pipeline) {
        const std::string command = FACELUME_GST_LAUNCH_ENVIRONMENT
                                    " GST_PLUGIN_PATH=" FACELUME_GST_PLUGIN_DIR
                                    " gst-launch-1.0 -q " +
                                    pipeline + " >" + path("out.txt") + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    const fs::path m_folder = fs::temp_directory_path() / testnames::letterName("facelumegst");
    EngineLog m_log;
};

TEST_F(GstFacelumeTest, VideoGoesThroughTheServiceWithThePropertiesAsControls) {
    const int code = launch(
        "videotestsrc num-buffers=5 pattern=smpte ! video/x-raw,format=BGR,width=64,height=48 "
        "! tee name=t t. ! queue ! filesink location=" +
        path("in.raw") +
        " t. ! queue ! facelume service=" FACELUME_RECORDING_SERVICE
        " smooth=70 eyes=-20 lipstick=red:60 filter=warm sticker=glasses ! filesink location=" +
        path("out.raw"));
    ASSERT_EQ(code, 0) << readFile(path("out.txt"));
    const std::string in = readFile(path("in.raw"));
    const std::string out = readFile(path("out.raw"));
    ASSERT_EQ(in.size(), 5u * 64 * 48 * 3);
    ASSERT_EQ(out.size(), in.size());
    // A control the service reads after a frame makes it send that frame again, and the element
    // may take it as the next frame's result: each result is its own frame or an earlier one.
    const std::size_t frameBytes = 64 * 48 * 3;
    for (std::size_t frame = 0; frame < 5; ++frame) {
        bool matched = false;
        for (std::size_t source = 0; source <= frame && !matched; ++source) {
            matched =
                invertedFrame(in, source, frameBytes) == out.substr(frame * frameBytes, frameBytes);
        }
        EXPECT_TRUE(matched) << "frame " << frame << " is no processed input frame";
    }
    for (const char* line : {"modify_skin_smooth 0.7", "modify_shape_eye_scale -0.2",
                             "modify_makeup_lipstick \"red\" 0.6", "modify_filter \"warm\" 1",
                             "modify_sticker \"glasses\""}) {
        EXPECT_TRUE(m_log.waitFor(line)) << line;
    }
}

TEST_F(GstFacelumeTest, UnknownNameStopsThePipelineWithTheNamesThatExist) {
    const int code = launch(
        "videotestsrc num-buffers=2 ! video/x-raw,format=BGR,width=32,height=24 "
        "! facelume service=" FACELUME_RECORDING_SERVICE " filter=sparkle ! fakesink");
    EXPECT_NE(code, 0);
    const std::string said = readFile(path("out.txt"));
    EXPECT_NE(said.find("unknown filter \"sparkle\""), std::string::npos) << said;
    EXPECT_NE(said.find(": cool, warm"), std::string::npos) << said;
}

// The astronaut portrait held as a still video for two seconds, at a camera's pace: lipstick
// arrives on the lips once the engine has found the face, and nowhere else.
TEST_F(GstFacelumeTest, PortraitGetsItsFaceEffects) {
    const std::string picture = FACELUME_TEST_PICTURES "/astronaut.png";
    ASSERT_TRUE(fs::exists(picture)) << "run scripts/fetch-test-images.sh";
    const int code =
        launch("filesrc location=" + picture +
               " ! pngdec ! videoconvert ! video/x-raw,format=BGR ! imagefreeze num-buffers=60 "
               "! video/x-raw,framerate=30/1 ! facelume service=" FACELUME_SERVICE
               " lipstick=#c2185b:100 ! multifilesink sync=true max-files=1 location=" +
               path("frame%02d.raw"));
    ASSERT_EQ(code, 0) << readFile(path("out.txt"));
    const cv::Mat input = cv::imread(picture, cv::IMREAD_COLOR);
    std::string last = readFile(path("frame59.raw"));
    ASSERT_EQ(last.size(), input.total() * 3);
    const cv::Mat output(input.rows, input.cols, CV_8UC3, last.data());
    cv::Mat difference;
    cv::absdiff(input, output, difference);
    std::vector<cv::Mat> channels;
    cv::split(difference, channels);
    const cv::Mat largest = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    const int pixels = cv::countNonZero(largest > 24);
    // The lips of a face about 150 pixels wide: some hundreds of pixels, far below 5% of all.
    EXPECT_GT(pixels, 300);
    EXPECT_LT(pixels, static_cast<int>(input.total() / 20));
}

}  // namespace
