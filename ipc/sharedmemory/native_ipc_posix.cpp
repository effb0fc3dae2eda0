// Linux side of the platform layer: named file mappings on POSIX shared memory ("/N", shm_open),
// named semaphores on POSIX named semaphores ("/N", sem_open), with a Windows-like lifetime.
//
// Lifetime: every process that holds a handle or view of a name keeps a shared flock on the
// name's holders file. The first opener and the last closer in a process take an exclusive flock
// on the name's gate file and decide under it: an opener that finds no holder left treats what
// exists under the name as stale and removes it; a closer that finds no holder left removes the
// object and both companion files. flocks die with their process, so a killed holder stops
// counting at once. docs/protocol.md states the protocol for other implementations.

#include <fcntl.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "native_ipc.h"

namespace nativeipc {
namespace {

constexpr std::uint32_t kErrorInvalidAddress = 487;
constexpr std::uint32_t kErrnoBase = 0x20000000;  // other errno values, as application codes

thread_local std::uint32_t t_lastError = kErrorSuccess;

// The one place that turns errno into a system error code.
std::uint32_t errorFromErrno(int code) {
    switch (code) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EINVAL:
            return kErrorInvalidParameter;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EOVERFLOW:
            return kErrorTooManyPosts;
        case EMFILE:
        case ENFILE:
            return kErrorNoSystemResources;
        case ENOSPC:
        case EFBIG:
            return kErrorCommitmentLimit;
        default:
            return kErrnoBase | static_cast<std::uint32_t>(code);
    }
}

void setErrorFromErrno() { t_lastError = errorFromErrno(errno); }

enum class Kind { Mapping, Semaphore };

// What this process holds of one named object. `references` counts handles, views and waits in
// progress; the process stays a holder (shared flock) while it is above 0.
struct NamedObject {
    Kind kind;
    std::string name;  // "/N"
    int holdersFd = -1;
    int mappingFd = -1;
    sem_t* semaphore = SEM_FAILED;
    int references = 0;
};

struct View {
    NamedObject* object;
    std::size_t length;
};

struct Registry {
    std::mutex mutex;
    std::map<std::pair<Kind, std::string>, std::unique_ptr<NamedObject>> objects;
    std::map<std::uintptr_t, NamedObject*> handles;
    std::map<const void*, View> views;
    std::uintptr_t nextHandle = 4;
};

// Never destroyed: handles may still be closed by other static destructors at exit.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

int retryOnSignal(int (*call)(int, int), int fd, int operation) {
    int result;
    do {
        result = call(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

std::string companionName(Kind kind, const std::string& name, const char* suffix) {
    // Semaphore companions carry glibc's "sem." file prefix so that a mapping and a semaphore of
    // the same name keep apart.
    return (kind == Kind::Semaphore ? "/sem." + name.substr(1) : name) + suffix;
}

bool sameFile(int fd, const std::string& name) {
    const int other = shm_open(name.c_str(), O_RDONLY, 0);
    if (other < 0) {
        return false;
    }
    struct stat mine {};
    struct stat current {};
    const bool same = fstat(fd, &mine) == 0 && fstat(other, &current) == 0 &&
                      mine.st_dev == current.st_dev && mine.st_ino == current.st_ino;
    close(other);
    return same;
}

// Exclusive lock on the name's gate file: serialises the first-open and last-close decisions of
// all processes. The lock dies with its process.
class Gate {
public:
    Gate(Kind kind, const std::string& name) : m_name(companionName(kind, name, ".gate")) {
        for (;;) {
            m_fd = shm_open(m_name.c_str(), O_RDWR | O_CREAT, 0600);
            if (m_fd < 0) {
                setErrorFromErrno();
                return;
            }
            if (retryOnSignal(flock, m_fd, LOCK_EX) != 0) {
                setErrorFromErrno();
                close(m_fd);
                m_fd = -1;
                return;
            }
            // A last closer may have removed the gate while this process waited for it.
            if (sameFile(m_fd, m_name)) {
                return;
            }
            close(m_fd);
        }
    }
    ~Gate() {
        if (m_fd >= 0) {
            close(m_fd);  // also drops the lock
        }
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    bool isLocked() const { return m_fd >= 0; }
    void remove() const { shm_unlink(m_name.c_str()); }

private:
    std::string m_name;
    int m_fd = -1;
};

void unlinkObject(const NamedObject& object) {
    if (object.kind == Kind::Mapping) {
        shm_unlink(object.name.c_str());
    } else {
        sem_unlink(object.name.c_str());
    }
}

void closeObject(NamedObject& object) {
    if (object.mappingFd >= 0) {
        close(object.mappingFd);
    }
    if (object.semaphore != SEM_FAILED) {
        sem_close(object.semaphore);
    }
    if (object.holdersFd >= 0) {
        close(object.holdersFd);
    }
}

// Under the gate: stops being a holder; the last holder removes the object and its companions.
void leaveHolders(const Gate& gate, NamedObject& object) {
    if (object.holdersFd >= 0 && retryOnSignal(flock, object.holdersFd, LOCK_EX | LOCK_NB) == 0) {
        unlinkObject(object);
        shm_unlink(companionName(object.kind, object.name, ".holders").c_str());
        gate.remove();
    }
    closeObject(object);
}

// Under the gate: becomes a holder; when no other process holds the name, whatever exists under
// it was left by processes that died and is removed.
bool joinHolders(NamedObject& object) {
    const std::string holders = companionName(object.kind, object.name, ".holders");
    object.holdersFd = shm_open(holders.c_str(), O_RDWR | O_CREAT, 0600);
    if (object.holdersFd < 0) {
        setErrorFromErrno();
        return false;
    }
    if (retryOnSignal(flock, object.holdersFd, LOCK_EX | LOCK_NB) == 0) {
        unlinkObject(object);
    } else if (errno != EWOULDBLOCK) {
        setErrorFromErrno();
        return false;
    }
    if (retryOnSignal(flock, object.holdersFd, LOCK_SH) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

bool commitSize(int fd, std::uint64_t size) {
    // Reserve the memory now, as Windows commits a section at creation: a full /dev/shm then
    // fails here instead of raising SIGBUS at the first write.
    const int result = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (result == 0) {
        return true;
    }
    if (result != EOPNOTSUPP && result != EINVAL) {
        errno = result;
        return false;
    }
    return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

enum class Action { CreateMapping, OpenMapping, CreateSemaphore };

struct OpenRequest {
    Action action;
    std::uint64_t size = 0;
    std::int32_t initialCount = 0;
};

// Under the gate and as a holder: opens or creates the system object. Sets `existed`.
bool openSystemObject(NamedObject& object, const OpenRequest& request, bool& existed) {
    const char* name = object.name.c_str();
    existed = false;
    if (request.action == Action::CreateSemaphore) {
        object.semaphore =
            sem_open(name, O_CREAT | O_EXCL, 0600, static_cast<unsigned>(request.initialCount));
        if (object.semaphore == SEM_FAILED && errno == EEXIST) {
            existed = true;
            object.semaphore = sem_open(name, 0);
        }
        return object.semaphore != SEM_FAILED;
    }
    if (request.action == Action::CreateMapping) {
        object.mappingFd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (object.mappingFd >= 0) {
            if (commitSize(object.mappingFd, request.size)) {
                return true;
            }
            const int reason = errno;
            shm_unlink(name);
            errno = reason;
            return false;
        }
        if (errno != EEXIST) {
            return false;
        }
        existed = true;
    }
    object.mappingFd = shm_open(name, O_RDWR, 0);
    return object.mappingFd >= 0;
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
    const Gate gate(object->kind, object->name);
    // Without the gate (it could not even be opened) the process still stops being a holder;
    // the next opener will then find the object stale.
    if (gate.isLocked()) {
        leaveHolders(gate, *object);
    } else {
        closeObject(*object);
    }
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
    const Gate gate(kind, name);
    if (!gate.isLocked()) {
        return nullptr;
    }
    if (!joinHolders(*object)) {
        const std::uint32_t reason = t_lastError;
        leaveHolders(gate, *object);
        t_lastError = reason;
        return nullptr;
    }
    bool existed = false;
    if (!openSystemObject(*object, request, existed)) {
        const std::uint32_t reason = errorFromErrno(errno);
        leaveHolders(gate, *object);
        t_lastError = reason;
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
    for (;;) {
        int result;
        if (timeoutMs == kInfinite) {
            result = sem_wait(semaphore);
        } else if (timeoutMs == 0) {
            result = sem_trywait(semaphore);
        } else {
            result = sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline);
        }
        if (result == 0) {
            return 0;
        }
        if (errno == EAGAIN) {
            return ETIMEDOUT;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
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
    if (fstat(object->mappingFd, &status) != 0) {
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
                      object->mappingFd, 0);
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

Handle createSemaphore(const std::u16string& name, std::int32_t initialCount) {
    if (initialCount < 0) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    return openNamed(Kind::Semaphore, name, {Action::CreateSemaphore, 0, initialCount});
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
    if (static_cast<std::int64_t>(value) + count > kMaximumSemaphoreCount) {
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
