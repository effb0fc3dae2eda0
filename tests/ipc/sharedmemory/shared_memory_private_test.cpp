#include <gtest/gtest.h>

#include <cstring>

#include "helper_process.h"
#include "notification_semaphore.h"
#include "shared_memory_p.h"

namespace {

constexpr auto kReadWrite = SharedMemoryPrivate::ReadWrite;

// A helper process that uses segment `key` in `mode` and has signalled that it is ready. The
// signals are made before the helper starts, so that they outlive its handles.
struct SegmentHelper {
    SegmentHelper(const std::string& key, int size, const std::string& mode)
        : ready(key + "_ready"), go(key + "_go") {
        started = process.start(
                      {"segment", key, std::to_string(size), key + "_ready", key + "_go", mode}) &&
                  ready.tryAcquire(10000) == NotificationSemaphore::Wait::Acquired;
    }
    int finish() {
        go.release();
        return process.waitForExit(10000);
    }
    NotificationSemaphore ready;
    NotificationSemaphore go;
    HelperProcess process;
    bool started = false;
};

TEST(SharedMemoryPrivateTest, FailuresAndTheirKinds) {
    SharedMemoryPrivate segment;
    segment.setKey(testnames::letterName("failures"));
    for (const int size : {0, -5}) {
        EXPECT_FALSE(segment.create(size, kReadWrite));
        EXPECT_EQ(segment.error, SharedMemoryError::InvalidSize);
    }
    EXPECT_FALSE(segment.detach());
    EXPECT_EQ(segment.error, SharedMemoryError::InvalidSize) << "detach records nothing";
    EXPECT_FALSE(segment.unlock());

    SharedMemoryPrivate unkeyed;
    EXPECT_FALSE(unkeyed.create(4096, kReadWrite));
    EXPECT_EQ(unkeyed.error, SharedMemoryError::KeyError);
    EXPECT_FALSE(unkeyed.attach(kReadWrite));
    EXPECT_EQ(unkeyed.error, SharedMemoryError::KeyError);
    EXPECT_FALSE(unkeyed.tryLock(0));
    EXPECT_EQ(unkeyed.error, SharedMemoryError::LockError);
}

TEST(SharedMemoryPrivateTest, CreateOrAttachInEitherOrderAcrossProcesses) {
    const std::string key = testnames::letterName("order");
    const std::string marker = "helper:" + key;
    {
        SegmentHelper helper(key, 921700, "hold");
        ASSERT_TRUE(helper.started);
        SharedMemoryPrivate segment;
        segment.setKey(key);
        EXPECT_EQ(segment.nativeKey, makePlatformSafeKey(key, kSharedMemoryKeyPrefix));
        EXPECT_FALSE(segment.create(4096, kReadWrite));
        EXPECT_EQ(segment.error, SharedMemoryError::AlreadyExists);
        ASSERT_TRUE(segment.attach(SharedMemoryPrivate::ReadOnly));
        EXPECT_EQ(segment.size, 925696) << "the existing segment's size, in whole pages";
        EXPECT_EQ(static_cast<const char*>(segment.memory), marker);
        EXPECT_EQ(helper.finish(), 0);
    }
    SharedMemoryPrivate segment;
    segment.setKey(key);
    ASSERT_TRUE(segment.create(5000, kReadWrite)) << "the helper's segment is gone";
    EXPECT_FALSE(segment.attach(kReadWrite)) << "already attached";
    EXPECT_EQ(segment.error, SharedMemoryError::NoError);
    SegmentHelper helper(key, 50, "hold");
    ASSERT_TRUE(helper.started);
    EXPECT_EQ(static_cast<const char*>(segment.memory), marker);
    EXPECT_EQ(helper.finish(), 0);
}

TEST(SharedMemoryPrivateTest, LockIsReentrantAndExclusiveBetweenProcesses) {
    const std::string key = testnames::letterName("lock");
    SegmentHelper helper(key, 4096, "lock");
    ASSERT_TRUE(helper.started);
    SharedMemoryPrivate first;
    SharedMemoryPrivate second;
    first.setKey(key);
    second.setKey(key);
    ASSERT_TRUE(first.attach(kReadWrite));
    ASSERT_TRUE(second.attach(kReadWrite));
    EXPECT_FALSE(first.tryLock(50));
    EXPECT_EQ(first.error, SharedMemoryError::LockError);

    helper.go.release();
    ASSERT_TRUE(first.tryLock(10000)) << "the helper unlocked";
    EXPECT_EQ(static_cast<const char*>(first.memory), "helper:" + key);
    EXPECT_TRUE(first.tryLock(0)) << "the holder takes no second unit";
    EXPECT_FALSE(second.tryLock(0));
    EXPECT_TRUE(first.unlock());
    EXPECT_FALSE(first.unlock());
    EXPECT_TRUE(second.tryLock(0));
    EXPECT_FALSE(first.tryLock(0)) << "one unlock gave back exactly one unit";
    EXPECT_TRUE(second.unlock());
    EXPECT_EQ(helper.process.waitForExit(10000), 0);
}

// A killed process leaves nothing behind: a segment it held alone is gone, and a lock it held is
// free at once for those still attached (Linux; a Windows semaphore has no owner to die).
TEST(SharedMemoryPrivateTest, KilledProcessLeavesNothingBehind) {
    for (const std::string mode : {"crash", "crash-locked"}) {
        SCOPED_TRACE(mode);
        const std::string key = testnames::letterName(mode);
        {
            SegmentHelper helper(key, 4096, mode);
            ASSERT_TRUE(helper.started);
            helper.process.kill();
        }
        SharedMemoryPrivate segment;
        segment.setKey(key);
        EXPECT_FALSE(segment.attach(kReadWrite)) << "nobody holds the segment any more";
        EXPECT_EQ(segment.error, SharedMemoryError::NotFound);
        ASSERT_TRUE(segment.create(4096, kReadWrite)) << segment.errorString;
        EXPECT_EQ(static_cast<const char*>(segment.memory), std::string()) << "fresh contents";
        EXPECT_TRUE(segment.tryLock(50)) << "the lock of the killed run is not inherited";
        EXPECT_TRUE(segment.unlock());
        if (mode != "crash-locked" || !nativeipc::hasMappingLocks()) continue;
        SegmentHelper holder(key, 4096, mode);
        ASSERT_TRUE(holder.started);
        EXPECT_FALSE(segment.tryLock(0));
        holder.process.kill();
        EXPECT_TRUE(segment.tryLock(1000));
        EXPECT_TRUE(segment.unlock());
    }
}

}  // namespace
