#include <windows.h>

#include "helper_process.h"

bool HelperProcess::start(const std::vector<std::string>& arguments) {
    char self[MAX_PATH] = {};
    std::string path(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    path = path.substr(0, path.find_last_of("\\/") + 1) + "sharedmemory_helper.exe";
    std::string commandLine = "\"" + path + "\"";
    for (const std::string& argument : arguments) {
        commandLine += " " + argument;  // helper arguments never contain blanks
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    m_process = reinterpret_cast<std::intptr_t>(info.hProcess);
    return true;
}

int HelperProcess::waitForExit(int timeoutMs) {
    const auto process = reinterpret_cast<HANDLE>(m_process);
    DWORD code = 0;
    if (m_process == 0 || WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) != 0 ||
        !GetExitCodeProcess(process, &code)) {
        return -1;
    }
    CloseHandle(process);
    m_process = 0;
    return static_cast<int>(code);
}

void HelperProcess::kill() {
    if (m_process != 0) {
        TerminateProcess(reinterpret_cast<HANDLE>(m_process), 137);
        static_cast<void>(waitForExit(INFINITE));
    }
}
