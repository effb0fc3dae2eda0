#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "retry_on_interrupt.h"
#include "service_output.h"
#include "service_process.h"
#include "unique_handle.h"

namespace facelume {

using platform::retryOnInterrupt;
using platform::UniqueHandle;

class ServiceProcessPrivate {
public:
    pid_t pid = -1;
    int status = 0;
    bool reaped = false;
    UniqueHandle outputFd;
    std::thread reader;
    ServiceOutput output;

    void readOutput() {
        char buffer[4096];
        for (;;) {
            const ssize_t count =
                retryOnInterrupt([&] { return ::read(outputFd.get(), buffer, sizeof buffer); });
            if (count <= 0) return;
            output.append(buffer, static_cast<std::size_t>(count));
        }
    }

    bool reap(int options) {
        if (pid < 0 || reaped) return reaped;
        reaped = retryOnInterrupt([&] { return ::waitpid(pid, &status, options); }) == pid;
        return reaped;
    }
};

namespace {

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const std::vector<char*>& argv, int outputFd, int errorFd,
                            pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
    ::dup2(outputFd, STDOUT_FILENO);
    ::dup2(outputFd, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    const int code = errno;
    (void)!::write(errorFd, &code, sizeof code);
    ::_exit(127);
}

}  // namespace

ServiceProcess::ServiceProcess() : d(std::make_unique<ServiceProcessPrivate>()) {}

ServiceProcess::~ServiceProcess() { stop(); }

bool ServiceProcess::isExecutable(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool ServiceProcess::exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string ServiceProcess::folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

const char* ServiceProcess::engineFileName() { return "libmox_ai_effect.so"; }

Result ServiceProcess::start(const std::string& executable,
                             const std::vector<std::string>& arguments) {
    stop();
    d->output.clear();
    std::vector<std::string> strings{executable};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int outputPipe[2];
    int errorPipe[2];
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
        return {Status::ServiceFailed, std::string("cannot make a pipe: ") + std::strerror(errno)};
    }
    UniqueHandle outputRead(outputPipe[0]);
    UniqueHandle outputWrite(outputPipe[1]);
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        return {Status::ServiceFailed, std::string("cannot make a pipe: ") + std::strerror(errno)};
    }
    UniqueHandle errorRead(errorPipe[0]);
    UniqueHandle errorWrite(errorPipe[1]);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) execChild(argv, outputPipe[1], errorPipe[1], parent);
    const int forkError = errno;
    // Only the child writes: the reads below end when it has exec'd or exited.
    outputWrite.reset();
    errorWrite.reset();
    if (child < 0) {
        return {Status::ServiceFailed,
                std::string("cannot start ") + executable + ": " + std::strerror(forkError)};
    }
    d->pid = child;
    d->reaped = false;
    d->outputFd = std::move(outputRead);
    d->reader = std::thread([this] { d->readOutput(); });

    // The error pipe closes on a successful exec; otherwise it carries exec's errno.
    int execError = 0;
    const ssize_t count =
        retryOnInterrupt([&] { return ::read(errorRead.get(), &execError, sizeof execError); });
    errorRead.reset();
    if (count == sizeof execError) {
        stop();
        return {Status::ServiceNotFound,
                "cannot run " + executable + ": " + std::strerror(execError)};
    }
    return Result::ok();
}

bool ServiceProcess::isRunning() { return d->pid >= 0 && !d->reap(WNOHANG); }

std::string ServiceProcess::exitDescription() {
    if (d->pid < 0 || !d->reap(WNOHANG)) return {};
    if (WIFEXITED(d->status)) return "exited with code " + std::to_string(WEXITSTATUS(d->status));
    if (WIFSIGNALED(d->status))
        return "was killed by signal " + std::to_string(WTERMSIG(d->status));
    return "ended";
}

std::string ServiceProcess::output() const { return d->output.text(); }

void ServiceProcess::stop() {
    if (d->pid >= 0 && !d->reap(WNOHANG)) {
        ::kill(d->pid, SIGTERM);
        for (int i = 0; i < 100 && !d->reap(WNOHANG); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!d->reaped) {
            ::kill(d->pid, SIGKILL);
            (void)d->reap(0);
        }
    }
    if (d->reader.joinable()) d->reader.join();
    d->outputFd.reset();
    d->pid = -1;
}

}  // namespace facelume
