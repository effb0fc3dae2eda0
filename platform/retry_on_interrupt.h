#pragma once

// Runs a system call again for as long as a signal interrupts it: the call returned -1 and
// errno is EINTR. Any other result, failures included, comes back as the call gave it, with
// errno as the call left it. For calls that report failure with -1 (read, write, poll,
// waitpid, sem_wait, flock, ...); a call whose time-out is relative starts it afresh.

#include <cerrno>

namespace platform {

template <typename Call>
auto retryOnInterrupt(Call call) -> decltype(call()) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

}  // namespace platform
