#include "system_semaphore.h"

#include <iostream>

#include "platform_safe_key.h"

SystemSemaphore::SystemSemaphore() { setKey(std::string(), 0, Open); }

SystemSemaphore::~SystemSemaphore() { cleanHandle(); }

void SystemSemaphore::setKey(const std::string& key, std::int32_t initialValue, AccessMode mode,
                             std::int32_t maximumCount) {
    if (key == m_key && mode == Open) {
        return;
    }
    clearError();
    cleanHandle();
    m_key = key;
    m_initialValue = initialValue;
    m_maximumCount = maximumCount;
    m_nativeKey = makePlatformSafeKey(key, kSystemSemaphoreKeyPrefix);
    handle(mode);
}

nativeipc::Handle SystemSemaphore::handle(AccessMode) {
    if (m_key.empty()) {
        return nullptr;
    }
    if (m_semaphore != nullptr) {
        return m_semaphore;
    }
    // Creates the semaphore or opens the existing one with its current count; both are fine.
    m_semaphore =
        nativeipc::createSemaphore(ansiToWide(m_nativeKey), m_initialValue, m_maximumCount);
    if (m_semaphore == nullptr) {
        setErrorString("SystemSemaphore::handle");
    }
    return m_semaphore;
}

bool SystemSemaphore::modifySemaphore(std::int32_t count, std::uint32_t timeoutMs) {
    if (handle(Open) == nullptr) {
        return false;
    }
    if (count > 0) {
        if (nativeipc::releaseSemaphore(m_semaphore, count)) {
            clearError();
            return true;
        }
        setErrorString("SystemSemaphore::modifySemaphore");
        return false;
    }
    if (nativeipc::waitForSingleObject(m_semaphore, timeoutMs) == nativeipc::kWaitObject0) {
        clearError();
        return true;
    }
    // A time-out sets no system error; whatever the thread's last error holds is recorded.
    setErrorString("SystemSemaphore::modifySemaphore");
    return false;
}

void SystemSemaphore::cleanHandle() {
    if (m_semaphore != nullptr && !nativeipc::closeHandle(m_semaphore)) {
        std::cout << "SystemSemaphore::CloseHandle : sem failed" << std::endl;
    }
    m_semaphore = nullptr;
}

void SystemSemaphore::clearError() {
    m_error = SystemSemaphoreError::NoError;
    m_errorString.clear();
}

void SystemSemaphore::setErrorString(const std::string& function) {
    const std::uint32_t code = nativeipc::lastError();
    switch (code) {
        case nativeipc::kErrorSuccess:
            return;
        case nativeipc::kErrorAccessDenied:
            m_error = SystemSemaphoreError::PermissionDenied;
            m_errorString = function + "SystemSemaphore : permission denied";
            return;
        case nativeipc::kErrorNotEnoughMemory:
        case nativeipc::kErrorNoSystemResources:
            m_error = SystemSemaphoreError::OutOfResources;
            m_errorString = function + "SystemSemaphore : out of resources";
            return;
        default:
            m_error = SystemSemaphoreError::UnknownError;
            m_errorString = function + "SystemSemaphore : unknown error " + std::to_string(code);
            return;
    }
}
