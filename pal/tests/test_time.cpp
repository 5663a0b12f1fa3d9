#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <pal/testhooks.h>
#include <windows.h>

#include "ChildProcess.h"

namespace {

using RealClock = std::chrono::steady_clock;

long long realMillisecondsSince(RealClock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - start).count();
}

ULONGLONG valueOf(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME fileTimeOf(ULONGLONG value)
{
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

SYSTEMTIME makeTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD milliseconds)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = milliseconds;
    return time;
}

void expectTime(const SYSTEMTIME& time, WORD year, WORD month, WORD day, WORD dayOfWeek, WORD hour, WORD minute,
                WORD second, WORD milliseconds)
{
    EXPECT_EQ(time.wYear, year);
    EXPECT_EQ(time.wMonth, month);
    EXPECT_EQ(time.wDay, day);
    EXPECT_EQ(time.wDayOfWeek, dayOfWeek);
    EXPECT_EQ(time.wHour, hour);
    EXPECT_EQ(time.wMinute, minute);
    EXPECT_EQ(time.wSecond, second);
    EXPECT_EQ(time.wMilliseconds, milliseconds);
}

struct ClockGuard {
    ~ClockGuard()
    {
        palResetTestClock();
        palSetTimeScale(1.0);
    }
};

// ---- Conversions

TEST(TimeConversion, SystemTimeToFileTimeGivesTheWindowsValues)
{
    FILETIME fileTime;
    SYSTEMTIME origin = makeTime(1601, 1, 1, 0, 0, 0, 0);
    ASSERT_TRUE(SystemTimeToFileTime(&origin, &fileTime));
    EXPECT_EQ(valueOf(fileTime), 0u);
    SYSTEMTIME unixEpoch = makeTime(1970, 1, 1, 0, 0, 0, 0);
    ASSERT_TRUE(SystemTimeToFileTime(&unixEpoch, &fileTime));
    EXPECT_EQ(fileTime.dwHighDateTime, 0x019DB1DEu);
    EXPECT_EQ(fileTime.dwLowDateTime, 0xD53E8000u);
    // 145790 days from 1601-01-01, then 12:34:56.789
    SYSTEMTIME leapDay = makeTime(2000, 2, 29, 12, 34, 56, 789);
    leapDay.wDayOfWeek = 6; // ignored
    ASSERT_TRUE(SystemTimeToFileTime(&leapDay, &fileTime));
    EXPECT_EQ(valueOf(fileTime), 125963012967890000ULL);
}

TEST(TimeConversion, FileTimeToSystemTimeFillsTheDayOfWeekAndReachesYear30828)
{
    SYSTEMTIME time;
    FILETIME fileTime = fileTimeOf(125963012967890000ULL);
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
    expectTime(time, 2000, 2, 29, 2, 12, 34, 56, 789);
    fileTime = fileTimeOf(0);
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
    expectTime(time, 1601, 1, 1, 1, 0, 0, 0, 0);
    fileTime = fileTimeOf(0x7FFFFFFFFFFFFFFFULL);
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
    expectTime(time, 30828, 9, 14, 4, 2, 48, 5, 477);
    fileTime = fileTimeOf(0x8000000000000000ULL);
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&fileTime, &time));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TimeConversion, RoundTripsAcrossCenturyAndLeapBoundaries)
{
    const SYSTEMTIME samples[] = {makeTime(1700, 2, 28, 23, 59, 59, 999), makeTime(1700, 3, 1, 0, 0, 0, 0),
                                  makeTime(1900, 12, 31, 1, 2, 3, 4),      makeTime(2024, 2, 29, 0, 0, 0, 1),
                                  makeTime(2100, 3, 1, 12, 0, 0, 0),       makeTime(30827, 12, 31, 23, 59, 59, 999)};
    for (const SYSTEMTIME& sample : samples) {
        FILETIME fileTime;
        SYSTEMTIME back;
        ASSERT_TRUE(SystemTimeToFileTime(&sample, &fileTime));
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &back));
        EXPECT_EQ(back.wYear, sample.wYear);
        EXPECT_EQ(back.wMonth, sample.wMonth);
        EXPECT_EQ(back.wDay, sample.wDay);
        EXPECT_EQ(back.wMilliseconds, sample.wMilliseconds);
    }
    FILETIME first, second;
    SYSTEMTIME before = makeTime(1700, 2, 28, 0, 0, 0, 0), after = makeTime(1700, 3, 1, 0, 0, 0, 0);
    SystemTimeToFileTime(&before, &first);
    SystemTimeToFileTime(&after, &second);
    EXPECT_EQ(valueOf(second) - valueOf(first), 864000000000ULL) << "1700 is no leap year";
}

