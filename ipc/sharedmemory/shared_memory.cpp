#include "shared_memory.h"

#include <QDebug>

namespace {

SharedMemoryPrivate::AccessMode privateMode(SharedMemory::AccessMode mode) {
    return mode == SharedMemory::ReadOnly ? SharedMemoryPrivate::ReadOnly
                                          : SharedMemoryPrivate::ReadWrite;
}

}  // namespace

SharedMemory::SharedMemory(QObject* parent)
    : QObject(parent), d(std::make_unique<SharedMemoryPrivate>()) {}

SharedMemory::~SharedMemory() {
    d->detach();
    d.reset();
    qDebug() << 28 << "__cdecl SharedMemory::~SharedMemory(void)";
}

void SharedMemory::setKey(const QString& key) { d->setKey(key.toUtf8().toStdString()); }

bool SharedMemory::create(int size, AccessMode mode) { return d->create(size, privateMode(mode)); }

bool SharedMemory::attach(AccessMode mode) { return d->attach(privateMode(mode)); }

bool SharedMemory::detach() { return d->detach(); }

bool SharedMemory::isAttached() const { return d->memory != nullptr; }

void* SharedMemory::data() { return d->memory; }

bool SharedMemory::tryLock(std::uint32_t timeoutMs) { return d->tryLock(timeoutMs); }

bool SharedMemory::unlock() { return d->unlock(); }

SharedMemoryError SharedMemory::error() const {
    const auto value = static_cast<std::int32_t>(d->error);
    return value >= 1 && value <= 8 ? d->error : SharedMemoryError::NoError;
}

QString SharedMemory::errorString() const { return QString::fromStdString(d->errorString); }

int SharedMemory::size() const { return d->size; }

int SharedMemory::currentSize() const { return d->currentSize(); }
