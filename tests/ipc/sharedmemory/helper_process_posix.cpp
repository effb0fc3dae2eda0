#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "helper_process.h"

extern char** environ;

bool HelperProcess::start(const std::vector<std::string>& arguments) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    std::string path = self.parent_path() / "sharedmemory_helper";
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
    for (int waitedMs = 0; m_process > 0; waitedMs += 5) {
        int status = 0;
        if (waitpid(static_cast<pid_t>(m_process), &status, WNOHANG) == m_process) {
            m_process = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (waitedMs >= timeoutMs) {
            break;
        }
        usleep(5000);
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
