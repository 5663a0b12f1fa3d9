#include <gtest/gtest.h>

#include <pwd.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"

namespace {

class SystemNames : public ::testing::Test {
protected:
    void configure(const std::string& line)
    {
        std::filesystem::create_directories(root.file("config"));
        std::ofstream(root.file("config/computer-name")) << line;
    }

    std::u16string computerName()
    {
        WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
        return GetComputerNameW(name, &size) ? std::u16string(name, size) : u"<failed>";
    }

    testsupport::TempRoot root;
};

TEST_F(SystemNames, ComputerNameComesFromTheRootAsWritten)
{
    configure("  printhost-01 \r\nsecond line\n");
    EXPECT_EQ(computerName(), u"printhost-01");
    configure("ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(computerName(), u"ABCDEFGHIJKLMNO") << "cut to MAX_COMPUTERNAME_LENGTH";
}

TEST_F(SystemNames, ComputerNameBufferRules)
{
    configure("ABCDEFGHIJ");
    WCHAR name[16];
    DWORD size = 10;
    EXPECT_FALSE(GetComputerNameW(name, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, 11u) << "the size needed with the terminator";
    size = 0;
    EXPECT_FALSE(GetComputerNameW(nullptr, &size));
    EXPECT_EQ(size, 11u);
    size = 11;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(size, 10u) << "the length without the terminator";
    EXPECT_EQ(std::u16string(name), u"ABCDEFGHIJ");
    EXPECT_FALSE(GetComputerNameW(name, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SystemNames, AnsiComputerNameCountsBytesOfTheCodePage)
{
    configure("\xe5\x90\x8d\xe5\x89\x8d-1"); // "名前-1" in UTF-8
    char name[16];
    DWORD size = 6;
    EXPECT_FALSE(GetComputerNameA(name, &size));
    EXPECT_EQ(size, 7u) << "six bytes and the terminator";
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::string(name), "\x96\xbc\x91\x4f-1");
}

TEST_F(SystemNames, HostNameIsUpperCasedWithoutItsDomain)
{
    // A host name of the test's own, in a namespace of its own.
    if (geteuid() != 0)
        GTEST_SKIP() << "a host name of the test's own needs root";
    if (testsupport::ChildProcess::fork([] { return unshare(CLONE_NEWUTS) == 0; }).wait() != 0)
        GTEST_SKIP() << "this machine gives no namespace of host names";
    auto child = testsupport::ChildProcess::fork([] {
        const char host[] = "print-srv.example.com";
        if (unshare(CLONE_NEWUTS) != 0 || sethostname(host, sizeof host - 1) != 0)
            return false;
        WCHAR name[16];
        DWORD size = 16;
        return GetComputerNameW(name, &size) && std::u16string(name) == u"PRINT-SRV" && size == 9;
    });
    EXPECT_EQ(child.wait(), 0);
}

std::u16string userName()
{
    WCHAR name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(name, &size))
        return u"<failed>";
    EXPECT_EQ(size, std::u16string(name).size() + 1) << "the size with the terminator";
    return name;
}

TEST_F(SystemNames, UserNameOfTheProcessAndBufferRules)
{
    passwd* entry = getpwuid(geteuid());
    ASSERT_NE(entry, nullptr);
    std::u16string expected(entry->pw_name, entry->pw_name + std::strlen(entry->pw_name));
    EXPECT_EQ(userName(), expected);
    DWORD size = 0;
    EXPECT_FALSE(GetUserNameW(nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, expected.size() + 1);
    WCHAR name[UNLEN + 1];
    size = static_cast<DWORD>(expected.size());
    EXPECT_FALSE(GetUserNameW(name, &size));
    EXPECT_EQ(size, expected.size() + 1);
}

TEST_F(SystemNames, ImpersonatedNameHoldsForItsThreadOnly)
{
    std::u16string own = userName();
    palSetThreadUserName(u"\u5c71\u7530"); // 山田
    EXPECT_EQ(userName(), u"\u5c71\u7530");
    std::u16string elsewhere;
    std::thread([&] { elsewhere = userName(); }).join();
    EXPECT_EQ(elsewhere, own);
    char narrow[8];
    DWORD size = 4;
    EXPECT_FALSE(GetUserNameA(narrow, &size));
    EXPECT_EQ(size, 5u) << "four bytes of code page 932 and the terminator";
    ASSERT_TRUE(GetUserNameA(narrow, &size));
    EXPECT_EQ(std::string(narrow), "\x8e\x52\x93\x63");
    EXPECT_EQ(size, 5u);
    palSetThreadUserName(nullptr);
    EXPECT_EQ(userName(), own);
}

} // namespace
