// Deadlines on the runtime's manual clock: resends, time-outs, the shared timer's tolerance, busy
// postponements and the wrap of the tick.
#include "EngineTesting.h"

namespace enginetest {
namespace {

// Sends are confirmed by hand, so that every deadline is in place before the clock moves.
class Deadlines : public EngineTest {
protected:
    DmlpBinding BindQuiet(uint32_t timeout, uint8_t transmissions, uint8_t last = 9)
    {
        vxfake::SetAutoNotices(true);
        DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, timeout, transmissions, last);
        vxfake::SetAutoNotices(false);
        return binding;
    }
    // Confirms send sendIndex on the endpoint of binding number bindingIndex.
    void Confirm(size_t sendIndex, size_t bindingIndex)
    {
        SentAt(sendIndex);
        vxfake::NotifySent(EndpointOf(bindingIndex));
        Flush();
    }
    void Echo(DmlpBinding binding, Completions& completions, size_t sendIndex, size_t bindingIndex = 0)
    {
        const DmlpCallback callback = completions.callback();
        DmlpEchoParams echo = {};
        ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
        Confirm(sendIndex, bindingIndex);
    }
    // Two Echoes 10 ticks apart on a binding with time-out 1000 and 2 transmissions; the resend of
    // the first meets a full socket at 1000: the binding is busy.
    DmlpBinding BusyAtTheFirstResend(Completions& blocked, Completions& postponed)
    {
        DmlpBinding binding = BindQuiet(1000, 2);
        Echo(binding, blocked, 0);
        Advance(10);
        Echo(binding, postponed, 1);
        vxfake::ScriptResult(vxfake::Call::Send, VXTRANS_E_WOULD_BLOCK);
        Advance(990);
        return binding;
    }
};

TEST_F(Deadlines, AnUnansweredRequestIsSentAgainAndTimesOutAfterAllTransmissions)
{
    DmlpBinding binding = BindQuiet(5000, 2);
    Completions& completions = Recorder();
    Echo(binding, completions, 0);
    Advance(4999);
    EXPECT_EQ(vxfake::Sends().size(), 1u);
    Advance(1);
    EXPECT_EQ(SentAt(1), SentAt(0)) << "the same frame again";
    Confirm(1, 0);
    Advance(4999);
    EXPECT_EQ(completions.size(), 0u);
    Advance(1);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_TIMEOUT);
    EXPECT_EQ(completions.list()[0].tick, kStartTick + 10000);
    EXPECT_EQ(vxfake::Sends().size(), 2u);
}

TEST_F(Deadlines, ALateAnswerAfterTheTimeOutIsDiscarded)
{
    DmlpBinding binding = BindQuiet(100, 1);
    Completions& completions = Recorder();
    Echo(binding, completions, 0);
    Advance(100);
    ASSERT_TRUE(completions.waitFor(1));
    vxfake::Receive(EndpointOf(0), ReplyTo(SentAt(0), 1, Wire().u16(0)));
    Flush();
    EXPECT_EQ(completions.size(), 1u);
}

// Binding A arms the timer for its deadline; binding B's earlier deadline either rides on it
// (within 5 ticks) or restarts it.
TEST_F(Deadlines, ANearlyEqualEarlierDeadlineKeepsTheArmedTimer)
{
    DmlpBinding a = BindQuiet(5000, 1, 9);
    DmlpBinding b = BindQuiet(4997, 1, 10);
    DmlpBinding c = BindQuiet(4992, 1, 11);
    Completions& first = Recorder();
    Completions& second = Recorder();
    Completions& third = Recorder();
    Echo(a, first, 0, 0);
    Echo(b, second, 1, 1);
    Advance(4997);
    EXPECT_EQ(second.size(), 0u) << "the timer stayed armed for A's deadline";
    Advance(3);
    ASSERT_TRUE(second.waitFor(1));
    ASSERT_TRUE(first.waitFor(1));
    EXPECT_EQ(second.list()[0].tick, kStartTick + 5000) << "3 ticks late, in the same scan";
    EXPECT_EQ(first.list()[0].tick, kStartTick + 5000);

    Echo(a, first, 2, 0);
    Echo(c, third, 3, 2);
    Advance(4992);
    ASSERT_TRUE(third.waitFor(1)) << "8 ticks earlier restarts the timer";
    EXPECT_EQ(third.list()[0].tick, kStartTick + 5000 + 4992);
    EXPECT_EQ(first.size(), 1u);
    Advance(8);
    ASSERT_TRUE(first.waitFor(2));
}

