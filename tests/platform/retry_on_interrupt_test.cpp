// A signal that interrupts a blocking read makes the helper read again; other failures come back.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "retry_on_interrupt.h"
#include "unique_handle.h"

namespace {

void ignoreSignal(int) {}

}  // namespace

TEST(RetryOnInterruptTest, ReadsAgainAfterASignalAndReturnsOtherFailures) {
    // Without SA_RESTART the kernel ends the blocked read with EINTR instead of resuming it.
    struct sigaction interrupting {};
    interrupting.sa_handler = ignoreSignal;
    sigemptyset(&interrupting.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &interrupting, &previous), 0);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const platform::UniqueHandle readEnd(ends[0]);
    const platform::UniqueHandle writeEnd(ends[1]);
    std::atomic<int> attempts{0};
    std::atomic<bool> finished{false};
    char received = 0;
    ssize_t result = 0;
    std::thread reader([&] {
        result = platform::retryOnInterrupt([&] {
            ++attempts;
            return ::read(static_cast<int>(readEnd.get()), &received, 1);
        });
        finished = true;
    });
    // Signals that come before the read blocks interrupt nothing: keep sending until one did.
    while (attempts < 2 && !finished) {
        pthread_kill(reader.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const char sent = 'x';
    ASSERT_EQ(::write(static_cast<int>(writeEnd.get()), &sent, 1), 1);
    reader.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(received, sent);
    EXPECT_GE(attempts, 2);

    attempts = 0;
    errno = 0;
    EXPECT_EQ(platform::retryOnInterrupt([&] {
                  ++attempts;
                  return ::read(-1, &received, 1);
              }),
              -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(attempts, 1);
}
