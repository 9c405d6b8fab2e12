// Errors, kernel objects, the current process and system information, forwarded to Windows.
#include "platform/win32/bridge.h"

PLATFORM_SAME_SIZE(win::OSVERSIONINFOW, ::OSVERSIONINFOW);
PLATFORM_SAME_FIELD(win::OSVERSIONINFOW, ::OSVERSIONINFOW, dwOSVersionInfoSize);
PLATFORM_SAME_FIELD(win::OSVERSIONINFOW, ::OSVERSIONINFOW, dwMajorVersion);
PLATFORM_SAME_FIELD(win::OSVERSIONINFOW, ::OSVERSIONINFOW, dwMinorVersion);
PLATFORM_SAME_FIELD(win::OSVERSIONINFOW, ::OSVERSIONINFOW, dwBuildNumber);
PLATFORM_SAME_FIELD(win::OSVERSIONINFOW, ::OSVERSIONINFOW, dwPlatformId);
PLATFORM_SAME_FIELD(win::OSVERSIONINFOW, ::OSVERSIONINFOW, szCSDVersion);

PLATFORM_SAME_SIZE(win::SYSTEM_INFO, ::SYSTEM_INFO);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, wProcessorArchitecture);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, wReserved);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, dwPageSize);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, lpMinimumApplicationAddress);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, lpMaximumApplicationAddress);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, dwActiveProcessorMask);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, dwNumberOfProcessors);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, dwProcessorType);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, dwAllocationGranularity);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, wProcessorLevel);
PLATFORM_SAME_FIELD(win::SYSTEM_INFO, ::SYSTEM_INFO, wProcessorRevision);

auto win::GetLastError() -> DWORD {
    return ::GetLastError();
}
void win::SetLastError(DWORD error) {
    ::SetLastError(error);
}

auto win::CloseHandle(HANDLE object) -> BOOL {
    return ::CloseHandle(object);
}
auto win::CreateMutexW(SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, LPCWSTR name) -> HANDLE {
    return ::CreateMutexW(sdk(attributes), initialOwner, sdk(name));
}
auto win::GetCurrentProcess() -> HANDLE {
    return ::GetCurrentProcess();
}
auto win::GetCurrentProcessId() -> DWORD {
    return ::GetCurrentProcessId();
}
auto win::GetTickCount() -> DWORD {
    return ::GetTickCount();
}
auto win::GetVersionExW(OSVERSIONINFOW* info) -> BOOL {
    return ::GetVersionExW(reinterpret_cast<::OSVERSIONINFOW*>(info));
}
void win::GetNativeSystemInfo(SYSTEM_INFO* info) {
    ::GetNativeSystemInfo(reinterpret_cast<::SYSTEM_INFO*>(info));
}
