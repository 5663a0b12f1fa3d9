// FILETIME values (100 ns units since 1601-01-01) from the Linux clocks and file times.
#pragma once

#include <ctime>

#include "pal/types.h"

namespace pal {

constexpr LONGLONG kFileTimeUnitsPerSecond = 10000000;
constexpr LONGLONG kUnixEpochInFileTime = 116444736000000000LL; // 1970-01-01

inline ULONGLONG fileTimeValueOf(LONGLONG unixSeconds, long nanoseconds)
{
    return static_cast<ULONGLONG>(kUnixEpochInFileTime + unixSeconds * kFileTimeUnitsPerSecond + nanoseconds / 100);
}

inline FILETIME splitFileTime(ULONGLONG value)
{
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

inline FILETIME fileTimeOf(const timespec& time)
{
    return splitFileTime(fileTimeValueOf(time.tv_sec, time.tv_nsec));
}

} // namespace pal
