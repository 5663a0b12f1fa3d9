// The printing road with the service's pipe played by a pipe stub in the test's process: a fresh
// platform root, the stub listening, the spooler host running with the port monitor added, and the
// device's address answering pings.
#pragma once

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "JobPipeStub.h"
#include "Road.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

namespace road {

class StubbedRoad : public ::testing::Test {
protected:
    explicit StubbedRoad(std::string device) : device_(std::move(device)) {}

    void SetUp() override
    {
        ASSERT_TRUE(writeRootFile("config/icmp", device_ + " reply\n"));
        ASSERT_TRUE(writeRootFile("config/computer-name", "ROADPC\n"));
        DWORD error = 0;
        ASSERT_TRUE(service.start(error)) << error;
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(addMonitor()) << GetLastError();
    }

    void TearDown() override { EXPECT_EQ(host.stop(), 0); }

    testsupport::TempRoot root;
    jobmsg::JobPipeStub service;
    spoolertest::SpoolerHost host;

private:
    std::string device_;
};

} // namespace road
