#pragma once

// One client per channel. Two clients on the same channel names would each take the other's
// results and feed their frames into one stream, with no error on either side. A client therefore
// holds the channel's owner lock for as long as it is connected, and a second one is refused.
// On Linux the lock is an OFD write lock on byte 1 of the frame segment's file (byte 0 is the
// segment lock), which the kernel gives up when its holder dies; on Windows a named mutex
// "facelume_owner_" + the segment's native name exists while its creator holds it. The service
// never takes the lock, so the wire stays as it was for clients that do not know it.
//
// Threading: one thread uses an object at a time.

#include <memory>
#include <string>

#include "facelume_client.h"

namespace facelume {

class ChannelOwnerPrivate;

class ChannelOwner {
public:
    ChannelOwner();
    ~ChannelOwner();
    ChannelOwner(const ChannelOwner&) = delete;
    ChannelOwner& operator=(const ChannelOwner&) = delete;

    // REQUIRES: the caller holds the segment (it stays while this lock is held).
    // Takes the lock of the segment with the native name `segmentNativeName`; `channel` names the
    // channel in messages.
    Result acquire(const std::string& segmentNativeName, const std::string& channel);
    void release();

private:
    std::unique_ptr<ChannelOwnerPrivate> d;
};

}  // namespace facelume
