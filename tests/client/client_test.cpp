// The C++ API of the client SDK against the real service, built with the recording engine
// (which inverts every pixel byte and logs every engine call).

#include "facelume_client.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "client_test_support.h"

using facelume::Client;
using facelume::Frame;
using facelume::Status;

namespace {

constexpr int kTimeoutMs = 5000;
#ifdef _WIN32
constexpr char kEngineMissing[] = "mox_ai_effect.dll is missing";
constexpr char kLoaderSays[] = "(0xC0000135)";
constexpr char kInitErrorExit[] = "exited with code -1";
#else
constexpr char kEngineMissing[] = "libmox_ai_effect.so is missing";
constexpr char kLoaderSays[] = "cannot open shared object";
constexpr char kInitErrorExit[] = "exited with code 255";
#endif

// The recording service's executable in a folder made by clienttest::serviceFolder.
std::string serviceIn(const std::string& folder) {
    return folder + "/" + std::filesystem::path(FACELUME_RECORDING_SERVICE).filename().string();
}

class ClientTest : public ::testing::Test {
protected:
    facelume::ServiceOptions options(int size = 921700) {
        const clienttest::Names names = clienttest::uniqueNames();
        facelume::ServiceOptions result;
        result.executable = FACELUME_RECORDING_SERVICE;
        result.channel.receiveName = names.receive;
        result.channel.sendName = names.send;
        result.channel.size = size;
        return result;
    }

