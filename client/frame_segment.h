#pragma once

// One direction's named shared-memory segment as the client uses it: opened by key (created when
// missing, else attached with the size its creator gave it), and touched only under its
// cross-process lock. Used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>

#include "facelume_client.h"
#include "shared_memory_p.h"

namespace facelume {

class FrameSegment {
public:
    FrameSegment() = default;
    ~FrameSegment() { close(); }
    FrameSegment(const FrameSegment&) = delete;
    FrameSegment& operator=(const FrameSegment&) = delete;

    Result open(const std::string& key, int size);
    void close();

    [[nodiscard]] const std::string& key() const { return m_segment.key; }
    // The name the system knows the segment by.
    [[nodiscard]] const std::string& nativeKey() const { return m_segment.nativeKey; }
    // Bytes mapped when the segment was opened.
    [[nodiscard]] std::size_t mappedSize() const;
    // False when another process held the lock for longer than timeoutMs.
    [[nodiscard]] bool tryLock(std::uint32_t timeoutMs) { return m_segment.tryLock(timeoutMs); }
    void unlock() { (void)m_segment.unlock(); }
    // REQUIRES: the lock is held, for all three.
    [[nodiscard]] std::uint8_t* bytes() { return static_cast<std::uint8_t*>(m_segment.memory); }
    [[nodiscard]] const std::uint8_t* bytes() const {
        return static_cast<const std::uint8_t*>(m_segment.memory);
    }
    // What can be touched now: less than mappedSize when another process shrank the segment.
    [[nodiscard]] std::size_t reachableSize() const;

private:
    SharedMemoryPrivate m_segment;
};

}  // namespace facelume
