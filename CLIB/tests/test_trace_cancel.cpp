// Job trace and job cancel over scripted device replies: the decision table, the job-log request,
// the search past time-outs, and the cancel of the matched object.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "FakeDmlp.h"
#include "JTRKCLIB.h"
#include "TempRoot.h"

#include "pal/testhooks.h"

using namespace clibtest;

namespace {

const WCHAR kPort[] = W("JT_127.0.0.5");
const DmlpInstance kInstance = 0x1234;

Bytes logReply(int completion, int impressions = -1, uint8_t kind = 2)
{
    std::vector<Bytes> entries;
    if (completion >= 0)
        entries.push_back(Attribute(6004, Wire().u8(static_cast<uint32_t>(completion))));
    if (impressions >= 0)
        entries.push_back(Attribute(277, U32Value(static_cast<uint32_t>(impressions))));
    return TraceJobBody(kind, entries);
}

// A Get2 body of several job objects: handle, client job id, state.
Bytes jobObjects(const std::vector<std::tuple<uint32_t, ClJobID, uint8_t>>& objects)
{
    std::vector<std::pair<uint32_t, std::vector<Bytes>>> body;
    for (const auto& [handle, id, state] : objects)
        body.push_back({handle, {Attribute(280, ClientJobIdValue(id)), Attribute(283, JobStateValue(state, {}))}});
    return Get2Body(body);
}

class TraceFlow : public ::testing::Test {
protected:
    void SetUp() override { palSetTimeScale(0.001); }
    void TearDown() override { palSetTimeScale(1.0); }

    DWORD run(int countOption = 0)
    {
        return DMLLIB_TraceJob(kInstance, kPort, &wanted, &trace, FakeDmlp::binding(), &impressions, countOption);
    }

    testsupport::TempRoot root;
    FakeDmlp fake;
    ClJobID wanted = JobId(3);
    BYTE trace = 0x77;
    DWORD impressions = 0x77777777;
};

TEST_F(TraceFlow, AJobInStateNineIsCompletedWithoutTheLog)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, 1, jobObjects({{11, JobId(9), 9}, {12, wanted, 9}}));
    EXPECT_EQ(run(0), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
    EXPECT_EQ(impressions, 0x77777777u) << "without the count option the count stays";
    EXPECT_TRUE(fake.callsOf(kTraceJob).empty());
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 1u) << "the listed objects in one request";
    EXPECT_EQ(gets[0].handles, (std::vector<uint32_t>{11, 12}));
    EXPECT_EQ(gets[0].attributes, (std::vector<uint16_t>{280, 283}));
}

// With the count option the impressions of a job found completed come in the same request as its
// state: it has its last count even when the device's event of it was lost. A job still printing
// leaves the count to the device's events.
TEST_F(TraceFlow, WithTheCountOptionAListedJobGivesItsImpressions)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, 1,
               Get2Body({{11, {Attribute(280, ClientJobIdValue(JobId(9))), Attribute(283, JobStateValue(9, {})),
                               Attribute(277, U32Value(5))}},
                         {12, {Attribute(280, ClientJobIdValue(wanted)), Attribute(283, JobStateValue(9, {})),
                               Attribute(277, U32Value(4))}}}));
    EXPECT_EQ(run(1), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
    EXPECT_EQ(impressions, 4u) << "the matched object's count, not the other job's";
    EXPECT_TRUE(fake.callsOf(kTraceJob).empty());
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 1u) << "no request more than without the count";
    EXPECT_EQ(gets[0].attributes, (std::vector<uint16_t>{280, 283, 277}));
    // A device that sends no count for the object, or a job still printing, leaves the caller's value.
    impressions = 0x77777777;
    fake.reply(kListObjects2, 1, ListObjects2Body({12}));
    fake.reply(kGet2, 1, JobObject(12, wanted, 9));
    EXPECT_EQ(run(1), 0x00060001u);
    EXPECT_EQ(impressions, 0x77777777u);
    fake.reply(kListObjects2, 1, ListObjects2Body({12}));
    fake.reply(kGet2, 1, JobObject(12, wanted, 4, {}, 3));
    EXPECT_EQ(run(1), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
    EXPECT_EQ(impressions, 0x77777777u);
    EXPECT_EQ(fake.liveBlocks(), 0);
}

