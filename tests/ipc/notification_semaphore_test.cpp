#include "notification_semaphore.h"

#include <gtest/gtest.h>

#include <QProcess>

#include "native_ipc.h"

namespace {

std::u16string nativeName(const QString& key) {
    const QString name = NotificationSemaphore::nativeKey(key);
    return std::u16string(reinterpret_cast<const char16_t*>(name.utf16()), name.size());
}

// Takes every unit the semaphore holds; waits a little for the first ones only.
int drain(nativeipc::Handle handle) {
    int taken = 0;
    while (nativeipc::waitForSingleObject(handle, taken == 0 ? 5000 : 0) == nativeipc::kWaitObject0)
        ++taken;
    return taken;
}

TEST(NotificationSemaphoreTest, NativeKeyIsLettersAndDigestOfTheKey) {
    EXPECT_EQ(NotificationSemaphore::nativeKey("n2_sharedMemory_sys"),
              "qipc_systemsem_nsharedMemorysysd9c4c68e47be099ab394929e471406cbfb176b1c");
    EXPECT_EQ(NotificationSemaphore::nativeKey("a1 b"),
              "qipc_systemsem_ab55f04177caa6054c9417b8e6ad97bfa4480c4250");
    EXPECT_EQ(NotificationSemaphore::nativeKey(""), "");
    // Non-ASCII letters are dropped from the letters, but the digest covers them.
    const QString umlaut = QString::fromUtf8("x\xc3\xbc");
    EXPECT_TRUE(NotificationSemaphore::nativeKey(umlaut).startsWith("qipc_systemsem_x"));
    EXPECT_EQ(NotificationSemaphore::nativeKey(umlaut).size(), 15 + 1 + 40);
    EXPECT_NE(NotificationSemaphore::nativeKey(umlaut), NotificationSemaphore::nativeKey("x"));
}

TEST(NotificationSemaphoreTest, OpensWithItsCountAndKeepsUnitsWhileHeld) {
    const QString key = "flt_notify_count";
    NotificationSemaphore first(key);
    ASSERT_TRUE(first.release(3));
    // A second opener finds the units already there; the initial value does not reset them.
    NotificationSemaphore second(key, 5);
    const nativeipc::Handle counter = nativeipc::createSemaphore(nativeName(key), 0);
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
    const QString there = "flt_notify_there";
    const QString back = "flt_notify_back";
    NotificationSemaphore toPeer(there);
    const nativeipc::Handle fromPeer = nativeipc::createSemaphore(nativeName(back), 0);
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