    EngineLog m_log;
};

TEST_F(ClientTest, FramesRoundTripWithAnyRowStride) {
    Client client;
    const facelume::ServiceOptions opts = options(12 + 64 * 48 * 3);
    const facelume::Result started = client.start(opts);
    ASSERT_TRUE(started) << started.message();
    EXPECT_TRUE(client.isConnected());
    EXPECT_TRUE(client.fits(64, 48));
    EXPECT_FALSE(client.fits(64, 49));

    for (const std::size_t stride : {std::size_t{64 * 3}, std::size_t{64 * 3 + 7}}) {
        const auto pixels = clienttest::makePixels(64, 48, stride, static_cast<int>(stride));
        Frame out;
        const facelume::Result processed =
            client.process(64, 48, pixels.data(), stride, out, kTimeoutMs);
        ASSERT_TRUE(processed) << processed.message();
        EXPECT_EQ(out.width, 64);
        EXPECT_EQ(out.height, 48);
        ASSERT_EQ(out.pixels.size(), 64u * 48 * 3);
        EXPECT_TRUE(clienttest::isInverted(pixels, out.pixels.data(), 64, 48, stride));
    }

    // A smaller frame through the lower-level calls.
    const auto small = clienttest::makePixels(5, 3, 15, 9);
    ASSERT_TRUE(client.sendFrame(5, 3, small.data(), 15));
    Frame out;
    ASSERT_TRUE(client.receiveFrame(out, kTimeoutMs));
    EXPECT_EQ(out.width, 5);
    EXPECT_TRUE(clienttest::isInverted(small, out.pixels.data(), 5, 3, 15));
    EXPECT_TRUE(m_log.waitFor("process 5 3 9"));
}

TEST_F(ClientTest, TooLargeFrameIsRefusedBeforeSendingAndTheChannelGoesOn) {
    Client client;
    ASSERT_TRUE(client.start(options(12 + 10 * 10 * 3)));
    const auto big = clienttest::makePixels(10, 11, 30, 1);
    const facelume::Result refused = client.sendFrame(10, 11, big.data(), 30);
    EXPECT_EQ(refused.status(), Status::FrameTooLarge);
    EXPECT_NE(refused.message().find("10x11"), std::string::npos) << refused.message();
    Frame out;
    EXPECT_EQ(client.receiveFrame(out, 300).status(), Status::Timeout);

    const auto fits = clienttest::makePixels(10, 10, 30, 1);
    ASSERT_TRUE(client.process(10, 10, fits.data(), 30, out, kTimeoutMs));
    EXPECT_TRUE(clienttest::isInverted(fits, out.pixels.data(), 10, 10, 30));
}

TEST_F(ClientTest, EverySetterReachesTheEngineWithItsValue) {
    Client client;
    ASSERT_TRUE(client.start(options()));
    ASSERT_TRUE(client.setSkinWhite(0.4f));
    ASSERT_TRUE(client.setSkinSmooth(0.7f));
    ASSERT_TRUE(client.setEyeScale(0.2f));
    ASSERT_TRUE(client.setFaceThin(-0.3f));
    ASSERT_TRUE(client.setFilter("warm", 0.8f));
    ASSERT_TRUE(client.setSticker("glasses"));
    ASSERT_TRUE(client.setLipstick("#c2185b", 0.6f));
    ASSERT_TRUE(client.setCheeks("peach", 0.25f));
    ASSERT_TRUE(client.setEyebrow("caf\xc3\xa9 noir", 1.0f));
    for (const char* line :
         {"modify_skin_white 0.4", "modify_skin_smooth 0.7", "modify_shape_eye_scale 0.2",
          "modify_shape_face_thin -0.3", "modify_filter \"warm\" 0.8", "modify_sticker \"glasses\"",
          "modify_makeup_lipstick \"#c2185b\" 0.6", "modify_makeup_cheeks \"peach\" 0.25",
          "modify_makeup_eyebrow \"caf\xc3\xa9 noir\" 1"}) {
        EXPECT_TRUE(m_log.waitFor(line)) << line;
    }

    // Turning effects off hands the engine no name.
    ASSERT_TRUE(client.setFilter("", 0.5f));
    ASSERT_TRUE(client.setSticker(""));
    ASSERT_TRUE(client.setLipstick("", 0.9f));
    EXPECT_TRUE(m_log.waitFor("modify_filter null 0"));
    EXPECT_TRUE(m_log.waitFor("modify_sticker null"));
    EXPECT_TRUE(m_log.waitFor("modify_makeup_lipstick null 0"));

    // Hundredths are rounded, not cut.
    ASSERT_TRUE(client.setSkinWhite(0.299f));
    EXPECT_TRUE(m_log.waitFor("modify_skin_white 0.3"));
}

// The engine ignores a name it does not know: the SDK refuses it with the names the service's
// resource folder offers, and sends nothing.
TEST_F(ClientTest, NamesTheServiceDoesNotOfferAreRefusedWithTheList) {
    Client client;
    ASSERT_TRUE(client.start(options()));
    EXPECT_EQ(client.availableNames(facelume::NameKind::Filter),
              (std::vector<std::string>{"cool", "warm"}));
    EXPECT_EQ(client.availableNames(facelume::NameKind::Sticker),
              std::vector<std::string>{"glasses"});
    EXPECT_EQ(client.availableNames(facelume::NameKind::Colour),
              (std::vector<std::string>{"brown", "caf\xc3\xa9 noir", "dark", "peach", "red"}));
    const std::pair<facelume::Result, const char*> refusals[] = {
        {client.setFilter("sparkle", 1.f), "unknown filter \"sparkle\"; available in "},
        {client.setFilter("warm.cube", 1.f), ": cool, warm"},
        {client.setSticker("hat"), ": glasses"},
        {client.setLipstick("purple", 1.f), ": #rrggbb or in "},
        {client.setCheeks("#12345", 1.f), "not of the form #rrggbb"},
        {client.setEyebrow("#12345g", 1.f), "not of the form #rrggbb"},
    };
    for (const auto& [result, text] : refusals) {
        EXPECT_EQ(result.status(), Status::InvalidArgument) << text;
        EXPECT_NE(result.message().find(text), std::string::npos) << result.message();
    }
    // Colour names match without regard to case, as in the engine.
    ASSERT_TRUE(client.setLipstick("Peach", 0.5f));
    ASSERT_TRUE(client.setSkinWhite(0.1f));
    EXPECT_TRUE(m_log.waitFor("modify_skin_white 0.1"));
    for (const std::string& line : m_log.lines()) {
        EXPECT_EQ(line.find("modify_filter \""), std::string::npos) << line;
        EXPECT_EQ(line.find("#12345"), std::string::npos) << line;
    }
}

TEST_F(ClientTest, ProcessAfterAControlReturnsTheNewFrameNotTheRefreshedOldOne) {
    Client client;
    ASSERT_TRUE(client.start(options()));
    const auto first = clienttest::makePixels(8, 8, 24, 1);
    const auto second = clienttest::makePixels(8, 8, 24, 100);
    Frame out;
    ASSERT_TRUE(client.process(8, 8, first.data(), 24, out, kTimeoutMs));
    ASSERT_TRUE(client.setSkinSmooth(0.5f));
    ASSERT_TRUE(client.process(8, 8, second.data(), 24, out, kTimeoutMs));
    EXPECT_TRUE(clienttest::isInverted(second, out.pixels.data(), 8, 8, 24));
}

TEST_F(ClientTest, BadArgumentsAreRefusedWithReasons) {
    Client client;
    Frame out;
    const auto pixels = clienttest::makePixels(4, 4, 12, 0);
    EXPECT_EQ(client.sendFrame(4, 4, pixels.data(), 12).status(), Status::NotConnected);
    EXPECT_EQ(client.receiveFrame(out, 10).status(), Status::NotConnected);
    EXPECT_EQ(client.setSkinWhite(0.1f).status(), Status::NotConnected);

    facelume::ServiceOptions bad = options();
    bad.channel.sendName = bad.channel.receiveName;
    EXPECT_EQ(client.start(bad).status(), Status::InvalidArgument);
    bad = options();
    bad.channel.receiveName = "a/b";
    EXPECT_EQ(client.start(bad).status(), Status::InvalidArgument);
    bad = options(10);
    EXPECT_EQ(client.start(bad).status(), Status::InvalidArgument);
    bad = options((1 << 27) + 1);
    const facelume::Result tooLarge = client.start(bad);
    EXPECT_EQ(tooLarge.status(), Status::InvalidArgument);
    EXPECT_NE(tooLarge.message().find("limit of 134217728 bytes"), std::string::npos);

    ASSERT_TRUE(client.start(options()));
    EXPECT_EQ(client.sendFrame(4, 4, pixels.data(), 11).status(), Status::InvalidArgument);
    EXPECT_EQ(client.sendFrame(0, 4, pixels.data(), 12).status(), Status::InvalidArgument);
    EXPECT_EQ(client.sendFrame(4, 4, nullptr, 12).status(), Status::InvalidArgument);
    EXPECT_EQ(client.setSkinWhite(1e30f).status(), Status::InvalidArgument);
    EXPECT_EQ(client.setSticker(std::string("a\0b", 3)).status(), Status::InvalidArgument);
}

TEST_F(ClientTest, NoFrameGivesATimeout) {
    setEnvironment("FACELUME_RECORDING_PROCESS_RESULT", "0");
    Client client;
    ASSERT_TRUE(client.start(options()));
    Frame out;
    EXPECT_EQ(client.receiveFrame(out, 200).status(), Status::Timeout);
    const auto pixels = clienttest::makePixels(4, 4, 12, 0);
    const facelume::Result result = client.process(4, 4, pixels.data(), 12, out, 300);
    EXPECT_EQ(result.status(), Status::Timeout) << result.message();
    EXPECT_TRUE(m_log.waitFor("process 4 4 0"));
}

TEST_F(ClientTest, StartFailuresSayWhatIsMissing) {
    Client client;
    facelume::ServiceOptions opts = options();
    opts.executable = "/nonexistent/facelume";
    facelume::Result result = client.start(opts);
    EXPECT_EQ(result.status(), Status::ServiceNotFound);
    EXPECT_NE(result.message().find("/nonexistent/facelume"), std::string::npos);

    const std::string noEngine = clienttest::serviceFolder(true, false, true);
    opts = options();
    opts.executable = serviceIn(noEngine);
    result = client.start(opts);
    EXPECT_EQ(result.status(), Status::ServiceFailed);
    EXPECT_NE(result.message().find(kEngineMissing), std::string::npos) << result.message();
    EXPECT_NE(result.message().find(kLoaderSays), std::string::npos) << result.message();

    const std::string noResources = clienttest::serviceFolder(true, true, false);
    opts = options();
    opts.executable = serviceIn(noResources);
    result = client.start(opts);
    EXPECT_EQ(result.status(), Status::ServiceFailed);
    EXPECT_NE(result.message().find("beauty_res is missing"), std::string::npos)
        << result.message();
    EXPECT_NE(result.message().find("initError"), std::string::npos) << result.message();
    EXPECT_NE(result.message().find(kInitErrorExit), std::string::npos) << result.message();

    setEnvironment("FACELUME_RECORDING_FAIL_INIT", "1");
    result = client.start(options());
    EXPECT_EQ(result.status(), Status::ServiceFailed);
    EXPECT_NE(result.message().find("could not start with the resources"), std::string::npos)
        << result.message();
    EXPECT_FALSE(client.isConnected());

    std::filesystem::remove_all(noEngine);
    std::filesystem::remove_all(noResources);
}

TEST_F(ClientTest, ASecondClientJoinsARunningService) {
    Client owner;
    const facelume::ServiceOptions opts = options();
    ASSERT_TRUE(owner.start(opts));

    ASSERT_TRUE(owner.setLipstick("red", 0.6f));
    ASSERT_TRUE(owner.setSkinSmooth(0.5f));
    ASSERT_TRUE(m_log.waitFor("modify_skin_smooth 0.5"));

    // A client that joins starts with every effect off, not with the owner's.
    Client joiner;
    facelume::ChannelOptions channel = opts.channel;
    channel.resourceFolder = facelume::resourceFolderOf(FACELUME_RECORDING_SERVICE);
    const facelume::Result joined = joiner.connect(channel);
    ASSERT_TRUE(joined) << joined.message();
    // The service applies pending commands in its own order: wait for each.
    for (const char* line : {"modify_skin_smooth 0", "modify_makeup_lipstick null 0"}) {
        ASSERT_TRUE(m_log.waitFor(line)) << line;
    }
    const std::vector<std::string> calls = m_log.lines();
    const auto owners = std::find(calls.begin(), calls.end(), "modify_skin_smooth 0.5");
    EXPECT_NE(std::find(owners, calls.end(), "modify_skin_smooth 0"), calls.end());
    EXPECT_NE(std::find(owners, calls.end(), "modify_makeup_lipstick null 0"), calls.end());
    EXPECT_EQ(joiner.setFilter("sparkle", 1.f).status(), Status::InvalidArgument);
    const auto pixels = clienttest::makePixels(6, 6, 18, 50);
    Frame out;
    ASSERT_TRUE(joiner.process(6, 6, pixels.data(), 18, out, kTimeoutMs));
    EXPECT_TRUE(clienttest::isInverted(pixels, out.pixels.data(), 6, 6, 18));
    ASSERT_TRUE(joiner.setFaceThin(0.1f));
    EXPECT_TRUE(m_log.waitFor("modify_shape_face_thin 0.1"));

    // A second service under the same names is refused while the first one runs.
    Client another;
    EXPECT_EQ(another.start(opts).status(), Status::ChannelError);

    // Whichever side stops last removes the channel's objects and sockets.
    owner.close();
    joiner.close();
    EXPECT_EQ(clienttest::leftovers({channel.receiveName, channel.sendName}), "");
    channel.timeoutMs = 200;
    EXPECT_EQ(joiner.connect(channel).status(), Status::Timeout);
}

// Frames overtaken by newer ones are dropped, but whatever arrives is whole, in order, and the
// last frame sent always comes back.
TEST_F(ClientTest, OneThreadSendsWhileAnotherReceives) {
    Client client;
    ASSERT_TRUE(client.start(options(12 + 32 * 24 * 3)));
    constexpr int kFrames = 200;
    std::atomic<bool> allSent{false};
    std::vector<int> firsts;
    int torn = 0;
    std::thread receiver([&] {
        Frame out;
        for (;;) {
            const bool finishing = allSent;
            const facelume::Result received = client.receiveFrame(out, 500);
            if (received.status() == Status::Timeout && !finishing) continue;
            if (!received) break;
            const int first = 255 - out.pixels[0];
            const auto expected = clienttest::makePixels(32, 24, 96, first);
            if (!clienttest::isInverted(expected, out.pixels.data(), 32, 24, 96)) ++torn;
            firsts.push_back(first);
        }
    });
    for (int i = 0; i < kFrames; ++i) {
        const auto pixels = clienttest::makePixels(32, 24, 96, i);
        const bool sent = client.sendFrame(32, 24, pixels.data(), 96).isOk();
        EXPECT_TRUE(sent);
        if (!sent) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    allSent = true;
    receiver.join();
    EXPECT_EQ(torn, 0);
    ASSERT_FALSE(firsts.empty());
    EXPECT_TRUE(std::is_sorted(firsts.begin(), firsts.end()));
    EXPECT_EQ(firsts.back(), kFrames - 1);
}

#ifndef _WIN32
// A socket file as a process leaves it when it dies while listening. (Windows' named pipes go
// with their last handle.)
void leaveStaleSocket(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string full =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/" + name;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    full.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST_F(ClientTest, SocketsLeftByCrashedProcessesDoNotBlockAStart) {
    const facelume::ServiceOptions opts = options();
    leaveStaleSocket(opts.channel.receiveName + "_pipe");
    leaveStaleSocket(opts.channel.sendName + "_pipe");
    Client client;
    const facelume::Result started = client.start(opts);
    ASSERT_TRUE(started) << started.message();
    const auto pixels = clienttest::makePixels(3, 3, 9, 1);
    Frame out;
    EXPECT_TRUE(client.process(3, 3, pixels.data(), 9, out, kTimeoutMs));
}

#endif

}  // namespace