// A long list is asked for 64 objects at a time, up to the request whose reply holds the job; an
// object without a state does not end the search.
TEST_F(TraceFlow, ALongListIsAskedSixtyFourObjectsAtATime)
{
    std::vector<uint32_t> handles;
    std::vector<std::tuple<uint32_t, ClJobID, uint8_t>> first, second;
    for (uint32_t i = 0; i < 150; i++) {
        handles.push_back(100 + i);
        if (i < 64)
            first.emplace_back(100 + i, i == 3 ? wanted : JobId(1000 + i), i == 3 ? 0 : 9);
        else if (i < 128)
            second.emplace_back(100 + i, i == 70 ? wanted : JobId(1000 + i), 4);
    }
    fake.reply(kListObjects2, 1, ListObjects2Body(handles));
    fake.reply(kGet2, 1, jobObjects(first));
    fake.reply(kGet2, 1, jobObjects(second));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0].handles, std::vector<uint32_t>(handles.begin(), handles.begin() + 64));
    EXPECT_EQ(gets[1].handles, std::vector<uint32_t>(handles.begin() + 64, handles.begin() + 128));
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(TraceFlow, TheWantedJobFirstEndsTheSearch)
{
    std::vector<uint32_t> handles;
    std::vector<std::tuple<uint32_t, ClJobID, uint8_t>> first;
    for (uint32_t i = 0; i < 70; i++) {
        handles.push_back(100 + i);
        if (i < 64)
            first.emplace_back(100 + i, i == 0 ? wanted : JobId(1000 + i), i == 0 ? 9 : 4);
    }
    fake.reply(kListObjects2, 1, ListObjects2Body(handles));
    fake.reply(kGet2, 1, jobObjects(first));
    fake.reply(kGet2, 1, JobObject(164, JobId(9), 4));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 1u) << "no request for the objects after the wanted job's";
    EXPECT_EQ(gets[0].handles.size(), 64u);
}

TEST_F(TraceFlow, JobStatesOnTheDevice)
{
    const std::pair<uint8_t, BYTE> cases[] = {{1, DMLLIB_TRACE_FAILED}, {4, DMLLIB_TRACE_PROCESSING},
                                              {9, DMLLIB_TRACE_COMPLETED}};
    for (auto [state, expected] : cases) {
        fake.reply(kListObjects2, 1, ListObjects2Body({12}));
        fake.reply(kGet2, 1, JobObject(12, wanted, state));
        EXPECT_EQ(run(), 0x00060001u);
        EXPECT_EQ(trace, expected) << "state " << int(state);
    }
    EXPECT_TRUE(fake.callsOf(kTraceJob).empty());
}

TEST_F(TraceFlow, AJobGoneFromTheDeviceIsLookedUpInTheLog)
{
    const std::pair<int, BYTE> cases[] = {{1, DMLLIB_TRACE_COMPLETED},
                                          {6, DMLLIB_TRACE_CANCELLED},
                                          {3, DMLLIB_TRACE_UNKNOWN},
                                          {-1, DMLLIB_TRACE_UNKNOWN}};
    for (auto [completion, expected] : cases) {
        fake.reply(kListObjects2, 1, ListObjects2Body({}));
        fake.reply(kTraceJob, 1, logReply(completion, 12));
        if (completion < 0)
            fake.reply(kTraceJob, 1, logReply(completion, 12));  // asked again: still not filed
        EXPECT_EQ(run(1), 0x00060001u);
        EXPECT_EQ(trace, expected) << "completion " << completion;
        EXPECT_EQ(impressions, 12u);
    }
    auto logs = fake.callsOf(kTraceJob);
    ASSERT_EQ(logs.size(), 5u);
    EXPECT_EQ(logs[0].objectClass, 501u);
    EXPECT_EQ(logs[0].handles, (std::vector<uint32_t>{2}));
    EXPECT_EQ(memcmp(&logs[0].clJobId, &wanted, sizeof wanted), 0);
    EXPECT_EQ(logs[0].attributes, (std::vector<uint16_t>{6004, 277}));
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(TraceFlow, WithoutTheCountOptionTheLogCountIsZero)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kTraceJob, 1, logReply(1, 12));
    EXPECT_EQ(run(0), 0x00060001u);
    EXPECT_EQ(impressions, 0u);
    EXPECT_EQ(fake.callsOf(kTraceJob)[0].attributes, (std::vector<uint16_t>{6004}));
}

