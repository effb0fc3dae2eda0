// Helper process of notification_semaphore_test: takes COUNT notifications from the first key,
// then gives COUNT notifications on the second key, and exits with 0.
//   notification_semaphore_peer <take key> <give key> <count>

#include <QString>
#include <cstdio>

#include "notification_semaphore.h"
#include "protocol.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <take key> <give key> <count>\n", argv[0]);
        return 2;
    }
    NotificationSemaphore take(protocol::notificationNativeName(argv[1]));
    NotificationSemaphore give(protocol::notificationNativeName(argv[2]));
    const int count = QString(argv[3]).toInt();
    for (int i = 0; i < count; ++i) {
        if (!take.acquire()) return 3;
    }
    for (int i = 0; i < count; ++i) {
        if (!give.release(1)) return 4;
    }
    return 0;
}
