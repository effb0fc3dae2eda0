#include "system_semaphore.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "helper_process.h"

namespace {

using SystemSemaphoreTest = ::testing::Test;

TEST_F(SystemSemaphoreTest, EmptyKeyMeansNoSemaphoreAndNoError) {
    SystemSemaphore semaphore;
    semaphore.setKey(testnames::letterName("empty"), 1, SystemSemaphore::Open);
    EXPECT_NE(semaphore.handle(SystemSemaphore::Open), nullptr);
    semaphore.setKey("", 1, SystemSemaphore::Open);
    EXPECT_EQ(semaphore.handle(SystemSemaphore::Open), nullptr);
    EXPECT_FALSE(semaphore.modifySemaphore(1, nativeipc::kInfinite));
    EXPECT_FALSE(semaphore.modifySemaphore(-1, 0));
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::NoError);
    EXPECT_EQ(semaphore.errorString(), "");
}

TEST_F(SystemSemaphoreTest, TwoObjectsShareOneCount) {
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
}

TEST_F(SystemSemaphoreTest, FailedCloseIsReportedOnceAndForgotten) {
    SystemSemaphore semaphore;
    semaphore.setKey(testnames::letterName("close"), 1, SystemSemaphore::Open);
    // Closing the handle behind the object's back makes its own close fail.
    ASSERT_TRUE(nativeipc::closeHandle(semaphore.handle(SystemSemaphore::Open)));
    std::ostringstream output;
    std::streambuf* const console = std::cout.rdbuf(output.rdbuf());
    semaphore.cleanHandle();
    semaphore.cleanHandle();
    std::cout.rdbuf(console);
    EXPECT_EQ(output.str(), "SystemSemaphore::CloseHandle : sem failed\n");
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::NoError);
    EXPECT_NE(semaphore.handle(SystemSemaphore::Open), nullptr) << "the next use opens it anew";
}

}  // namespace
