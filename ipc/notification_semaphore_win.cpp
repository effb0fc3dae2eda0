#include <QSystemSemaphore>

#include "native_ipc.h"
#include "notification_semaphore.h"

// On Windows Qt's system semaphore is a kernel semaphore without any per-process limit, and it
// derives the same native name from the key. Qt cannot take a unit without waiting, so takeAll
// uses a second handle to the same kernel semaphore.
class NotificationSemaphorePrivate {
public:
    NotificationSemaphorePrivate(const QString& key, int initialValue)
        : m_semaphore(key, initialValue, QSystemSemaphore::Open) {
        const QString name = NotificationSemaphore::nativeKey(key);
        m_handle = nativeipc::createSemaphore(
            std::u16string(reinterpret_cast<const char16_t*>(name.utf16()), name.size()), 0);
    }
    ~NotificationSemaphorePrivate() {
        if (m_handle) nativeipc::closeHandle(m_handle);
    }

    bool acquire() { return m_semaphore.acquire(); }
    int takeAll() {
        int taken = 0;
        while (m_handle && nativeipc::waitForSingleObject(m_handle, 0) == nativeipc::kWaitObject0)
            ++taken;
        return taken;
    }
    bool release(int n) { return m_semaphore.release(n); }
    QString errorString() const { return m_semaphore.errorString(); }

private:
    QSystemSemaphore m_semaphore;
    nativeipc::Handle m_handle = nullptr;
};

NotificationSemaphore::NotificationSemaphore(const QString& key, int initialValue)
    : m_key(key), d(std::make_unique<NotificationSemaphorePrivate>(key, initialValue)) {}

NotificationSemaphore::~NotificationSemaphore() = default;

bool NotificationSemaphore::acquire() { return d->acquire(); }

int NotificationSemaphore::takeAll() { return d->takeAll(); }

bool NotificationSemaphore::release(int n) { return n > 0 && d->release(n); }

QString NotificationSemaphore::errorString() const { return d->errorString(); }
