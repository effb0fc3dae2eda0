#include <gtest/gtest.h>

#include <cstring>

#include "helper_process.h"
#include "shared_memory_p.h"

namespace {

constexpr auto kReadWrite = SharedMemoryPrivate::ReadWrite;

class SharedMemoryPrivateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { removeTestLeftovers(); }

    static void expectError(const SharedMemoryPrivate& segment, SharedMemoryError kind,
                            const std::string& text) {
        EXPECT_EQ(segment.error, kind);
        EXPECT_EQ(segment.errorString, text);
    }
};

// A helper process that uses segment `key` in `mode` and has signalled that it is ready.
struct SegmentHelper {
    SegmentHelper(const std::string& key, int size, const std::string& mode)
        : ready(key + "_ready"), go(key + "_go") {
        started =
            process.start({"segment", key, std::to_string(size), ready.name(), go.name(), mode}) &&
            ready.wait();
    }
    int finish() {
        go.release();
        return process.waitForExit(10000);
    }
    TestSignal ready;
    TestSignal go;
    HelperProcess process;
    bool started = false;
};

TEST_F(SharedMemoryPrivateTest, CreateThenAttachWithinOneProcess) {
    const std::string key = uniqueName("create");
    SharedMemoryPrivate creator;
    creator.setKey(key);
    EXPECT_EQ(creator.nativeKey.rfind("sm_sharedmemory_facelumetestP", 0), 0u);
    ASSERT_TRUE(creator.create(921700, kReadWrite)) << creator.errorString;
    EXPECT_EQ(creator.size, 925696) << "whole pages";
    EXPECT_FALSE(creator.attach(kReadWrite)) << "already attached";
    expectError(creator, SharedMemoryError::NoError, "");

    SharedMemoryPrivate other;
    other.setKey(key);
    EXPECT_FALSE(other.create(100, kReadWrite));
    expectError(other, SharedMemoryError::AlreadyExists, "SharedMemory::create : already exists");
    ASSERT_TRUE(other.attach(kReadWrite));
    EXPECT_EQ(other.size, 925696) << "the existing segment's size, not the one asked for";
    std::strcpy(static_cast<char*>(creator.memory) + 921000, "both see it");
    SharedMemoryPrivate reader;
    reader.setKey(key);
    ASSERT_TRUE(reader.attach(SharedMemoryPrivate::ReadOnly));
    EXPECT_STREQ(static_cast<char*>(other.memory) + 921000, "both see it");
    EXPECT_STREQ(static_cast<char*>(reader.memory) + 921000, "both see it");
}

TEST_F(SharedMemoryPrivateTest, FailuresAndTheirTexts) {
    SharedMemoryPrivate segment;
    segment.setKey(uniqueName("failures"));
    EXPECT_FALSE(segment.attach(kReadWrite));
    expectError(segment, SharedMemoryError::NotFound, "SharedMemory::handle : doesn't exist");
    for (const int size : {0, -5}) {
        EXPECT_FALSE(segment.create(size, kReadWrite));
        expectError(segment, SharedMemoryError::InvalidSize,
                    "SharedMemory::create : create size is less then 0");
    }
    EXPECT_FALSE(segment.detach());
    EXPECT_EQ(segment.error, SharedMemoryError::InvalidSize) << "detach records nothing";
    EXPECT_FALSE(segment.unlock());

    SharedMemoryPrivate unkeyed;
    EXPECT_FALSE(unkeyed.create(4096, kReadWrite));
    expectError(unkeyed, SharedMemoryError::KeyError, "SharedMemory::create : key error");
    EXPECT_FALSE(unkeyed.attach(kReadWrite));
    expectError(unkeyed, SharedMemoryError::KeyError, "SharedMemory::handle : unable to make key");
    EXPECT_FALSE(unkeyed.tryLock(0));
    expectError(unkeyed, SharedMemoryError::LockError, "SharedMemory::tryLock : unable to tryLock");
}

