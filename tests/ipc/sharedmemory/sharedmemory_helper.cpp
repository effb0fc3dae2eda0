// Second process for the cross-process tests. Exit codes: 0 done, 2 bad arguments, 3 setup
// failed, 4 lock failed, 5 not killed in time, 6 no "go" signal, 8 two processes held the lock.
//
//   segment KEY SIZE READY GO hold|lock|crash|crash-locked
//       creates or attaches segment KEY, takes its lock for lock modes, writes "helper:KEY" at
//       offset 0, signals READY, then waits for GO (unlocks, detaches) or, for crash modes, to be
//       killed.
//   churn NAME KEY ROUNDS
//       ROUNDS times: opens semaphore NAME (count 1), takes it, checks and toggles the "inside"
//       byte of segment KEY, releases and closes it.
//   notify TAKE GIVE COUNT
//       takes COUNT notifications from semaphore TAKE, then gives COUNT, one at a time, on GIVE.

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "native_ipc.h"
#include "notification_semaphore.h"
#include "platform_safe_key.h"
#include "shared_memory_p.h"

namespace {

constexpr std::uint32_t kSignalTimeoutMs = 10000;

int useSegment(const std::string& key, int size, const std::string& ready, const std::string& go,
               const std::string& mode) {
    SharedMemoryPrivate segment;
    segment.setKey(key);
    if (!segment.create(size, SharedMemoryPrivate::ReadWrite) &&
        !segment.attach(SharedMemoryPrivate::ReadWrite))
        return 3;
    const bool locking = mode == "lock" || mode == "crash-locked";
    if (locking && !segment.tryLock(kSignalTimeoutMs)) return 4;
    const std::string marker = "helper:" + key;
    std::memcpy(segment.memory, marker.c_str(), marker.size() + 1);
    NotificationSemaphore(ready).release(1);
    if (mode.rfind("crash", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 5;
    }
    const bool released = NotificationSemaphore(go).tryAcquire(kSignalTimeoutMs) ==
                          NotificationSemaphore::Wait::Acquired;
    if (locking) segment.unlock();
    segment.detach();
    return released ? 0 : 6;
}

// Each round opens and closes the lock's name, so the first-open and last-close decisions of the
// two churning processes race; the lock must still let one process in at a time.
int churn(const std::string& name, const std::string& key, int rounds) {
    SharedMemoryPrivate segment;
    segment.setKey(key);
    if (!segment.attach(SharedMemoryPrivate::ReadWrite)) return 3;
    auto* inside = static_cast<volatile char*>(segment.memory);
    for (int round = 0; round < rounds; ++round) {
        nativeipc::Handle lock = nativeipc::createSemaphore(ansiToWide(name), 1);
        if (lock == nullptr || nativeipc::waitForSingleObject(lock, kSignalTimeoutMs) != 0)
            return 4;
        if (*inside != 0) return 8;
        *inside = 1;
        std::this_thread::yield();
        *inside = 0;
        nativeipc::releaseSemaphore(lock, 1);
        nativeipc::closeHandle(lock);
    }
    return 0;
}

int notify(const std::string& take, const std::string& give, int count) {
    NotificationSemaphore from(take);
    NotificationSemaphore to(give);
    for (int i = 0; i < count; ++i) {
        if (!from.acquire()) return 4;
    }
    for (int i = 0; i < count; ++i) {
        if (!to.release(1)) return 3;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "segment" && argc == 7)
        return useSegment(argv[2], std::stoi(argv[3]), argv[4], argv[5], argv[6]);
    if (command == "churn" && argc == 5) return churn(argv[2], argv[3], std::stoi(argv[4]));
    if (command == "notify" && argc == 5) return notify(argv[2], argv[3], std::stoi(argv[4]));
    return 2;
}
