// The exports: argument checks (order, codes, nothing sent, outputs untouched), fixed result
// codes, exceptions and failed object creation.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "FakeDmlp.h"
#include "JTRKCLIB.h"
#include "TempRoot.h"

using namespace clibtest;

namespace {

const WCHAR kPort[] = W("JT_127.0.0.5");
const DmlpInstance kInstance = 0x1234;

class Exports : public ::testing::Test {
protected:
    testsupport::TempRoot root;
    FakeDmlp fake;
    ClJobID id = JobId(1);
    StatusInfo info = {0x77, 0x77777777, 0x77777777};
    BYTE trace = 0x77;
    DWORD impressions = 0x77777777;
};

TEST_F(Exports, MissingInstanceComesFirstAndSendsNothing)
{
    EXPECT_EQ(DMLLIB_GetStatusInfo(0, nullptr, nullptr, nullptr, nullptr, 0), 0x0000FFFFu);
    EXPECT_EQ(DMLLIB_TraceJob(0, kPort, &id, &trace, FakeDmlp::binding(), &impressions, 0), 0x0000FFFFu);
    EXPECT_EQ(trace, 0x77) << "the trace byte is untouched";
    EXPECT_EQ(DMLLIB_CancelJob(0, kPort, &id, FakeDmlp::binding()), 0x0000FFFFu);
    EXPECT_EQ(DMLLIB_CheckDevice(0, kPort), 0x0000FFFFu);
    ClJobID out = id;
    EXPECT_EQ(DMLLIB_GetClientJobID(0, kPort, 5, &out, FakeDmlp::binding()), 0x0000FFFFu);
    EXPECT_EQ(memcmp(&out, &id, sizeof id), 0);
    EXPECT_EQ(DMLLIB_ReleaseBuff(0, kPort, &out), 0x0000FFFFu);
    DmlpBinding binding = nullptr;
    EXPECT_EQ(DMLLIB_SubscribeEvent(0, kPort, 0, nullptr, &binding, nullptr, 0), 0x0000FFFFu);
    EXPECT_EQ(DMLLIB_Terminate(0), FALSE);
    EXPECT_EQ(DMLLIB_Initialize(nullptr), FALSE);
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Exports, MissingArgumentsGiveTheBadArgumentCodeInOrder)
{
    EXPECT_EQ(DMLLIB_GetStatusInfo(kInstance, nullptr, &id, &info, FakeDmlp::binding(), 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_GetStatusInfo(kInstance, kPort, &id, nullptr, FakeDmlp::binding(), 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_GetStatusInfo(kInstance, kPort, nullptr, &info, FakeDmlp::binding(), 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_TraceJob(kInstance, kPort, &id, nullptr, FakeDmlp::binding(), &impressions, 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_TraceJob(kInstance, kPort, nullptr, &trace, FakeDmlp::binding(), &impressions, 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_TraceJob(kInstance, kPort, &id, &trace, FakeDmlp::binding(), nullptr, 0), 0x0001FFFFu);
    EXPECT_EQ(trace, 0x77) << "argument errors come before the byte is cleared";
    EXPECT_EQ(DMLLIB_CancelJob(kInstance, kPort, nullptr, FakeDmlp::binding()), 0x0001FFFFu);
    ClJobID out = id;
    EXPECT_EQ(DMLLIB_GetClientJobID(kInstance, kPort, 0, &out, FakeDmlp::binding()), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_GetClientJobID(kInstance, kPort, 5, nullptr, FakeDmlp::binding()), 0x0001FFFFu);
    EXPECT_EQ(memcmp(&out, &id, sizeof id), 0);
    EXPECT_EQ(DMLLIB_ReleaseBuff(kInstance, kPort, nullptr), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_CheckDevice(kInstance, nullptr), 0x0001FFFFu);
    EXPECT_EQ(info.byOnline, 0x77);
    EXPECT_EQ(info.lStatusCode, 0x77777777u);
    EXPECT_EQ(impressions, 0x77777777u);
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Exports, ResetBindWithoutBindingOrNameIsZeroAtOnce)
{
    DmlpBinding binding = nullptr;
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, nullptr, 0), 0u);
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 0), 0u);
    binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, nullptr, &binding, 0), 0u);
    EXPECT_EQ(binding, FakeDmlp::binding());
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Exports, FlowsWithoutBindingEndAsNotBoundAndSendNothing)
{
    EXPECT_EQ(DMLLIB_GetStatusInfo(kInstance, kPort, &id, &info, nullptr, 1), 0x0001FFF0u);
    EXPECT_EQ(info.lStatusCode, 0x77777777u);
    EXPECT_EQ(DMLLIB_TraceJob(kInstance, kPort, &id, &trace, nullptr, &impressions, 1), 0x0001FFF0u);
    EXPECT_EQ(trace, DMLLIB_TRACE_FAILED);
    EXPECT_EQ(DMLLIB_CancelJob(kInstance, kPort, &id, nullptr), 0x0001FFF0u);
    ClJobID out = id;
    EXPECT_EQ(DMLLIB_GetClientJobID(kInstance, kPort, 5, &out, nullptr), 0x0001FFF0u);
    ClJobID zero = {};
    EXPECT_EQ(memcmp(&out, &zero, sizeof zero), 0) << "the id is always written";
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 0, nullptr, nullptr, nullptr, 0), 0x0001FFF0u);
    EXPECT_EQ(DMLLIB_CheckDevice(kInstance, kPort), 0x00010001u) << "CheckDevice keeps its start code";
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Exports, InitializeAndTerminateGoToTheEngine)
{
    DmlpInstance instance = 0;
    EXPECT_EQ(DMLLIB_Initialize(&instance), TRUE);
    EXPECT_EQ(instance, 0x1234u);
    EXPECT_EQ(DMLLIB_Terminate(instance), TRUE);
}

