// e2e_benchmark: the round trip of a frame through the real service with the pass-through engine
// (client send to processed frame back), against the floor this machine allows for the same
// exchange: two processes, two shared segments, two semaphore wake-ups and four copies (client
// in, peer in, peer out, client out) and no other work. Prints p50/p99 and sustained frames per
// second of both, for 640x480 and 1920x1080, and the ratio of the p50s.
//   e2e_benchmark [SECONDS]     measuring time per case (default 3)
// The peer of the floor is this program again: e2e_benchmark --floor-peer NAME SIZE.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "facelume_client.h"
#include "native_ipc.h"
#include "shared_memory_p.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double p50Ms = 0;
    double p99Ms = 0;
    double fps = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * (values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Runs `once` for a warm-up and then for `seconds`, timing each call.
template <typename Once>
Figures measure(double seconds, Once once) {
    for (int i = 0; i < 20; ++i) {
        if (!once()) return {};
    }
    std::vector<double> times;
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const auto start = Clock::now();
        if (!once()) return {};
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    return {percentile(times, 50), percentile(times, 99), times.size() / elapsed};
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

Figures measureFloor(const std::string& self, int width, int height, double seconds) {
    const int size = width * height * 3 + 12;
    const std::string name = "e2efloor" + std::to_string(::getpid()) + "x" + std::to_string(width);
    Lane toPeer;
    Lane fromPeer;
    if (!toPeer.open(name + "a", size) || !fromPeer.open(name + "b", size)) return {};
    const std::string sizeText = std::to_string(size);
    std::vector<char*> argv{const_cast<char*>(self.c_str()), const_cast<char*>("--floor-peer"),
                            const_cast<char*>(name.c_str()), const_cast<char*>(sizeText.c_str()),
                            nullptr};
    pid_t peer = -1;
    if (posix_spawn(&peer, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return {};
    std::vector<char> frame(static_cast<std::size_t>(size), 7);
    std::vector<char> result(frame.size());
    const Figures figures = measure(seconds, [&] {
        std::memcpy(toPeer.bytes(), frame.data(), frame.size());
        (void)nativeipc::releaseSemaphore(toPeer.signal, 1);
        if (nativeipc::waitForSingleObject(fromPeer.signal, 5000) != nativeipc::kWaitObject0) {
            return false;
        }
        std::memcpy(result.data(), fromPeer.bytes(), result.size());
        return true;
    });
    int status = 0;
    ::waitpid(peer, &status, 0);
    return figures;
}

// The service with the pass-through engine, in a folder of its own.
std::string prepareService(fs::path& folder) {
    folder = fs::temp_directory_path() / ("facelume-e2e-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "beauty_res");
    fs::copy_file(FACELUME_SERVICE, folder / "facelume");
    fs::copy_file(FACELUME_PASSTHROUGH_ENGINE,
                  folder / fs::path(FACELUME_PASSTHROUGH_ENGINE).filename());
    return (folder / "facelume").string();
}

Figures measureService(const std::string& executable, int width, int height, double seconds) {
    facelume::Client client;
    facelume::ServiceOptions options;
    options.executable = executable;
    options.channel.receiveName = "e2e" + std::to_string(::getpid()) + "x" + std::to_string(width);
    options.channel.sendName = options.channel.receiveName + "out";
    options.channel.size = width * height * 3 + 12;
    const facelume::Result started = client.start(options);
    if (!started) {
        std::fprintf(stderr, "e2e_benchmark: %s\n", started.message().c_str());
        return {};
    }
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3, 99);
    facelume::Frame out;
    return measure(seconds, [&] {
        const facelume::Result result =
            client.process(width, height, pixels.data(), width * 3, out, 5000);
        if (!result) std::fprintf(stderr, "e2e_benchmark: %s\n", result.message().c_str());
        return result.isOk();
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--floor-peer") {
        return runFloorPeer(argv[2], std::atoi(argv[3]));
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    fs::path folder;
    const std::string service = prepareService(folder);

    std::printf("%-10s | %-31s | %-31s | %s\n", "frame", "service (pass-through engine)",
                "floor (2 wake-ups, 4 copies)", "ratio");
    std::printf("%-10s | %9s %9s %11s | %9s %9s %11s | %s\n", "", "p50 ms", "p99 ms", "frames/s",
                "p50 ms", "p99 ms", "frames/s", "p50");
    int failures = 0;
    for (const auto& [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const Figures actual = measureService(service, width, height, seconds);
        const Figures floor = measureFloor(self, width, height, seconds);
        if (actual.fps == 0 || floor.fps == 0) ++failures;
        const std::string label = std::to_string(width) + "x" + std::to_string(height);
        std::printf("%-10s | %9.3f %9.3f %11.1f | %9.3f %9.3f %11.1f | %.2f\n", label.c_str(),
                    actual.p50Ms, actual.p99Ms, actual.fps, floor.p50Ms, floor.p99Ms, floor.fps,
                    floor.p50Ms > 0 ? actual.p50Ms / floor.p50Ms : 0.0);
    }
    fs::remove_all(folder);
    return failures == 0 ? 0 : 1;
}
