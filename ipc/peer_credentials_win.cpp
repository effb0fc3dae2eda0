#include <windows.h>

#include "peer_credentials.h"

bool peerIsSameUser(qintptr) { return true; }

qint64 peerProcessId(qintptr descriptor) {
    ULONG process = 0;
    // Qt's descriptor of a local socket on Windows is the pipe's handle.
    if (!GetNamedPipeClientProcessId(reinterpret_cast<HANDLE>(descriptor), &process)) return 0;
    return process;
}
