#pragma once

// A named semaphore of count 0 through which a test and its helper process tell each other that a
// step is done. Create it before starting the helper, so that it outlives the helper's handles.

#include <string>

#include "native_ipc.h"
#include "platform_safe_key.h"

class TestSignal {
public:
    explicit TestSignal(std::string name)
        : m_name(std::move(name)), m_handle(nativeipc::createSemaphore(ansiToWide(m_name), 0)) {}
    ~TestSignal() {
        if (m_handle != nullptr) {
            nativeipc::closeHandle(m_handle);
        }
    }
    TestSignal(const TestSignal&) = delete;
    TestSignal& operator=(const TestSignal&) = delete;

    const std::string& name() const { return m_name; }
    bool wait(std::uint32_t timeoutMs = 10000) {
        return nativeipc::waitForSingleObject(m_handle, timeoutMs) == nativeipc::kWaitObject0;
    }
    bool release() { return nativeipc::releaseSemaphore(m_handle, 1); }

private:
    std::string m_name;
    nativeipc::Handle m_handle;
};
