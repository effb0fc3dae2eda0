// soak_benchmark: the real service (pass-through engine) under a long run, to show that nothing
// grows: 100,000 frames of 640x480 in lockstep (every result checked), then 10,000 commands, with
// the service's resident memory, open descriptors and threads printed at the start, after the
// frames and at the end, and what the run left in /dev/shm and the socket folder after the stop.
//   soak_benchmark [FRAMES [COMMANDS]]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "facelume_client.h"
#include "socket_path.h"

namespace fs = std::filesystem;

namespace {

struct Usage {
    long rssKb = 0;
    long descriptors = 0;
    long threads = 0;
};

// The service is the only child process of this program.
pid_t servicePid() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        long parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == ::getpid()) {
            return static_cast<pid_t>(std::stol(pid));
        }
    }
    return -1;
}

Usage usageOf(pid_t pid) {
    Usage usage;
    const fs::path proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc / "status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) usage.rssKb = std::stol(line.substr(6));
        if (line.rfind("Threads:", 0) == 0) usage.threads = std::stol(line.substr(8));
    }
    for (const auto& entry : fs::directory_iterator(proc / "fd")) {
        (void)entry;
        ++usage.descriptors;
    }
    return usage;
}

void print(const char* when, const Usage& usage) {
    std::printf("%-14s RSS %6ld kB  descriptors %3ld  threads %2ld\n", when, usage.rssKb,
                usage.descriptors, usage.threads);
}

long leftovers(const std::string& run) {
    long count = 0;
    const fs::path sockets = fs::path(protocol::socketPath("any").path).parent_path();
    for (const fs::path& folder : {fs::path("/dev/shm"), sockets}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().string().find(run) != std::string::npos) ++count;
        }
    }
    return count;
}

std::string prepareService(fs::path& folder) {
    folder = fs::temp_directory_path() / ("facelume-soak-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "beauty_res");
    fs::copy_file(FACELUME_SERVICE, folder / "facelume");
    fs::copy_file(FACELUME_PASSTHROUGH_ENGINE,
                  folder / fs::path(FACELUME_PASSTHROUGH_ENGINE).filename());
    return (folder / "facelume").string();
}

}  // namespace

int main(int argc, char** argv) {
    const long frames = argc > 1 ? std::atol(argv[1]) : 100000;
    const long commands = argc > 2 ? std::atol(argv[2]) : 10000;
    fs::path folder;
    // Native names keep only letters: the process id spelled in letters keeps the run apart.
    std::string run = "soak";
    for (const char digit : std::to_string(::getpid())) run += static_cast<char>('a' + digit - '0');

    facelume::ServiceOptions options;
    options.executable = prepareService(folder);
    options.channel.receiveName = run + "in";
    options.channel.sendName = run + "out";
    facelume::Client client;
    const facelume::Result started = client.start(options);
    if (!started) {
        std::fprintf(stderr, "cannot start the service: %s\n", started.message().c_str());
        return 1;
    }
    const pid_t pid = servicePid();
    print("start", usageOf(pid));

    const int width = 640;
    const int height = 480;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    facelume::Frame out;
    long wrong = 0;
    const auto began = std::chrono::steady_clock::now();
    for (long i = 0; i < frames; ++i) {
        pixels[0] = static_cast<std::uint8_t>(i);
        pixels[pixels.size() - 1] = static_cast<std::uint8_t>(i >> 8);
        const facelume::Result result =
            client.process(width, height, pixels.data(), width * 3, out, 5000);
        if (!result || out.pixels != pixels) ++wrong;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    print("after frames", usageOf(pid));
    std::printf("%ld frames of %dx%d in %.1f s (%.0f per second), %ld lost or wrong\n", frames,
                width, height, seconds, frames / seconds, wrong);

    long refused = 0;
    for (long i = 0; i < commands; ++i) {
        if (!client.setSkinWhite(static_cast<float>(i % 100) / 100.0f)) ++refused;
    }
    // The last command's refresh comes back once the service has read every command.
    (void)client.process(width, height, pixels.data(), width * 3, out, 5000);
    print("after commands", usageOf(pid));
    std::printf("%ld commands, %ld refused\n", commands, refused);

    client.close();
    std::printf("left in /dev/shm and the socket folder after the stop: %ld\n", leftovers(run));
    fs::remove_all(folder);
    return wrong == 0 && refused == 0 ? 0 : 1;
}
