#pragma once

// Linux only, inside the platform layer: a named object as this process holds it, and the
// cross-process protocol that opens it first and closes it last (holders and gate files, see
// docs/protocol.md). Callers serialise calls within the process.

#include <semaphore.h>

#include <cstdint>
#include <string>

#include "unique_handle.h"

namespace nativeipc {

enum class Kind { Mapping, Semaphore };

// What this process holds of one named object. `references` counts handles, views and waits in
// progress; the process stays a holder (shared flock) while it is above 0.
struct NamedObject {
    Kind kind;
    std::string name;  // "/N"
    platform::UniqueHandle holdersFd;
    platform::UniqueHandle mappingFd;
    sem_t* semaphore = SEM_FAILED;
    std::int32_t maximumCount = 0;  // of a semaphore, as this process first opened it
    int references = 0;
};

enum class Action { CreateMapping, OpenMapping, CreateSemaphore };

struct OpenRequest {
    Action action;
    std::uint64_t size = 0;
    std::int32_t initialCount = 0;
    std::int32_t maximumCount = 0;
};

// The one place that turns errno into a system error code.
[[nodiscard]] std::uint32_t errorFromErrno(int code);

// First open of `object.name` (kind and name set) in this process: becomes a holder, removes
// stale leftovers, then creates or opens the object. `existed` tells whether it was there already.
// False with the last error set; nothing is then held.
[[nodiscard]] bool openNamedObject(NamedObject& object, const OpenRequest& request, bool& existed);

// Last close in this process: stops being a holder and, as the last holder anywhere, removes the
// object and its companion files. Releases the object's descriptors in any case.
void closeNamedObject(NamedObject& object);

}  // namespace nativeipc
