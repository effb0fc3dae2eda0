#include <unistd.h>

#include "unique_handle.h"

namespace platform {

bool UniqueHandle::isValidNative(Native native) { return native >= 0; }

// Not retried on EINTR: Linux releases the descriptor even then, and a second close could
// close a descriptor that another thread has opened since.
void UniqueHandle::closeNative(Native native) { ::close(static_cast<int>(native)); }

}  // namespace platform
