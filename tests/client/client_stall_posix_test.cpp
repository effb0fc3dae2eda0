// A service that stops reading its control pipe (stopped, or stuck) must not hang the client:
// a control gives up after its time-out with a message, and works again once the service reads.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "client_test_support.h"
#include "facelume_client.h"

namespace {

// The one child process of this test: the service the client started.
pid_t startedService() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream children(task.path() / "children");
        pid_t pid = 0;
        if (children >> pid) return pid;
    }
    return 0;
}

TEST(ClientStallTest, AControlToAStoppedServiceTimesOutAndTheNextOneArrives) {
    EngineLog log;
    const clienttest::Names names = clienttest::uniqueNames();
    facelume::ServiceOptions options;
    options.executable = FACELUME_RECORDING_SERVICE;
    options.channel.receiveName = names.receive;
    options.channel.sendName = names.send;
    options.channel.size = 4096;
    facelume::Client client;
    ASSERT_TRUE(client.start(options));
    const pid_t service = startedService();
    ASSERT_GT(service, 0);

    ASSERT_EQ(::kill(service, SIGSTOP), 0);
    facelume::Result result;
    for (int sent = 0; result && sent < 100000; ++sent) result = client.setSkinWhite(0.5f);
    ASSERT_EQ(::kill(service, SIGCONT), 0);
    ASSERT_EQ(result.status(), facelume::Status::Timeout) << result.message();
    EXPECT_NE(result.message().find("took no control line for 2000 ms"), std::string::npos);

    ASSERT_TRUE(client.setSkinWhite(0.25f));
    EXPECT_TRUE(log.waitFor("modify_skin_white 0.25"));
}

}  // namespace
