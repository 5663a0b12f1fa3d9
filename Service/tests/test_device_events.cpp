// The device-event callback on notifications decoded by the protocol coder from wire bytes: the
// messages it posts to the job-control thread, for every printer of the device, and the release.
#include <gtest/gtest.h>

#include "BodyTesting.h"
#include "ClibDouble.h"
#include "DeviceEvents.h"
#include "ServiceTesting.h"
#include "TempRoot.h"
#include "ThreadMessages.h"
#include "WatchDevice.h"

using namespace svctest;

namespace {

const DmlpAddress kSender = InetAddress(DMLP_ADDRESS_UDP, 127, 0, 0, 9, 47545);

Bytes notification(std::initializer_list<std::pair<uint16_t, Bytes>> events)
{
    Wire wire;
    wire.u32(7).u8((uint32_t)events.size());
    for (const auto& [id, body] : events)
        wire.u16(id).u8(0).raw(body);
    return Frame(10, wire, 1);
}

// Event 154: the job object, its state and reason, no codes, the hint, the client job id "JOBTEXT1".
Bytes jobState(uint32_t job, uint8_t state, uint8_t reason)
{
    return Wire()
        .u16(1).u32(job).u16(2).u32(3).u8(state).u8(reason).u8(0).u32(0x44)
        .u32(0x11223344).u16(0x5566).u16(0x7788).text("ABCDEFGH").text("JOBTEXT1").fill(40, 0)
        .u16(0);
}

Bytes impressions(uint32_t job, uint32_t count)
{
    return Wire().u16(1).u32(job).u32(2).u32(3).u32(4).u32(5).u32(count).u32(7).u32(8).u16(9).u16(10).u16(11).s8("");
}

struct Posted {
    UINT message;
    LPCWSTR printer;
    LPARAM record;
};

class DeviceEventsTest : public CoderTest {
protected:
    void SetUp() override
    {
        CoderTest::SetUp();
        ClibDouble::instance().reset();
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // this thread plays ControlJobThread
        subscriber = SubscribeContext{};
        lstrcpyW(subscriber.wszPrinterName, W("Office"));
        subscriber.dwControlJobThreadId = GetCurrentThreadId();
        subscriber.hAplh = 0x5A5A;
        subscriber.pContext = context->get();
        subscriber.dwIPAddress = ipv4(127, 0, 0, 9);
    }
    void TearDown() override
    {
        for (const Posted& post : takePosted())
            freeRecord(post);
        CoderTest::TearDown();
    }

    std::vector<Posted> takePosted()
    {
        std::vector<Posted> posted;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            posted.push_back({msg.message, reinterpret_cast<LPCWSTR>(msg.wParam), msg.lParam});
        return posted;
    }
    static void freeRecord(const Posted& post)
    {
        if (post.message == JTRK_MSG_JOBEVENT)
            delete reinterpret_cast<JobEventInfo*>(post.record);
        else if (post.message == JTRK_MSG_JOBEXECUTING)
            delete reinterpret_cast<JobExecutingInfo*>(post.record);
        else if (post.message == JTRK_MSG_JOBIMPRESSCNT)
            delete reinterpret_cast<JobImpressCntInfo*>(post.record);
    }
    // Decodes the frame and hands the record to the callback as the library does.
    void deliver(const Bytes& frame, const std::function<void(DmlpEventRecord&)>& change = nullptr)
    {
        Reply reply(frame);
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        auto& record = const_cast<DmlpEventRecord&>(reply.as<DmlpEventRecord>());
        if (change)
            change(record);
        CBSubEvent(&kSender, &subscriber, &record);
        released = &record;
    }
    void expectOneRelease()
    {
        std::vector<ClibCall> calls = ClibDouble::instance().calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].name, "ReleaseBuff");
        EXPECT_EQ(calls[0].printer, u"Office");
        EXPECT_EQ(calls[0].released, released);
    }

    testsupport::TempRoot root;
    std::unique_ptr<Context> context = std::make_unique<Context>();
    SubscribeContext subscriber;
    void* released = nullptr;
};

TEST_F(DeviceEventsTest, ACompletedJobOnADeviceOfThreeQueuesGoesToEachQueue)
{
    IPAddressPrinterMap& map = *context->get()->IPAddrMap;
    LPCWSTR names[3] = {map.Append(ipv4(127, 0, 0, 9), W("Office")), map.Append(ipv4(127, 0, 0, 9), W("Office Color")),
                        map.Append(ipv4(127, 0, 0, 9), W("Office A3"))};
    deliver(notification({{154, jobState(0x1001, 9, 21)}}));
    std::vector<Posted> posted = takePosted();
    ASSERT_EQ(posted.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(posted[i].message, UINT(JTRK_MSG_JOBEVENT));
        EXPECT_EQ(posted[i].printer, names[i]); // the map's own names, which outlive the subscription
        auto* info = reinterpret_cast<JobEventInfo*>(posted[i].record);
        EXPECT_EQ(info->Reason, 21);
        EXPECT_EQ(info->ClJobID.Data1, 0x11223344u);
        EXPECT_EQ(info->ClJobID.Data2, 0x5566);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(info->ClJobID.JobText), 8), "JOBTEXT1");
        freeRecord(posted[i]);
    }
    EXPECT_NE(posted[0].record, posted[1].record);
    expectOneRelease();
}

