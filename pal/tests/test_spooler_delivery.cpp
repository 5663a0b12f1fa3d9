// Delivery of jobs through the port monitor: StartDocPort, WritePort and EndDocPort as the host
// calls them, and the job control that steers a delivery.
#include "test_spooler_jobs.h"

using namespace spoolertest;

namespace {

class SpoolerDelivery : public SpoolerJobs {};

TEST_F(SpoolerDelivery, DeliversTheSubmittedBytesExactly)
{
    Printer office(u"Office");
    ASSERT_TRUE(office);
    std::vector<BYTE> data = randomBytes(300000, 1);
    TestPort port(u"P1");
    ASSERT_EQ(port.script(u"chunk=1000"), 0u);
    DWORD job = office.submit(data, u"report", 7777);
    ASSERT_NE(job, 0u);
    ASSERT_TRUE(port.await(u"end"));
    EXPECT_EQ(port.data(job), data);
    EXPECT_TRUE(office.statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

} // namespace
