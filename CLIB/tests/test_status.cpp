// Device and job status: the status code choice, the job code, the status flow over scripted
// device replies decoded by the real coder, and the client job id of one object.
#include <gtest/gtest.h>

#include <cstring>

#include "FakeDmlp.h"
#include "JTRKCLIB.h"
#include "TempRoot.h"
#include "clDMLLIB_Get2.h"

using namespace clibtest;

namespace {

const WCHAR kPort[] = W("JT_127.0.0.5");
const DmlpInstance kInstance = 0x1234;

// ---- Status code choice and job code ------------------------------------------------------------

StatusInfo choose(uint8_t status, std::vector<uint32_t> codes, uint32_t hint, uint8_t online, DWORD jobCode)
{
    ClibComponentState2 state = {};
    state.Status = status;
    state.StatusCount = static_cast<uint8_t>(codes.size());
    state.StatusList = codes.empty() ? nullptr : codes.data();
    state.lHintPriorityCode = hint;
    state.Online = online;
    StatusInfo info = {0, 0, 0x55};
    clDMLLIB_Get2::vMakeReturnStatus(&state, jobCode, &info);
    EXPECT_EQ(info.ImprCompCnt, 0x55u) << "the count is not the choice's";
    return info;
}

TEST(StatusCodeChoice, FollowsTheDeviceAndTheJob)
{
    EXPECT_EQ(choose(1, {}, 0x00050000, 1, 0).lStatusCode, 0x09030000u) << "hint 0x0005xxxx is busy";
    EXPECT_EQ(choose(3, {}, 0x00050000, 1, 0).lStatusCode, 0x09010000u);
    EXPECT_EQ(choose(5, {}, 0x00050000, 1, 0).lStatusCode, 0x09020000u);
    EXPECT_EQ(choose(3, {}, 0x0A000000, 1, 0x0F000001).lStatusCode, 0x09010000u) << "status 3 whatever the job";
    EXPECT_EQ(choose(1, {}, 0x09000002, 1, 0x0A000001).lStatusCode, 0x0A000001u) << "a higher job code wins";
    EXPECT_EQ(choose(1, {}, 0x0A000002, 1, 0x0A000001).lStatusCode, 0x0A000002u) << "the device wins ties";
    EXPECT_EQ(choose(1, {0x01000001, 0x05000002, 0x05000003}, 0, 1, 0).lStatusCode, 0x05000002u)
        << "no hint: the highest top byte of the list, first on ties";
    EXPECT_EQ(choose(1, {0x00000007, 0x00000008}, 0, 1, 0).lStatusCode, 0x00000007u) << "none wins: the first";
    StatusInfo offline = choose(1, {}, 0x00010005, 3, 0);
    EXPECT_EQ(offline.byOnline, 3);
    EXPECT_EQ(offline.lStatusCode, 0x09010000u);
    EXPECT_EQ(choose(1, {}, 0x00020005, 3, 0).lStatusCode, 0x09020000u);
    EXPECT_EQ(choose(1, {}, 0x00010005, 1, 0).lStatusCode, 0x00010005u) << "online: kept";
}

BOOL jobCode(std::vector<uint32_t> codes, DWORD* code)
{
    ClibJobState2 state = {};
    state.State = 4;
    state.StatusCodeCount = static_cast<uint8_t>(codes.size());
    state.StatusCodeList = codes.empty() ? nullptr : codes.data();
    return clDMLLIB_Get2::bGetJobState(&state, code);
}

TEST(JobCode, PicksTheHighestTopByteAndPrefersThePaperCodes)
{
    DWORD code = 0;
    EXPECT_FALSE(jobCode({}, &code));
    EXPECT_FALSE(clDMLLIB_Get2::bGetJobState(nullptr, &code));
    ASSERT_TRUE(jobCode({0x03061234, 0x03062101}, &code));
    EXPECT_EQ(code, 0x03062101u);
    ASSERT_TRUE(jobCode({0x0E000001, 0x05000001, 0x07000002}, &code));
    EXPECT_EQ(code, 0x07000002u) << "0x0E is left out";
    ASSERT_TRUE(jobCode({0x0E000001, 0x00000002}, &code));
    EXPECT_EQ(code, 0x0E000001u) << "nothing picked: the first code";
    ASSERT_TRUE(jobCode({0x03060001, 0x02000000}, &code));
    EXPECT_EQ(code, 0x03060001u) << "no preferred paper code: the pick stays";
}

// ---- The status flow ----------------------------------------------------------------------------

Bytes supportReply(bool reports282)
{
    std::vector<uint16_t> ids = {280, 281};
    if (reports282)
        ids.push_back(282);
    return Get2Body({{601, {Attribute(111, IdListValue(ids))}}});
}

Bytes deviceReply(uint8_t status, uint32_t hint, uint8_t online, std::vector<uint32_t> codes = {})
{
    return Get2Body({{601, {Attribute(282, DeviceStateValue(status, codes, hint, online))}}});
}

class StatusFlow : public ::testing::Test {
protected:
    DWORD run(int countOption = 0)
    {
        return DMLLIB_GetStatusInfo(kInstance, kPort, &wanted, &info, FakeDmlp::binding(), countOption);
    }
    void deviceAnswers(uint32_t hint = 0x02000010, uint8_t online = 1)
    {
        fake.reply(kGet2, 1, supportReply(true));
        fake.reply(kGet2, 1, deviceReply(1, hint, online));
    }
    // The wanted job (code 0x0A000001, 9 impressions) beats the device's lower code.
    void expectTheWantedJobsCodeAndCount()
    {
        deviceAnswers(0x09000002, 1);
        EXPECT_EQ(run(1), 0x00060001u);
        EXPECT_EQ(info.lStatusCode, 0x0A000001u);
        EXPECT_EQ(info.ImprCompCnt, 9u);
    }

