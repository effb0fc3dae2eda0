#include <QSystemSemaphore>

#include "notification_semaphore.h"

// On Windows Qt's system semaphore is a kernel semaphore without any per-process limit, and it
// derives the same native name from the key.
class NotificationSemaphorePrivate {
public:
    NotificationSemaphorePrivate(const QString& key, int initialValue)
        : m_semaphore(key, initialValue, QSystemSemaphore::Open) {}

    bool acquire() { return m_semaphore.acquire(); }
    bool release(int n) { return m_semaphore.release(n); }
    QString errorString() const { return m_semaphore.errorString(); }

private:
    QSystemSemaphore m_semaphore;
};

NotificationSemaphore::NotificationSemaphore(const QString& key, int initialValue)
    : m_key(key), d(std::make_unique<NotificationSemaphorePrivate>(key, initialValue)) {}

NotificationSemaphore::~NotificationSemaphore() = default;

bool NotificationSemaphore::acquire() { return d->acquire(); }

bool NotificationSemaphore::release(int n) { return n > 0 && d->release(n); }

QString NotificationSemaphore::errorString() const { return d->errorString(); }
