// Sleeps, tick counts, wall-clock time, the time scale and the injectable test clock.
#include <sched.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "threads/object.h"
#include "pal/testhooks.h"
#include "pal/threads.h"
#include "threads/time_filetime.h"

namespace pal {
namespace {

constexpr LONGLONG kNanosecondsPerMillisecond = 1000000;
constexpr LONGLONG kFileTimeUnitsPerDay = 86400 * kFileTimeUnitsPerSecond;
constexpr LONGLONG kDaysFrom1601To1970 = 134774;
constexpr ULONGLONG kLargestFileTime = 0x7FFFFFFFFFFFFFFFULL;

LONGLONG nanosecondsOf(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<LONGLONG>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

double scaleFromEnvironment()
{
    const char* text = std::getenv("PAL_TIME_SCALE");
    double value = text ? std::strtod(text, nullptr) : 1.0;
    return std::isfinite(value) && value > 0 ? value : 1.0;
}

// The scaled tick count runs from the monotonic clock: tickBase + (now - realBase) / scale, rebased
// whenever the scale changes so that ticks never jump. Injected values replace the real clocks.
struct Clocks {
    std::mutex mutex;
    double scale = scaleFromEnvironment();
    LONGLONG realBaseNs = nanosecondsOf(CLOCK_MONOTONIC);
    double tickBaseMs = static_cast<double>(realBaseNs / kNanosecondsPerMillisecond);
    std::optional<ULONGLONG> fixedTicks;
    std::optional<ULONGLONG> fixedWallTime; // FILETIME value, local = UTC

    double scaledTicksLocked(LONGLONG nowNs) const
    {
        return tickBaseMs + static_cast<double>(nowNs - realBaseNs) / kNanosecondsPerMillisecond / scale;
    }
};

Clocks& clocks()
{
    static Clocks* state = new Clocks; // threads may read the clocks during static destruction
    return *state;
}

// Days since 1970-01-01 of a proleptic Gregorian date (the well-known days-from-civil method).
LONGLONG daysFromCivil(LONGLONG year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const LONGLONG era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<LONGLONG>(dayOfEra) - 719468;
}

void civilFromDays(LONGLONG days, LONGLONG& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const LONGLONG era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<LONGLONG>(yearOfEra) + era * 400 + (month <= 2);
}

unsigned daysInMonth(unsigned year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool validSystemTime(const SYSTEMTIME& time)
{
    return time.wYear >= 1601 && time.wYear <= 30827 && time.wMonth >= 1 && time.wMonth <= 12 && time.wDay >= 1 &&
           time.wDay <= daysInMonth(time.wYear, time.wMonth) && time.wHour < 24 && time.wMinute < 60 &&
           time.wSecond < 60 && time.wMilliseconds < 1000;
}

ULONGLONG fileTimeOf(const SYSTEMTIME& time)
{
    const LONGLONG days = daysFromCivil(time.wYear, time.wMonth, time.wDay) + kDaysFrom1601To1970;
    const LONGLONG seconds = days * 86400 + time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
    return static_cast<ULONGLONG>(seconds * kFileTimeUnitsPerSecond + time.wMilliseconds * 10000LL);
}

SYSTEMTIME systemTimeOf(ULONGLONG fileTime)
{
    const LONGLONG units = static_cast<LONGLONG>(fileTime);
    const LONGLONG days = units / kFileTimeUnitsPerDay;
    const LONGLONG unitsOfDay = units % kFileTimeUnitsPerDay;
    LONGLONG year;
    unsigned month, day;
    civilFromDays(days - kDaysFrom1601To1970, year, month, day);
    SYSTEMTIME time;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDayOfWeek = static_cast<WORD>((days + 1) % 7); // 1601-01-01 was a Monday
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(unitsOfDay / (3600 * kFileTimeUnitsPerSecond));
    time.wMinute = static_cast<WORD>(unitsOfDay / (60 * kFileTimeUnitsPerSecond) % 60);
    time.wSecond = static_cast<WORD>(unitsOfDay / kFileTimeUnitsPerSecond % 60);
    time.wMilliseconds = static_cast<WORD>(unitsOfDay / 10000 % 1000);
    return time;
}

// The wall clock as a FILETIME value, UTC or local.
ULONGLONG wallFileTime(bool local)
{
    Clocks& state = clocks();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.fixedWallTime)
            return *state.fixedWallTime;
    }
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    LONGLONG seconds = now.tv_sec;
    if (local) {
        struct tm parts;
        localtime_r(&now.tv_sec, &parts);
        seconds += parts.tm_gmtoff;
    }
    return fileTimeValueOf(seconds, now.tv_nsec);
}

} // namespace

DWORD scaleTimeout(DWORD milliseconds)
{
    double scale;
    {
        Clocks& state = clocks();
        std::lock_guard<std::mutex> lock(state.mutex);
        scale = state.scale;
    }
    if (milliseconds == INFINITE || scale == 1.0)
        return milliseconds;
    double scaled = milliseconds * scale;
    if (scaled >= static_cast<double>(INFINITE - 1))
        return INFINITE - 1;
    return milliseconds > 0 && scaled < 1 ? 1 : static_cast<DWORD>(scaled);
}

} // namespace pal

