// The service's settings from section [Device] of its INI file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ServiceContext.h"
#include "TempRoot.h"

namespace {

struct Settings {
    BOOL pageCount;
    BOOL straightDelete;
    BOOL skipTrace;
    int resetCount;
    DWORD sleep;
};

Settings read(const testsupport::TempRoot& root, const std::string& device)
{
    std::string path = root.file("drive_c/Program Files/JTRKSVC2.ini");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "[Device]\r\n" << device;
    JTRKServiceContext context{};
    ReadServiceSettings(&context, W("C:\\Program Files\\JTRKSVC2.ini"));
    return {context.GetPageCount, context.StraightDelete, context.SkipTrace, context.MaxResetCount, context.Sleep};
}

TEST(ServiceSettings, DefaultsAndTheRulesOfTheDeviceSection)
{
    testsupport::TempRoot root;
    Settings defaults = read(root, "");
    EXPECT_TRUE(defaults.pageCount);
    EXPECT_TRUE(defaults.straightDelete);
    EXPECT_FALSE(defaults.skipTrace);
    EXPECT_EQ(defaults.resetCount, 0);
    EXPECT_EQ(defaults.sleep, 2000u);

    Settings noCount = read(root, "GetPageCount=0\r\nSkipTrace=0\r\nStraightDelete=0\r\n");
    EXPECT_FALSE(noCount.pageCount);
    EXPECT_TRUE(noCount.skipTrace); // whatever SkipTrace says
    EXPECT_FALSE(noCount.straightDelete);
    Settings skipOnly = read(root, "SkipTrace=1\r\n");
    EXPECT_FALSE(skipOnly.pageCount);
    EXPECT_TRUE(skipOnly.skipTrace);
    Settings both = read(root, "SkipTrace=99\r\n");
    EXPECT_TRUE(both.pageCount);
    EXPECT_TRUE(both.skipTrace);
    Settings other = read(root, "SkipTrace=2\r\n");
    EXPECT_TRUE(other.pageCount);
    EXPECT_FALSE(other.skipTrace);

    EXPECT_EQ(read(root, "Sleep=0\r\n").sleep, 2000u);
    EXPECT_EQ(read(root, "Sleep=-5\r\n").sleep, 2000u);
    EXPECT_EQ(read(root, "Sleep=750\r\n").sleep, 750u);
    EXPECT_EQ(read(root, "ResetCount=-3\r\n").resetCount, -3);
    EXPECT_EQ(read(root, "ResetCount=4\r\n").resetCount, 4);
}

TEST(ServiceSettings, WithoutAnIniPathEverySettingStaysZero)
{
    JTRKServiceContext context{};
    ReadServiceSettings(&context, nullptr);
    EXPECT_FALSE(context.GetPageCount);
    EXPECT_FALSE(context.StraightDelete);
    EXPECT_EQ(context.Sleep, 0u);
}

} // namespace
