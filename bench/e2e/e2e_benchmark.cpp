// e2e_benchmark: the round trip of a frame through the real service with the pass-through engine
// (client send to processed frame back), against the floor this machine allows for the same
// exchange: two processes, two shared segments, two semaphore wake-ups and four copies (client
// in, peer in, peer out, client out) and no other work. For each frame size it prints p50/p99 and
// sustained frames per second of both, the CPU time per frame of each side's two processes and
// the ratio of the p50s. Every returned frame is compared with the frame sent; a stale, torn or
// altered frame ends the run with an error. Last, a flood: N notifications of the service's
// receive semaphore without any frame (default a million), then a real frame at 640x480: how long
// its result takes, how long the service stays busy (until it spends under 2 ms of CPU in 200 ms),
// its CPU time until then and its resident memory before and after. Last, the service left idle
// after a frame: its wake-ups (context switches of all its threads) and CPU time per second, and
// how long it takes to end after a client's SIGTERM.
//   e2e_benchmark [--seconds S] [--service PATH] [--flood N] [--idle S] [WIDTHxHEIGHT ...]
// Defaults: 3 s per case, 10 s idle; this build's facelume; 640x480, 1280x720 and 1920x1080.
// Another build's service (to compare two builds) runs with this build's pass-through engine. The
// peer of the floor is this program again: e2e_benchmark --floor-peer NAME SIZE.

#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "facelume_client.h"
#include "native_ipc.h"
#include "protocol.h"
#include "shared_memory_p.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Size {
    int width = 0;
    int height = 0;
    [[nodiscard]] std::size_t pixelBytes() const { return std::size_t(width) * height * 3; }
};

