#pragma once

// Where the local socket of a pipe name lives, derived the same way by the service and the client.
// On Linux a socket is a file, and a shared folder such as /tmp lets another user take a name
// first: sockets live in a folder that only this user may enter, $XDG_RUNTIME_DIR when it is ours
// with mode 0700, else $TMPDIR (or /tmp) + "/facelume-<uid>", made with mode 0700 and refused when
// it is not ours or is open to others. The file name is the pipe name itself. On Windows the
// system's pipe namespace is used and the name is handed on unchanged. Reentrant, but reads the
// environment.

#include <string>

namespace protocol {

struct SocketPath {
    std::string path;   // empty when no private folder could be had
    std::string error;  // what went wrong and what a user can do, when path is empty
};

// A pipe name that is already an absolute path is kept as it is.
[[nodiscard]] SocketPath socketPath(const std::string& pipeName);

}  // namespace protocol
