#include <atomic>
#include <cstdint>

#include "native_ipc.h"
#include "notification_semaphore.h"

// Built on the platform layer's named semaphores rather than on System V semaphores: those are
// operated with an undo value that the kernel caps at 32767 per process, so a side that only
// releases (or only acquires) would fail after 32767 messages.
class NotificationSemaphorePrivate {
public:
    NotificationSemaphorePrivate(const QString& nativeKey, int initialValue) {
        if (nativeKey.isEmpty()) {
            m_error = nativeipc::kErrorInvalidName;
            return;
        }
        const std::u16string name(reinterpret_cast<const char16_t*>(nativeKey.utf16()),
                                  nativeKey.size());
        m_handle = nativeipc::createSemaphore(name, initialValue);
        if (!m_handle) m_error = nativeipc::lastError();
    }
    ~NotificationSemaphorePrivate() {
        if (m_handle) nativeipc::closeHandle(m_handle);
    }

    bool acquire() {
        if (!m_handle) return false;
        if (nativeipc::waitForSingleObject(m_handle, nativeipc::kInfinite) ==
            nativeipc::kWaitObject0)
            return true;
        m_error = nativeipc::lastError();
        return false;
    }
    int takeAll() {
        int taken = 0;
        while (m_handle && nativeipc::waitForSingleObject(m_handle, 0) == nativeipc::kWaitObject0)
            ++taken;
        return taken;
    }
    bool release(int n) {
        if (!m_handle) return false;
        if (nativeipc::releaseSemaphore(m_handle, n)) return true;
        m_error = nativeipc::lastError();
        return false;
    }
    QString errorString() const {
        const std::uint32_t code = m_error;
        return code == nativeipc::kErrorSuccess
                   ? QString()
                   : QStringLiteral("NotificationSemaphore: system error %1").arg(code);
    }

private:
    nativeipc::Handle m_handle = nullptr;
    // Written by the waiting thread and by releasing threads alike.
    std::atomic<std::uint32_t> m_error{nativeipc::kErrorSuccess};
};

NotificationSemaphore::NotificationSemaphore(const QString& key, int initialValue)
    : m_key(key), d(std::make_unique<NotificationSemaphorePrivate>(nativeKey(key), initialValue)) {}

NotificationSemaphore::~NotificationSemaphore() = default;

bool NotificationSemaphore::acquire() { return d->acquire(); }

int NotificationSemaphore::takeAll() { return d->takeAll(); }

bool NotificationSemaphore::release(int n) { return n > 0 && d->release(n); }

QString NotificationSemaphore::errorString() const { return d->errorString(); }
