// Instance id, data files, INI integers and service ports, in a fresh platform root.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>

#include <string>

#include "TempRoot.h"
#include "TestFiles.h"
#include "VxSrvc.h"

namespace {

using testsupport::TempRoot;
using testsupport::writeText;

TEST(VxSrvcInstance, NonZeroStableUntilCleanupAndFreshPerStartup)
{
    EXPECT_EQ(VxSrvcTestStarted(), 0);
    ASSERT_EQ(VxSrvcStartup(nullptr), VXSRVC_OK);
    EXPECT_NE(VxSrvcTestStarted(), 0);
    uint64_t first = 0, again = 0, next = 0;
    ASSERT_EQ(VxSrvcGetInstanceId(&first), VXSRVC_OK);
    ASSERT_EQ(VxSrvcGetInstanceId(&again), VXSRVC_OK);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(first, again);
    VxSrvcCleanup();
    ASSERT_EQ(VxSrvcStartup(nullptr), VXSRVC_OK);
    ASSERT_EQ(VxSrvcGetInstanceId(&next), VXSRVC_OK);
    EXPECT_NE(next, 0u);
    EXPECT_NE(next, first);
    VxSrvcCleanup();
    EXPECT_EQ(VxSrvcTestStarted(), 0);
    EXPECT_EQ(VxSrvcGetInstanceId(nullptr), VXSRVC_E_BAD_PARAMETER);
}

// The root's start script: a runtime that is not installed, a slow start, anything else at once.
TEST(VxSrvcInstance, TheRootsStartScriptFailsOrDelaysTheStart)
{
    TempRoot root;
    writeText(root.file("config/vxsrvc-startup"), "fail\n");
    EXPECT_EQ(VxSrvcStartup(nullptr), VXSRVC_E_NOT_FOUND);
    EXPECT_EQ(VxSrvcTestStarted(), 0);
    writeText(root.file("config/vxsrvc-startup"), "delay 200\n");
    const uint32_t before = VxSrvcGetTick();
    ASSERT_EQ(VxSrvcStartup(nullptr), VXSRVC_OK);
    EXPECT_GE(VxSrvcGetTick() - before, 200u);
    VxSrvcCleanup();
    writeText(root.file("config/vxsrvc-startup"), "other\n");
    ASSERT_EQ(VxSrvcStartup(nullptr), VXSRVC_OK);
    VxSrvcCleanup();
}

std::string moduleFolder()
{
    Dl_info info;
    EXPECT_TRUE(dladdr(reinterpret_cast<void*>(&VxSrvcFindDataFile), &info));
    std::string path = info.dli_fname;
    return path.substr(0, path.rfind('/'));
}

TEST(VxSrvcDataFile, RootConfigFirstThenTheModulesFolder)
{
    TempRoot root;
    char path[260];
    const std::string name = "vxsrvc-test-" + std::to_string(getpid()) + ".dat";
    EXPECT_EQ(VxSrvcFindDataFile(name.c_str(), path, sizeof path), 0);

    const std::string beside = moduleFolder() + "/" + name;
    writeText(beside, "[PortNumber]\n");
    EXPECT_NE(VxSrvcFindDataFile(name.c_str(), path, sizeof path), 0);
    EXPECT_EQ(std::string(path), beside);

    writeText(root.file("config/" + name), "[PortNumber]\n");
    EXPECT_NE(VxSrvcFindDataFile(name.c_str(), path, sizeof path), 0);
    EXPECT_EQ(std::string(path), root.file("config/" + name));
    EXPECT_EQ(VxSrvcFindDataFile(name.c_str(), path, static_cast<uint32_t>(root.file("config/" + name).size())), 0)
        << "no room for the terminator";
    std::remove(beside.c_str());
    EXPECT_EQ(VxSrvcFindDataFile("../config/x", path, sizeof path), 0);
}

TEST(VxSrvcIni, ReadsTheIntegerOrTheDefault)
{
    TempRoot root;
    writeText(root.file("config/vxipport.dat"), "; ports\r\n[PortNumber]\r\nrange = 3\r\nempty=\r\n");
    const std::string file = root.file("config/vxipport.dat");
    EXPECT_EQ(VxSrvcReadIniInt("PortNumber", "range", 10, file.c_str()), 3);
    EXPECT_EQ(VxSrvcReadIniInt("portnumber", "RANGE", 10, file.c_str()), 3);
    EXPECT_EQ(VxSrvcReadIniInt("PortNumber", "empty", 10, file.c_str()), 10);
    EXPECT_EQ(VxSrvcReadIniInt("PortNumber", "other", 10, file.c_str()), 10);
    EXPECT_EQ(VxSrvcReadIniInt("PortNumber", "range", 10, root.file("config/absent.dat").c_str()), 10);
}

TEST(VxSrvcServices, RootServicesFileDecidesWhenItExists)
{
    TempRoot root;
    uint16_t port = 0;
    writeText(root.file("config/services"),
              "# local services\n"
              "vxdmlp-event  4660/udp   vxevent # events\n"
              "vxdmlp-event  4661/tcp\n"
              "broken        x/udp\n");
    ASSERT_EQ(VxSrvcGetServicePort("vxdmlp-event", "udp", &port), VXSRVC_OK);
    EXPECT_EQ(port, htons(4660));
    ASSERT_EQ(VxSrvcGetServicePort("vxevent", "udp", &port), VXSRVC_OK) << "aliases count";
    EXPECT_EQ(port, htons(4660));
    ASSERT_EQ(VxSrvcGetServicePort("vxdmlp-event", "tcp", &port), VXSRVC_OK);
    EXPECT_EQ(port, htons(4661));
    EXPECT_LT(VxSrvcGetServicePort("broken", "udp", &port), 0);
    EXPECT_LT(VxSrvcGetServicePort("vxdmlp-event", "sctp", &port), 0);
    EXPECT_LT(VxSrvcGetServicePort("domain", "udp", &port), 0)
        << "a root services file without the name means unknown, whatever the system's says";
}

} // namespace
