// The C++ and C APIs of the client SDK against the real service, built with the recording engine
// (which inverts every pixel byte and logs every engine call). Time-outs, frames too large and
// what closing leaves are checked through the C and Python bindings, which reach the same code.

#include "facelume_client.h"
#include "facelume_client_c.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "client_test_support.h"
#include "socket_path.h"

extern "C" const unsigned char* processFromC(facelume_client* client, const unsigned char* bgr,
                                             int width, int height, size_t stride);

using clienttest::roundTrip;
using clienttest::serviceOptions;
using facelume::Client;
using facelume::Status;

namespace {

#ifdef _WIN32
constexpr char kEngineMissing[] = "mox_ai_effect.dll is missing";
constexpr char kLoaderSays[] = "(0xC0000135)";
constexpr char kInitErrorExit[] = "exited with code -1";
#else
constexpr char kEngineMissing[] = "libmox_ai_effect.so is missing";
constexpr char kLoaderSays[] = "cannot open shared object";
constexpr char kInitErrorExit[] = "exited with code 255";
#endif

class ClientTest : public ::testing::Test {
protected:
    EngineLog m_log;
};

// Bad arguments are refused before anything is sent, and a service that cannot start is named with
// what it misses. The engine ignores a name it does not know: the SDK refuses it with the names
// the service's resource folder offers.
TEST_F(ClientTest, BadArgumentsFailedStartsAndNamesTheServiceDoesNotOfferAreRefused) {
    Client client;
    EXPECT_EQ(client.setSkinWhite(0.1f).status(), Status::NotConnected);
    facelume::ServiceOptions sameNames = serviceOptions(), slash = serviceOptions();
    sameNames.channel.sendName = sameNames.channel.receiveName;
    slash.channel.receiveName = "a/b";
    for (const auto& bad : {sameNames, slash, serviceOptions(10)}) {
        EXPECT_EQ(client.start(bad).status(), Status::InvalidArgument) << bad.channel.size;
    }
    EXPECT_NE(client.start(serviceOptions((1 << 27) + 1)).message().find("limit of 134217728"),
              std::string::npos);

    const ScratchFolder noEngine("sdknoengine");
    const ScratchFolder noResources("sdknoresources");
    const struct {
        std::string executable;
        const char* failInit;
        std::vector<const char*> said;
    } failures[] = {
        {FACELUME_RECORDING_SERVICE, "1", {"could not start with the resources"}},
        {clienttest::installService(noEngine, false, true), nullptr, {kEngineMissing, kLoaderSays}},
        {clienttest::installService(noResources, true, false),
         nullptr,
         {"beauty_res is missing", "initError", kInitErrorExit}},
    };
    for (const auto& failure : failures) {
        setEnvironment("FACELUME_RECORDING_FAIL_INIT", failure.failInit);
        facelume::ServiceOptions opts = serviceOptions();
        opts.executable = failure.executable;
        const facelume::Result result = client.start(opts);
        EXPECT_EQ(result.status(), Status::ServiceFailed);
        for (const char* text : failure.said) {
            EXPECT_NE(result.message().find(text), std::string::npos) << result.message();
        }
        EXPECT_FALSE(client.isConnected());
    }

    ASSERT_TRUE(client.start(serviceOptions(12 + 4 * 4 * 3)));
    EXPECT_TRUE(client.fits(4, 4));
    EXPECT_FALSE(client.fits(4, 5));
    EXPECT_EQ(client.availableNames(facelume::NameKind::Colour),
              (std::vector<std::string>{"brown", "caf\xc3\xa9 noir", "dark", "peach", "red"}));
    const auto pixels = clienttest::makePixels(4, 4, 12, 0);
    const std::pair<facelume::Result, const char*> refusals[] = {
        {client.sendFrame(4, 4, pixels.data(), 11), ""},
        {client.sendFrame(0, 4, pixels.data(), 12), ""},
        {client.sendFrame(4, 4, nullptr, 12), ""},
        {client.setSkinWhite(1e30f), ""},
        {client.setSticker(std::string("a\0b", 3)), ""},
        {client.setFilter("warm.cube", 1.f), ": cool, warm"},
        {client.setSticker("hat"), ": glasses"},
        {client.setLipstick("purple", 1.f), ": #rrggbb or in "},
        {client.setCheeks("#12345", 1.f), "not of the form #rrggbb"},
        {client.setEyebrow("#12345g", 1.f), "not of the form #rrggbb"},
    };
    for (const auto& [result, text] : refusals) {
        EXPECT_EQ(result.status(), Status::InvalidArgument) << result.message();
        EXPECT_NE(result.message().find(text), std::string::npos) << result.message();
    }
    // Colour names match without regard to case, as in the engine, and go as they are. (Which
    // setter reaches which control, and with which value, the Python binding's test checks
    // through every one of them.)
    ASSERT_TRUE(client.setEyebrow("Caf\xc3\xa9 noir", 1.f));
    EXPECT_TRUE(m_log.waitFor("modify_makeup_eyebrow \"Caf\xc3\xa9 noir\" 1"));
    for (const std::string& line : m_log.lines()) {
        EXPECT_EQ(line.find("modify_filter \""), std::string::npos) << line;
        EXPECT_EQ(line.find("#12345"), std::string::npos) << line;
    }
}

// The C API. Which entry point reaches which control, a missing service and a frame too large: the
// Python binding's test, through these entry points.
TEST_F(ClientTest, TheCApiRoundTripsFramesAndGivesFailuresAsStatusAndText) {
    const std::unique_ptr<facelume_client, void (*)(facelume_client*)> owned(facelume_client_new(),
                                                                             facelume_client_free);
    facelume_client* const client = owned.get();
    EXPECT_EQ(facelume_send_frame(nullptr, 1, 1, nullptr, 3), FACELUME_INVALID_ARGUMENT);
    EXPECT_NE(std::string(facelume_last_error(nullptr)).find("NULL"), std::string::npos);
    const unsigned char pixel[3] = {1, 2, 3};
    EXPECT_EQ(facelume_send_frame(client, 1, 1, pixel, 3), FACELUME_NOT_CONNECTED);
    EXPECT_STRNE(facelume_last_error(client), "");

    const facelume::ChannelOptions names = clienttest::serviceOptions().channel;
    ASSERT_EQ(facelume_start(client, FACELUME_RECORDING_SERVICE, names.receiveName.c_str(),
                             names.sendName.c_str(), 0, 0),
              FACELUME_OK)
        << facelume_last_error(client);
    int width = -1;
    const unsigned char* out = pixel;
    EXPECT_EQ(facelume_receive_frame(client, 100, &width, nullptr, &out), FACELUME_TIMEOUT);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_STREQ(facelume_status_name(FACELUME_TIMEOUT), "timeout");

    // NULL turns an effect off. (A service the client started logs no reset of its own.)
    EXPECT_EQ(facelume_set_sticker(client, nullptr), FACELUME_OK);
    EXPECT_TRUE(m_log.waitFor("modify_sticker null"));
    const auto pixels = clienttest::makePixels(16, 9, 16 * 3 + 1, 7);
    out = processFromC(client, pixels.data(), 16, 9, 16 * 3 + 1);
    ASSERT_NE(out, nullptr) << facelume_last_error(client);
    EXPECT_TRUE(clienttest::isInverted(pixels, out, 16, 9, 16 * 3 + 1));
    // Closing, not only freeing, stops the service: nothing answers on the channel's names.
    facelume_close(client);
    EXPECT_EQ(facelume_connect(client, names.receiveName.c_str(), names.sendName.c_str(), 0, 100),
              FACELUME_TIMEOUT);
}

// Two clients on one channel would take each other's results without a word: while one holds
// the channel, another is refused and the service logs the attempt; the first goes on undisturbed.
TEST_F(ClientTest, ASecondClientIsRefusedWhileTheFirstHoldsTheChannel) {
    Client owner;
    const facelume::ServiceOptions opts = serviceOptions();
    ASSERT_TRUE(owner.start(opts));
    ASSERT_TRUE(owner.setSkinSmooth(0.5f));
    ASSERT_TRUE(m_log.waitFor("modify_skin_smooth 0.5"));

    Client second;
    const facelume::Result joined = second.connect(opts.channel);
    EXPECT_EQ(joined.status(), Status::ChannelError);
    EXPECT_NE(joined.message().find("already has a client"), std::string::npos) << joined.message();
    EXPECT_FALSE(second.isConnected());
    EXPECT_TRUE(roundTrip(owner, 6, 6, 18, 50));
    const std::vector<std::string> calls = m_log.lines();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "modify_skin_smooth 0"), 0)
        << "the refused client reset the owner's controls";
    const auto logged = [&owner] {
        return owner.serviceOutput().find("a second client connected") != std::string::npos;
    };
    for (int i = 0; i < 100 && !logged(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(logged()) << owner.serviceOutput();
    // A second service under the same names is refused while the first one runs.
    EXPECT_EQ(Client().start(opts).status(), Status::ChannelError);
}

#ifndef _WIN32
// A service that no client of ours started (facelume-cli --recv/--send joins such a one) serves
// one client after another, and each one starts with every effect off, not with the controls of
// the one before, nor with the frame the one before left: the reset sends that frame back again.
TEST_F(ClientTest, ClientsJoinARunningServiceOneAfterAnotherAndStartClean) {
    facelume::ChannelOptions channel = serviceOptions(4096).channel;
    channel.resourceFolder = facelume::resourceFolderOf(FACELUME_RECORDING_SERVICE);
    const std::string size = std::to_string(channel.size);
    const char* argv[] = {FACELUME_RECORDING_SERVICE, channel.receiveName.c_str(),
                          channel.sendName.c_str(), size.c_str(), nullptr};
    pid_t service = 0;
    ASSERT_EQ(::posix_spawn(&service, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    {
        Client first;
        const facelume::Result joined = first.connect(channel);
        EXPECT_TRUE(joined) << joined.message();
        EXPECT_TRUE(first.setSkinSmooth(0.5f));
        EXPECT_TRUE(m_log.waitFor("modify_skin_smooth 0.5"));
    }
    const std::vector<std::string> calls = m_log.lines();
    const auto firsts = std::find(calls.begin(), calls.end(), "modify_skin_smooth 0.5");
    Client next;
    const facelume::Result joined = next.connect(channel);
    EXPECT_TRUE(joined) << joined.message();
    // The first client's own reset came before its 0.5; the next one's must come after it.
    EXPECT_TRUE(m_log.waitFor("modify_skin_smooth 0", firsts - calls.begin() + 1));
    EXPECT_EQ(next.setFilter("sparkle", 1.f).status(), Status::InvalidArgument);
    EXPECT_TRUE(roundTrip(next, 6, 6, 18, 50));
    next.close();
    for (int round = 0; round < 60; ++round) {
        Client leaving, joining;
        EXPECT_TRUE(leaving.connect(channel) && roundTrip(leaving, 6, 6, 18, 10)) << round;
        leaving.close();
        EXPECT_TRUE(joining.connect(channel) && roundTrip(joining, 6, 6, 18, 90)) << round;
    }
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
}

// Socket files as a process leaves them when it dies while listening do not block a start.
// (Windows' named pipes go with their last handle.) A service that stops reading its control pipe
// (stopped, or stuck) must not hang the client: a control gives up after its time-out with a
// message, and works again once the service reads.
TEST_F(ClientTest, StaleSocketsBlockNoStartAndControlsNeitherHangNorMixUpResults) {
    const facelume::ServiceOptions opts = serviceOptions(4096);
    for (const std::string& name : {opts.channel.receiveName, opts.channel.sendName}) {
        const std::string full = protocol::socketPath(name + "_pipe").path;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        full.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    Client client;
    const facelume::Result started = client.start(opts);
    ASSERT_TRUE(started) << started.message();
    // The one child process of this test: the service the client started.
    pid_t service = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (service == 0) std::ifstream(task.path() / "children") >> service;
    }
    ASSERT_GT(service, 0);

    ASSERT_EQ(::kill(service, SIGSTOP), 0);
    facelume::Result result;
    for (int sent = 0; result && sent < 100000; ++sent) result = client.setSkinWhite(0.5f);
    ASSERT_EQ(::kill(service, SIGCONT), 0);
    ASSERT_EQ(result.status(), Status::Timeout) << result.message();
    EXPECT_NE(result.message().find("took no control line for 2000 ms"), std::string::npos);

    ASSERT_TRUE(client.setSkinWhite(0.25f));
    EXPECT_TRUE(m_log.waitFor("modify_skin_white 0.25"));
    // The service sends its newest frame again once per read of control lines; a setter first
    // takes the one the control before brings back, so that process() returns its own frame's
    // result (without that wait about one round in 20 to 50 returned the previous frame's) and a
    // stopped service holds up a setter only for its time-out.
    // Each round starts with a frame: the service may apply lines written before its first frame
    // after that frame, and send it again for them.
    for (int round = 0; round < 500; ++round) {
        ASSERT_TRUE(roundTrip(client, 6, 6, 18, round)) << "round " << round;
        const std::size_t logged = m_log.lines().size();
        ASSERT_TRUE(client.setSkinWhite(0.5f));
        // As with a slider dragged: the service has taken the first control when the second comes.
        for (int i = 0; i < 20000 && m_log.lines().size() == logged; ++i) ::usleep(100);
        ASSERT_TRUE(client.setSkinSmooth(0.5f));
    }
    // The frame for the last control may have come before the stop, or not.
    ASSERT_EQ(::kill(service, SIGSTOP), 0);
    (void)client.setSkinWhite(0.5f);
    EXPECT_EQ(client.setSkinWhite(0.75f).status(), Status::Timeout);
    // One that ended is named so.
    ASSERT_EQ(::kill(service, SIGKILL), 0);
    EXPECT_EQ(client.setSkinWhite(0.75f).status(), Status::ServiceFailed);
}
#endif

}  // namespace
