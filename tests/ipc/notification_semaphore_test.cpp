#include "notification_semaphore.h"

#include <gtest/gtest.h>

#include <QProcess>

#include "channel_client.h"
#include "native_ipc.h"
#include "protocol.h"

namespace {

std::string nativeName(const QString& key) {
    return protocol::notificationNativeName(key.toStdString());
}

std::u16string wideNativeName(const QString& key) {
    const std::string name = nativeName(key);
    return std::u16string(name.begin(), name.end());
}

// Takes every unit the semaphore holds; waits a little for the first ones only.
int drain(nativeipc::Handle handle) {
    int taken = 0;
    while (nativeipc::waitForSingleObject(handle, taken == 0 ? 5000 : 0) == nativeipc::kWaitObject0)
        ++taken;
    return taken;
}

TEST(NotificationSemaphoreTest, OpensWithItsCountAndKeepsUnitsWhileHeld) {
    const QString key = testName("flt_notify_count");
    NotificationSemaphore first(nativeName(key));
    ASSERT_TRUE(first.release(3));
    // A second opener finds the units already there; the initial value does not reset them.
    NotificationSemaphore second(nativeName(key), 5);
    const nativeipc::Handle counter = nativeipc::createSemaphore(wideNativeName(key), 0);
    ASSERT_NE(counter, nullptr);
    EXPECT_TRUE(second.acquire());
    EXPECT_EQ(drain(counter), 2);
    EXPECT_FALSE(first.release(0));
    nativeipc::closeHandle(counter);

    NotificationSemaphore unnamed("");
    EXPECT_FALSE(unnamed.release(1));
    EXPECT_FALSE(unnamed.acquire());
}

// Far more notifications than a System V semaphore with undo lets one process give or take.
TEST(NotificationSemaphoreTest, HundredThousandNotificationsBetweenTwoProcessesArriveAll) {
    constexpr int kCount = 100000;
    const QString there = testName("flt_notify_there");
    const QString back = testName("flt_notify_back");
    NotificationSemaphore toPeer(nativeName(there));
    const nativeipc::Handle fromPeer = nativeipc::createSemaphore(wideNativeName(back), 0);
    ASSERT_NE(fromPeer, nullptr);

    QProcess peer;
    peer.start(NOTIFICATION_SEMAPHORE_PEER, {there, back, QString::number(kCount)});
    ASSERT_TRUE(peer.waitForStarted(5000));
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(toPeer.release(1)) << i;
    const bool finished = peer.waitForFinished(120000);
    if (!finished) peer.kill();
    ASSERT_TRUE(finished);
    EXPECT_EQ(peer.exitCode(), 0);
    EXPECT_EQ(drain(fromPeer), kCount);
    nativeipc::closeHandle(fromPeer);
}

}  // namespace
