#include "socket_path.h"

namespace protocol {

// Named pipes admit only their creator's user and the system by default; Qt and the client add
// the "\\.\pipe\" prefix themselves.
SocketPath socketPath(const std::string& pipeName) { return {pipeName, std::string()}; }

}  // namespace protocol
