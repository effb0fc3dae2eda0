// Windows side of the platform layer: each operation is the kernel32 call it is named after.
// Names are handed to the system unchanged (default kernel-object namespace); the ANSI code page
// is the system's (code page 0).

#include <windows.h>

#include "native_ipc.h"

namespace nativeipc {
namespace {

// char16_t and wchar_t are both UTF-16 units on Windows.
const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

std::uint32_t lastError() { return GetLastError(); }

void setLastError(std::uint32_t code) { SetLastError(code); }

bool closeHandle(Handle handle) { return CloseHandle(handle) != FALSE; }

Handle createFileMapping(const std::u16string& name, std::uint64_t size) {
    // INVALID_HANDLE_VALUE: backed by the paging file. The handle is valid even when the object
    // already exists; the caller tells the cases apart by lastError (183).
    return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                              static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), wide(name));
}

Handle openFileMapping(const std::u16string& name) {
    return OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, wide(name));
}

void* mapViewOfFile(Handle mapping, std::uint32_t access) {
    return MapViewOfFile(mapping, access, 0, 0, 0);
}

bool unmapViewOfFile(void* view) { return UnmapViewOfFile(view) != FALSE; }

std::size_t queryRegionSize(const void* view) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(view, &info, sizeof(info)) == 0) {
        return 0;
    }
    return info.RegionSize;
}

std::uint64_t queryMappingSize(Handle) { return UINT64_MAX; }

bool hasMappingLocks() { return false; }

std::uint32_t lockMapping(Handle, std::uint32_t) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return kWaitFailed;
}

bool unlockMapping(Handle) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

Handle createSemaphore(const std::u16string& name, std::int32_t initialCount,
                       std::int32_t maximumCount) {
    return CreateSemaphoreW(nullptr, initialCount, maximumCount, wide(name));
}

std::uint32_t waitForSingleObject(Handle handle, std::uint32_t timeoutMs) {
    return WaitForSingleObjectEx(handle, timeoutMs, FALSE);
}

bool releaseSemaphore(Handle semaphore, std::int32_t count) {
    return ReleaseSemaphore(semaphore, count, nullptr) != FALSE;
}

int multiByteToWideChar(const char* bytes, int byteCount, char16_t* units, int unitCapacity) {
    return MultiByteToWideChar(CP_ACP, 0, bytes, byteCount, reinterpret_cast<wchar_t*>(units),
                               unitCapacity);
}

int wideCharToMultiByte(const char16_t* units, int unitCount, char* bytes, int byteCapacity) {
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(units), unitCount, bytes,
                               byteCapacity, nullptr, nullptr);
}

}  // namespace nativeipc