TEST_F(TraceFlow, ALogOfAnotherKindLeavesTheCountAlone)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kTraceJob, 1, TraceJobBody(3, {}));
    fake.reply(kTraceJob, 1, TraceJobBody(3, {}));
    EXPECT_EQ(run(1), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_UNKNOWN);
    EXPECT_EQ(impressions, 0x77777777u);
}

TEST_F(TraceFlow, ObjectsThatDoNotMatchAreLookedUpInTheLog)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, 8);  // one of them is gone meanwhile: each is asked for alone
    fake.reply(kGet2, 1, JobObject(11, JobId(8), 4));
    fake.reply(kGet2, 8);
    fake.reply(kTraceJob, 1, logReply(1));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_EQ(gets[1].handles, (std::vector<uint32_t>{11}));
    EXPECT_EQ(gets[2].handles, (std::vector<uint32_t>{12}));
}

TEST_F(TraceFlow, AnIncompleteReplyAndASilentLogMeanStillInProgress)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({12}));
    fake.reply(kGet2, DMLP_INCOMPLETE_REPLY);
    fake.reply(kTraceJob, 1, logReply(-1));
    fake.reply(kTraceJob, 1, logReply(-1));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
}

// The search goes past a handle that timed out; when no other matches, the job may be that
// handle's, so it is reported in progress, not unknown.
TEST_F(TraceFlow, ATimedOutHandleWithoutMatchIsNotUnknown)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, DMLP_TIMEOUT);  // both
    fake.reply(kGet2, DMLP_TIMEOUT);  // 11 alone
    fake.reply(kGet2, 1, JobObject(12, JobId(8), 4));
    EXPECT_EQ(run(), 0x000A0001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
    EXPECT_TRUE(fake.callsOf(kTraceJob).empty()) << "no log request";
}

TEST_F(TraceFlow, AnIncompleteHandleWithoutMatchAsksTheLog)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, DMLP_INCOMPLETE_REPLY);  // both
    fake.reply(kGet2, DMLP_INCOMPLETE_REPLY);  // 11 alone
    fake.reply(kGet2, 1, JobObject(12, JobId(8), 4));
    fake.reply(kTraceJob, 1, logReply(-1));
    fake.reply(kTraceJob, 1, logReply(-1));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
}

// Only a log that answers without the job makes it unknown; a log request that failed tells
// nothing, whatever the failure.
TEST_F(TraceFlow, AFailedLogRequestIsNotUnknown)
{
    for (DmlpStatus failure : {DMLP_TIMEOUT, DMLP_TRANSPORT_FAILURE, DMLP_BINDING_CLOSED, DMLP_INCOMPLETE_REPLY}) {
        fake.reply(kListObjects2, 1, ListObjects2Body({}));
        fake.reply(kTraceJob, failure);
        EXPECT_EQ(run(1), 0x00080001u) << failure;
        EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING) << failure;
        EXPECT_EQ(impressions, 0x77777777u) << failure;
    }
    // The log does not know the job, neither at once nor after the pause.
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kTraceJob, 8);
    fake.reply(kTraceJob, 8);
    EXPECT_EQ(run(1), 0x00080001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_UNKNOWN);
    // Asked again after the pause, the log does not answer: nothing is known.
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kTraceJob, 8);
    fake.reply(kTraceJob, DMLP_TRANSPORT_FAILURE);
    EXPECT_EQ(run(1), 0x00080001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
}

