// Printers driven through the job-control SDK: the JCSDK table and ids, activation of an SDK
// printer, job removal through JCSDK and the release at shutdown; the SDK job table.
#include <gtest/gtest.h>

#include "FakeJcsdk.h"
#include "FakeNotices.h"
#include "JobUtilities.h"
#include "PrnJobData.h"
#include "SpoolerFixture.h"

using namespace svctest;

namespace {

std::string guidText(REFGUID id)
{
    WCHAR text[40];
    StringFromGUID2(id, text, 40);
    std::u16string wide(text);
    return std::string(wide.begin(), wide.end());
}

TEST(Jcsdk, InterfaceIdsAndTheThreeSlotsAfterTwelveOthers)
{
    EXPECT_EQ(guidText(IID_IJCSDKSpooler), "{5B3E91C2-40AF-4E6D-9C1B-7A2D6F08E314}");
    EXPECT_EQ(guidText(IID_IJCSDKEvents), "{C4D2A877-1B5E-4F30-8E9A-3F61B0D2C955}");
    // The methods' places in the table: 16th to 18th entry (a virtual member pointer holds one
    // more than the entry's byte offset).
    auto entryOf = [](auto method) {
        ptrdiff_t offset = 0;
        memcpy(&offset, &method, sizeof offset);
        return (offset - 1) / static_cast<ptrdiff_t>(sizeof(void*)) + 1;
    };
    EXPECT_EQ(entryOf(&IJCSDKSpooler::QueryInterface), 1);
    EXPECT_EQ(entryOf(&IJCSDKSpooler::ControlDeviceJob), 16);
    EXPECT_EQ(entryOf(&IJCSDKSpooler::SetJobEvents), 17);
    EXPECT_EQ(entryOf(&IJCSDKSpooler::ResetJobEvents), 18);
    FakeJcsdk fake;
    fake.resetResult = E_FAIL;
    EXPECT_EQ(ControlDeviceJob(&fake, nullptr, JCSDK_COMMAND_DELETE), S_OK);
    EXPECT_EQ(SetJobEvents(&fake, JCSDK_JOB_EVENTS), S_OK);
    try {
        ResetJobEvents(&fake);
        ADD_FAILURE() << "a failed HRESULT is thrown";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_FAIL);
        EXPECT_EQ(guidText(error.GUID()), "{5B3E91C2-40AF-4E6D-9C1B-7A2D6F08E314}");
    }
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"ControlDeviceJob  3", "SetJobEvents 0x40000c00", "ResetJobEvents"}));
}

TEST(SdkJobTable, EmptyTableFindsNothing)
{
    FakeNotices::instance().reset();
    {
        clPrnJobData table;
        EXPECT_EQ(table.GetDeviceJobId(u"P", 3).length(), 0u);
        EXPECT_FALSE(table.RemoveJobData(u"P", _bstr_t()));
        EXPECT_FALSE(table.RemoveJobData(u"P", _bstr_t(u"job-1")));
        EXPECT_FALSE(table.SetDelSuccess(u"P", 3));
        DWORD flag = 9;
        EXPECT_FALSE(table.GetResetFlg(u"P", 3, &flag));
        EXPECT_EQ(flag, 9u);
        MsgJobInfo info = {};
        EXPECT_FALSE(table.GetMessageJobInfo(u"P", 3, &info));
        EXPECT_TRUE(table.DelMessageJobInfo(&info));
    }
    EXPECT_TRUE(FakeNotices::instance().calls().empty());
}

class SdkPrinter : public SpoolerFixture {
protected:
    void SetUp() override
    {
        SpoolerFixture::SetUp();
        context = std::make_unique<Context>();
        context->get()->hAplh = 0x5A5A;
        context->get()->pPrnJobData = new clPrnJobData;
        ASSERT_TRUE(context->printers().SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
        jcsdk.AddRef();
        device.AddRef();
        ASSERT_TRUE(context->printers().SetSdkObjects(kPort.c_str(), kPrinter.c_str(), &jcsdk,
                                                      static_cast<IJCSDKSpooler*>(&device), new JCSDKEventSink(0x1234)));
        context->printers().SetSDKUse(kPort.c_str(), kPrinter.c_str(), TRUE);
    }
    void TearDown() override
    {
        delete context->get()->pPrnJobData;
        context.reset();
        SpoolerFixture::TearDown();
    }

    FakeJcsdk jcsdk;
    FakeJcsdk device;
    std::unique_ptr<Context> context;
};

TEST_F(SdkPrinter, ANotAvailablePrinterAsksForItsJobEventsAgain)
{
    clPrnComData& printers = context->printers();
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_NOTAVAILABLE, kPrinter.c_str()));
    EXPECT_TRUE(printers.SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
    EXPECT_EQ(jcsdk.calls, (std::vector<std::string>{"SetJobEvents 0x40000c00"}));

    jcsdk.setResult = static_cast<HRESULT>(0x80040201);
    EXPECT_FALSE(printers.SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x80000003u);
    EXPECT_EQ(events[0].strings[2], u"0x80040201");
    // The entry was there before: it stays.
    EXPECT_EQ(printers.GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_NOTAVAILABLE));
}

TEST_F(SdkPrinter, RemovalEndsTheJobAndShutdownReleasesTheObjects)
{
    DWORD job = printedJob();
    BOOL doCancel = TRUE;
    EXPECT_TRUE(RemovePrintJob(context->get(), kPrinter.c_str(), kPort.c_str(), job, &doCancel));
    // The SDK table has no record of the job: nothing to ask JCSDK, the job is ended here.
    EXPECT_TRUE(jcsdk.calls.empty());
    std::vector<NoticeCall> calls = FakeNotices::instance().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].value, 0x400u);
    EXPECT_EQ(calls[1].kind, "end");
    EXPECT_EQ(jcsdk.references.load(), 2u); // the reference handed out was given back

    EXPECT_EQ(context->printers().EndReceiver(kPort.c_str(), u"Other"), E_FAIL);
    context->stop();
    jcsdk.resetResult = E_FAIL; // a COM error does not stop the release
    EXPECT_TRUE(context->printers().TerminatePrinterInstance());
    EXPECT_EQ(jcsdk.calls, (std::vector<std::string>{"ResetJobEvents", "Unadvise 0x00001234"}));
    EXPECT_EQ(jcsdk.references.load(), 1u);
    EXPECT_EQ(device.references.load(), 1u);
}

TEST_F(SdkPrinter, WithoutItsSpoolerObjectNothingIsRemoved)
{
    context->printers().SetSdkObjects(kPort.c_str(), kPrinter.c_str(), nullptr, nullptr, nullptr);
    EXPECT_EQ(jcsdk.references.load(), 1u);
    BOOL doCancel = TRUE;
    EXPECT_FALSE(RemovePrintJob(context->get(), kPrinter.c_str(), kPort.c_str(), 5, &doCancel));
    EXPECT_TRUE(FakeNotices::instance().calls().empty());
    EXPECT_EQ(context->printers().EndReceiver(kPort.c_str(), kPrinter.c_str()), E_INVALIDARG);
}

} // namespace
