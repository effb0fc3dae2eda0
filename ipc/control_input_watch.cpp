#include "control_input_watch.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

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

// The descriptors first: a line read out of them was read during a socket event, which is then
// either still marked or over.
bool ControlInputWatch::pending() const {
    if (!m_usable) return true;
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        for (const qintptr descriptor : m_descriptors) {
            if (!hasNoUnreadBytes(descriptor)) return true;
        }
    }
    return m_deliveringSocketEvent;
}

bool ControlInputWatch::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::SockAct) m_deliveringSocketEvent = true;
    return false;
}
