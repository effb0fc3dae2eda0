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
using protocol::readInt32;
using protocol::writeInt32;

std::u16string widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

Result openSegment(SharedMemoryPrivate& segment, const std::string& key, int size) {
    segment.setKey(key);
    if (!segment.create(size, SharedMemoryPrivate::ReadWrite) &&
        segment.error != SharedMemoryError::AlreadyExists) {
        std::string text =
            "cannot create the shared memory segment " + key + ": " + segment.errorString;
        if (segment.error == SharedMemoryError::PermissionDenied) {
            text +=
                " (another user owns objects of that name, or they are open to others: "
                "choose other channel names)";
        }
        return {Status::ChannelError, text};
    }
    // After a successful create the segment is attached already and this call changes nothing.
    (void)segment.attach(SharedMemoryPrivate::ReadWrite);
    if (segment.memory == nullptr) {
        return {Status::ChannelError,
                "cannot attach the shared memory segment " + key + ": " + segment.errorString};
    }
    return Result::ok();
}

Result openSignal(nativeipc::Handle& handle, const std::string& key) {
    handle = nativeipc::createSemaphore(widen(protocol::notificationNativeName(key)), 0);
    if (handle != nullptr) return Result::ok();
    return {Status::ChannelError, "cannot open the notification semaphore " + key +
                                      " (system error " + std::to_string(nativeipc::lastError()) +
                                      ")"};
}

}  // namespace

FrameChannel::~FrameChannel() { close(); }

Result FrameChannel::open(const std::string& receiveName, const std::string& sendName, int size) {
    close();
    const std::string toService = protocol::segmentKey(receiveName);
    const std::string fromService = protocol::segmentKey(sendName);
    Result result = openSegment(m_toService, toService, size);
    // Before anything that a client already on the channel would feel, such as taking its
    // pending results below.
    if (result) result = m_owner.acquire(m_toService.nativeKey, receiveName + "/" + sendName);
    if (result) result = openSegment(m_fromService, fromService, size);
    if (result) result = openSignal(m_fromServiceSignal, protocol::notificationKey(fromService));
    if (result) result = openSignal(m_toServiceSignal, protocol::notificationKey(toService));
    if (!result) {
        close();
        return result;
    }
    // A segment made earlier with another size is used as far as both sides can reach.
    const auto smallest =
        static_cast<std::size_t>(std::min({size, m_toService.size, m_fromService.size}));
    m_payloadCapacity = smallest > kPrefixBytes ? smallest - kPrefixBytes : 0;
    dropPendingFrames();
    return Result::ok();
}

void FrameChannel::close() {
    if (m_toServiceSignal != nullptr) nativeipc::closeHandle(m_toServiceSignal);
    if (m_fromServiceSignal != nullptr) nativeipc::closeHandle(m_fromServiceSignal);
    m_toServiceSignal = nullptr;
    m_fromServiceSignal = nullptr;
    m_owner.release();
    if (m_toService.lockedByMe) (void)m_toService.unlock();
    if (m_fromService.lockedByMe) (void)m_fromService.unlock();
    (void)m_toService.detach();
    (void)m_fromService.detach();
    m_toService.setKey(std::string());
    m_fromService.setKey(std::string());
    m_payloadCapacity = 0;
}

Result FrameChannel::sendFrame(int width, int height, const std::uint8_t* bgr, std::size_t stride) {
    const std::size_t row = static_cast<std::size_t>(width) * 3;
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
    if (payload + kPrefixBytes > static_cast<std::size_t>(m_toService.currentSize())) {
        (void)m_toService.unlock();
        return {Status::ChannelError, "the frame segment " + m_toService.key +
                                          " was shrunk by another process; reopen the channel"};
    }
    auto* segment = static_cast<std::uint8_t*>(m_toService.memory);
    writeInt32(segment, static_cast<std::int32_t>(payload));
    writeInt32(segment + kPrefixBytes, width);
    writeInt32(segment + kPrefixBytes + 4, height);
    std::uint8_t* out = segment + kPrefixBytes + kHeaderBytes;
    if (stride == row) {
        std::memcpy(out, bgr, payload - kHeaderBytes);
    } else {
        for (int y = 0; y < height; ++y) std::memcpy(out + y * row, bgr + y * stride, row);
    }
    (void)m_toService.unlock();
    if (!nativeipc::releaseSemaphore(m_toServiceSignal, 1)) {
        return {Status::ChannelError, "cannot signal the service (system error " +
                                          std::to_string(nativeipc::lastError()) + ")"};
    }
    return Result::ok();
}

Result FrameChannel::receiveFrame(Frame& frame, int timeoutMs) {
    const auto wait = static_cast<std::uint32_t>(std::max(timeoutMs, 0));
    const std::uint32_t woken = nativeipc::waitForSingleObject(m_fromServiceSignal, wait);
    if (woken == nativeipc::kWaitTimeout) {
        return {Status::Timeout,
                "no frame came from the service within " + std::to_string(timeoutMs) + " ms"};
    }
    if (woken != nativeipc::kWaitObject0) {
        return {Status::ChannelError, "waiting for the service failed (system error " +
                                          std::to_string(nativeipc::lastError()) + ")"};
    }
    if (!m_fromService.tryLock(kLockTimeoutMs)) {
        return {Status::ChannelError, "the service holds the result segment's lock too long"};
    }
    const auto reachable = static_cast<std::size_t>(m_fromService.currentSize());
    if (reachable < kPrefixBytes + kHeaderBytes) {
        (void)m_fromService.unlock();
        return {Status::ChannelError, "the result segment " + m_fromService.key +
                                          " was shrunk by another process; reopen the channel"};
    }
    const auto* segment = static_cast<const char*>(m_fromService.memory);
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
    (void)m_fromService.unlock();
    if (!valid) {
        return {Status::ChannelError,
                "the service sent a malformed frame (length " + std::to_string(length) + ", " +
                    std::to_string(readInt32(segment + kPrefixBytes)) + "x" +
                    std::to_string(readInt32(segment + kPrefixBytes + 4)) + ")"};
    }
    return Result::ok();
}

void FrameChannel::dropPendingFrames() {
    while (nativeipc::waitForSingleObject(m_fromServiceSignal, 0) == nativeipc::kWaitObject0) {
    }
}

}  // namespace facelume
