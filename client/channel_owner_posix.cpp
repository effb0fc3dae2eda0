#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "channel_owner.h"

namespace facelume {

class ChannelOwnerPrivate {
public:
    int descriptor = -1;
};

namespace {

// Byte 0 of the segment's file carries the segment lock.
constexpr off_t kOwnerByte = 1;

int setOwnerLock(int fd) {
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = kOwnerByte;
    range.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &range);
}

}  // namespace

ChannelOwner::ChannelOwner() : d(std::make_unique<ChannelOwnerPrivate>()) {}

ChannelOwner::~ChannelOwner() { release(); }

Result ChannelOwner::acquire(const std::string& segmentNativeName, const std::string& channel) {
    release();
    // A description of our own: OFD locks of one description do not exclude each other.
    const int fd = ::shm_open(("/" + segmentNativeName).c_str(), O_RDWR | O_CLOEXEC, 0);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || status.st_uid != ::geteuid() ||
        (status.st_mode & 0077) != 0) {
        const std::string reason = fd < 0 ? std::strerror(errno) : "it is not this user's alone";
        if (fd >= 0) ::close(fd);
        return {Status::ChannelError,
                "cannot take the channel " + channel + " for this client: " + reason};
    }
    if (setOwnerLock(fd) != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EAGAIN || code == EACCES) {
            return {Status::ChannelError,
                    "the channel " + channel +
                        " already has a client, and two clients would receive each other's "
                        "frames; close that one or give this one other channel names"};
        }
        return {Status::ChannelError,
                "cannot take the channel " + channel + " for this client: " + std::strerror(code)};
    }
    d->descriptor = fd;
    return Result::ok();
}

void ChannelOwner::release() {
    if (d->descriptor >= 0) ::close(d->descriptor);
    d->descriptor = -1;
}

}  // namespace facelume
