// Linux side of the platform layer: named file mappings on POSIX shared memory ("/N", shm_open),
// named semaphores on POSIX named semaphores ("/N", sem_open), with Windows error codes. Handles
// and views are this process's references to named objects (named_object_posix.h keeps their
// Windows-like lifetime across processes); one mutex guards them, and waits run outside it.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "named_object_posix.h"
#include "native_ipc.h"
#include "retry_on_interrupt.h"
#include "unique_handle.h"

namespace nativeipc {
namespace {

constexpr std::uint32_t kErrorInvalidAddress = 487;

thread_local std::uint32_t t_lastError = kErrorSuccess;

void setErrorFromErrno() { t_lastError = errorFromErrno(errno); }

struct View {
    NamedObject* object;
    std::size_t length;
};

struct Registry {
    std::mutex mutex;
    std::map<std::pair<Kind, std::string>, std::unique_ptr<NamedObject>> objects;
    std::map<std::uintptr_t, NamedObject*> handles;
    // A file description of its own per locking handle.
    std::map<std::uintptr_t, platform::UniqueHandle> lockFds;
    std::map<const void*, View> views;
    std::uintptr_t nextHandle = 4;
};

// Never destroyed: handles may still be closed by other static destructors at exit.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

bool isValidName(const std::string& name) {
    return name.size() > 1 && name.find('/', 1) == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string systemName(const std::u16string& name) {
    const int needed = wideCharToMultiByte(name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::string result(static_cast<std::size_t>(needed > 0 ? needed : 0) + 1, '/');
    if (needed > 0) {
        wideCharToMultiByte(name.data(), static_cast<int>(name.size()), &result[1], needed);
    }
    return result;
}

Handle newHandle(Registry& reg, NamedObject* object) {
    const std::uintptr_t value = reg.nextHandle;
    reg.nextHandle += 4;
    reg.handles.emplace(value, object);
    ++object->references;
    return reinterpret_cast<Handle>(value);
}

// Called with the registry locked.
void dropReference(Registry& reg, NamedObject* object) {
    if (--object->references > 0) {
        return;
    }
    closeNamedObject(*object);
    reg.objects.erase({object->kind, object->name});
}

Handle openNamed(Kind kind, const std::u16string& wideName, const OpenRequest& request) {
    const std::string name = systemName(wideName);
    if (!isValidName(name)) {
        t_lastError = kErrorInvalidName;
        return nullptr;
    }
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    const auto found = reg.objects.find({kind, name});
    if (found != reg.objects.end()) {
        t_lastError = request.action == Action::OpenMapping ? kErrorSuccess : kErrorAlreadyExists;
        return newHandle(reg, found->second.get());
    }
    auto object = std::make_unique<NamedObject>();
    object->kind = kind;
    object->name = name;
    object->maximumCount = request.maximumCount;
    bool existed = false;
    if (!openNamedObject(*object, request, existed)) {
        return nullptr;
    }
    NamedObject* raw = object.get();
    reg.objects.emplace(std::make_pair(kind, name), std::move(object));
    t_lastError = existed ? kErrorAlreadyExists : kErrorSuccess;
    return newHandle(reg, raw);
}

// Called with the registry locked. Null with error 6 unless `handle` is an open handle of `kind`.
NamedObject* findHandle(Registry& reg, Handle handle, Kind kind) {
    const auto found = reg.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == reg.handles.end() || found->second->kind != kind) {
        t_lastError = kErrorInvalidHandle;
        return nullptr;
    }
    return found->second;
}

timespec deadlineAfter(std::uint32_t timeoutMs) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long nanoseconds =
        now.tv_nsec + static_cast<long long>(timeoutMs % 1000) * 1000000LL;
    timespec deadline{};
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeoutMs / 1000) +
                      static_cast<time_t>(nanoseconds / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    return deadline;
}

// 0 when a unit was taken, ETIMEDOUT after the time-out, another errno on failure.
int takeUnit(sem_t* semaphore, std::uint32_t timeoutMs) {
    const timespec deadline = deadlineAfter(timeoutMs);
    const int result = platform::retryOnInterrupt([&] {
        if (timeoutMs == kInfinite) return sem_wait(semaphore);
        if (timeoutMs == 0) return sem_trywait(semaphore);
        return sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline);
    });
    if (result == 0) {
        return 0;
    }
    return errno == EAGAIN ? ETIMEDOUT : errno;
}

}  // namespace

std::uint32_t lastError() { return t_lastError; }

void setLastError(std::uint32_t code) { t_lastError = code; }

bool closeHandle(Handle handle) {
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    const auto found = reg.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == reg.handles.end()) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    NamedObject* object = found->second;
    reg.handles.erase(found);
    // Closing the handle's lock description also gives up a lock still held.
    reg.lockFds.erase(reinterpret_cast<std::uintptr_t>(handle));
    dropReference(reg, object);
    return true;
}

Handle createFileMapping(const std::u16string& name, std::uint64_t size) {
    if (size == 0) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    return openNamed(Kind::Mapping, name, {Action::CreateMapping, size, 0});
}

Handle openFileMapping(const std::u16string& name) {
    return openNamed(Kind::Mapping, name, {Action::OpenMapping, 0, 0});
}

void* mapViewOfFile(Handle mapping, std::uint32_t access) {
    const bool write = (access & 0x2) != 0;
    if (!write && (access & kFileMapRead) == 0) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    NamedObject* object = findHandle(reg, mapping, Kind::Mapping);
    if (object == nullptr) {
        return nullptr;
    }
    struct stat status {};
    if (fstat(object->mappingFd.get(), &status) != 0) {
        setErrorFromErrno();
        return nullptr;
    }
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t length = (static_cast<std::size_t>(status.st_size) + page - 1) / page * page;
    if (length == 0) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    void* view = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                      object->mappingFd.get(), 0);
    if (view == MAP_FAILED) {
        setErrorFromErrno();
        return nullptr;
    }
    reg.views.emplace(view, View{object, length});
    ++object->references;
    return view;
}

