#pragma once

// Support of the cross-process tests: the sharedmemory_helper program (built next to the tests) as
// a real second process, started with the client SDK's own child-process class. Names come from
// testnames::letterName.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "native_ipc.h"
#include "platform_safe_key.h"
#include "service_process.h"
#include "test_names.h"

class HelperProcess {
public:
    [[nodiscard]] bool start(const std::vector<std::string>& arguments) {
        return m_process.start(SHAREDMEMORY_HELPER, arguments).isOk();
    }
    // The exit code, or -1 if the process did not end within timeoutMs.
    [[nodiscard]] int waitForExit(int timeoutMs) {
        for (int waitedMs = 0; m_process.isRunning(); waitedMs += 5) {
            if (waitedMs >= timeoutMs) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::string said = m_process.exitDescription();
        const std::string exited = "exited with code ";
        return said.rfind(exited, 0) == 0 ? std::stoi(said.substr(exited.size())) : -1;
    }
    // Ends the process as a crash would: it runs no code of its own (it handles no signal).
    void kill() { m_process.stop(); }

private:
    facelume::ServiceProcess m_process;
};
