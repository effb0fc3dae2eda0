// Segments shrunk by another process (POSIX: shm_open and ftruncate on the segment's file).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "channel_client.h"
#include "platform_safe_key.h"
#include "service_process.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr int kDefaultSize = 921700;

class ChannelServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
};

// Whoever may write a segment may shrink it; the service then copies only what is left instead
// of dying of SIGBUS on the pages past the new end.
TEST_F(ChannelServiceTest, ShrunkSegmentsAreCopiedOnlyAsFarAsTheyReach) {
    // A letter beyond ASCII: the segment keys are UTF-8 on both sides.
    const ChannelNames names = channelNames(QString::fromUtf8("flt_shr\xc3\xbcnk"));
    ServiceProcess service;
    ASSERT_TRUE(service.launch({names.receive, names.send, QString::number(kDefaultSize)}));
    ChannelClient client(names.receive, names.send, kDefaultSize);
    ASSERT_TRUE(client.join(kWaitMs));
    for (const QString& name : {names.receive, names.send}) {
        const std::string file = "/" + makePlatformSafeKey((name + "_sharedMemory").toStdString(),
                                                           kSharedMemoryKeyPrefix);
        const int fd = shm_open(file.c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0) << file;
        EXPECT_EQ(ftruncate(fd, 4096), 0);
        close(fd);
    }
    const QByteArray frame = makeFrame(20, 20, 3);
    EXPECT_TRUE(client.writeMessage(frame) && client.readMessage(kWaitMs) == invertedFrame(frame));
    EXPECT_EQ(service.state(), QProcess::Running);
}

}  // namespace
