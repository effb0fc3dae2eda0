#include <windows.h>

#include "unique_handle.h"

namespace platform {

// Windows calls fail with a null handle or with INVALID_HANDLE_VALUE, depending on the call.
bool UniqueHandle::isValidNative(Native native) { return native != 0 && native != kInvalid; }

void UniqueHandle::closeNative(Native native) { ::CloseHandle(reinterpret_cast<HANDLE>(native)); }

}  // namespace platform
