#include "control_input_watch.h"

// Qt's pipe reader keeps a read pending on the pipe, so bytes leave the pipe before the main
// thread has seen them; nothing here can tell that they were handled.
bool ControlInputWatch::hasNoUnreadBytes(qintptr) { return false; }

// A pipe instance that a client connected to gives no sign of it that can be asked from here.
bool ControlInputWatch::hasNoWaitingConnection(qintptr) { return false; }
