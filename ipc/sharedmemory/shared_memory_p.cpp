#include "shared_memory_p.h"

#include <algorithm>
#include <iostream>

#include "platform_safe_key.h"

namespace {

// The segment lock holds one unit and no more: on Windows a release too many then fails instead of
// letting two writers into the segment.
constexpr std::int32_t kLockUnits = 1;

SharedMemoryError fromSemaphoreError(SystemSemaphoreError error) {
    switch (error) {
        case SystemSemaphoreError::PermissionDenied:
            return SharedMemoryError::PermissionDenied;
        case SystemSemaphoreError::KeyError:
            return SharedMemoryError::KeyError;
        case SystemSemaphoreError::AlreadyExists:
            return SharedMemoryError::AlreadyExists;
        case SystemSemaphoreError::NotFound:
            return SharedMemoryError::NotFound;
        case SystemSemaphoreError::OutOfResources:
            return SharedMemoryError::OutOfResources;
        default:
            return SharedMemoryError::UnknownError;
    }
}

}  // namespace

SharedMemoryPrivate::SharedMemoryPrivate() = default;

SharedMemoryPrivate::~SharedMemoryPrivate() { setKey(std::string()); }

void SharedMemoryPrivate::record(SharedMemoryError kind, const std::string& text) {
    error = kind;
    errorString = text;
}

void SharedMemoryPrivate::setKey(const std::string& newKey) {
    if (newKey == key && makePlatformSafeKey(newKey, kSharedMemoryKeyPrefix) == nativeKey) {
        return;
    }
    if (lockedByMe) (void)unlock();
    if (memory != nullptr) {
        if (nativeipc::unmapViewOfFile(memory)) {
            memory = nullptr;
            size = 0;
            cleanHandle();
        } else {
            setErrorString("SharedMemory::detach");
        }
    }
    cleanHandle();
    // The lock of the old key goes too: left open, it would keep that lock, and whatever state
    // it is in, alive for the next process that opens the key.
    systemSemaphore.setKey(std::string(), 1, SystemSemaphore::Open);
    key = newKey;
    nativeKey = makePlatformSafeKey(key, kSharedMemoryKeyPrefix);
}

bool SharedMemoryPrivate::initKey() {
    // Closes whatever semaphore was open, then opens (or creates) the one of the current key.
    systemSemaphore.setKey(std::string(), 1, SystemSemaphore::Open);
    systemSemaphore.setKey(key, 1, SystemSemaphore::Open, kLockUnits);
    if (systemSemaphore.error() != SystemSemaphoreError::NoError) {
        errorString = "SharedMemoryPrivate::initKey " + systemSemaphore.errorString();
        error = fromSemaphoreError(systemSemaphore.error());
        std::cout << "initKey : " << errorString << std::endl;
        return false;
    }
    errorString.clear();
    error = SharedMemoryError::NoError;
    return true;
}

bool SharedMemoryPrivate::create(std::int32_t requestedSize, AccessMode mode) {
    if (!initKey()) {
        return false;
    }
    systemSemaphore.setKey(key, 1, SystemSemaphore::Create, kLockUnits);
    if (requestedSize <= 0) {
        record(SharedMemoryError::InvalidSize, "SharedMemory::create : create size is less then 0");
        return false;
    }
    if (nativeKey.empty()) {
        record(SharedMemoryError::KeyError, "SharedMemory::create : key error");
        return false;
    }
    // A handle held from an earlier create would otherwise leak.
    cleanHandle();
    mappingHandle = nativeipc::createFileMapping(ansiToWide(nativeKey),
                                                 static_cast<std::uint64_t>(requestedSize));
    // The handle is valid even when the segment already exists, so check the error explicitly.
    setErrorString("SharedMemory::create");
    if (error == SharedMemoryError::AlreadyExists || mappingHandle == nullptr) {
        return false;
    }
    return attach(mode);
}

