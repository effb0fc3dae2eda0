#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "helper_process.h"

extern char** environ;

bool HelperProcess::start(const std::vector<std::string>& arguments) {
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string path(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    path = path.substr(0, path.rfind('/') + 1) + "sharedmemory_helper";
    std::vector<char*> argv{path.data()};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool started =
        posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
    m_process = started ? pid : 0;
    return started;
}

int HelperProcess::waitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_process > 0) {
        int status = 0;
        if (waitpid(static_cast<pid_t>(m_process), &status, WNOHANG) == m_process) {
            m_process = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

void HelperProcess::kill() {
    if (m_process > 0) {
        ::kill(static_cast<pid_t>(m_process), SIGKILL);
        waitpid(static_cast<pid_t>(m_process), nullptr, 0);
        m_process = 0;
    }
}

unsigned long currentProcessId() { return static_cast<unsigned long>(getpid()); }

// Objects, semaphores ("sem." prefix) and companion files of a dead run all carry its id.
void removeTestLeftovers() {
    const std::string mark = "facelumetestP";
    DIR* directory = opendir("/dev/shm");
    if (directory == nullptr) {
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        std::size_t i = name.find(mark);
        if (i == std::string::npos) {
            continue;
        }
        pid_t owner = 0;
        for (i += mark.size(); i < name.size() && name[i] != 'X'; ++i) {
            owner = owner * 10 + (name[i] - 'a');
        }
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
            stale.push_back("/dev/shm/" + name);
        }
    }
    closedir(directory);
    for (const std::string& path : stale) {
        unlink(path.c_str());
    }
}

bool runsUnderWine() { return false; }
