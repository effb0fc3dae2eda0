#include "control_input_watch.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

ControlInputWatch::ControlInputWatch(QObject* parent) : QObject(parent) {
    QCoreApplication* application = QCoreApplication::instance();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    if (!application || !dispatcher || thread() != application->thread()) return;
    application->installEventFilter(this);
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { m_deliveringSocketEvent = false; });
    m_usable = true;
}

void ControlInputWatch::watch(qintptr descriptor) {
    std::lock_guard<std::mutex> locker(m_mutex);
    m_descriptors.append(descriptor);
}

void ControlInputWatch::unwatch(qintptr descriptor) {
    std::lock_guard<std::mutex> locker(m_mutex);
    m_descriptors.removeOne(descriptor);
}

void ControlInputWatch::watchListener(qintptr descriptor) { m_listener = descriptor; }

// In the order in which the main thread moves a line: a connection taken from the queue is taken
// during a socket event, and watched before that event is over; a line read out of a watched
// connection was read during a socket event, which is then either still marked or over.
bool ControlInputWatch::pending() const {
    if (!m_usable) return true;
    const qintptr listener = m_listener;
    if (listener >= 0 && !hasNoWaitingConnection(listener)) return true;
    if (m_deliveringSocketEvent) return true;
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        for (const qintptr descriptor : m_descriptors) {
            if (!hasNoUnreadBytes(descriptor)) return true;
        }
    }
    return m_deliveringSocketEvent;
}

bool ControlInputWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::SockAct) return false;
    m_deliveringSocketEvent = true;
    const auto* notifier = qobject_cast<QSocketNotifier*>(watched);
    const qintptr listener = m_listener;
    return notifier && listener >= 0 && notifier->socket() == listener &&
           hasNoWaitingConnection(listener);
}
