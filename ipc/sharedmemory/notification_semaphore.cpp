#include "notification_semaphore.h"

#include "platform_safe_key.h"

// Built on the platform layer's named semaphores. On Linux these are not System V semaphores:
// those are operated with an undo value that the kernel caps at 32767 per process, so a side
// that only releases (or only acquires) would fail after 32767 messages. On Windows the layer's
// semaphore is the kernel semaphore that Qt's system semaphore of the same name opens.
NotificationSemaphore::NotificationSemaphore(const std::string& nativeName, int initialValue) {
    if (nativeName.empty()) {
        m_error = nativeipc::kErrorInvalidName;
        return;
    }
    m_handle = nativeipc::createSemaphore(ansiToWide(nativeName), initialValue);
    if (!m_handle) m_error = nativeipc::lastError();
}

NotificationSemaphore::~NotificationSemaphore() {
    if (m_handle) nativeipc::closeHandle(m_handle);
}

bool NotificationSemaphore::acquire() {
    return m_handle && tryAcquire(nativeipc::kInfinite) == Wait::Acquired;
}

NotificationSemaphore::Wait NotificationSemaphore::tryAcquire(std::uint32_t timeoutMs) {
    if (!m_handle) return Wait::Failed;
    const std::uint32_t woken = nativeipc::waitForSingleObject(m_handle, timeoutMs);
    if (woken == nativeipc::kWaitObject0) return Wait::Acquired;
    if (woken == nativeipc::kWaitTimeout) return Wait::TimedOut;
    m_error = nativeipc::lastError();
    return Wait::Failed;
}

int NotificationSemaphore::takeAll() {
    int taken = 0;
    while (m_handle && nativeipc::waitForSingleObject(m_handle, 0) == nativeipc::kWaitObject0)
        ++taken;
    return taken;
}

bool NotificationSemaphore::release(int n) {
    if (!m_handle || n <= 0) return false;
    if (nativeipc::releaseSemaphore(m_handle, n)) return true;
    m_error = nativeipc::lastError();
    return false;
}