// Request A arms the timer for its deadline T + armedTimeout. Request B (time-out 10) goes out at
// T as well, but the worker takes its send confirmation into the deadline list only at T + 100,
// when B's deadline is already past: B becomes the first entry overdue. Gives B's recorder.
class OverdueDeadlines : public Deadlines {
protected:
    Completions& OverdueAfterArming(uint32_t armedTimeout)
    {
        DmlpBinding armed = BindQuiet(armedTimeout, 1, 9);
        DmlpBinding late = BindQuiet(10, 1, 10);
        DmlpBinding stopper = BindQuiet(60000, 1, 11);
        DmlpBinding other = BindQuiet(60000, 1, 12);
        Completions& armedDone = Recorder();
        Completions& lateDone = Recorder();
        Completions& held = Recorder();
        Echo(armed, armedDone, 0, 0);
        WaitArmed();
        const DmlpCallback lateCallback = lateDone.callback();
        const DmlpCallback heldCallback = held.callback();
        DmlpEchoParams echo = {};
        EXPECT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &lateCallback, late, kObject, &echo, nullptr), DMLP_SUCCESS);
        SentAt(1);
        // Hold the worker, queue B's confirmation and a request that holds it again, then move the
        // clock while the confirmation's deadline step waits behind that second hold.
        HoldWorker(stopper, held);
        vxfake::NotifySent(EndpointOf(1));
        vxfake::HoldNextSend();
        EXPECT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &heldCallback, other, kObject, &echo, nullptr), DMLP_SUCCESS);
        vxfake::ReleaseHeldSend();
        EXPECT_TRUE(vxfake::WaitForHeldSends(2, kWaitMs));
        VxSrvcTestAdvanceClock(100);
        vxfake::ReleaseHeldSend();
        Flush();
        return lateDone;
    }
};

TEST_F(OverdueDeadlines, AnOverdueFirstDeadlineRestartsATimerArmedFarAhead)
{
    Completions& late = OverdueAfterArming(60000);
    Advance(1);
    EXPECT_EQ(late.size(), 0u);
    Advance(1);
    ASSERT_TRUE(late.waitFor(1)) << "after the overdue delay of 2 ticks, not at the armed 60000";
    EXPECT_EQ(late.list()[0].status, DMLP_TIMEOUT);
    EXPECT_EQ(late.list()[0].tick, kStartTick + 100 + 2);
}

TEST_F(OverdueDeadlines, AnOverdueFirstDeadlineRidesOnATimerDueWithinFiveTicks)
{
    Completions& late = OverdueAfterArming(103);
    Advance(2);
    EXPECT_EQ(late.size(), 0u) << "no timer of its own";
    Advance(1);
    ASSERT_TRUE(late.waitFor(1)) << "handled when the armed timer fires, 3 ticks from the overdue point";
    EXPECT_EQ(late.list()[0].status, DMLP_TIMEOUT);
    EXPECT_EQ(late.list()[0].tick, kStartTick + 103);
}

