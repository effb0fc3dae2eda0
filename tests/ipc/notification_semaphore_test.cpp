#include "notification_semaphore.h"

#include <gtest/gtest.h>

#include <QProcess>

#include "channel_client.h"
#include "protocol.h"

namespace {

std::string nativeName(const QString& key) {
    return protocol::notificationNativeName(key.toStdString());
}

// Far more notifications than a System V semaphore with undo lets one process give or take.
TEST(NotificationSemaphoreTest, HundredThousandNotificationsBetweenTwoProcessesArriveAll) {
    constexpr int kCount = 100000;
    const QString there = testName("flt_notify_there");
    const QString back = testName("flt_notify_back");
    NotificationSemaphore toPeer(nativeName(there));
    NotificationSemaphore fromPeer(nativeName(back));

    QProcess peer;
    peer.start(NOTIFICATION_SEMAPHORE_PEER, {there, back, QString::number(kCount)});
    ASSERT_TRUE(peer.waitForStarted(5000));
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(toPeer.release(1)) << i;
    const bool finished = peer.waitForFinished(120000);
    if (!finished) peer.kill();
    ASSERT_TRUE(finished);
    EXPECT_EQ(peer.exitCode(), 0);
    EXPECT_EQ(fromPeer.takeAll(), kCount);
}

}  // namespace
