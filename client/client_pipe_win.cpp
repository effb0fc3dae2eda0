#include <windows.h>

#include <chrono>
#include <thread>

#include "client_pipe.h"
#include "protocol.h"

namespace facelume {
namespace {

using protocol::kAnnouncement;
constexpr DWORD kSliceMs = 20;

using Clock = std::chrono::steady_clock;

// The one place that turns GetLastError into words.
std::string systemText(DWORD code) { return "system error " + std::to_string(code); }

std::wstring pipePath(const std::string& name) {
    const std::string path = "\\\\.\\pipe\\" + name;
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0],
                            units);
    }
    return wide;
}

DWORD remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// Waits for an overlapped operation in short slices; 1 done, 0 timed out or told to stop.
int waitFor(HANDLE event, Clock::time_point deadline, const std::function<bool()>& keepWaiting) {
    for (;;) {
        const DWORD left = remainingMs(deadline);
        if (left == 0 || !keepWaiting()) return 0;
        if (WaitForSingleObject(event, left < kSliceMs ? left : kSliceMs) == WAIT_OBJECT_0) {
            return 1;
        }
    }
}

// Cancels the pending operation and waits until the system is done with `overlapped`, which
// lives on the caller's stack: returning earlier would let a late completion write into it.
void cancelAndWait(HANDLE handle, OVERLAPPED* overlapped) {
    DWORD ignored = 0;
    CancelIoEx(handle, overlapped);
    GetOverlappedResult(handle, overlapped, &ignored, TRUE);
}

void closeHandle(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

Result closedPipe(DWORD code) {
    return {Status::ServiceFailed, "the service's control pipe is closed: " + systemText(code)};
}

}  // namespace

class ClientPipePrivate {
public:
    HANDLE listener = INVALID_HANDLE_VALUE;
    HANDLE commands = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    HANDLE written = nullptr;
    bool connected = false;
    std::string listenName;
};

ClientPipe::ClientPipe() : d(std::make_unique<ClientPipePrivate>()) {}

ClientPipe::~ClientPipe() { close(); }

// Named pipes vanish with their last handle: nothing is ever left behind.
bool ClientPipe::removeStale(const std::string& name) {
    return WaitNamedPipeW(pipePath(name).c_str(), 1) == FALSE &&
           GetLastError() == ERROR_FILE_NOT_FOUND;
}

Result ClientPipe::listen(const std::string& name) {
    close();
    // The first instance only: a live listener under this name makes creation fail.
    d->listener = CreateNamedPipeW(
        pipePath(name).c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    if (d->listener == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return {Status::ChannelError, "cannot listen at \\\\.\\pipe\\" + name + " (" +
                                          systemText(code) + "); choose other channel names"};
    }
    d->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    d->listenName = name;
    return Result::ok();
}

Result ClientPipe::waitForAnnouncement(int timeoutMs, const std::function<bool()>& keepWaiting) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    OVERLAPPED overlapped{};
    overlapped.hEvent = d->event;
    if (!d->connected) {
        ResetEvent(d->event);
        if (!ConnectNamedPipe(d->listener, &overlapped)) {
            const DWORD code = GetLastError();
            if (code == ERROR_IO_PENDING) {
                if (waitFor(d->event, deadline, keepWaiting) == 0) {
                    cancelAndWait(d->listener, &overlapped);
                    return {Status::Timeout,
                            "the service did not connect to \\\\.\\pipe\\" + d->listenName};
                }
            } else if (code != ERROR_PIPE_CONNECTED) {
                return {Status::ChannelError,
                        "cannot accept the service's connection: " + systemText(code)};
            }
        }
        d->connected = true;
    }
    std::string received;
    while (received.find(kAnnouncement) == std::string::npos) {
        char buffer[256];
        DWORD count = 0;
        ResetEvent(d->event);
        if (!ReadFile(d->listener, buffer, sizeof buffer, &count, &overlapped)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE) {
                return {Status::ServiceFailed,
                        "the service closed its pipe before announcing itself"};
            }
            if (code != ERROR_IO_PENDING) {
                return {Status::ChannelError,
                        "cannot read the service's pipe: " + systemText(code)};
            }
            if (waitFor(d->event, deadline, keepWaiting) == 0) {
                cancelAndWait(d->listener, &overlapped);
                return {Status::Timeout, "the service connected but did not announce itself"};
            }
            if (!GetOverlappedResult(d->listener, &overlapped, &count, FALSE)) {
                return {Status::ServiceFailed,
                        "the service closed its pipe before announcing itself"};
            }
        }
        received.append(buffer, count);
    }
    return Result::ok();
}

Result ClientPipe::connect(const std::string& name, int timeoutMs) {
    const std::wstring path = pipePath(name);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    DWORD code = 0;
    do {
        d->commands = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (d->commands != INVALID_HANDLE_VALUE) {
            if (d->written == nullptr) d->written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            return Result::ok();
        }
        code = GetLastError();
        if (code == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(path.c_str(), kSliceMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
        }
    } while (remainingMs(deadline) > 0);
    return {code == ERROR_FILE_NOT_FOUND || code == ERROR_PIPE_BUSY ? Status::Timeout
                                                                    : Status::ChannelError,
            "no service listens at \\\\.\\pipe\\" + name + " (" + systemText(code) + ")"};
}

Result ClientPipe::writeLines(const std::string& lines, int timeoutMs) {
    if (d->commands == INVALID_HANDLE_VALUE) {
        return {Status::NotConnected, "the control pipe is not connected"};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    OVERLAPPED overlapped{};
    overlapped.hEvent = d->written;
    ResetEvent(d->written);
    DWORD written = 0;
    // Overlapped, so that a service that stopped reading cannot hang the caller.
    if (!WriteFile(d->commands, lines.data(), static_cast<DWORD>(lines.size()), nullptr,
                   &overlapped)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) return closedPipe(code);
        if (waitFor(d->written, deadline, [] { return true; }) == 0) {
            cancelAndWait(d->commands, &overlapped);
            GetOverlappedResult(d->commands, &overlapped, &written, FALSE);
            if (written == lines.size()) return Result::ok();
            const bool cutOff = written > 0 && written < lines.size();
            if (cutOff) closeHandle(d->commands);
            return stalledWrite(cutOff, timeoutMs);
        }
    }
    if (!GetOverlappedResult(d->commands, &overlapped, &written, FALSE)) {
        return closedPipe(GetLastError());
    }
    return written == lines.size() ? Result::ok() : closedPipe(ERROR_BROKEN_PIPE);
}

void ClientPipe::close() {
    closeHandle(d->commands);
    closeHandle(d->listener);
    for (HANDLE* event : {&d->event, &d->written}) {
        if (*event != nullptr) CloseHandle(*event);
        *event = nullptr;
    }
    d->connected = false;
    d->listenName.clear();
}

}  // namespace facelume
