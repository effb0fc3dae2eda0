#include "frame_segment.h"

namespace facelume {

Result FrameSegment::open(const std::string& key, int size) {
    close();
    m_segment.setKey(key);
    if (!m_segment.create(size, SharedMemoryPrivate::ReadWrite) &&
        m_segment.error != SharedMemoryError::AlreadyExists) {
        std::string text =
            "cannot create the shared memory segment " + key + ": " + m_segment.errorString;
        if (m_segment.error == SharedMemoryError::PermissionDenied) {
            text +=
                " (another user owns objects of that name, or they are open to others: "
                "choose other channel names)";
        }
        return {Status::ChannelError, text};
    }
    // After a successful create the segment is attached already and this call changes nothing.
    (void)m_segment.attach(SharedMemoryPrivate::ReadWrite);
    if (m_segment.memory == nullptr) {
        return {Status::ChannelError,
                "cannot attach the shared memory segment " + key + ": " + m_segment.errorString};
    }
    return Result::ok();
}

void FrameSegment::close() {
    if (m_segment.lockedByMe) (void)m_segment.unlock();
    (void)m_segment.detach();
    m_segment.setKey(std::string());
}

std::size_t FrameSegment::mappedSize() const { return static_cast<std::size_t>(m_segment.size); }

std::size_t FrameSegment::reachableSize() const {
    return static_cast<std::size_t>(m_segment.currentSize());
}

}  // namespace facelume
