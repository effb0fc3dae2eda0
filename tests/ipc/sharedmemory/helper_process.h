#pragma once

// Support of the cross-process tests: the sharedmemory_helper program (built next to the tests) as
// a real second process, and signals between the two. Names come from testnames::letterName.

#include <cstdint>
#include <string>
#include <vector>

#include "native_ipc.h"
#include "platform_safe_key.h"
#include "test_names.h"

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

// A named semaphore of count 0 through which a test and its helper tell each other that a step is
// done. Create it before starting the helper, so that it outlives the helper's handles.
struct TestSignal {
    explicit TestSignal(std::string signalName)
        : name(std::move(signalName)), handle(nativeipc::createSemaphore(ansiToWide(name), 0)) {}
    ~TestSignal() { nativeipc::closeHandle(handle); }
    TestSignal(const TestSignal&) = delete;
    TestSignal& operator=(const TestSignal&) = delete;
    bool wait() { return nativeipc::waitForSingleObject(handle, 10000) == 0; }
    bool release() { return nativeipc::releaseSemaphore(handle, 1); }

    const std::string name;
    const nativeipc::Handle handle;
};
