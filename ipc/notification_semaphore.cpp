#include "notification_semaphore.h"

#include "protocol.h"

// The platform files implement everything else.
QString NotificationSemaphore::nativeKey(const QString& key) {
    return QString::fromStdString(protocol::notificationNativeName(key.toStdString()));
}
