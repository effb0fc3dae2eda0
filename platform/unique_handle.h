#pragma once

// An owned operating-system handle, a file descriptor on POSIX and a HANDLE on Windows, closed
// when its owner lets it go. Move-only: exactly one owner closes it. One object is used by one
// thread at a time.

#include <cstdint>

namespace platform {

class UniqueHandle {
public:
    // Wide enough for a descriptor and for a HANDLE.
    using Native = std::intptr_t;
    // No handle: what POSIX calls return on failure (-1), and INVALID_HANDLE_VALUE.
    static constexpr Native kInvalid = -1;

    UniqueHandle() = default;
    explicit UniqueHandle(Native native) : m_native(native) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_native(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept;
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] Native get() const { return m_native; }
    [[nodiscard]] bool isValid() const { return isValidNative(m_native); }
    // Gives the handle up without closing it.
    [[nodiscard]] Native release();
    // Closes the handle held, if any, and takes `native` instead.
    void reset(Native native = kInvalid);

private:
    // Implemented by the platform files: which values name a handle, and how one is closed.
    static bool isValidNative(Native native);
    static void closeNative(Native native);

    Native m_native = kInvalid;
};

}  // namespace platform
