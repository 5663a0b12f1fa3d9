// Event subscription: bind and write back in mode 0, the held binding adopted, the version choice,
// unsubscribe and unbind in mode 1, release in mode 2, and other modes.
#include <gtest/gtest.h>

#include "FakeDmlp.h"
#include "JTRKCLIB.h"
#include "TempRoot.h"

using namespace clibtest;

namespace {

const WCHAR kPort[] = W("JT_127.0.0.5");
const DmlpInstance kInstance = 0x1234;

void onEvent(const DmlpAddress*, void*, void*) {}

Bytes operations(bool setListElement)
{
    std::vector<uint16_t> ids = {101, 102};
    if (setListElement)
        ids.push_back(106);
    return Get2Body({{101, {Attribute(1001, IdListValue(ids))}}});
}

class Subscription : public ::testing::Test {
protected:
    DWORD subscribe(BYTE mode, DmlpBinding* binding, int countOption = 0, void* block = nullptr)
    {
        return DMLLIB_SubscribeEvent(kInstance, kPort, mode, &callback, binding, block, countOption);
    }

    testsupport::TempRoot root;
    FakeDmlp fake;
    DmlpCallback callback = {DMLP_CALLBACK_KIND, {}, {}, &callback, 0};
    void SetUp() override { callback.function.event = onEvent; }
};

TEST_F(Subscription, AHeldBindingIsAdoptedAndTheFirstVersionUsed)
{
    DmlpBinding binding = FakeDmlp::binding();
    fake.reply(kGet2, 1, operations(false));
    EXPECT_EQ(subscribe(0, &binding), 0x000C0001u);
    EXPECT_EQ(binding, FakeDmlp::binding());
    EXPECT_TRUE(fake.callsOf(kBind).empty());
    auto gets = fake.callsOf(kGet2);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].objectClass, 512u);
    EXPECT_EQ(gets[0].handles, (std::vector<uint32_t>{101}));
    EXPECT_EQ(gets[0].attributes, (std::vector<uint16_t>{1001}));
    auto subscriptions = fake.callsOf(kSubscribe);
    ASSERT_EQ(subscriptions.size(), 1u);
    EXPECT_EQ(subscriptions[0].binding, FakeDmlp::binding());
    EXPECT_EQ(subscriptions[0].objectClass, 501u);
    EXPECT_EQ(subscriptions[0].attributes, (std::vector<uint16_t>{154, 18})) << "count 1: the id and the next";
    EXPECT_EQ(subscriptions[0].callback, &callback) << "the caller's record, unchanged";
    EXPECT_EQ(fake.liveBlocks(), 0);
}

TEST_F(Subscription, ADeviceWithSetListElementGetsTheSecondVersion)
{
    DmlpBinding binding = FakeDmlp::binding();
    fake.reply(kGet2, 1, operations(true));
    EXPECT_EQ(subscribe(0, &binding, 1), 0x000D0001u);
    auto subscriptions = fake.callsOf(kSubscribe2);
    ASSERT_EQ(subscriptions.size(), 1u);
    EXPECT_EQ(subscriptions[0].attributes, (std::vector<uint16_t>{154, 18, 0})) << "with the count event";
    fake.reply(kGet2, 1, operations(true));
    EXPECT_EQ(subscribe(1, &binding), 0x00040001u);
    ASSERT_EQ(fake.callsOf(kUnsubscribe2).size(), 1u);
    EXPECT_EQ(fake.callsOf(kUnsubscribe2)[0].objectClass, 501u);
    ASSERT_EQ(fake.callsOf(kUnbind).size(), 1u);
}

TEST_F(Subscription, ModeZeroWithoutBindingBindsAndWritesItBack)
{
    DmlpBinding binding = nullptr;
    fake.reply(kGet2, 1, operations(false));
    // No spooler answers for the port: the device address is not known, nothing is bound.
    EXPECT_EQ(subscribe(0, &binding), 0x0003FFF0u);
    EXPECT_EQ(binding, nullptr);
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Subscription, ASubscribeRefusedReportsItsPhase)
{
    DmlpBinding binding = FakeDmlp::binding();
    fake.reply(kGet2, DMLP_TIMEOUT);
    fake.answer(kSubscribe, DMLP_TIMEOUT);
    EXPECT_EQ(subscribe(0, &binding), 0x000C0014u) << "the support check's failure is not used";
}

TEST_F(Subscription, ModeOneUnbindsAfterAFailedUnsubscribe)
{
    DmlpBinding binding = FakeDmlp::binding();
    fake.reply(kGet2, 1, operations(false));
    fake.answer(kUnsubscribe, DMLP_BAD_PARAMETER);
    EXPECT_EQ(subscribe(1, &binding), 0x000E000Bu);
    auto unbinds = fake.callsOf(kUnbind);
    ASSERT_EQ(unbinds.size(), 1u);
    EXPECT_EQ(unbinds[0].binding, FakeDmlp::binding());
}

TEST_F(Subscription, ModeOneWithoutBindingSendsNoUnbind)
{
    DmlpBinding binding = nullptr;
    fake.reply(kGet2, DMLP_UNKNOWN_BINDING);
    fake.answer(kUnsubscribe, DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(subscribe(1, &binding), 0x000E0013u);
    EXPECT_TRUE(fake.callsOf(kUnbind).empty());
    EXPECT_EQ(fake.callsOf(kUnsubscribe)[0].binding, nullptr);
}

TEST_F(Subscription, ModeTwoReleasesAndOtherModesAreRefused)
{
    DmlpBinding binding = FakeDmlp::binding();
    int block = 0;
    fake.reply(kGet2, 1, operations(false));
    EXPECT_EQ(subscribe(2, &binding, 0, &block), 0x00050001u);
    ASSERT_EQ(fake.callsOf(kReleaseParam).size(), 1u);
    EXPECT_EQ(fake.callsOf(kReleaseParam)[0].param, &block);
    fake.reply(kGet2, 1, operations(false));
    EXPECT_EQ(subscribe(3, &binding), 0x00060006u);
    EXPECT_TRUE(fake.callsOf(kSubscribe).empty());
}

TEST_F(Subscription, WithoutCallbackNothingIsSubscribed)
{
    DmlpBinding binding = FakeDmlp::binding();
    fake.reply(kGet2, 1, operations(false));
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 0, nullptr, &binding, nullptr, 0), 0x00060006u);
    EXPECT_TRUE(fake.callsOf(kSubscribe).empty());
}

} // namespace
