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

// A name no other test process uses at the same time. It carries this process's id in letters
// ("facelumetestP", digit d as the letter 'a' + d, "X"), which survive in native names, so that
// removeTestLeftovers can tell the objects of test processes that are gone.
std::string uniqueName(const std::string& base);
unsigned long currentProcessId();

// Removes what test processes that died (crashed, killed) left behind; live runs stay untouched.
void removeTestLeftovers();

// True when this Windows program runs under Wine rather than Windows.
bool runsUnderWine();
