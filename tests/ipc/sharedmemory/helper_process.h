#pragma once

// Support of the cross-process tests: the sharedmemory_helper program (built next to the tests) as
// a real second process, names no other test process uses, and signals between the two.

#include <cstdint>
#include <string>
#include <vector>

#include "native_ipc.h"
#include "platform_safe_key.h"

class HelperProcess {
public:
    HelperProcess() = default;
    ~HelperProcess() { kill(); }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    [[nodiscard]] bool start(const std::vector<std::string>& arguments);
    // The exit code, or -1 if the process did not end within timeoutMs.
    [[nodiscard]] int waitForExit(int timeoutMs);
    // Ends the process at once, as a crash would: it runs no code of its own.
    void kill();

private:
    std::intptr_t m_process = 0;  // process id or handle; 0 when none runs
};

unsigned long currentProcessId();

// The name carries this process's id in letters ("facelumetestP", digit d as 'a' + d, "X"), which
// survive in native names, so that removeTestLeftovers can tell the names of runs that are gone.
inline std::string uniqueName(const std::string& base) {
    std::string id;
    for (const char digit : std::to_string(currentProcessId())) {
        id += static_cast<char>('a' + (digit - '0'));
    }
    return "facelumetestP" + id + "X_" + base;
}

// Removes what test processes that died (crashed, killed) left behind; live runs stay untouched.
void removeTestLeftovers();

// True when this Windows program runs under Wine rather than Windows.
bool runsUnderWine();

// A named semaphore of count 0 through which a test and its helper tell each other that a step is
// done. Create it before starting the helper, so that it outlives the helper's handles.
class TestSignal {
public:
    explicit TestSignal(std::string name)
        : m_name(std::move(name)), m_handle(nativeipc::createSemaphore(ansiToWide(m_name), 0)) {}
    ~TestSignal() { nativeipc::closeHandle(m_handle); }
    TestSignal(const TestSignal&) = delete;
    TestSignal& operator=(const TestSignal&) = delete;

    const std::string& name() const { return m_name; }
    bool wait() { return nativeipc::waitForSingleObject(m_handle, 10000) == 0; }
    bool release() { return nativeipc::releaseSemaphore(m_handle, 1); }

private:
    std::string m_name;
    nativeipc::Handle m_handle;
};
