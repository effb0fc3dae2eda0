#include "frame_channel.h"

#include <algorithm>
#include <cstring>

#include "sha1.h"

namespace facelume {
namespace {

// The service holds a segment lock for one copy only; a longer wait means it is stuck.
constexpr std::uint32_t kLockTimeoutMs = 1000;
constexpr std::size_t kPrefixBytes = 4;
constexpr std::size_t kHeaderBytes = 8;

void putInt32(std::uint8_t* at, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::int32_t getInt32(const std::uint8_t* at) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

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
    handle = nativeipc::createSemaphore(widen(FrameChannel::notificationName(key)), 0);
    if (handle != nullptr) return Result::ok();
    return {Status::ChannelError, "cannot open the notification semaphore " + key +
                                      " (system error " + std::to_string(nativeipc::lastError()) +
                                      ")"};
}

}  // namespace

FrameChannel::~FrameChannel() { close(); }

std::string FrameChannel::notificationName(const std::string& segmentKey) {
    // The service's notification semaphores are Qt system semaphores: Qt names them after the
    // key's ASCII letters and the SHA-1 of its UTF-8 bytes.
    std::string name = "qipc_systemsem_";
    for (const char c : segmentKey) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) name += c;
    }
    return name + sha1Hex(segmentKey);
}

Result FrameChannel::open(const std::string& receiveName, const std::string& sendName, int size) {
    close();
    const std::string toService = receiveName + "_sharedMemory";
    const std::string fromService = sendName + "_sharedMemory";
    Result result = openSegment(m_toService, toService, size);
    if (result) result = openSegment(m_fromService, fromService, size);
    if (result) result = openSignal(m_fromServiceSignal, fromService + "_sys");
    if (result) result = openSignal(m_toServiceSignal, toService + "_sys");
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
    putInt32(segment, static_cast<std::int32_t>(payload));
    putInt32(segment + kPrefixBytes, width);
    putInt32(segment + kPrefixBytes + 4, height);
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
    const auto* segment = static_cast<const std::uint8_t*>(m_fromService.memory);
    const std::int32_t length = getInt32(segment);
    const std::int32_t width = getInt32(segment + kPrefixBytes);
    const std::int32_t height = getInt32(segment + kPrefixBytes + 4);
    const std::size_t pixels =
        width > 0 && height > 0 ? static_cast<std::size_t>(width) * height * 3 : 0;
    const bool valid = length >= static_cast<std::int32_t>(kHeaderBytes) &&
                       static_cast<std::size_t>(length) <= m_payloadCapacity &&
                       static_cast<std::size_t>(length) + kPrefixBytes <= reachable && pixels > 0 &&
                       kHeaderBytes + pixels <= static_cast<std::size_t>(length);
    if (valid) {
        frame.width = width;
        frame.height = height;
        frame.pixels.assign(segment + kPrefixBytes + kHeaderBytes,
                            segment + kPrefixBytes + kHeaderBytes + pixels);
    }
    (void)m_fromService.unlock();
    if (!valid) {
        return {Status::ChannelError, "the service sent a malformed frame (length " +
                                          std::to_string(length) + ", " + std::to_string(width) +
                                          "x" + std::to_string(height) + ")"};
    }
    return Result::ok();
}

void FrameChannel::dropPendingFrames() {
    while (nativeipc::waitForSingleObject(m_fromServiceSignal, 0) == nativeipc::kWaitObject0) {
    }
}

}  // namespace facelume
