#pragma once

// The counting semaphore through which one side of a channel tells the other that a message is
// waiting: named after a key, opened (created when missing) with an initial count, never reset.
// Every process that uses the same key reaches the same semaphore, under the native name that
// nativeKey gives; the system object goes away with the last handle to it in any process.
// One thread may wait in acquire while others call release.

#include <QString>
#include <memory>

class NotificationSemaphorePrivate;

class NotificationSemaphore {
public:
    explicit NotificationSemaphore(const QString& key, int initialValue = 0);
    ~NotificationSemaphore();
    NotificationSemaphore(const NotificationSemaphore&) = delete;
    NotificationSemaphore& operator=(const NotificationSemaphore&) = delete;

    // Takes one unit, waiting without limit. False when the semaphore cannot be used.
    bool acquire();
    // Takes every unit available now, without waiting; returns how many it took.
    int takeAll();
    // Gives back n (> 0) units at once.
    bool release(int n = 1);
    [[nodiscard]] QString key() const { return m_key; }
    [[nodiscard]] QString errorString() const;

    // "qipc_systemsem_", the ASCII letters of the key, then the SHA-1 of its UTF-8 bytes as 40
    // lowercase hex digits: the name the system knows the semaphore by.
    [[nodiscard]] static QString nativeKey(const QString& key);

private:
    QString m_key;
    std::unique_ptr<NotificationSemaphorePrivate> d;
};
