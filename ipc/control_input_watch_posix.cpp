#include <poll.h>
#include <sys/ioctl.h>

#include "control_input_watch.h"

bool ControlInputWatch::hasNoUnreadBytes(qintptr descriptor) {
    int unread = 0;
    return ::ioctl(static_cast<int>(descriptor), FIONREAD, &unread) == 0 && unread == 0;
}

// A listening socket reads as ready while a connection waits in its queue.
bool ControlInputWatch::hasNoWaitingConnection(qintptr listener) {
    pollfd descriptor{static_cast<int>(listener), POLLIN, 0};
    return ::poll(&descriptor, 1, 0) == 0;
}
