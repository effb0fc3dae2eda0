#include <sys/socket.h>
#include <unistd.h>

#include "peer_credentials.h"

bool peerIsSameUser(qintptr descriptor) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return false;
    }
    return peer.uid == ::geteuid() || peer.uid == 0;
}

qint64 peerProcessId(qintptr descriptor) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return 0;
    }
    return peer.pid;
}