DmlpStatus throwingGet2(uint8_t, const DmlpCallback*, DmlpBinding, const uint32_t*, const void*, void*)
{
    throw std::runtime_error("engine fault");
}

TEST_F(Exports, AnExceptionInsideBecomesTheExceptionCode)
{
    fake.reply(kListObjects2, 1, ListObjects2Body({7}));
    g_DmlpEntries.Get2 = throwingGet2;
    EXPECT_EQ(DMLLIB_GetStatusInfo(kInstance, kPort, &id, &info, FakeDmlp::binding(), 0), 0x0000FFFEu);
    fake.reply(kListObjects2, 1, ListObjects2Body({7}));
    EXPECT_EQ(DMLLIB_TraceJob(kInstance, kPort, &id, &trace, FakeDmlp::binding(), &impressions, 0), 0x0000FFFEu);
    EXPECT_EQ(fake.liveBlocks(), 0) << "the listed handles' reply was freed before the fault";
}

TEST_F(Exports, NoMemoryForTheOperationObjectIsTheBadArgumentCode)
{
    g_DmlpEntries.AllocateObject = [](size_t) -> void* { return nullptr; };
    EXPECT_EQ(DMLLIB_GetStatusInfo(kInstance, kPort, &id, &info, FakeDmlp::binding(), 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_TraceJob(kInstance, kPort, &id, &trace, FakeDmlp::binding(), &impressions, 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_CancelJob(kInstance, kPort, &id, FakeDmlp::binding()), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_CheckDevice(kInstance, kPort), 0x0001FFFFu);
    DmlpBinding binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 1, nullptr, &binding, nullptr, 0), 0x0001FFFFu);
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 0), 0u);
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Exports, ReleaseBuffReleasesThePointerItWasGiven)
{
    int block = 0;
    EXPECT_EQ(DMLLIB_ReleaseBuff(kInstance, kPort, &block), 0x00050001u);
    auto calls = fake.callsOf(kReleaseParam);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].param, &block);
    fake.answer(kReleaseParam, DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLLIB_ReleaseBuff(kInstance, kPort, &block), 0x0005000Bu);
}

} // namespace
