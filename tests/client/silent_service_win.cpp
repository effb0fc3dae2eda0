// Stands in for a service that hangs while it starts, which the real one cannot be made to do:
// it takes the service's command line (receive name, send name, size) and never announces
// itself. With FACELUME_SILENT_CONNECT=1 it first connects to the client's pipe, writing nothing.
// It runs until its client ends it.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* connect = std::getenv("FACELUME_SILENT_CONNECT");
    if (connect != nullptr && std::strcmp(connect, "1") == 0) {
        const std::string path = std::string("\\\\.\\pipe\\") + argv[2] + "_pipe";
        const HANDLE pipe =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) return 3;
    }
    Sleep(INFINITE);
    return 0;
}
