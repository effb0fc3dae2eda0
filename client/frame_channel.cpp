#include "frame_channel.h"

#include <algorithm>
#include <cstring>

#include "protocol.h"

namespace facelume {
namespace {

// The service holds a segment lock for one copy only; a longer wait means it is stuck.
constexpr std::uint32_t kLockTimeoutMs = 1000;
constexpr std::size_t kPrefixBytes = protocol::kLengthPrefixBytes;
constexpr std::size_t kHeaderBytes = protocol::kFrameHeaderBytes;
constexpr std::size_t kHeightOffset = protocol::kFrameHeightOffset;
using protocol::readInt32;
using protocol::writeInt32;

Result openSignal(std::unique_ptr<NotificationSemaphore>& signal, const std::string& key) {
    signal = std::make_unique<NotificationSemaphore>(protocol::notificationNativeName(key));
    if (signal->isOpen()) return Result::ok();
    return {Status::ChannelError, "cannot open the notification semaphore " + key +
                                      " (system error " + std::to_string(signal->error()) + ")"};
}

}  // namespace

FrameChannel::~FrameChannel() { close(); }

Result FrameChannel::open(const std::string& receiveName, const std::string& sendName, int size) {
    close();
    const std::string toService = protocol::segmentKey(receiveName);
    const std::string fromService = protocol::segmentKey(sendName);
    Result result = m_toService.open(toService, size);
    // Before anything that a client already on the channel would feel, such as taking its
    // pending results below.
    if (result) result = m_owner.acquire(m_toService.nativeKey(), receiveName + "/" + sendName);
    if (result) result = m_fromService.open(fromService, size);
    if (result) result = openSignal(m_fromServiceSignal, protocol::notificationKey(fromService));
    if (result) result = openSignal(m_toServiceSignal, protocol::notificationKey(toService));
    if (!result) {
        close();
        return result;
    }
    // A segment made earlier with another size is used as far as both sides can reach.
    const std::size_t smallest = std::min(
        {static_cast<std::size_t>(size), m_toService.mappedSize(), m_fromService.mappedSize()});
    m_payloadCapacity = smallest > kPrefixBytes ? smallest - kPrefixBytes : 0;
    dropPendingFrames();
    return Result::ok();
}

void FrameChannel::close() {
    m_toServiceSignal.reset();
    m_fromServiceSignal.reset();
    m_owner.release();
    m_toService.close();
    m_fromService.close();
    m_payloadCapacity = 0;
}

Result FrameChannel::sendFrame(int width, int height, const std::uint8_t* bgr, std::size_t stride) {
    const std::size_t row = static_cast<std::size_t>(width) * protocol::kBytesPerPixel;
    const std::size_t payload = kHeaderBytes + row * static_cast<std::size_t>(height);
    if (payload > m_payloadCapacity) {
        return {Status::FrameTooLarge,
                "a " + std::to_string(width) + "x" + std::to_string(height) + " frame needs " +
                    std::to_string(payload + kPrefixBytes) + " bytes of channel, which holds " +
                    std::to_string(m_payloadCapacity + kPrefixBytes) +
                    "; start the service with a larger size"};
    }
    if (!m_toService.tryLock(kLockTimeoutMs)) {
        return {Status::ChannelError, "the service holds the frame segment's lock too long"};
    }
    if (payload + kPrefixBytes > m_toService.reachableSize()) {
        m_toService.unlock();
        return {Status::ChannelError, "the frame segment " + m_toService.key() +
                                          " was shrunk by another process; reopen the channel"};
    }
    std::uint8_t* segment = m_toService.bytes();
    writeInt32(segment, static_cast<std::int32_t>(payload));
    writeInt32(segment + kPrefixBytes, width);
    writeInt32(segment + kPrefixBytes + kHeightOffset, height);
    std::uint8_t* out = segment + kPrefixBytes + kHeaderBytes;
    if (stride == row) {
        std::memcpy(out, bgr, payload - kHeaderBytes);
    } else {
        for (int y = 0; y < height; ++y) std::memcpy(out + y * row, bgr + y * stride, row);
    }
    m_toService.unlock();
    if (!m_toServiceSignal->release(1)) {
        return {Status::ChannelError, "cannot signal the service (system error " +
                                          std::to_string(m_toServiceSignal->error()) + ")"};
    }
    return Result::ok();
}

Result FrameChannel::receiveFrame(Frame& frame, int timeoutMs) {
    const auto wait = static_cast<std::uint32_t>(std::max(timeoutMs, 0));
    const NotificationSemaphore::Wait woken = m_fromServiceSignal->tryAcquire(wait);
    if (woken == NotificationSemaphore::Wait::TimedOut) {
        return {Status::Timeout,
                "no frame came from the service within " + std::to_string(timeoutMs) + " ms"};
    }
    if (woken != NotificationSemaphore::Wait::Acquired) {
        return {Status::ChannelError, "waiting for the service failed (system error " +
                                          std::to_string(m_fromServiceSignal->error()) + ")"};
    }
    if (!m_fromService.tryLock(kLockTimeoutMs)) {
        return {Status::ChannelError, "the service holds the result segment's lock too long"};
    }
    const std::size_t reachable = m_fromService.reachableSize();
    if (reachable < kPrefixBytes + kHeaderBytes) {
        m_fromService.unlock();
        return {Status::ChannelError, "the result segment " + m_fromService.key() +
                                          " was shrunk by another process; reopen the channel"};
    }
    const auto* segment = reinterpret_cast<const char*>(m_fromService.bytes());
    int length = 0;
    const char* payload = protocol::messagePayload(
        segment, static_cast<int>(std::min(m_payloadCapacity + kPrefixBytes, reachable)), &length);
    protocol::FrameHeader header;
    const bool valid = payload && protocol::readFrameHeader(payload, length, &header);
    if (valid) {
        frame.width = header.width;
        frame.height = header.height;
        const auto* pixels = reinterpret_cast<const std::uint8_t*>(payload + kHeaderBytes);
        frame.pixels.assign(pixels, pixels + header.pixelBytes);
    }
    // Described while the lock is held: afterwards the service may be writing the next frame.
    const std::string malformed =
        valid ? std::string()
              : "the service sent a malformed frame (length " + std::to_string(length) + ", " +
                    std::to_string(readInt32(segment + kPrefixBytes)) + "x" +
                    std::to_string(readInt32(segment + kPrefixBytes + kHeightOffset)) + ")";
    m_fromService.unlock();
    if (!valid) return {Status::ChannelError, malformed};
    return Result::ok();
}

void FrameChannel::dropPendingFrames() {
    if (m_fromServiceSignal) (void)m_fromServiceSignal->takeAll();
}

bool FrameChannel::serviceHasSentFrame() {
    if (!m_fromService.tryLock(kLockTimeoutMs)) return false;
    // Nobody clears a segment: a length once written stays until the next frame's.
    const bool sent =
        m_fromService.reachableSize() >= kPrefixBytes && readInt32(m_fromService.bytes()) > 0;
    m_fromService.unlock();
    return sent;
}

}  // namespace facelume
