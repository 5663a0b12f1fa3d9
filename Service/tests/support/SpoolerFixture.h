// The spooler host with a test monitor's port and a printer on it, for tests of the service's
// spooler calls; jobs submitted to it are delivered and stay listed as printed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "ServiceTesting.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

namespace svctest {

const std::u16string kPrinter = u"Office";
const std::u16string kPort = u"TP1";

// A job of kPrinter that the spooler has not finished spooling: the object holds it open.
class SpoolingJob {
public:
    SpoolingJob();
    ~SpoolingJob();
    SpoolingJob(const SpoolingJob&) = delete;
    SpoolingJob& operator=(const SpoolingJob&) = delete;

    DWORD id = 0;

private:
    HANDLE printer_ = nullptr;
};

class SpoolerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Submits a job and waits until the spooler has delivered it; its id.
    DWORD printedJob(const std::u16string& document = u"report.txt");
    // The spooler's status of the job; false when the job is gone.
    bool jobStatus(DWORD job, DWORD* status);
    // Adds the job to the table under a client job id whose text is text.
    ClJobID track(Context& context, DWORD job, const char* text);

    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
};

} // namespace svctest
