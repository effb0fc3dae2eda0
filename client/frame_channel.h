#pragma once

// The frame side of a channel as the client sees it: the client writes length-prefixed messages
// into the service's receive segment and releases that direction's notification semaphore, and
// waits on the send direction's notification semaphore before it reads the service's send
// segment. Each segment is guarded by its cross-process lock, and the channel by its owner lock:
// a second client of the same names is refused. Names come from the service's two
// channel names; whichever process comes first creates a segment, the other attaches.
//
// Threading: one thread may send while another receives; each direction is used by one thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "channel_owner.h"
#include "facelume_client.h"
#include "frame_segment.h"
#include "notification_semaphore.h"

namespace facelume {

class FrameChannel {
public:
    FrameChannel() = default;
    ~FrameChannel();
    FrameChannel(const FrameChannel&) = delete;
    FrameChannel& operator=(const FrameChannel&) = delete;

    Result open(const std::string& receiveName, const std::string& sendName, int size);
    void close();
    bool isOpen() const { return m_toServiceSignal != nullptr; }

    // Largest payload (frame header and pixels) one message can carry.
    std::size_t payloadCapacity() const { return m_payloadCapacity; }

    // REQUIRES: isOpen(), for both.
    Result sendFrame(int width, int height, const std::uint8_t* bgr, std::size_t stride);
    Result receiveFrame(Frame& frame, int timeoutMs);
    // Drops the notifications of frames that the service sent and nobody read.
    void dropPendingFrames();
    // True when the service has ever sent a frame on this channel (to this client or to one
    // before): it then holds a frame, which it sends again after every control.
    bool serviceHasSentFrame();

private:
    FrameSegment m_toService;
    FrameSegment m_fromService;
    ChannelOwner m_owner;
    std::unique_ptr<NotificationSemaphore> m_toServiceSignal;
    std::unique_ptr<NotificationSemaphore> m_fromServiceSignal;
    std::size_t m_payloadCapacity = 0;
};

}  // namespace facelume