bool SharedMemoryPrivate::attach(AccessMode mode) {
    if (memory != nullptr) {
        return false;
    }
    if (!initKey()) {
        return false;
    }
    if (handle() == nullptr) {
        return false;
    }
    const std::uint32_t access =
        mode == ReadOnly ? nativeipc::kFileMapRead : nativeipc::kFileMapAllAccess;
    memory = nativeipc::mapViewOfFile(mappingHandle, access);
    if (memory == nullptr) {
        setErrorString("SharedMemory::attach");
        cleanHandle();
        return false;
    }
    const std::size_t regionSize = nativeipc::queryRegionSize(memory);
    if (regionSize == 0) {
        record(SharedMemoryError::UnknownError, "SharedMemory::attach : size query failed");
        return false;
    }
    size = static_cast<std::int32_t>(regionSize);
    return true;
}

nativeipc::Handle SharedMemoryPrivate::handle() {
    if (mappingHandle != nullptr) {
        return mappingHandle;
    }
    if (nativeKey.empty()) {
        record(SharedMemoryError::KeyError, "SharedMemory::handle : unable to make key");
        return nullptr;
    }
    mappingHandle = nativeipc::openFileMapping(ansiToWide(nativeKey));
    if (mappingHandle == nullptr) {
        setErrorString("SharedMemory::handle");
    }
    return mappingHandle;
}

bool SharedMemoryPrivate::cleanHandle() {
    if (mappingHandle != nullptr && !nativeipc::closeHandle(mappingHandle)) {
        mappingHandle = nullptr;
        setErrorString("SharedMemory::cleanHandle");
        return false;
    }
    mappingHandle = nullptr;
    // A mapping lock belongs to the handle and went with it.
    if (nativeipc::hasMappingLocks()) lockedByMe = false;
    return true;
}

bool SharedMemoryPrivate::detach() {
    if (memory == nullptr) {
        return false;
    }
    if (!nativeipc::unmapViewOfFile(memory)) {
        setErrorString("SharedMemory::detach");
        return false;
    }
    memory = nullptr;
    size = 0;
    return cleanHandle();
}

bool SharedMemoryPrivate::tryLock(std::uint32_t timeoutMs) {
    if (lockedByMe) {
        return true;
    }
    // Where the system offers a lock that dies with its holder, the segment lock is that one: a
    // peer killed while holding it must not block the channel for good.
    const bool taken =
        nativeipc::hasMappingLocks()
            ? mappingHandle != nullptr &&
                  nativeipc::lockMapping(mappingHandle, timeoutMs) == nativeipc::kWaitObject0
            : systemSemaphore.modifySemaphore(-1, timeoutMs);
    if (!taken) {
        record(SharedMemoryError::LockError, "SharedMemory::tryLock : unable to tryLock");
        return false;
    }
    lockedByMe = true;
    return true;
}

bool SharedMemoryPrivate::unlock() {
    if (!lockedByMe) {
        return false;
    }
    lockedByMe = false;
    const bool released = nativeipc::hasMappingLocks()
                              ? nativeipc::unlockMapping(mappingHandle)
                              : systemSemaphore.modifySemaphore(1, nativeipc::kInfinite);
    if (released) {
        return true;
    }
    record(SharedMemoryError::LockError, "SharedMemory::unlock : unable to unlock");
    return false;
}

std::int32_t SharedMemoryPrivate::currentSize() const {
    if (memory == nullptr || mappingHandle == nullptr) return 0;
    const std::uint64_t objectSize = nativeipc::queryMappingSize(mappingHandle);
    return static_cast<std::int32_t>(std::min<std::uint64_t>(objectSize, size));
}

void SharedMemoryPrivate::setErrorString(const std::string& function) {
    const std::uint32_t code = nativeipc::lastError();
    switch (code) {
        case nativeipc::kErrorSuccess:
            return;
        case nativeipc::kErrorAlreadyExists:
            record(SharedMemoryError::AlreadyExists, function + " : already exists");
            return;
        case nativeipc::kErrorFileNotFound:
            record(SharedMemoryError::NotFound, function + " : doesn't exist");
            return;
        case nativeipc::kErrorAccessDenied:
            record(SharedMemoryError::PermissionDenied, function + " : permission denied");
            return;
        case nativeipc::kErrorNotEnoughMemory:
        case nativeipc::kErrorNoSystemResources:
            record(SharedMemoryError::OutOfResources, function + " : out of resources");
            return;
        case nativeipc::kErrorCommitmentLimit:
            record(SharedMemoryError::InvalidSize, function + " : invalid size");
            return;
        default:
            record(SharedMemoryError::UnknownError,
                   function + " : unknown error " + std::to_string(code));
            return;
    }
}
