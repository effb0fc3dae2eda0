// The Windows pipe's two waits for a starting service (its connection, then its announcement)
// against a service that hangs (silent_service), also one whose helper process outlives it with
// its output handles, then the real service on the same names with the same client, twice: the
// second start follows a service killed by the client.
//
// Wine completes a cancelled pipe operation inside CancelIoEx, so the late write into a returned
// wait's OVERLAPPED that the pipe guards against cannot be provoked here; this checks what the
// time-outs report and that the pipe serves a real service after them.

#include <gtest/gtest.h>

#include <string>

#include "client_test_support.h"
#include "facelume_client.h"

using facelume::Client;
using facelume::Status;

TEST(ClientPipeWinTest, BothStartWaitsTimeOutAndTheClientThenServesTheRealService) {
    EngineLog log;
    facelume::ServiceOptions options = clienttest::serviceOptions();
    options.executable = SILENT_SERVICE;
    options.startTimeoutMs = 300;

    const std::string notConnected =
        "(the service did not connect to \\\\.\\pipe\\" + options.channel.sendName + "_pipe)";
    const struct {
        const char* connect;
        const char* helper;
        std::string reported;
    } hangs[] = {
        {nullptr, nullptr, notConnected},
        {"1", nullptr, "(the service connected but did not announce itself)"},
        {nullptr, "1", notConnected},
    };
    Client client;
    for (const auto& hang : hangs) {
        SCOPED_TRACE(hang.reported);
        setEnvironment("FACELUME_SILENT_CONNECT", hang.connect);
        setEnvironment("FACELUME_SILENT_HELPER", hang.helper);
        const facelume::Result result = client.start(options);
        EXPECT_EQ(result.status(), Status::Timeout) << result.message();
        EXPECT_NE(result.message().find("within 300 ms " + hang.reported), std::string::npos)
            << result.message();
        EXPECT_FALSE(client.isConnected());
    }
    setEnvironment("FACELUME_SILENT_CONNECT", nullptr);
    setEnvironment("FACELUME_SILENT_HELPER", nullptr);

    options.executable = FACELUME_RECORDING_SERVICE;
    options.startTimeoutMs = 20000;
    for (int run = 0; run < 2; ++run) {
        const facelume::Result started = client.start(options);
        ASSERT_TRUE(started) << started.message();
        EXPECT_TRUE(clienttest::roundTrip(client, 16, 9, 50, run * 7));
        client.close();
    }
}