using namespace pal;

extern "C" {

void Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(scaleTimeout(dwMilliseconds)));
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL)
{
    Sleep(dwMilliseconds);
    return 0;
}

ULONGLONG GetTickCount64(void)
{
    Clocks& state = clocks();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.fixedTicks)
        return *state.fixedTicks;
    return static_cast<ULONGLONG>(state.scaledTicksLocked(nanosecondsOf(CLOCK_MONOTONIC)));
}

DWORD GetTickCount(void)
{
    return static_cast<DWORD>(GetTickCount64());
}

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    *lpSystemTimeAsFileTime = splitFileTime(wallFileTime(false));
}

void GetSystemTime(LPSYSTEMTIME lpSystemTime)
{
    *lpSystemTime = systemTimeOf(wallFileTime(false));
}

void GetLocalTime(LPSYSTEMTIME lpSystemTime)
{
    *lpSystemTime = systemTimeOf(wallFileTime(true));
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime)
{
    if (!lpSystemTime || !lpFileTime || !validSystemTime(*lpSystemTime)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpFileTime = splitFileTime(fileTimeOf(*lpSystemTime));
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (!lpFileTime || !lpSystemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ULONGLONG value = (static_cast<ULONGLONG>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if (value > kLargestFileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpSystemTime = systemTimeOf(value);
    return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount)
{
    lpPerformanceCount->QuadPart = nanosecondsOf(CLOCK_MONOTONIC) / 100;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency)
{
    lpFrequency->QuadPart = kFileTimeUnitsPerSecond;
    return TRUE;
}

BOOL palSetTestClock(const SYSTEMTIME* time)
{
    if (!time || !validSystemTime(*time))
        return FALSE;
    Clocks& state = clocks();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.fixedWallTime = fileTimeOf(*time);
    return TRUE;
}

void palSetTestTickCount(ULONGLONG ticks)
{
    Clocks& state = clocks();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.fixedTicks = ticks;
}

void palAdvanceTestClock(DWORD milliseconds)
{
    Clocks& state = clocks();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.fixedTicks)
        *state.fixedTicks += milliseconds;
    if (state.fixedWallTime)
        *state.fixedWallTime += static_cast<ULONGLONG>(milliseconds) * 10000;
}

void palResetTestClock(void)
{
    Clocks& state = clocks();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.fixedTicks.reset();
    state.fixedWallTime.reset();
}

BOOL palSetTimeScale(double scale)
{
    if (!std::isfinite(scale) || scale <= 0)
        return FALSE;
    Clocks& state = clocks();
    std::lock_guard<std::mutex> lock(state.mutex);
    const LONGLONG now = nanosecondsOf(CLOCK_MONOTONIC);
    state.tickBaseMs = state.scaledTicksLocked(now);
    state.realBaseNs = now;
    state.scale = scale;
    return TRUE;
}

} // extern "C"