TEST_F(DeviceEventsTest, AStateWithoutMessageAndImpressionsPostsOnlyTheCount)
{
    deliver(notification({{154, jobState(0x1001, 4, 0)}, {18, impressions(0x1001, 17)}}));
    std::vector<Posted> posted = takePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, UINT(JTRK_MSG_JOBIMPRESSCNT));
    auto* info = reinterpret_cast<JobImpressCntInfo*>(posted[0].record);
    EXPECT_EQ(info->hObj, 0x1001u);
    EXPECT_EQ(info->ImprCompCnt, 17u);
    // No printer of the device in the map: the subscription's printer, as a name that outlives it.
    EXPECT_EQ(std::u16string(posted[0].printer), u"Office");
    EXPECT_NE(posted[0].printer, subscriber.wszPrinterName);
    freeRecord(posted[0]);
    expectOneRelease();
}

TEST_F(DeviceEventsTest, ARunningJobWithImpressionsPostsBothAndTheLastEntryOfAnIdCounts)
{
    deliver(notification({{154, jobState(0x1001, 2, 0)}, {154, jobState(0x2002, 7, 0)}, {18, impressions(0x2002, 3)}}));
    std::vector<Posted> posted = takePosted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].message, UINT(JTRK_MSG_JOBEXECUTING));
    EXPECT_EQ(reinterpret_cast<JobExecutingInfo*>(posted[0].record)->hObj, 0x2002u);
    EXPECT_EQ(posted[1].message, UINT(JTRK_MSG_JOBIMPRESSCNT));
    for (const Posted& post : posted)
        freeRecord(post);
    expectOneRelease();
}

TEST_F(DeviceEventsTest, AJobsEndCarriesTheCountThatCameWithIt)
{
    // The end is handled first, and may end the job before the count's own message is read.
    deliver(notification({{18, impressions(0x1001, 4)}, {154, jobState(0x1001, 9, 21)}}));
    std::vector<Posted> posted = takePosted();
    ASSERT_EQ(posted.size(), 2u);
    ASSERT_EQ(posted[0].message, UINT(JTRK_MSG_JOBEVENT));
    EXPECT_EQ(reinterpret_cast<JobEventInfo*>(posted[0].record)->ImprCompCnt, 4u);
    EXPECT_EQ(posted[1].message, UINT(JTRK_MSG_JOBIMPRESSCNT));
    for (const Posted& post : posted)
        freeRecord(post);

    // Another job's count stays with its own message.
    deliver(notification({{154, jobState(0x1001, 9, 21)}, {18, impressions(0x2002, 4)}}));
    posted = takePosted();
    ASSERT_EQ(posted.size(), 2u);
    ASSERT_EQ(posted[0].message, UINT(JTRK_MSG_JOBEVENT));
    EXPECT_EQ(reinterpret_cast<JobEventInfo*>(posted[0].record)->ImprCompCnt, 0u);
    for (const Posted& post : posted)
        freeRecord(post);
}

TEST_F(DeviceEventsTest, NothingToPostAndSkippedIdsStillRelease)
{
    deliver(notification({{19, Wire().u32(9).s8("")}}));
    EXPECT_TRUE(takePosted().empty());
    expectOneRelease();
    ClibDouble::instance().reset();
    deliver(notification({{154, jobState(0x1001, 9, 0)}}), [](DmlpEventRecord& record) { record.entries[0].id = 0; });
    EXPECT_TRUE(takePosted().empty());
    expectOneRelease();
}

TEST_F(DeviceEventsTest, NoJobControlThreadOrAFailedPostLosesTheEventButReleasesIt)
{
    subscriber.dwControlJobThreadId = 0;
    deliver(notification({{154, jobState(0x1001, 9, 0)}}));
    EXPECT_TRUE(takePosted().empty());
    expectOneRelease();

    // A thread that has ended has no queue: every post fails and its record is freed.
    ClibDouble::instance().reset();
    std::thread ended([this] { subscriber.dwControlJobThreadId = GetCurrentThreadId(); });
    ended.join();
    context->get()->IPAddrMap->Append(ipv4(127, 0, 0, 9), W("Office"));
    context->get()->IPAddrMap->Append(ipv4(127, 0, 0, 9), W("Office Color"));
    deliver(notification({{154, jobState(0x1001, 9, 0)}, {18, impressions(0x1001, 1)}}));
    EXPECT_TRUE(takePosted().empty());
    expectOneRelease();
}

TEST_F(DeviceEventsTest, WithoutContextNothingIsReleasedAndAFailedReleaseWritesNoEvent)
{
    Reply reply(notification({{154, jobState(0x1001, 9, 0)}}));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    auto* record = const_cast<DmlpEventRecord*>(&reply.as<DmlpEventRecord>());
    CBSubEvent(&kSender, nullptr, record);
    CBSubEvent(nullptr, &subscriber, record);
    EXPECT_TRUE(ClibDouble::instance().calls().empty());
    EXPECT_TRUE(takePosted().empty());

    ClibDouble::instance().releaseResult = 0x00050005u;
    deliver(notification({{18, impressions(0x1001, 2)}}));
    std::vector<Posted> posted = takePosted();
    EXPECT_EQ(posted.size(), 1u);
    for (const Posted& post : posted)
        freeRecord(post);
    EXPECT_TRUE(serviceEvents().empty());
}

} // namespace