TEST_F(TraceFlow, ListFailures)
{
    fake.reply(kListObjects2, DMLP_TIMEOUT);
    EXPECT_EQ(run(), 0x000B0001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
    fake.reply(kListObjects2, DMLP_TRANSPORT_FAILURE);
    EXPECT_EQ(run(), 0x000B8001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_FAILED);
    fake.reply(kListObjects2, 1, ListObjects2Body({12}));
    fake.reply(kGet2, DMLP_TRANSPORT_FAILURE);
    EXPECT_EQ(run(), 0x000A8001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_FAILED);
    EXPECT_TRUE(fake.callsOf(kTraceJob).empty());
}

// A job the log holds is answered at once; a job the log does not hold yet (it has just left the
// device) is asked for once more after the pause of 1500 ms, in which the device files it.
TEST_F(TraceFlow, OnlyAJobNotYetInTheLogWaitsThePause)
{
    palSetTimeScale(1.0);
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kTraceJob, 1, logReply(6));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000)) << "no pause";
    EXPECT_EQ(trace, DMLLIB_TRACE_CANCELLED);
    EXPECT_EQ(fake.callsOf(kTraceJob).size(), 1u);

    palSetTimeScale(0.1);
    const Bytes notFiled[] = {logReply(-1), TraceJobBody(3, {})};
    for (const Bytes& first : notFiled) {
        fake.reply(kListObjects2, 1, ListObjects2Body({}));
        fake.reply(kTraceJob, 1, first);
        fake.reply(kTraceJob, 1, logReply(1));
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(run(), 0x00060001u);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140))
            << "1500 ms at a tenth of the time";
        EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
    }
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    fake.reply(kTraceJob, 8);  // the log does not know the job
    fake.reply(kTraceJob, 1, logReply(1));
    EXPECT_EQ(run(), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
    EXPECT_EQ(fake.callsOf(kTraceJob).size(), 7u);
    EXPECT_EQ(fake.liveBlocks(), 0);
}

// The service traces on its job-control thread and reads the status on its device-watch thread,
// both on one binding.
TEST_F(TraceFlow, TwoThreadsTraceAndReadStatusOnOneBinding)
{
    const int rounds = 50;
    for (int i = 0; i < 2 * rounds; ++i)
        fake.reply(kListObjects2, 1, ListObjects2Body({}));
    for (int i = 0; i < rounds; ++i) {
        fake.reply(kTraceJob, 1, logReply(1, i));
        fake.reply(kGet2, 1, Get2Body({{601, {Attribute(111, IdListValue({280}))}}}));
    }
    std::atomic<int> traced{0}, read{0};
    std::thread tracer([&] {
        for (int i = 0; i < rounds; ++i) {
            BYTE byte = 0;
            DWORD count = 0;
            if (DMLLIB_TraceJob(kInstance, kPort, &wanted, &byte, FakeDmlp::binding(), &count, 1) == 0x00060001u &&
                byte == DMLLIB_TRACE_COMPLETED)
                ++traced;
        }
    });
    std::thread reader([&] {
        for (int i = 0; i < rounds; ++i) {
            StatusInfo info = {};
            if (DMLLIB_GetStatusInfo(kInstance, kPort, &wanted, &info, FakeDmlp::binding(), 1) == 0x00060001u)
                ++read;
        }
    });
    tracer.join();
    reader.join();
    EXPECT_EQ(traced.load(), rounds);
    EXPECT_EQ(read.load(), rounds);
    EXPECT_EQ(fake.liveBlocks(), 0);
}

// ---- Cancel -------------------------------------------------------------------------------------

