#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "helper_process.h"
#include "native_ipc.h"
#include "platform_safe_key.h"

extern char** environ;

struct HelperProcess::Native {
    pid_t pid = -1;
};

namespace {

std::string helperPath() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string self(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return self.substr(0, self.rfind('/') + 1) + "sharedmemory_helper";
}

}  // namespace

HelperProcess::~HelperProcess() {
    kill();
    delete m_native;
}

bool HelperProcess::start(const std::vector<std::string>& arguments) {
    const std::string path = helperPath();
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    m_native = new Native{pid};
    return true;
}

int HelperProcess::waitForExit(int timeoutMs) {
    if (m_native == nullptr || m_native->pid < 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (waitpid(m_native->pid, &status, WNOHANG) == m_native->pid) {
            m_native->pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
}

void HelperProcess::kill() {
    if (m_native == nullptr || m_native->pid < 0) {
        return;
    }
    ::kill(m_native->pid, SIGKILL);
    waitpid(m_native->pid, nullptr, 0);
    m_native->pid = -1;
}

unsigned long currentProcessId() { return static_cast<unsigned long>(getpid()); }

namespace {

// The process id in a native name made from uniqueName, or 0 if there is none.
pid_t ownerOf(const std::string& name) {
    const std::string mark = "facelumetestP";
    const std::size_t start = name.find(mark);
    if (start == std::string::npos) {
        return 0;
    }
    pid_t pid = 0;
    for (std::size_t i = start + mark.size(); i < name.size() && name[i] != 'X'; ++i) {
        pid = pid * 10 + (name[i] - 'a');
    }
    return pid;
}

std::string withoutCompanionSuffix(std::string name) {
    for (const std::string suffix : {".holders", ".gate"}) {
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            name.resize(name.size() - suffix.size());
        }
    }
    return name;
}

}  // namespace

void removeTestLeftovers() {
    DIR* directory = opendir("/dev/shm");
    if (directory == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(directory)) {
        const pid_t owner = ownerOf(entry->d_name);
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
            names.push_back(withoutCompanionSuffix(entry->d_name));
        }
    }
    closedir(directory);
    // Opening and closing a name through the platform layer removes it when no live process
    // holds it (a helper of the dead run may still hold it: then it stays).
    for (const std::string& name : names) {
        nativeipc::Handle handle = nullptr;
        if (name.rfind("sem.", 0) == 0) {
            handle = nativeipc::createSemaphore(ansiToWide(name.substr(4)), 0);
        } else {
            handle = nativeipc::openFileMapping(ansiToWide(name));
        }
        if (handle != nullptr) {
            nativeipc::closeHandle(handle);
        }
    }
}

bool runsUnderWine() { return false; }
