// The local clock and calendar conversion, forwarded to Windows.
#include "platform/win32/bridge.h"

PLATFORM_SAME_SIZE(win::SYSTEMTIME, ::SYSTEMTIME);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wYear);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wMonth);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wDayOfWeek);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wDay);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wHour);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wMinute);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wSecond);
PLATFORM_SAME_FIELD(win::SYSTEMTIME, ::SYSTEMTIME, wMilliseconds);

void win::GetLocalTime(SYSTEMTIME* time) {
    ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(time));
}
auto win::SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) -> BOOL {
    return ::SystemTimeToFileTime(reinterpret_cast<const ::SYSTEMTIME*>(systemTime), sdk(fileTime));
}
