#include "notification_semaphore.h"

#include <QCryptographicHash>

// The platform files implement everything else.
QString NotificationSemaphore::nativeKey(const QString& key) {
    if (key.isEmpty()) return QString();
    QString result = QStringLiteral("qipc_systemsem_");
    for (const QChar ch : key) {
        if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) result += ch;
    }
    result += QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex());
    return result;
}
