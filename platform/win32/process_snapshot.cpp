// The toolhelp process snapshot, forwarded to Windows (the functions live in kernel32).
#include "platform/win32/bridge.h"

#include <tlhelp32.h>

PLATFORM_SAME_SIZE(win::PROCESSENTRY32W, ::PROCESSENTRY32W);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, dwSize);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, cntUsage);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, th32ProcessID);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, th32DefaultHeapID);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, th32ModuleID);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, cntThreads);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, th32ParentProcessID);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, pcPriClassBase);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, dwFlags);
PLATFORM_SAME_FIELD(win::PROCESSENTRY32W, ::PROCESSENTRY32W, szExeFile);

auto win::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) -> HANDLE {
    return ::CreateToolhelp32Snapshot(flags, processId);
}
auto win::Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) -> BOOL {
    return ::Process32FirstW(snapshot, reinterpret_cast<::PROCESSENTRY32W*>(entry));
}
auto win::Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) -> BOOL {
    return ::Process32NextW(snapshot, reinterpret_cast<::PROCESSENTRY32W*>(entry));
}
