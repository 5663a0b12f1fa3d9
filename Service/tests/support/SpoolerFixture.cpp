#include "SpoolerFixture.h"

#include "ClibDouble.h"
#include "FakeMessages.h"
#include "FakeNotices.h"
#include "Road.h"

namespace svctest {

SpoolingJob::SpoolingJob()
{
    std::u16string printer = kPrinter, document = u"spooling.doc", datatype = u"RAW";
    OpenPrinterW(printer.data(), &printer_, nullptr);
    DOC_INFO_1W info = {document.data(), nullptr, datatype.data()};
    id = printer_ ? StartDocPrinterW(printer_, 1, reinterpret_cast<LPBYTE>(&info)) : 0;
    BYTE data[16] = {};
    DWORD written = 0;
    if (id)
        WritePrinter(printer_, data, sizeof data, &written);
}

SpoolingJob::~SpoolingJob()
{
    if (id)
        EndDocPrinter(printer_);
    if (printer_)
        ClosePrinter(printer_);
}

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
