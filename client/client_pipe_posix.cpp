#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "client_pipe.h"
#include "protocol.h"
#include "retry_on_interrupt.h"
#include "socket_path.h"
#include "unique_handle.h"

namespace facelume {
namespace {

using platform::retryOnInterrupt;
using platform::UniqueHandle;
using protocol::kAnnouncement;
constexpr int kSliceMs = 20;

using Clock = std::chrono::steady_clock;

// The one place that turns errno into words.
std::string systemText(int code) { return std::string(std::strerror(code)); }

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// 0 when connected, otherwise the errno of the attempt.
int tryConnect(int fd, const std::string& path) {
    sockaddr_un address{};
    if (!fillAddress(path, address)) return ENAMETOOLONG;
    const int result = retryOnInterrupt(
        [&] { return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address); });
    return result == 0 ? 0 : errno;
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on fd in short slices; 1 ready, 0 timed out or told to stop, -1 error.
int waitFor(int fd, short events, Clock::time_point deadline,
            const std::function<bool()>& keepWaiting) {
    for (;;) {
        const int left = remainingMs(deadline);
        if (left == 0 || !keepWaiting()) return 0;
        pollfd entry{fd, events, 0};
        const int ready =
            retryOnInterrupt([&] { return ::poll(&entry, 1, left < kSliceMs ? left : kSliceMs); });
        if (ready > 0) return 1;
        if (ready < 0) return -1;
    }
}

}  // namespace

class ClientPipePrivate {
public:
    UniqueHandle listener;
    UniqueHandle announcer;
    UniqueHandle commands;
    std::string listenPath;
};

ClientPipe::ClientPipe() : d(std::make_unique<ClientPipePrivate>()) {}

ClientPipe::~ClientPipe() { close(); }

bool ClientPipe::removeStale(const std::string& name) {
    const std::string path = protocol::socketPath(name).path;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return true;
    const UniqueHandle probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!probe.isValid()) return true;
    const int outcome = tryConnect(probe.get(), path);
    if (outcome == 0) return false;
    // Nobody answers: a process that listened there died without removing its socket file.
    if (outcome == ECONNREFUSED && S_ISSOCK(status.st_mode)) ::unlink(path.c_str());
    return true;
}

Result ClientPipe::listen(const std::string& name) {
    close();
    const protocol::SocketPath socket = protocol::socketPath(name);
    if (socket.path.empty()) return {Status::ChannelError, socket.error};
    const std::string& path = socket.path;
    if (!removeStale(name)) {
        return {Status::ChannelError,
                "another client is already listening at " + path + "; choose other channel names"};
    }
    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        return {Status::InvalidArgument, "the socket path " + path + " is too long"};
    }
    d->listener.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!d->listener.isValid() ||
        ::bind(d->listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 ||
        ::listen(d->listener.get(), 4) != 0) {
        const int code = errno;
        close();
        return {Status::ChannelError, "cannot listen at " + path + ": " + systemText(code)};
    }
    d->listenPath = path;
    return Result::ok();
}

Result ClientPipe::waitForAnnouncement(int timeoutMs, const std::function<bool()>& keepWaiting) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!d->announcer.isValid()) {
        const int ready = waitFor(d->listener.get(), POLLIN, deadline, keepWaiting);
        if (ready <= 0) {
            return {ready < 0 ? Status::ChannelError : Status::Timeout,
                    "the service did not connect to " + d->listenPath};
        }
        d->announcer.reset(::accept4(d->listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!d->announcer.isValid()) {
            return {Status::ChannelError,
                    "cannot accept the service's connection: " + systemText(errno)};
        }
    }
    std::string received;
    for (;;) {
        if (received.find(kAnnouncement) != std::string::npos) return Result::ok();
        const int ready = waitFor(d->announcer.get(), POLLIN, deadline, keepWaiting);
        if (ready <= 0) {
            return {ready < 0 ? Status::ChannelError : Status::Timeout,
                    "the service connected but did not announce itself"};
        }
        char buffer[256];
        const ssize_t count = ::read(d->announcer.get(), buffer, sizeof buffer);
        if (count == 0) {
            return {Status::ServiceFailed, "the service closed its pipe before announcing itself"};
        }
        if (count > 0) received.append(buffer, static_cast<std::size_t>(count));
    }
}

Result ClientPipe::connect(const std::string& name, int timeoutMs) {
    const protocol::SocketPath socket = protocol::socketPath(name);
    if (socket.path.empty()) return {Status::ChannelError, socket.error};
    const std::string& path = socket.path;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int code = 0;
    do {
        d->commands.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!d->commands.isValid()) {
            return {Status::ChannelError, "cannot make a socket: " + systemText(errno)};
        }
        code = tryConnect(d->commands.get(), path);
        if (code == 0) return Result::ok();
        std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    } while (remainingMs(deadline) > 0);
    d->commands.reset();
    return {code == ENOENT || code == ECONNREFUSED ? Status::Timeout : Status::ChannelError,
            "no service listens at " + path + " (" + systemText(code) + ")"};
}

Result ClientPipe::writeLines(const std::string& lines, int timeoutMs) {
    if (!d->commands.isValid()) {
        return {Status::NotConnected, "the control pipe is not connected"};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t written = 0;
    while (written < lines.size()) {
        // No SIGPIPE: a service that went away is reported, not fatal. Never blocking: a
        // service that stopped reading must not hang the caller.
        const ssize_t count = retryOnInterrupt([&] {
            return ::send(d->commands.get(), lines.data() + written, lines.size() - written,
                          MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        if (count >= 0) {
            written += static_cast<std::size_t>(count);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return {Status::ServiceFailed,
                    "the service's control pipe is closed: " + systemText(errno)};
        } else if (waitFor(d->commands.get(), POLLOUT, deadline, [] { return true; }) != 1) {
            // A line cut off would run into the next one: the connection cannot be used again.
            if (written > 0) d->commands.reset();
            return stalledWrite(written > 0, timeoutMs);
        }
    }
    return Result::ok();
}

void ClientPipe::close() {
    d->commands.reset();
    d->announcer.reset();
    d->listener.reset();
    if (!d->listenPath.empty()) ::unlink(d->listenPath.c_str());
    d->listenPath.clear();
}

}  // namespace facelume