// A timer fires while the worker is busy; before its message is handled, an answer re-arms for a
// later deadline (too late to cancel the fired timer) and a second answer arms a new timer. The
// fired timer's message then belongs to a timer replaced since: it is ignored.
TEST_F(Deadlines, TheMessageOfAReplacedTimerIsIgnored)
{
    DmlpBinding a = BindQuiet(100, 1, 9);
    DmlpBinding b = BindQuiet(200, 1, 10);
    DmlpBinding c = BindQuiet(300, 1, 11);
    DmlpBinding stopper = BindQuiet(60000, 1, 12);
    Completions& answered = Recorder();
    Completions& timedOut = Recorder();
    Echo(a, answered, 0, 0);
    Echo(b, answered, 1, 1);
    Echo(c, timedOut, 2, 2);
    WaitArmed();
    ASSERT_EQ(VxSrvcTestPendingTimers(), 1u);

    HoldWorker(stopper, answered);
    vxfake::Receive(EndpointOf(0), ReplyTo(SentAt(0), 1, Wire().u16(0)));
    vxfake::Receive(EndpointOf(1), ReplyTo(SentAt(1), 1, Wire().u16(0)));
    VxSrvcTestAdvanceClock(100);
    EXPECT_EQ(VxSrvcTestPendingTimers(), 0u) << "the timer armed for A fired";
    vxfake::ReleaseHeldSend();
    ASSERT_TRUE(answered.waitFor(2));
    Flush();
    EXPECT_EQ(VxSrvcTestPendingTimers(), 1u) << "one timer, armed for C by B's answer";

    Advance(199);
    EXPECT_EQ(timedOut.size(), 0u);
    Advance(1);
    ASSERT_TRUE(timedOut.waitFor(1));
    Flush();
    EXPECT_EQ(timedOut.size(), 1u);
    EXPECT_EQ(timedOut.list()[0].status, DMLP_TIMEOUT);
    EXPECT_EQ(timedOut.list()[0].tick, kStartTick + 300);
    answered.release();
}

TEST_F(Deadlines, DeadlinesAcrossTheWrapOfTheTickKeepTheirOrder)
{
    VxSrvcTestSetManualClock(0xFFFFFFFFu - 2000 + 1);
    DmlpBinding late = BindQuiet(3000, 1, 9);
    DmlpBinding early = BindQuiet(1000, 1, 10);
    Completions& lateDone = Recorder();
    Completions& earlyDone = Recorder();
    Echo(late, lateDone, 0, 0);
    Echo(early, earlyDone, 1, 1);
    Advance(1000);
    ASSERT_TRUE(earlyDone.waitFor(1)) << "due before the wrap";
    EXPECT_EQ(earlyDone.list()[0].status, DMLP_TIMEOUT);
    EXPECT_EQ(lateDone.size(), 0u);
    Advance(2000);
    ASSERT_TRUE(lateDone.waitFor(1)) << "due after the wrap";
    EXPECT_EQ(lateDone.list()[0].tick, 1000u);
}

TEST_F(Deadlines, AResendMeetingABusyBindingGoesFiftyTicksLater)
{
    Completions& blocked = Recorder();
    Completions& postponed = Recorder();
    BusyAtTheFirstResend(blocked, postponed);
    // The second request's resend finds the binding busy and waits.
    Advance(10);
    EXPECT_EQ(vxfake::Sends().size(), 2u);
    vxfake::Notify(EndpointOf(0), VXTRANS_NOTICE_WRITABLE);
    EXPECT_EQ(SentAt(2), SentAt(0)) << "the held resend goes when the socket has room";
    Confirm(2, 0);
    Advance(49);
    EXPECT_EQ(vxfake::Sends().size(), 3u);
    Advance(1);
    EXPECT_EQ(SentAt(3), SentAt(1)) << "50 ticks after it met the busy binding";
}

TEST_F(Deadlines, BusyPostponementsEndWhenTheRequestsTimeIsSpent)
{
    Completions& blocked = Recorder();
    Completions& postponed = Recorder();
    BusyAtTheFirstResend(blocked, postponed);
    EXPECT_EQ(vxfake::Sends().size(), 2u);
    // Each step either postpones the request again (a timer is armed) or ends it.
    for (uint32_t spent = 1000; postponed.size() == 0 && spent < 3000; spent += 50) {
        Advance(50);
        WaitUntil([&] { return postponed.size() > 0 || VxSrvcTestPendingTimers() > 0; });
    }
    ASSERT_TRUE(postponed.waitFor(1));
    EXPECT_EQ(postponed.list()[0].status, DMLP_TIMEOUT);
    const uint32_t at = postponed.list()[0].tick - kStartTick;
    EXPECT_GE(at, 10u + 2000u);
    EXPECT_LE(at, 10u + 2000u + 50u);
    EXPECT_EQ(blocked.size(), 0u) << "its resend waits for the socket";
    vxfake::Notify(EndpointOf(0), VXTRANS_NOTICE_WRITABLE);
    SentAt(2);
}

} // namespace
} // namespace enginetest