struct Figures {
    double p50Ms = 0;
    double p99Ms = 0;
    double fps = 0;
    double clientCpuMs = 0;  // per frame, the benchmark's own process
    double peerCpuMs = 0;    // per frame, the service or the floor's peer
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * (values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// CPU time of a whole process (all its threads) in milliseconds; 0 pid means this process.
double processCpuMs(pid_t pid) {
    clockid_t clock = CLOCK_PROCESS_CPUTIME_ID;
    if (pid != 0 && clock_getcpuclockid(pid, &clock) != 0) return 0;
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}

// Four frames that differ in every byte and carry their number, sent in turn: a result that is
// an earlier frame, or one torn between two, does not match.
class Frames {
public:
    explicit Frames(Size size) {
        for (std::size_t i = 0; i < m_frames.size(); ++i) {
            m_frames[i].resize(size.pixelBytes());
            for (std::size_t b = 0; b < m_frames[i].size(); ++b)
                m_frames[i][b] = static_cast<std::uint8_t>(b * 7 + i * 61 + (b >> 12));
        }
    }
    const std::vector<std::uint8_t>& next() { return m_frames[m_count++ % m_frames.size()]; }

private:
    std::array<std::vector<std::uint8_t>, 4> m_frames;
    std::size_t m_count = 0;
};

// Runs `once` for a warm-up and then for `seconds`, timing each call and taking the CPU time of
// this process and of peer over the timed calls.
template <typename Once>
Figures measure(double seconds, pid_t peer, Once once) {
    for (int i = 0; i < 20; ++i) {
        if (!once()) return {};
    }
    std::vector<double> times;
    const double clientCpu = processCpuMs(0);
    const double peerCpu = processCpuMs(peer);
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const auto start = Clock::now();
        if (!once()) return {};
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    const double frames = double(times.size());
    return {percentile(times, 50), percentile(times, 99), frames / elapsed,
            (processCpuMs(0) - clientCpu) / frames, (processCpuMs(peer) - peerCpu) / frames};
}

std::u16string widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// One segment and its wake-up semaphore, as both sides of the floor open them.
struct Lane {
    SharedMemoryPrivate segment;
    nativeipc::Handle signal = nullptr;

    bool open(const std::string& name, int size) {
        segment.setKey(name);
        if (!segment.create(size, SharedMemoryPrivate::ReadWrite) &&
            segment.error != SharedMemoryError::AlreadyExists) {
            return false;
        }
        (void)segment.attach(SharedMemoryPrivate::ReadWrite);
        signal = nativeipc::createSemaphore(widen("floor" + name), 0);
        return segment.memory != nullptr && signal != nullptr;
    }
    ~Lane() {
        if (signal != nullptr) nativeipc::closeHandle(signal);
    }
    char* bytes() { return static_cast<char*>(segment.memory); }
};

int runFloorPeer(const std::string& name, int size) {
    Lane in;
    Lane out;
    if (!in.open(name + "a", size) || !out.open(name + "b", size)) return 1;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    // Ends when the benchmark stops sending for a while.
    while (nativeipc::waitForSingleObject(in.signal, 3000) == nativeipc::kWaitObject0) {
        std::memcpy(buffer.data(), in.bytes(), buffer.size());
        std::memcpy(out.bytes(), buffer.data(), buffer.size());
        (void)nativeipc::releaseSemaphore(out.signal, 1);
    }
    return 0;
}

Figures measureFloor(const std::string& self, Size frameSize, double seconds) {
    const int size = int(frameSize.pixelBytes()) + 12;
    const std::string name =
        "e2efloor" + std::to_string(::getpid()) + "x" + std::to_string(frameSize.width);
    Lane toPeer;
    Lane fromPeer;
    if (!toPeer.open(name + "a", size) || !fromPeer.open(name + "b", size)) return {};
    const std::string sizeText = std::to_string(size);
    std::vector<char*> argv{const_cast<char*>(self.c_str()), const_cast<char*>("--floor-peer"),
                            const_cast<char*>(name.c_str()), const_cast<char*>(sizeText.c_str()),
                            nullptr};
    pid_t peer = -1;
    if (posix_spawn(&peer, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return {};
    Frames frames(frameSize);
    std::vector<char> result(static_cast<std::size_t>(size));
    const Figures figures = measure(seconds, peer, [&] {
        const std::vector<std::uint8_t>& frame = frames.next();
        std::memcpy(toPeer.bytes() + 12, frame.data(), frame.size());
        (void)nativeipc::releaseSemaphore(toPeer.signal, 1);
        if (nativeipc::waitForSingleObject(fromPeer.signal, 5000) != nativeipc::kWaitObject0) {
            std::fprintf(stderr, "e2e_benchmark: the floor's peer did not answer\n");
            return false;
        }
        std::memcpy(result.data(), fromPeer.bytes(), result.size());
        return std::memcmp(result.data() + 12, frame.data(), frame.size()) == 0;
    });
    int status = 0;
    ::waitpid(peer, &status, 0);
    return figures;
}

// The service with the pass-through engine, in a folder of its own.
std::string prepareService(const std::string& executable, fs::path& folder) {
    folder = fs::temp_directory_path() / ("facelume-e2e-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "beauty_res");
    fs::copy_file(executable, folder / "facelume");
    fs::copy_file(FACELUME_PASSTHROUGH_ENGINE,
                  folder / fs::path(FACELUME_PASSTHROUGH_ENGINE).filename());
    return (folder / "facelume").string();
}

// The service a Client started: the child of this process that runs the facelume executable.
pid_t servicePid() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string pid, command, state;
        long parent = 0;
        if (stat >> pid >> command >> state >> parent && parent == ::getpid() &&
            command == "(facelume)") {
            return pid_t(std::stol(pid));
        }
    }
    return 0;
}

Figures measureService(const std::string& executable, Size size, double seconds) {
    facelume::Client client;
    facelume::ServiceOptions options;
    options.executable = executable;
    options.channel.receiveName =
        "e2e" + std::to_string(::getpid()) + "x" + std::to_string(size.width);
    options.channel.sendName = options.channel.receiveName + "out";
    options.channel.size = int(size.pixelBytes()) + 12;
    const facelume::Result started = client.start(options);
    if (!started) {
        std::fprintf(stderr, "e2e_benchmark: %s\n", started.message().c_str());
        return {};
    }
    const pid_t service = servicePid();
    if (service == 0) {
        std::fprintf(stderr, "e2e_benchmark: the service's process was not found\n");
        return {};
    }
    Frames frames(size);
    facelume::Frame out;
    return measure(seconds, service, [&] {
        const std::vector<std::uint8_t>& frame = frames.next();
        const facelume::Result result =
            client.process(size.width, size.height, frame.data(), size.width * 3, out, 5000);
        if (!result) {
            std::fprintf(stderr, "e2e_benchmark: %s\n", result.message().c_str());
            return false;
        }
        if (out.width != size.width || out.height != size.height || out.pixels != frame) {
            std::fprintf(stderr, "e2e_benchmark: a frame came back altered\n");
            return false;
        }
        return true;
    });
}

double rssMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

struct Flood {
    double resultMs = 0;
    double busyMs = 0;
    double serviceCpuMs = 0;
    double rssBeforeMb = 0;
    double rssAfterMb = 0;
};

// Waits (two minutes at most) for the result of `frame`, skipping older results.
bool awaitResult(facelume::Client& client, const std::vector<std::uint8_t>& frame) {
    const auto end = Clock::now() + std::chrono::minutes(2);
    facelume::Frame out;
    while (Clock::now() < end) {
        if (client.receiveFrame(out, 1000) && out.pixels == frame) return true;
    }
    return false;
}

// Starts the service on channel names of its own and has it return the first of frames; its pid,
// or 0.
pid_t startWithOneFrame(facelume::Client& client, const std::string& executable,
                        const std::string& receiveName, const Size& size, Frames& frames) {
    facelume::ServiceOptions options;
    options.executable = executable;
    options.channel.receiveName = receiveName;
    options.channel.sendName = receiveName + "out";
    options.channel.size = int(size.pixelBytes()) + 12;
    const pid_t service = client.start(options) ? servicePid() : 0;
    if (service == 0) return 0;
    const std::vector<std::uint8_t>& first = frames.next();
    const bool returned = client.sendFrame(size.width, size.height, first.data(), size.width * 3) &&
                          awaitResult(client, first);
    return returned ? service : 0;
}

bool measureFlood(const std::string& executable, int notifications, Flood* flood) {
    const Size size{640, 480};
    facelume::Client client;
    const std::string receiveName = "e2eflood" + std::to_string(::getpid());
    Frames frames(size);
    const pid_t service = startWithOneFrame(client, executable, receiveName, size, frames);
    if (service == 0) return false;
    flood->rssBeforeMb = rssMb(service);
    const nativeipc::Handle receive = nativeipc::createSemaphore(
        widen(protocol::notificationNativeName(
            protocol::notificationKey(protocol::segmentKey(receiveName)))),
        0);
    if (receive == nullptr) return false;
    const double cpu = processCpuMs(service);
    const auto start = Clock::now();
    const bool released = nativeipc::releaseSemaphore(receive, notifications);
    const std::vector<std::uint8_t>& real = frames.next();
    const bool answered = released &&
                          client.sendFrame(size.width, size.height, real.data(), size.width * 3) &&
                          awaitResult(client, real);
    flood->resultMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (double before = -10;
         processCpuMs(service) - before > 2 && Clock::now() - start < std::chrono::minutes(2);) {
        before = processCpuMs(service);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    flood->busyMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    flood->serviceCpuMs = processCpuMs(service) - cpu;
    flood->rssAfterMb = rssMb(service);
    nativeipc::closeHandle(receive);
    return answered;
}

// Context switches of all the process's threads so far: each is a wake-up after a wait.
long contextSwitches(pid_t pid) {
    long total = 0;
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::atol(line.c_str() + line.find(':') + 1);
        }
    }
    return total;
}

// True once the process has ended (its parent, this program, reaps it later).
bool hasEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field, state;
    if (!(stat >> field >> field >> state)) return true;
    return state == "Z" || state == "X";
}

struct Idle {
    double wakeUpsPerSecond = 0;
    double cpuMsPerSecond = 0;
    double stopMs = 0;
};

// The service after one frame, left alone for `seconds`; then how long it takes to end after
// the SIGTERM that a client's close sends.
bool measureIdle(const std::string& executable, double seconds, Idle* idle) {
    const Size size{640, 480};
    facelume::Client client;
    const std::string receiveName = "e2eidle" + std::to_string(::getpid());
    Frames frames(size);
    const pid_t service = startWithOneFrame(client, executable, receiveName, size, frames);
    if (service == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long switches = contextSwitches(service);
    const double cpu = processCpuMs(service);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    idle->wakeUpsPerSecond = double(contextSwitches(service) - switches) / seconds;
    idle->cpuMsPerSecond = (processCpuMs(service) - cpu) / seconds;
    const auto start = Clock::now();
    ::kill(service, SIGTERM);
    while (!hasEnded(service) && Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    idle->stopMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return hasEnded(service);
}

bool parseSize(const std::string& text, Size* size) {
    return std::sscanf(text.c_str(), "%dx%d", &size->width, &size->height) == 2 &&
           size->width > 0 && size->height > 0 && size->width <= 8192 && size->height <= 8192;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--floor-peer") {
        return runFloorPeer(argv[2], std::atoi(argv[3]));
    }
    double seconds = 3.0;
    std::string executable = FACELUME_SERVICE;
    int notifications = 1000000;
    double idleSeconds = 10.0;
    std::vector<Size> sizes;
    for (int i = 1; i < argc; ++i) {
        Size size;
        if (std::string(argv[i]) == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::string(argv[i]) == "--flood" && i + 1 < argc) {
            notifications = std::max(1, std::atoi(argv[++i]));
        } else if (std::string(argv[i]) == "--idle" && i + 1 < argc) {
            idleSeconds = std::max(1.0, std::atof(argv[++i]));
        } else if (std::string(argv[i]) == "--service" && i + 1 < argc) {
            executable = argv[++i];
        } else if (parseSize(argv[i], &size)) {
            sizes.push_back(size);
        } else {
            std::fprintf(stderr,
                         "usage: e2e_benchmark [--seconds S] [--service PATH] [--flood N] "
                         "[--idle S] [WIDTHxHEIGHT ...]\n"
                         "  sizes up to 8192x8192; default 640x480 1280x720 1920x1080\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {{640, 480}, {1280, 720}, {1920, 1080}};
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    fs::path folder;
    const std::string service = prepareService(executable, folder);

    std::printf("Milliseconds per frame; cpu = CPU time per frame of the client / the service\n");
    std::printf("(or the floor's peer), whole processes. Every returned frame was checked.\n\n");
    std::printf("| %-9s | %-40s | %-40s | %-5s |\n", "frame", "service (pass-through engine)",
                "floor (2 wake-ups, 4 copies)", "ratio");
    std::printf("| %-9s | %7s %7s %8s %7s %7s | %7s %7s %8s %7s %7s | %-5s |\n", "", "p50", "p99",
                "frames/s", "cpu cl", "cpu sv", "p50", "p99", "frames/s", "cpu cl", "cpu pe",
                "p50");
    int failures = 0;
    for (const Size size : sizes) {
        const Figures actual = measureService(service, size, seconds);
        const Figures floor = measureFloor(self, size, seconds);
        if (actual.fps == 0 || floor.fps == 0) ++failures;
        const std::string label = std::to_string(size.width) + "x" + std::to_string(size.height);
        std::printf(
            "| %-9s | %7.3f %7.3f %8.1f %7.3f %7.3f | %7.3f %7.3f %8.1f %7.3f %7.3f | %5.2f |\n",
            label.c_str(), actual.p50Ms, actual.p99Ms, actual.fps, actual.clientCpuMs,
            actual.peerCpuMs, floor.p50Ms, floor.p99Ms, floor.fps, floor.clientCpuMs,
            floor.peerCpuMs, floor.p50Ms > 0 ? actual.p50Ms / floor.p50Ms : 0.0);
        std::fflush(stdout);
    }
    Flood flood;
    if (!measureFlood(service, notifications, &flood)) ++failures;
    std::printf("\nFlood of %d notifications without a frame, then a real 640x480 frame:\n",
                notifications);
    std::printf(
        "result after %.0f ms; service busy for %.0f ms, CPU %.0f ms, RSS %.1f -> %.1f MB\n",
        flood.resultMs, flood.busyMs, flood.serviceCpuMs, flood.rssBeforeMb, flood.rssAfterMb);
    Idle idle;
    if (!measureIdle(service, idleSeconds, &idle)) ++failures;
    std::printf(
        "\nIdle for %.0f s after a frame: %.1f wake-ups/s, CPU %.3f ms/s; ended %.1f ms "
        "after SIGTERM\n",
        idleSeconds, idle.wakeUpsPerSecond, idle.cpuMsPerSecond, idle.stopMs);
    fs::remove_all(folder);
    return failures == 0 ? 0 : 1;
}