TEST(TimeConversion, InvalidSystemTimesAreRefused)
{
    const SYSTEMTIME invalid[] = {makeTime(2001, 2, 29, 0, 0, 0, 0), makeTime(2000, 13, 1, 0, 0, 0, 0),
                                  makeTime(2000, 0, 1, 0, 0, 0, 0),  makeTime(2000, 4, 31, 0, 0, 0, 0),
                                  makeTime(2000, 1, 0, 0, 0, 0, 0),  makeTime(2000, 1, 1, 24, 0, 0, 0),
                                  makeTime(2000, 1, 1, 0, 60, 0, 0), makeTime(2000, 1, 1, 0, 0, 60, 0),
                                  makeTime(2000, 1, 1, 0, 0, 0, 1000), makeTime(1600, 12, 31, 0, 0, 0, 0),
                                  makeTime(30828, 1, 1, 0, 0, 0, 0)};
    for (const SYSTEMTIME& time : invalid) {
        FILETIME fileTime{1, 1};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&time, &fileTime)) << time.wYear << "-" << time.wMonth << "-" << time.wDay;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

// ---- Wall clock

TEST(WallClock, LocalTimeFollowsTheTimeZone)
{
    const char* previous = getenv("TZ");
    std::string saved = previous ? previous : "";
    setenv("TZ", "JST-9", 1);
    tzset();
    SYSTEMTIME utc, local;
    FILETIME utcFile, localFile;
    GetSystemTime(&utc);
    GetLocalTime(&local);
    SystemTimeToFileTime(&utc, &utcFile);
    SystemTimeToFileTime(&local, &localFile);
    const LONGLONG difference = static_cast<LONGLONG>(valueOf(localFile) - valueOf(utcFile));
    EXPECT_NEAR(static_cast<double>(difference), 9 * 3600 * 10000000.0, 2 * 10000000.0);
    if (previous)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(TestClock, FixesLocalAndSystemTimeUntilAdvancedOrReset)
{
    ClockGuard guard;
    SYSTEMTIME fixed = makeTime(2024, 3, 5, 13, 45, 7, 123);
    ASSERT_TRUE(palSetTestClock(&fixed));
    SYSTEMTIME local, utc;
    GetLocalTime(&local);
    expectTime(local, 2024, 3, 5, 2, 13, 45, 7, 123);
    GetSystemTime(&utc);
    expectTime(utc, 2024, 3, 5, 2, 13, 45, 7, 123);
    FILETIME asFileTime, expected;
    GetSystemTimeAsFileTime(&asFileTime);
    SystemTimeToFileTime(&fixed, &expected);
    EXPECT_EQ(valueOf(asFileTime), valueOf(expected));

    palAdvanceTestClock((10 * 3600 + 15 * 60 + 53) * 1000); // across midnight
    GetLocalTime(&local);
    expectTime(local, 2024, 3, 6, 3, 0, 1, 0, 123);

    SYSTEMTIME invalid = makeTime(2023, 2, 29, 0, 0, 0, 0);
    EXPECT_FALSE(palSetTestClock(&invalid));
    GetLocalTime(&local);
    EXPECT_EQ(local.wDay, 6) << "a refused time leaves the clock as it was";

    palResetTestClock();
    GetSystemTimeAsFileTime(&asFileTime);
    const LONGLONG realSeconds = static_cast<LONGLONG>((valueOf(asFileTime) - 116444736000000000ULL) / 10000000);
    EXPECT_LE(std::llabs(realSeconds - static_cast<LONGLONG>(time(nullptr))), 2) << "the real clock is back";
}

// ---- Ticks

TEST(TestClock, FixesTheTickCountWhichWrapsAt32Bits)
{
    ClockGuard guard;
    palSetTestTickCount(0xFFFFFFF0ULL);
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u) << "stands still";
    palAdvanceTestClock(0x20);
    EXPECT_EQ(GetTickCount(), 0x10u);
    EXPECT_EQ(GetTickCount64(), 0x100000010ULL);
    palResetTestClock();
    EXPECT_NE(GetTickCount64(), 0x100000010ULL);
}

