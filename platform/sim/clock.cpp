// The local clock of the simulated machine and the calendar conversion Windows makes.
#include <cstdint>
#include <limits>

#include "platform/constants.h"
#include "platform/sim/call.h"

namespace win {

namespace {

using sim::Call;

constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::uint64_t kTicksPerDay = 86'400'000ull * kTicksPerMillisecond;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the date (proleptic Gregorian calendar).
std::uint64_t DaysSince1601(int year, int month, int day) {
    const int y = year - 1601;
    std::uint64_t days = std::uint64_t(y) * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
    return days + std::uint64_t(day - 1);
}

}  // namespace

void GetLocalTime(SYSTEMTIME* time) {
    Call call("GetLocalTime", "");
    if (time != nullptr) *time = call.machine().localTime;
    call.machine().Log("GetLocalTime", "", "");
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) {
    Call call("SystemTimeToFileTime",
              systemTime ? sim::Args(int(systemTime->wYear), int(systemTime->wMonth),
                                     int(systemTime->wDay), int(systemTime->wHour),
                                     int(systemTime->wMinute), int(systemTime->wSecond),
                                     int(systemTime->wMilliseconds))
                         : "null");
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (systemTime == nullptr || fileTime == nullptr)
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    // Windows keeps the fields as signed 16-bit numbers, checks each against the calendar
    // and ignores the day of the week.
    const SYSTEMTIME& t = *systemTime;
    const int year = static_cast<std::int16_t>(t.wYear);
    if (year < 1601 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > DaysInMonth(year, t.wMonth) || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
        t.wMilliseconds > 999)
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    const std::uint64_t milliseconds =
        ((std::uint64_t(t.wHour) * 60 + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
    const std::uint64_t ticks =
        DaysSince1601(year, t.wMonth, t.wDay) * kTicksPerDay + milliseconds * kTicksPerMillisecond;
    // The last representable moment is in September 30828.
    if (ticks > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return call.Return<BOOL>(1);
}

}  // namespace win
