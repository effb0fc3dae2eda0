#include <windows.h>

#include "helper_process.h"

struct HelperProcess::Native {
    HANDLE process = nullptr;
};

namespace {

std::string helperPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1) + "sharedmemory_helper.exe";
}

}  // namespace

HelperProcess::~HelperProcess() {
    kill();
    delete m_native;
}

bool HelperProcess::start(const std::vector<std::string>& arguments) {
    const std::string path = helperPath();
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
    m_native = new Native{info.hProcess};
    return true;
}

int HelperProcess::waitForExit(int timeoutMs) {
    if (m_native == nullptr || m_native->process == nullptr) {
        return -1;
    }
    if (WaitForSingleObject(m_native->process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_native->process, &code);
    CloseHandle(m_native->process);
    m_native->process = nullptr;
    return static_cast<int>(code);
}

void HelperProcess::kill() {
    if (m_native == nullptr || m_native->process == nullptr) {
        return;
    }
    TerminateProcess(m_native->process, 137);
    WaitForSingleObject(m_native->process, INFINITE);
    CloseHandle(m_native->process);
    m_native->process = nullptr;
}

unsigned long currentProcessId() { return GetCurrentProcessId(); }

// The kernel removes the objects of processes that ended, however they ended.
void removeTestLeftovers() {}

bool runsUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
