// The platform layer and the semaphore class over it: error codes, sizes, counts and the lifetime
// of named objects, with second processes where it matters.

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "helper_process.h"
#include "native_ipc.h"
#include "notification_semaphore.h"
#include "platform_safe_key.h"
#include "system_semaphore.h"

namespace {

using namespace nativeipc;

using NativeIpcTest = ::testing::Test;

TEST_F(NativeIpcTest, SemaphoreCountsWaitsAndLimits) {
    const std::u16string name = ansiToWide(testnames::letterName("semaphore"));
    Handle first = createSemaphore(name, 2);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(lastError(), kErrorSuccess);
    Handle second = createSemaphore(name, 100);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(lastError(), kErrorAlreadyExists) << "the existing count stays";

    EXPECT_EQ(waitForSingleObject(first, 0), kWaitObject0);
    EXPECT_EQ(waitForSingleObject(second, kInfinite), kWaitObject0);
    setLastError(0);
    EXPECT_EQ(waitForSingleObject(first, 50), kWaitTimeout);
    EXPECT_EQ(lastError(), kErrorSuccess) << "a time-out sets no error";

    EXPECT_TRUE(releaseSemaphore(first, 1));
    EXPECT_EQ(waitForSingleObject(second, 0), kWaitObject0);
    EXPECT_EQ(waitForSingleObject(first, 0), kWaitTimeout);

    EXPECT_TRUE(closeHandle(first));
    EXPECT_TRUE(closeHandle(second));
    EXPECT_EQ(waitForSingleObject(first, 0), kWaitFailed);
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    // A lock holds one unit at most: a release too many fails and adds nothing.
    Handle lock = createSemaphore(name, 1, 1);
    EXPECT_EQ(lastError(), kErrorSuccess) << "the last close removed the semaphore";
    EXPECT_FALSE(releaseSemaphore(lock, 1));
    EXPECT_EQ(lastError(), kErrorTooManyPosts);
    EXPECT_EQ(waitForSingleObject(lock, 0), kWaitObject0);
    EXPECT_EQ(waitForSingleObject(lock, 0), kWaitTimeout);
    EXPECT_TRUE(releaseSemaphore(lock, 1));
    EXPECT_TRUE(closeHandle(lock));
}

TEST_F(NativeIpcTest, NamesOpenedAndClosedConcurrentlyStayOneObject) {
    const std::string lock = testnames::letterName("churn");
    const std::string key = testnames::letterName("churn_inside");
    Handle inside =
        createFileMapping(ansiToWide(makePlatformSafeKey(key, kSharedMemoryKeyPrefix)), 1);
    ASSERT_NE(inside, nullptr);
    HelperProcess first;
    HelperProcess second;
    ASSERT_TRUE(first.start({"churn", lock, key, "300"}));
    ASSERT_TRUE(second.start({"churn", lock, key, "300"}));
    EXPECT_EQ(first.waitForExit(60000), 0) << "8: both processes held the lock at once";
    EXPECT_EQ(second.waitForExit(60000), 0);
    EXPECT_TRUE(closeHandle(inside));
}

// Far more notifications than a System V semaphore with undo lets one process give or take.
TEST_F(NativeIpcTest, HundredThousandNotificationsBetweenTwoProcessesArriveAll) {
    constexpr int kCount = 100000;
    const std::string there = testnames::letterName("notifythere");
    const std::string back = testnames::letterName("notifyback");
    NotificationSemaphore toPeer(there);
    NotificationSemaphore fromPeer(back);
    HelperProcess peer;
    ASSERT_TRUE(peer.start({"notify", there, back, std::to_string(kCount)}));
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(toPeer.release(1)) << i;
    EXPECT_EQ(peer.waitForExit(120000), 0);
    EXPECT_EQ(fromPeer.takeAll(), kCount);
}

TEST_F(NativeIpcTest, SystemSemaphoresShareOneCountAndAFailedCloseIsReportedOnce) {
    const std::string key = testnames::letterName("lock");
    SystemSemaphore first;
    SystemSemaphore second;
    first.setKey(key, 1, SystemSemaphore::Open);
    second.setKey(key, 1, SystemSemaphore::Open);
    EXPECT_EQ(first.nativeKey(), makePlatformSafeKey(key, kSystemSemaphoreKeyPrefix));

    ASSERT_TRUE(first.modifySemaphore(-1, 50));
    EXPECT_FALSE(second.modifySemaphore(0, 50)) << "count 0 takes a unit too";
    EXPECT_TRUE(second.modifySemaphore(3, 0)) << "gives back three units at once";
    EXPECT_TRUE(first.modifySemaphore(-5, 0)) << "takes one unit";
    EXPECT_TRUE(second.modifySemaphore(0, nativeipc::kInfinite));
    EXPECT_TRUE(first.modifySemaphore(-1, 0));
    EXPECT_FALSE(first.modifySemaphore(-1, 0));
    EXPECT_EQ(second.error(), SystemSemaphoreError::NoError);

    // An empty key means no semaphore, and no error either.
    first.setKey("", 1, SystemSemaphore::Open);
    EXPECT_EQ(first.handle(SystemSemaphore::Open), nullptr);
    EXPECT_FALSE(first.modifySemaphore(1, nativeipc::kInfinite));
    EXPECT_EQ(first.error(), SystemSemaphoreError::NoError);

    // Closing the handle behind the object's back makes its own close fail: said once, and the
    // handle is forgotten.
    ASSERT_TRUE(nativeipc::closeHandle(second.handle(SystemSemaphore::Open)));
    std::ostringstream output;
    std::streambuf* const console = std::cout.rdbuf(output.rdbuf());
    second.cleanHandle();
    second.cleanHandle();
    std::cout.rdbuf(console);
    EXPECT_EQ(output.str(), "SystemSemaphore::CloseHandle : sem failed\n");
    EXPECT_EQ(second.error(), SystemSemaphoreError::NoError);
    EXPECT_NE(second.handle(SystemSemaphore::Open), nullptr) << "the next use opens it anew";
}

}  // namespace