class CancelFlow : public TraceFlow {
protected:
    DWORD cancel() { return DMLLIB_CancelJob(kInstance, kPort, &wanted, FakeDmlp::binding()); }
    Bytes idOnly(uint32_t handle, const ClJobID& id)
    {
        return Get2Body({{handle, {Attribute(280, ClientJobIdValue(id))}}});
    }
};

TEST_F(CancelFlow, TheThirdOfThreeIsCancelled)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12, 13}));
    fake.reply(kGet2, 1, idOnly(11, JobId(7)));
    fake.reply(kGet2, 1, idOnly(12, JobId(8)));
    fake.reply(kGet2, 1, idOnly(13, wanted));
    fake.reply(kCancelJob, 1, Wire().u32(0));
    EXPECT_EQ(cancel(), 0x00090001u);
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_EQ(gets[2].attributes, (std::vector<uint16_t>{280}));
    auto cancels = fake.callsOf(kCancelJob);
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].handles, (std::vector<uint32_t>{13}));
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(CancelFlow, TheFirstOfTwoIsCancelled)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({13, 11}));
    fake.reply(kGet2, 1, idOnly(13, wanted));
    fake.reply(kGet2, 1, idOnly(11, JobId(7)));
    fake.reply(kCancelJob, 1, Wire().u32(0));
    EXPECT_EQ(cancel(), 0x00090001u);
    EXPECT_EQ(fake.callsOf(kGet2).size(), 1u) << "no request for the other job";
    auto cancels = fake.callsOf(kCancelJob);
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].handles, (std::vector<uint32_t>{13}));
}

TEST_F(CancelFlow, ATimeOutThenAMatchCancels)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, DMLP_TIMEOUT);
    fake.reply(kGet2, 1, idOnly(12, wanted));
    fake.reply(kCancelJob, 1, Wire().u32(0));
    EXPECT_EQ(cancel(), 0x00090001u);
    EXPECT_EQ(fake.callsOf(kCancelJob)[0].handles, (std::vector<uint32_t>{12}));
}

TEST_F(CancelFlow, ATimeOutWithoutMatchCancelsNothing)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, 1, idOnly(11, JobId(7)));
    fake.reply(kGet2, DMLP_TIMEOUT);
    EXPECT_EQ(cancel(), 0x000A0001u);
    fake.reply(kListObjects2, 1, ListObjects2Body({11, 12}));
    fake.reply(kGet2, DMLP_TIMEOUT);
    fake.reply(kGet2, 1, idOnly(12, JobId(8)));
    EXPECT_EQ(cancel(), 0x000A0001u) << "the time-out is reported although the last handle did not match";
    EXPECT_TRUE(fake.callsOf(kCancelJob).empty());
}

TEST_F(CancelFlow, NoObjectsOrNoMatchIsUnknown)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({}));
    EXPECT_EQ(cancel(), 0x00060008u);
    fake.reply(kListObjects2, 1, ListObjects2Body({11}));
    fake.reply(kGet2, 1, idOnly(11, JobId(7)));
    EXPECT_EQ(cancel(), 0x000A0008u);
    EXPECT_TRUE(fake.callsOf(kCancelJob).empty());
}

TEST_F(CancelFlow, ListFailuresEndTheFlow)
{
    fake.reply(kListObjects2, DMLP_TIMEOUT);
    EXPECT_EQ(cancel(), 0x000B0014u);
    fake.reply(kListObjects2, DMLP_TRANSPORT_FAILURE);
    EXPECT_EQ(cancel(), 0x000B8001u);
    EXPECT_TRUE(fake.callsOf(kGet2).empty());
}

TEST_F(CancelFlow, ARefusedCancelReportsItsStatus)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({11}));
    fake.reply(kGet2, 1, idOnly(11, wanted));
    fake.reply(kCancelJob, 8);
    EXPECT_EQ(cancel(), 0x00090008u);
}

} // namespace