TEST(Ticks, AdvanceWithRealTimeAtScaleOne)
{
    const auto outerStart = RealClock::now();
    const ULONGLONG ticksBefore = GetTickCount64();
    Sleep(60);
    const ULONGLONG elapsed = GetTickCount64() - ticksBefore;
    const long long outerReal = realMillisecondsSince(outerStart);
    EXPECT_GE(elapsed, 59u);
    EXPECT_LE(elapsed, static_cast<ULONGLONG>(outerReal) + 1);
    LARGE_INTEGER frequency, first, second;
    EXPECT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    QueryPerformanceCounter(&first);
    QueryPerformanceCounter(&second);
    EXPECT_LE(first.QuadPart, second.QuadPart);
    EXPECT_EQ(SleepEx(0, TRUE), 0u);
}

// ---- Time scale

TEST(TimeScale, ScalesSleepsAndWaitsAndSpeedsUpTicks)
{
    ClockGuard guard;
    ASSERT_TRUE(palSetTimeScale(0.01));
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    ULONGLONG ticksBefore = GetTickCount64();
    auto start = RealClock::now();
    EXPECT_EQ(WaitForSingleObject(never, 10000), WAIT_TIMEOUT);
    long long real = realMillisecondsSince(start);
    EXPECT_GE(real, 100 - 1);
    EXPECT_LT(real, 5000) << "a 10 s wait at scale 0.01 takes about 100 ms";
    EXPECT_GE(GetTickCount64() - ticksBefore, 9900u) << "elapsed ticks agree with the scaled wait";

    ticksBefore = GetTickCount64();
    start = RealClock::now();
    Sleep(10000);
    real = realMillisecondsSince(start);
    EXPECT_LT(real, 5000);
    EXPECT_GE(GetTickCount64() - ticksBefore, 9900u);
    CloseHandle(never);
}

TEST(TimeScale, ChangingTheScaleKeepsTicksContinuous)
{
    ClockGuard guard;
    ASSERT_TRUE(palSetTimeScale(0.01));
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, 5000); // 5000 fast ticks in about 50 ms
    CloseHandle(never);
    const ULONGLONG before = GetTickCount64();
    ASSERT_TRUE(palSetTimeScale(1.0));
    const ULONGLONG after = GetTickCount64();
    EXPECT_GE(after, before) << "ticks never run backwards when the rate changes";
    EXPECT_LT(after - before, 1000u) << "nor jump ahead";
    EXPECT_FALSE(palSetTimeScale(0));
    EXPECT_FALSE(palSetTimeScale(-2));
}

TEST(TimeScale, ShortScaledWaitsStillWait)
{
    ClockGuard guard;
    ASSERT_TRUE(palSetTimeScale(0.0001));
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(never, 1), WAIT_TIMEOUT) << "1 ms scaled below a millisecond is still a wait";
    CloseHandle(never);
}

// Runs the child case below with PAL_TIME_SCALE set; its exit status.
int runChildWithScale(const char* scale)
{
    const testsupport::ChildResult child =
        testsupport::runTestCases("TimeScaleChild.*", {std::string("PAL_TIME_SCALE=") + scale});
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
    return child.status;
}

TEST(TimeScale, ComesFromTheEnvironmentAndIgnoresInvalidValues)
{
    EXPECT_EQ(runChildWithScale("0.01"), 0);
    EXPECT_EQ(runChildWithScale("-1"), 0);
    EXPECT_EQ(runChildWithScale("fast"), 0);
}

// Run only by the case above: a wait of 10 s (scaled) or 300 ms (unscaled) takes the expected time.
TEST(TimeScaleChild, DISABLED_WaitTakesTheScaledTime)
{
    if (!getenv("PAL_TIME_SCALE"))
        GTEST_SKIP() << "run by TimeScale.ComesFromTheEnvironmentAndIgnoresInvalidValues";
    const double scale = strtod(getenv("PAL_TIME_SCALE"), nullptr);
    const bool scaled = scale > 0 && scale < 1;
    const DWORD timeout = scaled ? 10000 : 300;
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto start = RealClock::now();
    EXPECT_EQ(WaitForSingleObject(never, timeout), WAIT_TIMEOUT);
    const long long real = realMillisecondsSince(start);
    const long long expected = scaled ? static_cast<long long>(timeout * scale) : timeout;
    EXPECT_GE(real, expected - 1);
    EXPECT_LT(real, expected + 3000);
    CloseHandle(never);
}

} // namespace
