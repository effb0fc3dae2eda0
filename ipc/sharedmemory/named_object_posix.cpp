// The lifetime protocol of named objects on Linux. Every process that holds a name keeps a shared
// flock on the name's holders file. The first opener and the last closer in a process take an
// exclusive flock on the name's gate file and decide under it: an opener that finds no holder
// left treats what exists under the name as stale and removes it; a closer that finds no holder
// left removes the object and both companion files. flocks die with their process, so a killed
// holder stops counting at once.
//
// Another local user can create files in /dev/shm under our names before we do. Every file of a
// name (object, holders, gate) is therefore used only when it belongs to our user and nobody else
// may open it (mode 0600 or stricter); anything else is refused with "access denied" instead of
// being shared with a stranger. The gate is waited for at most kGateTimeoutMs, so a gate that a
// stranger keeps locked is an error, not a hang.

#include "named_object_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "native_ipc.h"
#include "retry_on_interrupt.h"
#include "unique_handle.h"

namespace nativeipc {
namespace {

using platform::retryOnInterrupt;
using platform::UniqueHandle;

constexpr std::uint32_t kErrnoBase = 0x20000000;  // other errno values, as application codes
constexpr auto kGateTimeout = std::chrono::seconds(5);
constexpr auto kGatePollInterval = std::chrono::milliseconds(1);

void setErrorFromErrno() { setLastError(errorFromErrno(errno)); }

int lockFile(int fd, int operation) {
    return retryOnInterrupt([&] { return flock(fd, operation); });
}

// True when the open file belongs to this process's user and no other user may open it; sets
// errno (EACCES) otherwise.
bool ownedPrivately(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return false;
    if (status.st_uid != geteuid() || (status.st_mode & 0077) != 0) {
        errno = EACCES;
        return false;
    }
    return true;
}

// shm_open of a file that must be ours alone: no handle, with errno set, otherwise.
UniqueHandle openPrivate(const std::string& name, int flags) {
    UniqueHandle fd(shm_open(name.c_str(), flags, 0600));
    if (!fd.isValid() || ownedPrivately(fd.get())) return fd;
    const int reason = errno;
    fd.reset();
    errno = reason;
    return fd;
}

// flock(LOCK_EX) that gives up after kGateTimeout with ETIMEDOUT.
int lockWithTimeout(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kGateTimeout;
    while (lockFile(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return -1;
        }
        std::this_thread::sleep_for(kGatePollInterval);
    }
    return 0;
}

std::string companionName(Kind kind, const std::string& name, const char* suffix) {
    // Semaphore companions carry glibc's "sem." file prefix so that a mapping and a semaphore of
    // the same name keep apart.
    return (kind == Kind::Semaphore ? "/sem." + name.substr(1) : name) + suffix;
}

bool sameFile(int fd, const std::string& name) {
    const UniqueHandle other(shm_open(name.c_str(), O_RDONLY, 0));
    if (!other.isValid()) {
        return false;
    }
    struct stat mine {};
    struct stat current {};
    return fstat(fd, &mine) == 0 && fstat(other.get(), &current) == 0 &&
           mine.st_dev == current.st_dev && mine.st_ino == current.st_ino;
}

// Exclusive lock on the name's gate file: serialises the first-open and last-close decisions of
// all processes. The lock dies with its process.
class Gate {
public:
    Gate(Kind kind, const std::string& name) : m_name(companionName(kind, name, ".gate")) {
        for (;;) {
            m_fd = openPrivate(m_name, O_RDWR | O_CREAT);
            if (!m_fd.isValid()) {
                setErrorFromErrno();
                return;
            }
            if (lockWithTimeout(m_fd.get()) != 0) {
                setErrorFromErrno();
                m_fd.reset();
                return;
            }
            // A last closer may have removed the gate while this process waited for it.
            if (sameFile(m_fd.get(), m_name)) {
                return;
            }
        }
    }

    bool isLocked() const { return m_fd.isValid(); }
    void remove() const { shm_unlink(m_name.c_str()); }

private:
    std::string m_name;
    UniqueHandle m_fd;  // closing it drops the lock
};

void unlinkObject(const NamedObject& object) {
    if (object.kind == Kind::Mapping) {
        shm_unlink(object.name.c_str());
    } else {
        sem_unlink(object.name.c_str());
    }
}

void closeObject(NamedObject& object) {
    object.mappingFd.reset();
    if (object.semaphore != SEM_FAILED) {
        sem_close(object.semaphore);
    }
    object.holdersFd.reset();
}

// Under the gate: stops being a holder; the last holder removes the object and its companions.
void leaveHolders(const Gate& gate, NamedObject& object) {
    if (object.holdersFd.isValid() && lockFile(object.holdersFd.get(), LOCK_EX | LOCK_NB) == 0) {
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
    object.holdersFd = openPrivate(holders, O_RDWR | O_CREAT);
    if (!object.holdersFd.isValid()) {
        setErrorFromErrno();
        return false;
    }
    if (lockFile(object.holdersFd.get(), LOCK_EX | LOCK_NB) == 0) {
        unlinkObject(object);
    } else if (errno != EWOULDBLOCK) {
        setErrorFromErrno();
        return false;
    }
    if (lockFile(object.holdersFd.get(), LOCK_SH) != 0) {
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

// The semaphore's file (glibc keeps it as /dev/shm/sem.N), checked after sem_open: a stranger
// cannot make a file of ours, so a file that is ours now was ours when it was opened.
bool semaphoreOwnedPrivately(NamedObject& object) {
    const UniqueHandle fd(
        shm_open(companionName(object.kind, object.name, "").c_str(), O_RDONLY, 0));
    if (fd.isValid() && ownedPrivately(fd.get())) return true;
    const int reason = errno;
    sem_close(object.semaphore);
    object.semaphore = SEM_FAILED;
    errno = reason;
    return false;
}

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
        return object.semaphore != SEM_FAILED && semaphoreOwnedPrivately(object);
    }
    if (request.action == Action::CreateMapping) {
        object.mappingFd.reset(shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600));
        if (object.mappingFd.isValid()) {
            if (commitSize(object.mappingFd.get(), request.size)) {
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
    object.mappingFd = openPrivate(name, O_RDWR);
    return object.mappingFd.isValid();
}

}  // namespace

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
        case ETIMEDOUT:
            return kErrorTimeout;
        default:
            return kErrnoBase | static_cast<std::uint32_t>(code);
    }
}

bool openNamedObject(NamedObject& object, const OpenRequest& request, bool& existed) {
    const Gate gate(object.kind, object.name);
    if (!gate.isLocked()) {
        return false;
    }
    if (!joinHolders(object)) {
        const std::uint32_t reason = lastError();
        leaveHolders(gate, object);
        setLastError(reason);
        return false;
    }
    if (!openSystemObject(object, request, existed)) {
        const std::uint32_t reason = errorFromErrno(errno);
        leaveHolders(gate, object);
        setLastError(reason);
        return false;
    }
    return true;
}

void closeNamedObject(NamedObject& object) {
    const Gate gate(object.kind, object.name);
    // Without the gate (it could not even be opened) the process still stops being a holder;
    // the next opener will then find the object stale.
    if (gate.isLocked()) {
        leaveHolders(gate, object);
    } else {
        closeObject(object);
    }
}

}  // namespace nativeipc
