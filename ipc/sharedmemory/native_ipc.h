#pragma once

// The operating-system layer under the shared-memory primitives: named file mappings, named
// counting semaphores, the last-error code and the ANSI code-page conversions, offered with the
// results and the Windows error codes of the kernel32 calls they are named after. On Windows each
// function is one kernel32 call; on Linux they are built on POSIX shared memory and named
// semaphores (see docs/protocol.md, "The Linux platform layer").
//
// A named object lives while some process holds a handle or a mapped view of it and goes away with
// the last one; objects left behind by processes that all died are found stale and replaced.
// All functions may be called from any thread; lastError is per thread. A handle may be waited on
// by one thread while others release it, but must not be closed while another thread uses it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace nativeipc {

using Handle = void*;  // null means "no object"

// System error codes (Windows values), as lastError reports them.
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorTooManyPosts = 298;
constexpr std::uint32_t kErrorNoSystemResources = 1450;
constexpr std::uint32_t kErrorCommitmentLimit = 1455;
constexpr std::uint32_t kErrorTimeout = 1460;

// Results of waitForSingleObject.
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

constexpr std::uint32_t kInfinite = 0xFFFFFFFF;  // wait time-out without limit
constexpr std::int32_t kMaximumSemaphoreCount = 0x7FFFFFFF;

// View access of mapViewOfFile.
constexpr std::uint32_t kFileMapRead = 0x0004;
constexpr std::uint32_t kFileMapAllAccess = 0x000F001F;

[[nodiscard]] std::uint32_t lastError();
void setLastError(std::uint32_t code);

// Closes a mapping or semaphore handle. False (error 6) for a handle that is not open.
bool closeHandle(Handle handle);

// File mappings backed by memory, always read-write.
// createFileMapping: creates the object with `size` bytes (committed at once), or, if the name
// exists, returns a handle to the existing object with its own size and sets error 183.
// On success of a fresh creation the last error is 0.
[[nodiscard]] Handle createFileMapping(const std::u16string& name, std::uint64_t size);
// openFileMapping: full access to an existing object; null with error 2 if there is none.
[[nodiscard]] Handle openFileMapping(const std::u16string& name);
// Maps the whole object; access is kFileMapRead or kFileMapAllAccess. Null on failure.
[[nodiscard]] void* mapViewOfFile(Handle mapping, std::uint32_t access);
bool unmapViewOfFile(void* view);
// Size of the mapped region that starts at `view` (whole pages); 0 if `view` is not a view.
[[nodiscard]] std::size_t queryRegionSize(const void* view);
// The object's size now, in whole pages as queryRegionSize counts. Whoever may write a Linux object
// may also shrink it, and touching a mapped page past its end raises SIGBUS: copies check this
// under the lock first. A Windows section never shrinks, so there it is the largest value. 0 (error
// set) for a bad handle.
[[nodiscard]] std::uint64_t queryMappingSize(Handle mapping);

// Segment locks that the system gives up when their holder dies: on Linux an OFD write lock on
// the first byte of the mapping's file, one per handle (so two handles exclude each other even
// within one process); an unlock of a lock not held changes nothing. Windows has no such lock
// (hasMappingLocks() is false there, and callers lock with a named semaphore instead).
// lockMapping returns as waitForSingleObject does. A handle must not be closed while another
// thread waits on its lock.
[[nodiscard]] bool hasMappingLocks();
[[nodiscard]] std::uint32_t lockMapping(Handle mapping, std::uint32_t timeoutMs);
bool unlockMapping(Handle mapping);

// Counting semaphores.
// createSemaphore: creates the object with `initialCount` units and `maximumCount` as the most
// it can hold (0 < maximumCount, initialCount <= maximumCount, else error 87), or opens the
// existing one with its current count (error 183; the counts given are ignored). On a fresh
// creation the error is 0. A semaphore used as a lock takes a maximum of 1, so that a release
// too many fails instead of letting two holders in. On Linux the maximum is the one of this
// process's first open of the name.
[[nodiscard]] Handle createSemaphore(const std::u16string& name, std::int32_t initialCount,
                                     std::int32_t maximumCount = kMaximumSemaphoreCount);
// Takes one unit, waiting at most `timeoutMs` milliseconds (kInfinite: without limit).
// kWaitObject0 when taken, kWaitTimeout after the time-out (the last error is not changed),
// kWaitFailed with the last error set otherwise.
[[nodiscard]] std::uint32_t waitForSingleObject(Handle handle, std::uint32_t timeoutMs);
// Gives back `count` (> 0) units at once; fails with error 298 if the count would pass the
// semaphore's maximum.
bool releaseSemaphore(Handle semaphore, std::int32_t count);

// Conversions between the ANSI code page and UTF-16 (UTF-8 on Linux), with the contract of
// MultiByteToWideChar/WideCharToMultiByte for code page 0 without flags: a length of -1 means
// NUL-terminated (the NUL is counted and converted); an output size of 0 asks for the size needed.
// Result: units/bytes written or needed; 0 on failure with the last error set (87, 122).
int multiByteToWideChar(const char* bytes, int byteCount, char16_t* units, int unitCapacity);
int wideCharToMultiByte(const char16_t* units, int unitCount, char* bytes, int byteCapacity);

}  // namespace nativeipc