bool unmapViewOfFile(void* view) {
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    const auto found = reg.views.find(view);
    if (found == reg.views.end()) {
        t_lastError = kErrorInvalidAddress;
        return false;
    }
    if (munmap(view, found->second.length) != 0) {
        setErrorFromErrno();
        return false;
    }
    NamedObject* object = found->second.object;
    reg.views.erase(found);
    dropReference(reg, object);
    return true;
}

std::size_t queryRegionSize(const void* view) {
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    const auto found = reg.views.find(view);
    if (found == reg.views.end()) {
        t_lastError = kErrorInvalidParameter;
        return 0;
    }
    return found->second.length;
}

std::uint64_t queryMappingSize(Handle mapping) {
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    NamedObject* object = findHandle(reg, mapping, Kind::Mapping);
    if (object == nullptr) {
        return 0;
    }
    struct stat status {};
    if (fstat(object->mappingFd.get(), &status) != 0) {
        setErrorFromErrno();
        return 0;
    }
    // Whole pages, like the region size: the rest of the last page is mapped and safe to touch.
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return (static_cast<std::uint64_t>(status.st_size) + page - 1) / page * page;
}

bool hasMappingLocks() { return true; }

namespace {

// The handle's own open file description of the mapping's file: OFD locks of different
// descriptions exclude each other, and the kernel drops a lock when its description closes, as
// it does when the process dies. -1 with the error set.
int lockDescriptor(Handle mapping) {
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    NamedObject* object = findHandle(reg, mapping, Kind::Mapping);
    if (object == nullptr) {
        return -1;
    }
    const auto key = reinterpret_cast<std::uintptr_t>(mapping);
    const auto found = reg.lockFds.find(key);
    if (found != reg.lockFds.end()) {
        return found->second.get();
    }
    const std::string self = "/proc/self/fd/" + std::to_string(object->mappingFd.get());
    platform::UniqueHandle fd(open(self.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.isValid()) {
        setErrorFromErrno();
        return -1;
    }
    const int descriptor = fd.get();
    reg.lockFds.emplace(key, std::move(fd));
    return descriptor;
}

int setFirstByteLock(int fd, short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    return platform::retryOnInterrupt([&] { return fcntl(fd, F_OFD_SETLK, &range); });
}

}  // namespace

std::uint32_t lockMapping(Handle mapping, std::uint32_t timeoutMs) {
    const int fd = lockDescriptor(mapping);
    if (fd < 0) {
        return kWaitFailed;
    }
    // OFD locks have no timed wait: poll, starting fine (the lock is held for one copy) and
    // backing off to a few milliseconds.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(20);
    for (;;) {
        if (setFirstByteLock(fd, F_WRLCK) == 0) {
            return kWaitObject0;
        }
        if (errno != EAGAIN && errno != EACCES) {
            setErrorFromErrno();
            return kWaitFailed;
        }
        const auto now = Clock::now();
        if (timeoutMs != kInfinite && now >= deadline) {
            return kWaitTimeout;
        }
        std::this_thread::sleep_for(
            timeoutMs == kInfinite ? pause : std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
}

bool unlockMapping(Handle mapping) {
    const int fd = lockDescriptor(mapping);
    if (fd < 0 || setFirstByteLock(fd, F_UNLCK) != 0) {
        if (fd >= 0) setErrorFromErrno();
        return false;
    }
    return true;
}

Handle createSemaphore(const std::u16string& name, std::int32_t initialCount,
                       std::int32_t maximumCount) {
    if (initialCount < 0 || maximumCount <= 0 || initialCount > maximumCount) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    return openNamed(Kind::Semaphore, name,
                     {Action::CreateSemaphore, 0, initialCount, maximumCount});
}

std::uint32_t waitForSingleObject(Handle handle, std::uint32_t timeoutMs) {
    Registry& reg = registry();
    NamedObject* object = nullptr;
    {
        const std::lock_guard<std::mutex> lock(reg.mutex);
        object = findHandle(reg, handle, Kind::Semaphore);
        if (object == nullptr) {
            return kWaitFailed;
        }
        ++object->references;  // keeps the semaphore open while this thread waits
    }
    const int result = takeUnit(object->semaphore, timeoutMs);
    const std::lock_guard<std::mutex> lock(reg.mutex);
    dropReference(reg, object);
    if (result == 0) {
        return kWaitObject0;
    }
    if (result == ETIMEDOUT) {
        return kWaitTimeout;
    }
    t_lastError = errorFromErrno(result);
    return kWaitFailed;
}

bool releaseSemaphore(Handle semaphore, std::int32_t count) {
    Registry& reg = registry();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    NamedObject* object = findHandle(reg, semaphore, Kind::Semaphore);
    if (object == nullptr) {
        return false;
    }
    if (count <= 0) {
        t_lastError = kErrorInvalidParameter;
        return false;
    }
    int value = 0;
    if (sem_getvalue(object->semaphore, &value) != 0) {
        setErrorFromErrno();
        return false;
    }
    if (static_cast<std::int64_t>(value) + count > object->maximumCount) {
        t_lastError = kErrorTooManyPosts;
        return false;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        if (sem_post(object->semaphore) != 0) {
            setErrorFromErrno();
            return false;
        }
    }
    return true;
}

}  // namespace nativeipc
