#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string uniqueName(const std::string& base) {
    return "facelumetest_" + base + "_" + std::to_string(getpid());
}

void removeTestLeftovers() {
    // Opening and closing a name through the platform layer removes it when no live process
    // holds it, and leaves it alone otherwise.
    DIR* directory = opendir("/dev/shm");
    if (directory == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.find("facelumetest") != std::string::npos) {
            names.push_back(name);
        }
    }
    closedir(directory);
    for (std::string name : names) {
        for (const char* suffix : {".holders", ".gate"}) {
            const std::string tail = suffix;
            if (name.size() > tail.size() &&
                name.compare(name.size() - tail.size(), tail.size(), tail) == 0) {
                name.resize(name.size() - tail.size());
            }
        }
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
