#pragma once

// Who is at the other end of an accepted local connection.

#include <QtGlobal>

// True when the connected peer runs as this process's user (or as root, who can reach everything
// of ours anyway). On Linux the kernel says (SO_PEERCRED); on Windows the pipe's default security
// already limits clients to the creator and the system, so every peer counts as ours.
bool peerIsSameUser(qintptr descriptor);
// The peer's process id, for log lines; 0 when the system does not say.
qint64 peerProcessId(qintptr descriptor);