    testsupport::TempRoot root;
    FakeDmlp fake;
    ClJobID wanted = JobId(2);
    StatusInfo info = {0x77, 0x77777777, 0x77777777};
};

TEST_F(StatusFlow, NoJobsGiveTheDeviceStateAlone)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    deviceAnswers(0x02000010, 1);
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(info.byOnline, 1);
    EXPECT_EQ(info.lStatusCode, 0x02000010u);
    EXPECT_EQ(info.ImprCompCnt, 0x77777777u) << "no job: the count is not written";

    auto lists = fake.callsOf(kListObjects2);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].listObjects, (Bytes{0, 0, 0, 0, 0, 0, 0xC9, 0x16, 0, 0, 1, 0xF5, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(lists[0].binding, FakeDmlp::binding());
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0].objectClass, 490u);
    EXPECT_EQ(gets[0].handles, (std::vector<uint32_t>{601}));
    EXPECT_EQ(gets[0].attributes, (std::vector<uint16_t>{111}));
    EXPECT_EQ(gets[1].objectClass, 512u);
    EXPECT_EQ(gets[1].handles, (std::vector<uint32_t>{601}));
    EXPECT_EQ(gets[1].attributes, (std::vector<uint16_t>{282}));
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(StatusFlow, TheWantedJobIsTheThirdOfThreeAndItsCodeWins)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12, 13}));
    fake.reply(kGet2, 1, JobObject(11, JobId(7), 4, {0x0B000001}, 3));
    fake.reply(kGet2, 1, JobObject(12, JobId(8), 4, {0x0B000002}, 4));
    fake.reply(kGet2, 1, JobObject(13, wanted, 4, {0x0A000001}, 9));
    expectTheWantedJobsCodeAndCount();
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gets[i].objectClass, 0u);
        EXPECT_EQ(gets[i].handles, (std::vector<uint32_t>{static_cast<uint32_t>(11 + i)}));
        EXPECT_EQ(gets[i].attributes, (std::vector<uint16_t>{280, 283, 277}));
    }
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(StatusFlow, TheWantedJobFirstEndsTheSearch)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({13, 11}));
    fake.reply(kGet2, 1, JobObject(13, wanted, 4, {0x0A000001}, 9));
    expectTheWantedJobsCodeAndCount();
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 3u) << "no request for the other job";
    EXPECT_EQ(gets[0].handles, (std::vector<uint32_t>{13}));
    EXPECT_EQ(gets[1].objectClass, 490u);
}

TEST_F(StatusFlow, WithoutTheCountOptionTheCountIsZero)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({13}));
    fake.reply(kGet2, 1, JobObject(13, wanted, 4, {0x0A000001}, 9));
    deviceAnswers();
    EXPECT_EQ(run(0), 0x00060001u);
    EXPECT_EQ(info.ImprCompCnt, 0u);
}

TEST_F(StatusFlow, IdsThatDifferAfterTheTextTerminatorDoNotMatch)
{
    ClJobID other = wanted;
    other.JobText[20] = 'x';  // behind the text's terminating zero
    fake.reply(kListObjects2, 1, ListObjects2Body({13}));
    fake.reply(kGet2, 1, JobObject(13, other, 4, {0x0F000001}, 9));
    deviceAnswers(0x02000010);
    EXPECT_EQ(run(1), 0x00060001u);
    EXPECT_EQ(info.lStatusCode, 0x02000010u) << "no match: the job code is 0";
    EXPECT_EQ(info.ImprCompCnt, 0u);
}

TEST_F(StatusFlow, ATimeOutOnTheJobAttributesStopsTheFlow)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, DMLP_TIMEOUT);
    EXPECT_EQ(run(1), 0x000A0014u);
    EXPECT_EQ(info.byOnline, 0x77);
    EXPECT_EQ(info.lStatusCode, 0x77777777u);
    EXPECT_EQ(info.ImprCompCnt, 0x77777777u);
    EXPECT_EQ(fake.callsOf(kGet2).size(), 1u) << "no second handle, no device query";
}

