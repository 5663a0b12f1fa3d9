#include "SpoolerFixture.h"

#include "ClibDouble.h"
#include "FakeMessages.h"
#include "FakeNotices.h"
#include "Road.h"

namespace svctest {

void SpoolerFixture::SetUp()
{
    FakeNotices::instance().reset();
    ClibDouble::instance().reset();
    FakeMessages::instance().reset();
    spoolertest::registerTestMonitor(u"TestMon", {kPort});
    ASSERT_TRUE(host.start());
    ASSERT_EQ(road::addPrinter(kPrinter, kPort), 0u);
}

void SpoolerFixture::TearDown()
{
    EXPECT_EQ(host.stop(), 0);
}

bool SpoolerFixture::jobStatus(DWORD job, DWORD* status)
{
    return road::jobStatus(kPrinter, job, *status);
}

DWORD SpoolerFixture::printedJob(const std::u16string& document)
{
    DWORD job = road::submit(kPrinter, std::vector<BYTE>(64, 'x'), document);
    EXPECT_NE(job, 0u);
    DWORD status = 0;
    EXPECT_TRUE(waitFor([&] { return jobStatus(job, &status) && (status & JOB_STATUS_PRINTED); }));
    return job;
}

ClJobID SpoolerFixture::track(Context& context, DWORD job, const char* text)
{
    ClJobID id = clJobId(job, text);
    EXPECT_TRUE(context.jobs().AddJobData(kPrinter.c_str(), kPort.c_str(), &id, job, nullptr));
    return id;
}

} // namespace svctest
