#include <windows.h>

#include "channel_owner.h"

namespace facelume {

class ChannelOwnerPrivate {
public:
    HANDLE mutex = nullptr;
};

ChannelOwner::ChannelOwner() : d(std::make_unique<ChannelOwnerPrivate>()) {}

ChannelOwner::~ChannelOwner() { release(); }

Result ChannelOwner::acquire(const std::string& segmentNativeName, const std::string& channel) {
    release();
    // Native names are ASCII. The mutex is never waited on: that it exists is the lock, and it
    // goes with its last handle, also when its holder dies.
    const std::string name = "facelume_owner_" + segmentNativeName;
    const std::wstring wide(name.begin(), name.end());
    HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
    const DWORD code = GetLastError();
    if (mutex == nullptr) {
        return {Status::ChannelError, "cannot take the channel " + channel +
                                          " for this client (system error " + std::to_string(code) +
                                          ")"};
    }
    if (code == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return {Status::ChannelError,
                "the channel " + channel +
                    " already has a client, and two clients would receive each other's frames; "
                    "close that one or give this one other channel names"};
    }
    d->mutex = mutex;
    return Result::ok();
}

void ChannelOwner::release() {
    if (d->mutex != nullptr) CloseHandle(d->mutex);
    d->mutex = nullptr;
}

}  // namespace facelume
