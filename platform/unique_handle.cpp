#include "unique_handle.h"

// The platform files implement isValidNative and closeNative.
namespace platform {

UniqueHandle& UniqueHandle::operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

UniqueHandle::Native UniqueHandle::release() {
    const Native native = m_native;
    m_native = kInvalid;
    return native;
}

void UniqueHandle::reset(Native native) {
    if (isValidNative(m_native)) closeNative(m_native);
    m_native = native;
}

}  // namespace platform
