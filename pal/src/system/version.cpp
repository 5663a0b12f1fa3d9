// The operating-system version the platform reports, and the version checks against it.
#include <bit>
#include <cstring>

#include "pal/version.h"

namespace {

constexpr DWORD kMajor = 10;
constexpr DWORD kMinor = 0;
constexpr DWORD kBuild = 19045;
constexpr WORD kServicePackMajor = 0;
constexpr WORD kServicePackMinor = 0;
constexpr WORD kSuiteMask = VER_SUITE_SINGLEUSERTS;
constexpr BYTE kProductType = VER_NT_WORKSTATION;

enum class Verdict { Holds, Fails, Invalid };

// Three condition bits per type, in the order of the type bits.
BYTE conditionOf(DWORDLONG conditions, DWORD type)
{
    return static_cast<BYTE>((conditions >> (3 * std::countr_zero(type))) & 7);
}

// order: the system's value against the requested one (-1, 0, 1).
Verdict judge(int order, BYTE condition)
{
    switch (condition) {
    case VER_EQUAL:
        return order == 0 ? Verdict::Holds : Verdict::Fails;
    case VER_GREATER:
        return order > 0 ? Verdict::Holds : Verdict::Fails;
    case VER_GREATER_EQUAL:
        return order >= 0 ? Verdict::Holds : Verdict::Fails;
    case VER_LESS:
        return order < 0 ? Verdict::Holds : Verdict::Fails;
    case VER_LESS_EQUAL:
        return order <= 0 ? Verdict::Holds : Verdict::Fails;
    default:
        return Verdict::Invalid;
    }
}

int orderOf(DWORD system, DWORD requested)
{
    return system < requested ? -1 : system > requested ? 1 : 0;
}

// Major, minor, service pack major and minor form one version number.
Verdict verifyVersionNumber(const OSVERSIONINFOEXW& requested, DWORD types, DWORDLONG conditions)
{
    struct Part {
        DWORD type;
        DWORD system;
        DWORD requested;
    };
    const Part parts[] = {
        {VER_MAJORVERSION, kMajor, requested.dwMajorVersion},
        {VER_MINORVERSION, kMinor, requested.dwMinorVersion},
        {VER_SERVICEPACKMAJOR, kServicePackMajor, requested.wServicePackMajor},
        {VER_SERVICEPACKMINOR, kServicePackMinor, requested.wServicePackMinor},
    };
    bool requestedAny = false;
    BYTE condition = 0;
    int order = 0;
    for (const Part& part : parts) {
        if (!(types & part.type))
            continue;
        if (!requestedAny)
            condition = conditionOf(conditions, part.type);
        requestedAny = true;
        if (order == 0)
            order = orderOf(part.system, part.requested);
    }
    return requestedAny ? judge(order, condition) : Verdict::Holds;
}

Verdict verifyField(DWORD type, DWORD system, DWORD requested, DWORD types, DWORDLONG conditions)
{
    return (types & type) ? judge(orderOf(system, requested), conditionOf(conditions, type)) : Verdict::Holds;
}

Verdict verifySuite(WORD requested, DWORD types, DWORDLONG conditions)
{
    if (!(types & VER_SUITENAME))
        return Verdict::Holds;
    switch (conditionOf(conditions, VER_SUITENAME)) {
    case VER_AND:
        return (kSuiteMask & requested) == requested ? Verdict::Holds : Verdict::Fails;
    case VER_OR:
        return (kSuiteMask & requested) != 0 ? Verdict::Holds : Verdict::Fails;
    default:
        return Verdict::Invalid;
    }
}

} // namespace

extern "C" {

DWORD GetVersion(void)
{
    return kMajor | (kMinor << 8) | (kBuild << 16);
}

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    if (!lpVersionInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memset(lpVersionInformation, 0, size);
    lpVersionInformation->dwOSVersionInfoSize = size;
    lpVersionInformation->dwMajorVersion = kMajor;
    lpVersionInformation->dwMinorVersion = kMinor;
    lpVersionInformation->dwBuildNumber = kBuild;
    lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
    if (size == sizeof(OSVERSIONINFOEXW)) {
        auto* extended = reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation);
        extended->wServicePackMajor = kServicePackMajor;
        extended->wServicePackMinor = kServicePackMinor;
        extended->wSuiteMask = kSuiteMask;
        extended->wProductType = kProductType;
    }
    return TRUE;
}

BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW lpVersionInformation, DWORD dwTypeMask, DWORDLONG dwlConditionMask)
{
    if (!lpVersionInformation || dwTypeMask == 0 || dwlConditionMask == 0) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    const OSVERSIONINFOEXW& requested = *lpVersionInformation;
    const Verdict verdicts[] = {
        verifyVersionNumber(requested, dwTypeMask, dwlConditionMask),
        verifyField(VER_BUILDNUMBER, kBuild, requested.dwBuildNumber, dwTypeMask, dwlConditionMask),
        verifyField(VER_PLATFORMID, VER_PLATFORM_WIN32_NT, requested.dwPlatformId, dwTypeMask, dwlConditionMask),
        verifyField(VER_PRODUCT_TYPE, kProductType, requested.wProductType, dwTypeMask, dwlConditionMask),
        verifySuite(requested.wSuiteMask, dwTypeMask, dwlConditionMask),
    };
    bool fails = false;
    for (Verdict verdict : verdicts) {
        if (verdict == Verdict::Invalid) {
            SetLastError(ERROR_BAD_ARGUMENTS);
            return FALSE;
        }
        fails = fails || verdict == Verdict::Fails;
    }
    if (fails) {
        SetLastError(ERROR_OLD_WIN_VERSION);
        return FALSE;
    }
    return TRUE;
}

ULONGLONG VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition)
{
    for (DWORD type = VER_MINORVERSION; type <= VER_PRODUCT_TYPE; type <<= 1)
        if (TypeMask & type)
            ConditionMask |= static_cast<ULONGLONG>(Condition & 7) << (3 * std::countr_zero(type));
    return ConditionMask;
}

} // extern "C"