TEST_F(SharedMemoryPrivateTest, DetachAndRekey) {
    const std::string key = uniqueName("detach");
    SharedMemoryPrivate segment;
    segment.setKey(key);
    ASSERT_TRUE(segment.create(10000, kReadWrite));
    void* memory = segment.memory;
    segment.setKey(key);
    EXPECT_EQ(segment.memory, memory) << "the same key changes nothing";
    segment.setKey(uniqueName("detach_other"));
    EXPECT_EQ(segment.memory, nullptr);
    segment.setKey(key);
    EXPECT_FALSE(segment.attach(kReadWrite)) << "the last view went away with the old key";
    EXPECT_EQ(segment.error, SharedMemoryError::NotFound);

    ASSERT_TRUE(segment.create(100, kReadWrite));
    EXPECT_EQ(segment.size, 4096);
    EXPECT_TRUE(segment.detach());
    EXPECT_EQ(segment.memory, nullptr);
    EXPECT_EQ(segment.size, 0);
    EXPECT_EQ(segment.mappingHandle, nullptr);
}

TEST_F(SharedMemoryPrivateTest, LockIsReentrantAndExclusive) {
    const std::string key = uniqueName("lock");
    SharedMemoryPrivate first;
    SharedMemoryPrivate second;
    first.setKey(key);
    second.setKey(key);
    ASSERT_TRUE(first.create(4096, kReadWrite));
    ASSERT_TRUE(second.attach(kReadWrite));
    EXPECT_TRUE(first.tryLock(50));
    EXPECT_TRUE(first.tryLock(50)) << "the holder takes no second unit";
    EXPECT_FALSE(second.tryLock(50));
    expectError(second, SharedMemoryError::LockError, "SharedMemory::tryLock : unable to tryLock");
    EXPECT_TRUE(first.unlock());
    EXPECT_FALSE(first.unlock());
    EXPECT_TRUE(second.tryLock(50));
    EXPECT_FALSE(first.tryLock(0)) << "one unlock gave back exactly one unit";
    EXPECT_TRUE(second.unlock());
}

TEST_F(SharedMemoryPrivateTest, CreateOrAttachInEitherOrderAcrossProcesses) {
    const std::string key = uniqueName("order");
    const std::string marker = "helper:" + key;
    {
        SegmentHelper helper(key, 921700, "hold");
        ASSERT_TRUE(helper.started);
        SharedMemoryPrivate segment;
        segment.setKey(key);
        EXPECT_FALSE(segment.create(4096, kReadWrite));
        EXPECT_EQ(segment.error, SharedMemoryError::AlreadyExists);
        ASSERT_TRUE(segment.attach(kReadWrite));
        EXPECT_EQ(segment.size, 925696);
        EXPECT_EQ(static_cast<const char*>(segment.memory), marker);
        EXPECT_EQ(helper.finish(), 0);
    }
    SharedMemoryPrivate segment;
    segment.setKey(key);
    ASSERT_TRUE(segment.create(5000, kReadWrite)) << "the helper's segment is gone";
    SegmentHelper helper(key, 50, "hold");
    ASSERT_TRUE(helper.started);
    EXPECT_EQ(static_cast<const char*>(segment.memory), marker);
    EXPECT_EQ(helper.finish(), 0);
}

TEST_F(SharedMemoryPrivateTest, LockBetweenProcesses) {
    const std::string key = uniqueName("crosslock");
    SegmentHelper helper(key, 4096, "lock");
    ASSERT_TRUE(helper.started);
    SharedMemoryPrivate segment;
    segment.setKey(key);
    ASSERT_TRUE(segment.attach(kReadWrite));
    EXPECT_FALSE(segment.tryLock(50));
    EXPECT_EQ(segment.error, SharedMemoryError::LockError);

    helper.go.release();
    ASSERT_TRUE(segment.tryLock(10000));
    EXPECT_EQ(static_cast<const char*>(segment.memory), "helper:" + key);
    EXPECT_TRUE(segment.unlock());
    EXPECT_EQ(helper.process.waitForExit(10000), 0);
}

TEST_F(SharedMemoryPrivateTest, KilledProcessLeavesNothingBehind) {
    for (const std::string mode : {"crash", "crash-locked"}) {
        SCOPED_TRACE(mode);
        const std::string key = uniqueName(mode);
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
    }
}

}  // namespace
