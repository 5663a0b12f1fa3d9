// The printing road under faults, across processes: the spooler host with the port monitor, the
// simulated device and the service's pipe (played by the pipe stub in this process).
#include <gtest/gtest.h>

#include "JobMessages.h"
#include "JobPipeStub.h"
#include "Road.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

namespace {

const std::string kDevice = "127.0.0.5";
const std::u16string kDeviceWide = u"127.0.0.5";

class RoadFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(road::writeRootFile("config/icmp", kDevice + " reply\n"));
        ASSERT_TRUE(road::writeRootFile("config/computer-name", "ROADPC\n"));
        DWORD error = 0;
        ASSERT_TRUE(service.start(error)) << error;
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(road::addMonitor()) << GetLastError();
    }

    void TearDown() override { EXPECT_EQ(host.stop(), 0); }

    static spoolertest::ProgramResult spool(const std::vector<std::string>& args)
    {
        std::vector<std::string> command = {"pal-spool"};
        command.insert(command.end(), args.begin(), args.end());
        return spoolertest::runProgram(command);
    }

    testsupport::TempRoot root;
    jobmsg::JobPipeStub service;
    spoolertest::SpoolerHost host;
};

// Port names compare without regard to case: the port is deleted and no longer listed.
TEST_F(RoadFaults, DeletePortTakesTheNameInAnyCase)
{
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", kDeviceWide, 9100)), 0u);
    spoolertest::ProgramResult deleted = spool({"delete-port", "jt_127.0.0.5"});
    EXPECT_EQ(deleted.exitCode, 0) << deleted.output;
    spoolertest::ProgramResult ports = spool({"ports"});
    EXPECT_EQ(ports.exitCode, 0);
    EXPECT_EQ(ports.output.find("127.0.0.5"), std::string::npos) << ports.output;
    // Gone for good: a restarted host does not list it either.
    EXPECT_EQ(host.stop(), 0);
    ASSERT_TRUE(host.start());
    EXPECT_EQ(spool({"ports"}).output.find("127.0.0.5"), std::string::npos);
}

} // namespace
