// Files, folders and the paths the program asks for, forwarded to Windows.
#include "platform/win32/bridge.h"

// The record the program reads and writes through the handle-based attribute calls, which
// it binds at run time.
PLATFORM_SAME_SIZE(win::FILE_BASIC_INFO, ::FILE_BASIC_INFO);
PLATFORM_SAME_FIELD(win::FILE_BASIC_INFO, ::FILE_BASIC_INFO, CreationTime);
PLATFORM_SAME_FIELD(win::FILE_BASIC_INFO, ::FILE_BASIC_INFO, LastAccessTime);
PLATFORM_SAME_FIELD(win::FILE_BASIC_INFO, ::FILE_BASIC_INFO, LastWriteTime);
PLATFORM_SAME_FIELD(win::FILE_BASIC_INFO, ::FILE_BASIC_INFO, ChangeTime);
PLATFORM_SAME_FIELD(win::FILE_BASIC_INFO, ::FILE_BASIC_INFO, FileAttributes);
static_assert(sizeof(win::FILE_BASIC_INFO) == 40, "FILE_BASIC_INFO is a 40-byte record");

namespace {

const ::FILETIME* sdkTime(const win::FILETIME* time) {
    return reinterpret_cast<const ::FILETIME*>(time);
}
// Only synchronous calls are made: the OVERLAPPED argument is always null.
::OVERLAPPED* sdkOverlapped(win::OVERLAPPED* overlapped) {
    return reinterpret_cast<::OVERLAPPED*>(overlapped);
}

}  // namespace

auto win::GetFileAttributesW(LPCWSTR path) -> DWORD {
    return ::GetFileAttributesW(sdk(path));
}
auto win::SetFileAttributesW(LPCWSTR path, DWORD attributes) -> BOOL {
    return ::SetFileAttributesW(sdk(path), attributes);
}
auto win::CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                      DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) -> HANDLE {
    return ::CreateFileW(sdk(path), access, shareMode, sdk(security), disposition,
                         flagsAndAttributes, templateFile);
}
auto win::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped)
    -> BOOL {
    return ::ReadFile(file, buffer, size, sdk(read), sdkOverlapped(overlapped));
}
auto win::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                    OVERLAPPED* overlapped) -> BOOL {
    return ::WriteFile(file, buffer, size, sdk(written), sdkOverlapped(overlapped));
}
auto win::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod)
    -> DWORD {
    return ::SetFilePointer(file, distance, reinterpret_cast<::LONG*>(distanceHigh), moveMethod);
}
auto win::SetEndOfFile(HANDLE file) -> BOOL {
    return ::SetEndOfFile(file);
}
auto win::GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
    -> BOOL {
    return ::GetFileTime(file, sdk(creation), sdk(lastAccess), sdk(lastWrite));
}
auto win::SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                      const FILETIME* lastWrite) -> BOOL {
    return ::SetFileTime(file, sdkTime(creation), sdkTime(lastAccess), sdkTime(lastWrite));
}
auto win::CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) -> BOOL {
    return ::CopyFileW(sdk(existing), sdk(newName), failIfExists);
}
auto win::MoveFileW(LPCWSTR existing, LPCWSTR newName) -> BOOL {
    return ::MoveFileW(sdk(existing), sdk(newName));
}
auto win::MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) -> BOOL {
    return ::MoveFileExW(sdk(existing), sdk(newName), flags);
}
auto win::DeleteFileW(LPCWSTR path) -> BOOL {
    return ::DeleteFileW(sdk(path));
}
auto win::CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security) -> BOOL {
    return ::CreateDirectoryW(sdk(path), sdk(security));
}
auto win::RemoveDirectoryW(LPCWSTR path) -> BOOL {
    return ::RemoveDirectoryW(sdk(path));
}
auto win::GetTempPathW(DWORD size, LPWSTR buffer) -> DWORD {
    return ::GetTempPathW(size, sdk(buffer));
}
auto win::GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) -> DWORD {
    return ::GetModuleFileNameW(sdk(module), sdk(fileName), size);
}
