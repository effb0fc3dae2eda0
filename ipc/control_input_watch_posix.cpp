#include <sys/ioctl.h>

#include "control_input_watch.h"

bool ControlInputWatch::hasNoUnreadBytes(qintptr descriptor) {
    int unread = 0;
    return ::ioctl(static_cast<int>(descriptor), FIONREAD, &unread) == 0 && unread == 0;
}
