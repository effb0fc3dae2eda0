// The GStreamer element in real pipelines run by gst-launch-1.0: a synthetic video through the
// service built with the recording engine (which inverts every byte and logs every engine call),
// an unknown name, and a real portrait through the real service, where the face effects must
// arrive.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "client_test_support.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

class GstFacelumeTest : public ::testing::Test {
protected:
    // Runs gst-launch-1.0 with the element's build folder on the plugin path; the exit code.
    int launch(const std::string& pipeline) {
        const std::string command = FACELUME_GST_LAUNCH_ENVIRONMENT
                                    " GST_PLUGIN_PATH=" FACELUME_GST_PLUGIN_DIR
                                    " gst-launch-1.0 -q " +
                                    pipeline + " >" + m_folder.file("out.txt") + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const ScratchFolder m_folder;
    EngineLog m_log;
};

// Each property with a value of its own reaches its control. A control the service reads after
// a frame makes it send that frame again, and the element may take it as the next frame's
// result: each result is its own frame or an earlier one (snow: every frame differs). A name the
// service does not offer stops the pipeline with the names that exist.
TEST_F(GstFacelumeTest, VideoGoesThroughWithEachPropertyAsItsControlOrStopsOnAnUnknownName) {
    const int code = launch(
        "videotestsrc num-buffers=5 pattern=snow ! video/x-raw,format=BGR,width=64,height=48 "
        "! tee name=t t. ! queue ! filesink location=" +
        m_folder.file("in.raw") +
        " t. ! queue ! facelume service=" FACELUME_RECORDING_SERVICE
        " white=11 smooth=12 eyes=-13 thin=14 filter=cool:15 sticker=glasses "
        "lipstick=red:16 cheeks=peach:17 eyebrow=dark ! filesink location=" +
        m_folder.file("out.raw"));
    ASSERT_EQ(code, 0) << m_folder.read("out.txt");
    const std::string in = m_folder.read("in.raw");
    std::string out = m_folder.read("out.raw");
    constexpr std::size_t kFrame = 64 * 48 * 3;
    ASSERT_EQ(in.size(), 5 * kFrame);
    ASSERT_EQ(out.size(), in.size());
    for (char& byte : out) byte = static_cast<char>(255 - static_cast<unsigned char>(byte));
    for (std::size_t frame = 0; frame < 5; ++frame) {
        std::size_t source = 0;
        while (source <= frame && in.compare(source * kFrame, kFrame, out, frame * kFrame, kFrame))
            ++source;
        EXPECT_LE(source, frame) << "frame " << frame << " is no processed input frame";
    }
    for (const char* line :
         {"modify_skin_white 0.11", "modify_skin_smooth 0.12", "modify_shape_eye_scale -0.13",
          "modify_shape_face_thin 0.14", "modify_filter \"cool\" 0.15",
          "modify_sticker \"glasses\"", "modify_makeup_lipstick \"red\" 0.16",
          "modify_makeup_cheeks \"peach\" 0.17", "modify_makeup_eyebrow \"dark\" 1"}) {
        EXPECT_TRUE(m_log.waitFor(line)) << line;
    }

    EXPECT_NE(launch("videotestsrc num-buffers=2 ! video/x-raw,format=BGR,width=32,height=24 "
                     "! facelume service=" FACELUME_RECORDING_SERVICE " filter=sparkle ! fakesink"),
              0);
    const std::string said = m_folder.read("out.txt");
    EXPECT_NE(said.find("unknown filter \"sparkle\"; available in "), std::string::npos) << said;
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
               m_folder.file("frame%02d.raw"));
    ASSERT_EQ(code, 0) << m_folder.read("out.txt");
    const cv::Mat input = cv::imread(picture, cv::IMREAD_COLOR);
    std::string last = m_folder.read("frame59.raw");
    ASSERT_EQ(last.size(), input.total() * 3);
    cv::Mat unchanged;
    cv::absdiff(input, cv::Mat(input.rows, input.cols, CV_8UC3, last.data()), unchanged);
    cv::inRange(unchanged, cv::Scalar::all(0), cv::Scalar::all(24), unchanged);
    const int pixels = int(input.total()) - cv::countNonZero(unchanged);
    // The lips of a face about 150 pixels wide: some hundreds of pixels, far below 5% of all.
    EXPECT_GT(pixels, 300);
    EXPECT_LT(pixels, static_cast<int>(input.total() / 20));
}

}  // namespace
