#include <gtest/gtest.h>

#include "pal/version.h"

namespace {

OSVERSIONINFOEXW requested(DWORD major, DWORD minor, WORD servicePackMajor = 0)
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = servicePackMajor;
    return info;
}

// The usual "this version or later" test: major, minor and service pack major at or above.
BOOL atLeast(DWORD major, DWORD minor, WORD servicePackMajor = 0)
{
    OSVERSIONINFOEXW info = requested(major, minor, servicePackMajor);
    DWORDLONG conditions = 0;
    VER_SET_CONDITION(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    VER_SET_CONDITION(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    VER_SET_CONDITION(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, conditions);
}

TEST(Version, GetVersionPacksWindows10Build19045)
{
    EXPECT_EQ(GetVersion(), 0x4A65000Au);
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u) << "NT family";
    EXPECT_GE(LOBYTE(LOWORD(GetVersion())), 5);
}

TEST(Version, GetVersionExFillsBothRecordSizes)
{
    OSVERSIONINFOW basic{};
    basic.dwOSVersionInfoSize = sizeof(basic);
    ASSERT_TRUE(GetVersionExW(&basic));
    EXPECT_EQ(basic.dwMajorVersion, 10u);
    EXPECT_EQ(basic.dwMinorVersion, 0u);
    EXPECT_EQ(basic.dwBuildNumber, 19045u);
    EXPECT_EQ(basic.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(basic.szCSDVersion[0], 0);

    OSVERSIONINFOEXW extended{};
    extended.dwOSVersionInfoSize = sizeof(extended);
    extended.wReserved = 0xEE;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&extended)));
    EXPECT_EQ(extended.wServicePackMajor, 0);
    EXPECT_EQ(extended.wSuiteMask, VER_SUITE_SINGLEUSERTS);
    EXPECT_EQ(extended.wProductType, VER_NT_WORKSTATION);
    EXPECT_EQ(extended.wReserved, 0);

    OSVERSIONINFOW wrong{};
    wrong.dwOSVersionInfoSize = sizeof(wrong) - 4;
    EXPECT_FALSE(GetVersionExW(&wrong));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Version, ConditionMaskHoldsThreeBitsPerTypeInTypeBitOrder)
{
    EXPECT_EQ(VerSetConditionMask(0, VER_MINORVERSION, VER_EQUAL), 0x1u);
    EXPECT_EQ(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), 0x18u);
    EXPECT_EQ(VerSetConditionMask(0, VER_BUILDNUMBER, VER_LESS), 0x100u);
    EXPECT_EQ(VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL), 0x18000u);
    EXPECT_EQ(VerSetConditionMask(0, VER_SUITENAME, VER_AND), 0x180000u);
    EXPECT_EQ(VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_OR), 0xE00000u);
    EXPECT_EQ(VerSetConditionMask(0x18, VER_MINORVERSION, VER_GREATER_EQUAL), 0x1Bu);
    EXPECT_EQ(VerSetConditionMask(0x18, 0, VER_EQUAL), 0x18u);
}

TEST(Version, VersionNumberComparesMostSignificantPartFirst)
{
    EXPECT_TRUE(atLeast(6, 1, 1)) << "10.0 is later than 6.1 SP1 though 0 < 1";
    EXPECT_TRUE(atLeast(10, 0));
    EXPECT_FALSE(atLeast(10, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_FALSE(atLeast(10, 0, 1));
    EXPECT_FALSE(atLeast(11, 0));

    // Exactly 5.0 (the test that picks an old record size): not this system.
    OSVERSIONINFOEXW info = requested(5, 0);
    DWORDLONG equal = 0;
    VER_SET_CONDITION(equal, VER_MAJORVERSION, VER_EQUAL);
    VER_SET_CONDITION(equal, VER_MINORVERSION, VER_EQUAL);
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, equal));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    info = requested(10, 0);
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, equal));

    DWORDLONG less = VerSetConditionMask(0, VER_MAJORVERSION, VER_LESS);
    info = requested(11, 0);
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_MAJORVERSION, less));
    info = requested(10, 0);
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_MAJORVERSION, less));
}

TEST(Version, OtherFieldsCompareOnTheirOwn)
{
    OSVERSIONINFOEXW info = requested(0, 0);
    info.dwBuildNumber = 19045;
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    info.wProductType = VER_NT_WORKSTATION;
    DWORDLONG conditions = 0;
    VER_SET_CONDITION(conditions, VER_BUILDNUMBER, VER_GREATER_EQUAL);
    VER_SET_CONDITION(conditions, VER_PLATFORMID, VER_EQUAL);
    VER_SET_CONDITION(conditions, VER_PRODUCT_TYPE, VER_EQUAL);
    const DWORD types = VER_BUILDNUMBER | VER_PLATFORMID | VER_PRODUCT_TYPE;
    EXPECT_TRUE(VerifyVersionInfoW(&info, types, conditions));
    info.dwBuildNumber = 19046;
    EXPECT_FALSE(VerifyVersionInfoW(&info, types, conditions));
    info.dwBuildNumber = 17763;
    info.wProductType = VER_NT_SERVER;
    EXPECT_FALSE(VerifyVersionInfoW(&info, types, conditions));

    info.wSuiteMask = VER_SUITE_SINGLEUSERTS | 0x0001;
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_SUITENAME, VerSetConditionMask(0, VER_SUITENAME, VER_AND)));
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_SUITENAME, VerSetConditionMask(0, VER_SUITENAME, VER_OR)));
}

TEST(Version, MissingTypesOrConditionsAreBadArguments)
{
    OSVERSIONINFOEXW info = requested(10, 0);
    EXPECT_FALSE(VerifyVersionInfoW(&info, 0, VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_MAJORVERSION, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_BUILDNUMBER,
                                    VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS)) << "the build has no condition";
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_SUITENAME, VerSetConditionMask(0, VER_SUITENAME, VER_EQUAL)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
}

} // namespace
