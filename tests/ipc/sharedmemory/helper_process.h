#pragma once

// Runs the sharedmemory_helper program (built next to the tests) as a separate process, so that
// tests can share segments and semaphores with a real second process, and kill it.

#include <string>
#include <vector>

class HelperProcess {
public:
    HelperProcess() = default;
    ~HelperProcess();  // kills the process if it still runs
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    [[nodiscard]] bool start(const std::vector<std::string>& arguments);
    // The exit code, or -1 if the process did not end within timeoutMs.
    [[nodiscard]] int waitForExit(int timeoutMs);
    // Ends the process at once, as a crash would: it runs no code of its own.
    void kill();

private:
    struct Native;
    Native* m_native = nullptr;
};

// A name no other test process uses at the same time: `base` plus this process's id.
std::string uniqueName(const std::string& base);

// Removes objects that crashed test runs left behind; live objects of other runs stay.
void removeTestLeftovers();

// True when this Windows program runs under Wine rather than Windows.
bool runsUnderWine();
