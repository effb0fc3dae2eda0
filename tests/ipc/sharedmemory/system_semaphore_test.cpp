#include "system_semaphore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <sstream>

#include "helper_process.h"
#include "native_ipc.h"

namespace {

class SystemSemaphoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { removeTestLeftovers(); }
};

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST_F(SystemSemaphoreTest, EmptyKeyMeansNoSemaphoreAndNoError) {
    SystemSemaphore semaphore;
    EXPECT_EQ(semaphore.handle(SystemSemaphore::Open), nullptr);
    EXPECT_FALSE(semaphore.modifySemaphore(1, nativeipc::kInfinite));
    EXPECT_FALSE(semaphore.modifySemaphore(-1, 0));
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::NoError);
    EXPECT_EQ(semaphore.errorString(), "");

    semaphore.setKey(uniqueName("empty"), 1, SystemSemaphore::Open);
    EXPECT_NE(semaphore.handle(SystemSemaphore::Open), nullptr);
    semaphore.setKey("", 1, SystemSemaphore::Open);
    EXPECT_EQ(semaphore.handle(SystemSemaphore::Open), nullptr);
    EXPECT_EQ(semaphore.nativeKey(), "");
}

TEST_F(SystemSemaphoreTest, TwoObjectsShareOneLock) {
    const std::string key = uniqueName("lock");
    SystemSemaphore first;
    SystemSemaphore second;
    first.setKey(key, 1, SystemSemaphore::Open);
    second.setKey(key, 1, SystemSemaphore::Open);
    EXPECT_EQ(first.nativeKey().rfind("ipc_systemsem_facelumetestP", 0), 0u);
    EXPECT_NE(first.nativeKey().find("Xlock"), std::string::npos);

    ASSERT_TRUE(first.modifySemaphore(-1, 50));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(second.modifySemaphore(-1, 50));
    EXPECT_GE(millisecondsSince(start), 45);
    EXPECT_TRUE(first.modifySemaphore(1, nativeipc::kInfinite));
    EXPECT_TRUE(second.modifySemaphore(-1, 50));
    EXPECT_EQ(second.error(), SystemSemaphoreError::NoError);

    // Count 0 and -5 take one unit each; count 3 gives back three at once.
    EXPECT_FALSE(first.modifySemaphore(0, 0));
    EXPECT_TRUE(second.modifySemaphore(3, 0));
    EXPECT_TRUE(first.modifySemaphore(0, 0));
    EXPECT_TRUE(first.modifySemaphore(-5, 0));
    EXPECT_TRUE(first.modifySemaphore(-1, 0));
    EXPECT_FALSE(first.modifySemaphore(-1, 0));
}

TEST_F(SystemSemaphoreTest, SetKeyWithTheSameKey) {
    const std::string key = uniqueName("samekey");
    SystemSemaphore first;
    SystemSemaphore second;
    first.setKey(key, 1, SystemSemaphore::Open);
    second.setKey(key, 1, SystemSemaphore::Open);
    nativeipc::Handle handle = first.handle(SystemSemaphore::Open);

    nativeipc::setLastError(nativeipc::kErrorAccessDenied);
    first.setErrorString("earlier");
    first.setKey(key, 7, SystemSemaphore::Open);
    EXPECT_EQ(first.handle(SystemSemaphore::Open), handle);
    EXPECT_EQ(first.error(), SystemSemaphoreError::PermissionDenied) << "Open keeps the error";

    // Create reopens; the object is still held by `second`, so its count (1) stays.
    first.setKey(key, 7, SystemSemaphore::Create);
    EXPECT_EQ(first.error(), SystemSemaphoreError::NoError);
    EXPECT_NE(first.handle(SystemSemaphore::Open), nullptr);
    EXPECT_TRUE(first.modifySemaphore(-1, 0));
    EXPECT_FALSE(first.modifySemaphore(-1, 0));
}

TEST_F(SystemSemaphoreTest, ErrorKindsAndTexts) {
    SystemSemaphore semaphore;
    nativeipc::setLastError(0);
    semaphore.setErrorString("SystemSemaphore::handle");
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::NoError);

    nativeipc::setLastError(5);
    semaphore.setErrorString("SystemSemaphore::handle");
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::PermissionDenied);
    EXPECT_EQ(semaphore.errorString(),
              "SystemSemaphore::handleSystemSemaphore : permission denied");

    nativeipc::setLastError(0);
    semaphore.setErrorString("other");
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::PermissionDenied) << "code 0 keeps it";

    for (const std::uint32_t code : {8u, 1450u}) {
        nativeipc::setLastError(code);
        semaphore.setErrorString("f");
        EXPECT_EQ(semaphore.error(), SystemSemaphoreError::OutOfResources);
        EXPECT_EQ(semaphore.errorString(), "fSystemSemaphore : out of resources");
    }
    nativeipc::setLastError(87);
    semaphore.setErrorString("SystemSemaphore::modifySemaphore");
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::UnknownError);
    EXPECT_EQ(semaphore.errorString(),
              "SystemSemaphore::modifySemaphoreSystemSemaphore : unknown error 87");
    semaphore.clearError();
    EXPECT_EQ(semaphore.error(), SystemSemaphoreError::NoError);
    EXPECT_EQ(semaphore.errorString(), "");
}

TEST_F(SystemSemaphoreTest, FailedCloseIsReportedOnceAndForgotten) {
    SystemSemaphore semaphore;
    semaphore.setKey(uniqueName("close"), 1, SystemSemaphore::Open);
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