TEST_F(StatusFlow, AnIncompleteReplyCountsAsNoJobCode)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11}));
    fake.reply(kGet2, DMLP_INCOMPLETE_REPLY);
    deviceAnswers(0x02000010);
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(info.lStatusCode, 0x02000010u);
}

TEST_F(StatusFlow, ADeviceWithout282LeavesTheRecordAlone)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kGet2, 1, supportReply(false));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(info.byOnline, 0x77);
    EXPECT_EQ(info.lStatusCode, 0x77777777u);
    EXPECT_EQ(fake.callsOf(kGet2).size(), 1u);
}

TEST_F(StatusFlow, AFailedListStillAsksTheDevice)
{
    fake.reply(kListObjects2, DMLP_INCOMPLETE_REPLY);
    deviceAnswers(0x02000010);
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(info.lStatusCode, 0x02000010u);
}

// Replies that lack what was asked for: the attribute is looked up by id in the first object.
TEST_F(StatusFlow, RepliesWithoutTheAttributeTakeTheMissingValuePath)
{
    const Bytes lacking[] = {
        Get2Body({}),                                                               // no object
        Get2Body({{601, {}}}),                                                      // no attributes
        Get2Body({{601, {Attribute(0x7FFF, Bytes{1, 2, 3})}}}),                     // undecoded, other id
        Get2Body({{601, {Attribute(277, U32Value(5))}}}),                           // another attribute
    };
    for (const Bytes& reply : lacking) {
        fake.reply(kListObjects2, 1, ListObjects2Body({}));
        fake.reply(kGet2, 1, reply);
        EXPECT_EQ(run(), 0x00060001u) << "support: no";
        fake.reply(kListObjects2, 1, ListObjects2Body({}));
        fake.reply(kGet2, 1, supportReply(true));
        fake.reply(kGet2, 1, reply);
        EXPECT_EQ(run(), 0x000AFFFFu) << "device state: missing";
        EXPECT_EQ(info.lStatusCode, 0x77777777u);
    }
    // The device state after another attribute: found by its id.
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kGet2, 1, supportReply(true));
    fake.reply(kGet2, 1,
               Get2Body({{601, {Attribute(277, U32Value(5)),
                                Attribute(282, DeviceStateValue(1, {}, 0x02000020, 1))}}}));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(info.lStatusCode, 0x02000020u);
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(StatusFlow, AReplyBlockNotOfTheLibraryIsNotFreed)
{
    static DmlpBuffer foreign;
    g_DmlpEntries.ListObjects2 = [](uint8_t, const DmlpCallback*, DmlpBinding, const uint32_t*, const void*,
                                    void* result) -> DmlpStatus {
        auto* list = static_cast<DmlpListObjects2Result*>(result);
        memset(list, 0, sizeof *list);
        list->buffer.data = &foreign;
        list->buffer.size = 8;
        list->buffer.flags = DMLP_BUFFER_VALID;
        return DMLP_SUCCESS;
    };
    fake.reply(kGet2, 1, supportReply(false));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(fake.callsOf(kFreeMemory).size(), 1u) << "only the support reply's block";
}

// ---- Client job id of one object ----------------------------------------------------------------

TEST_F(StatusFlow, ClientJobIdOfAnObject)
{
    fake.reply(kGet2, 1, Get2Body({{21, {Attribute(280, ClientJobIdValue(wanted))}}}));
    ClJobID got = {};
    EXPECT_EQ(DMLLIB_GetClientJobID(kInstance, kPort, 21, &got, FakeDmlp::binding()), 0x00060001u);
    EXPECT_EQ(memcmp(&got, &wanted, sizeof got), 0);
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].objectClass, 0u);
    EXPECT_EQ(gets[0].handles, (std::vector<uint32_t>{21}));
    EXPECT_EQ(gets[0].attributes, (std::vector<uint16_t>{280}));

    got = wanted;
    fake.reply(kGet2, 1, Get2Body({{21, {}}}));
    EXPECT_EQ(DMLLIB_GetClientJobID(kInstance, kPort, 21, &got, FakeDmlp::binding()), 0x000AFFFFu);
    ClJobID zero = {};
    EXPECT_EQ(memcmp(&got, &zero, sizeof got), 0);

    got = wanted;
    fake.reply(kGet2, DMLP_TIMEOUT);
    EXPECT_EQ(DMLLIB_GetClientJobID(kInstance, kPort, 21, &got, FakeDmlp::binding()), 0x000A0014u);
    EXPECT_EQ(memcmp(&got, &zero, sizeof got), 0);
    EXPECT_EQ(fake.liveBlocks(), 0);
}

} // namespace
