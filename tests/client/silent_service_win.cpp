// Stands in for a service that hangs while it starts, which the real one cannot be made to do:
// it takes the service's command line (receive name, send name, size) and never announces
// itself. With FACELUME_SILENT_CONNECT=1 it first connects to the client's pipe, writing nothing.
// With FACELUME_SILENT_HELPER=1 it first starts a copy of itself that holds its standard output
// and error and never ends, as Wine's explorer.exe does for the service. It runs until its
// client ends it (the copy goes with the client's job).

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void startHelper() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"silent_service helper";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION information{};
    if (CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &information)) {
        CloseHandle(information.hThread);
        CloseHandle(information.hProcess);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "helper") == 0) Sleep(INFINITE);
    if (argc < 3) return 2;
    if (isSet("FACELUME_SILENT_HELPER")) startHelper();
    if (isSet("FACELUME_SILENT_CONNECT")) {
        const std::string path = std::string("\\\\.\\pipe\\") + argv[2] + "_pipe";
        const HANDLE pipe =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) return 3;
    }
    Sleep(INFINITE);
    return 0;
}
