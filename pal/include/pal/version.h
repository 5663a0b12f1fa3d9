// The operating-system version. The platform reports Windows 10.0, build 19045, without a
// service pack: an NT-platform workstation (suite mask VER_SUITE_SINGLEUSERTS), to every caller
// alike. GetVersion gives 0x4A65000A (major in the low byte, minor in the next, build in the high
// word, high bit clear for NT).
//
// VerifyVersionInfoW compares the requested fields with their conditions (VerSetConditionMask):
// major, minor, service pack major and minor are compared together, most significant first, under
// the condition of the most significant one requested; build, platform and product type each
// under their own; the suite mask with VER_AND (all bits present) or VER_OR (any). A comparison
// that fails gives FALSE with ERROR_OLD_WIN_VERSION; no type or no condition gives FALSE with
// ERROR_BAD_ARGUMENTS.
#pragma once

#include "pal/errors.h"
#include "pal/types.h"

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *POSVERSIONINFOW, *LPOSVERSIONINFOW;

typedef struct _OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXW, *POSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW is 276 bytes");
static_assert(sizeof(OSVERSIONINFOEXW) == 284 && offsetof(OSVERSIONINFOEXW, wServicePackMajor) == 276,
              "OSVERSIONINFOEXW layout");
static_assert(offsetof(OSVERSIONINFOEXW, wSuiteMask) == 280 && offsetof(OSVERSIONINFOEXW, wProductType) == 282,
              "OSVERSIONINFOEXW layout");

typedef OSVERSIONINFOW OSVERSIONINFO;
typedef LPOSVERSIONINFOW LPOSVERSIONINFO;
typedef OSVERSIONINFOEXW OSVERSIONINFOEX;
typedef LPOSVERSIONINFOEXW LPOSVERSIONINFOEX;

// Type mask bits.
#define VER_MINORVERSION 0x0000001
#define VER_MAJORVERSION 0x0000002
#define VER_BUILDNUMBER 0x0000004
#define VER_PLATFORMID 0x0000008
#define VER_SERVICEPACKMINOR 0x0000010
#define VER_SERVICEPACKMAJOR 0x0000020
#define VER_SUITENAME 0x0000040
#define VER_PRODUCT_TYPE 0x0000080

// Conditions.
#define VER_EQUAL 1
#define VER_GREATER 2
#define VER_GREATER_EQUAL 3
#define VER_LESS 4
#define VER_LESS_EQUAL 5
#define VER_AND 6
#define VER_OR 7

#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003
#define VER_SUITE_SINGLEUSERTS 0x00000100

#define VER_SET_CONDITION(mask, type, condition) ((mask) = VerSetConditionMask((mask), (type), (condition)))

extern "C" {
PAL_EXPORT DWORD GetVersion(void);
// Takes an OSVERSIONINFOW or an OSVERSIONINFOEXW, told apart by dwOSVersionInfoSize; another size
// fails with ERROR_INSUFFICIENT_BUFFER.
PAL_EXPORT BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
PAL_EXPORT BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW lpVersionInformation, DWORD dwTypeMask,
                                   DWORDLONG dwlConditionMask);
PAL_EXPORT ULONGLONG VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition);
}

#define GetVersionEx GetVersionExW
#define VerifyVersionInfo VerifyVersionInfoW
