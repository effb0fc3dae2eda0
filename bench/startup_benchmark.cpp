// startup_benchmark: what it costs to start the real service with the open engine. Starts the
// facelume executable several times and reports, up to its "initSuccess" line, the wall time and
// the CPU time of the whole process; then its resident memory (at "initSuccess" and after a
// second of idling with its channel up) and the number of shared libraries it mapped.
//   startup_benchmark [RUNS [SERVICE]]   default 5 runs of this build's facelume

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    double wallMs = 0;
    double cpuMs = 0;
    double startRssMb = 0;
    double idleRssMb = 0;
    int libraries = 0;
};

double processCpuMs(pid_t pid) {
    clockid_t clock{};
    if (clock_getcpuclockid(pid, &clock) != 0) return 0;
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}

double rssMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

int sharedLibraries(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> paths;
    std::string line;
    while (std::getline(maps, line)) {
        const auto slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (path.find(".so") != std::string::npos) paths.insert(path);
    }
    return int(paths.size());
}

// Reads the child's log until "initSuccess" (true) or until it ends or 60 s pass (false).
bool waitForInitSuccess(int log) {
    std::string seen;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        pollfd fd{log, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t count = ::read(log, buffer, sizeof buffer);
        if (count <= 0) return false;
        seen.append(buffer, std::size_t(count));
        if (seen.find("initSuccess") != std::string::npos) return true;
    }
    return false;
}

bool measureOnce(const std::string& service, int index, Run* run) {
    const std::string name =
        "startbench" + std::to_string(::getpid()) + "n" + std::to_string(index);
    const std::string receive = name + "r";
    const std::string send = name + "s";
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(service.c_str()), const_cast<char*>(receive.c_str()),
                            const_cast<char*>(send.c_str()), const_cast<char*>("921700"), nullptr};
    pid_t child = -1;
    const auto start = Clock::now();
    const int spawned =
        posix_spawn(&child, service.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        return false;
    }
    const bool ready = waitForInitSuccess(pipeEnds[0]);
    if (ready) {
        run->wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        run->cpuMs = processCpuMs(child);
        run->startRssMb = rssMb(child);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        run->idleRssMb = rssMb(child);
        run->libraries = sharedLibraries(child);
    }
    // The service ends on SIGTERM and removes its named objects; SIGKILL only when it hangs.
    ::kill(child, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ::close(pipeEnds[0]);
    return ready;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string service = argc > 2 ? argv[2] : FACELUME_SERVICE;
    std::vector<double> wall, cpu, startRss, idleRss;
    int libraries = 0;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!measureOnce(service, i, &run)) {
            std::fprintf(stderr, "startup_benchmark: %s did not report initSuccess\n",
                         service.c_str());
            return 1;
        }
        wall.push_back(run.wallMs);
        cpu.push_back(run.cpuMs);
        startRss.push_back(run.startRssMb);
        idleRss.push_back(run.idleRssMb);
        libraries = run.libraries;
    }
    std::printf("%d start-ups of %s, medians:\n", runs, service.c_str());
    std::printf(
        "| to initSuccess, wall ms | CPU ms | RSS at initSuccess MB | idle RSS MB | "
        "shared libraries |\n");
    std::printf("| %22.0f | %6.0f | %21.1f | %11.1f | %16d |\n", median(wall), median(cpu),
                median(startRss), median(idleRss), libraries);
    return 0;
}
