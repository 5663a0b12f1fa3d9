// The simulator's DMLP side in-process: job objects from RAW and LPR jobs, the answers, each fault,
// subscriptions and notifications, and the control commands.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "DmlpTestPeer.h"
#include "JobMessages.h"
#include "LprClient.h"
#include "Printer.h"
#include "Simulator.h"
#include "TempRoot.h"

namespace {

using namespace dmlptest;
using devsim::JobInfo;

constexpr uint16_t kEcho = 1;
constexpr uint16_t kCancelJob = 31;
constexpr uint16_t kGet2 = 102;
constexpr uint16_t kSetListElement = 106;
constexpr uint16_t kTraceJob = 109;
constexpr uint16_t kListObjects2 = 114;
const std::string kDevice = "127.0.0.5";

devsim::ClientId clientId(uint32_t data1)
{
    jobmsg::Bytes wire = jobmsg::ClientJobId::make(data1, 2, 3, "ABCDEFGH", "JobInfo1").wire();
    devsim::ClientId id{};
    std::copy(wire.begin(), wire.end(), id.begin());
    return id;
}

Bytes traceBody(const devsim::ClientId& id)
{
    Bytes body;
    put32(body, 501);
    body.push_back(2);
    body.insert(body.end(), id.begin(), id.end());
    put16(body, 2);
    put16(body, 6004);
    put16(body, 277);
    return body;
}

uint16_t status(const Bytes& reply)
{
    return get16(reply, 18);
}

class SimulatorTest : public ::testing::Test {
protected:
    void start(devsim::DeviceSettings device = {}, devsim::SimulatorSettings settings = {})
    {
        device.address = kDevice;
        device.dmlpPort = 0;
        device.dmlpTcp = true;
        simulator_ = std::make_unique<devsim::Simulator>(settings, [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
            said_.notify_all();
        });
        simulator_->addDevice(device);
        device.address = "127.0.0.6";
        simulator_->addDevice(device);
        std::string error;
        ASSERT_TRUE(simulator_->start(error)) << error;
        port_ = simulator_->dmlpPort(kDevice);
    }

    devsim::DeviceSettings quick() const
    {
        devsim::DeviceSettings device;
        device.printTime = 50ms;
        device.impressions = 2;
        device.keepDone = 100ms;
        return device;
    }

    Bytes ask(uint16_t method, const Bytes& body)
    {
        auto reply = peer_.ask(kDevice, port_, request(method, ++id_, body));
        EXPECT_TRUE(reply) << "no answer to method " << method;
        return reply ? *reply : Bytes(20, 0);
    }

    std::string control(const std::string& line)
    {
        std::vector<std::string> words;
        std::istringstream text(line);
        for (std::string word; text >> word;)
            words.push_back(word);
        return simulator_->command(words);
    }

    bool waitForLine(const std::string& part)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return said_.wait_for(lock, kWait, [&] {
            for (const std::string& line : lines_)
                if (line.find(part) != std::string::npos)
                    return true;
            return false;
        });
    }

    uint32_t oneJob(uint32_t data1 = 7)
    {
        return simulator_->jobArrived(kDevice, clientId(data1), nullptr);
    }

    bool waitForJobs(const std::function<bool(const std::vector<JobInfo>&)>& condition)
    {
        return simulator_->waitForJobs(condition, kWait);
    }

    std::unique_ptr<devsim::Simulator> simulator_;
    uint16_t port_ = 0;
    UdpPeer peer_;
    uint16_t id_ = 0;
    std::mutex mutex_;
    std::condition_variable said_;
    std::vector<std::string> lines_;
};

TEST_F(SimulatorTest, RawAndLprJobsBecomeJobObjectsWithTheirClientJobIds)
{
    start(quick());
    devsim::PrinterSettings settings;
    settings.address = kDevice;
    settings.rawOptions.port = 0;
    settings.lpr = true;
    settings.lprOptions.port = 0;
    devsim::Printer printer(settings, simulator_.get(), {});
    std::string error;
    ASSERT_TRUE(printer.start(error)) << error;

    // RAW: the header, then the document.
    const jobmsg::ClientJobId id = jobmsg::ClientJobId::make(0x11223344, 5, 6, "ABCDEFGH", "JobInfo1");
    jobmsg::Bytes job = jobmsg::typicalHeader(id, 1);
    job.insert(job.end(), 5000, 'x');
    {
        lprtest::LprClient raw(kDevice, printer.rawPort());
        ASSERT_TRUE(raw.send(std::string_view(reinterpret_cast<const char*>(job.data()), job.size())));
    }
    // LPR: an untagged job.
    {
        lprtest::LprClient lpr(kDevice, printer.lprPort());
        EXPECT_EQ(lpr.exchange("\x02lp\n"), lprtest::Heard::of(0));
        EXPECT_EQ(lpr.exchange("\x02" "4 cfA001host\n"), lprtest::Heard::of(0));
        EXPECT_EQ(lpr.exchange(std::string("Hh\nP", 4) + std::string(1, '\0')), lprtest::Heard::of(0));
        EXPECT_EQ(lpr.exchange("\x03" "5 dfA001host\n"), lprtest::Heard::of(0));
        EXPECT_EQ(lpr.exchange(std::string("hello\0", 6)), lprtest::Heard::of(0));
    }
    {
        // Both printed and done.
        std::unique_lock<std::mutex> lock(mutex_);
        ASSERT_TRUE(said_.wait_for(lock, kWait, [&] {
            return std::count_if(lines_.begin(), lines_.end(),
                                 [](const std::string& line) { return line.find(" done at ") != std::string::npos; }) == 2;
        }));
    }
    const jobmsg::Bytes wire = id.wire();
    // Both printed; each is in the log once gone.
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.empty(); }));
    devsim::ClientId tagged{};
    std::copy(wire.begin(), wire.end(), tagged.begin());
    Bytes done = ask(kTraceJob, traceBody(tagged));
    EXPECT_EQ(status(done), 1);
    // Kind 2, the handle, class 501, [6004: 1, 277: 2 impressions].
    EXPECT_EQ(Bytes(done.begin() + 25, done.end()),
              (Bytes{0, 0, 1, 0xF5, 0, 2, 0x17, 0x74, 0, 1, 1, 1, 0x15, 0, 4, 0, 0, 0, 2}));
    Bytes untagged = ask(kTraceJob, traceBody(devsim::ClientId{}));
    EXPECT_EQ(status(untagged), 1);
    EXPECT_EQ(untagged.at(20 + 1 + 8 + 2 + 4), 1);
    EXPECT_NE(get32(untagged, 21), get32(done, 21));
    printer.stop();
}

TEST_F(SimulatorTest, DroppedConnectionsAbortTheirJobs)
{
    start(quick());
    devsim::PrinterSettings settings;
    settings.address = kDevice;
    settings.rawOptions.port = 0;
    settings.lpr = true;
    settings.lprOptions.port = 0;
    devsim::Printer printer(settings, simulator_.get(), {});
    std::string error;
    ASSERT_TRUE(printer.start(error)) << error;
    const jobmsg::Bytes header = jobmsg::typicalHeader(jobmsg::ClientJobId::make(1, 2, 3, "ABCDEFGH", "JobInfo1"), 1);
    const std::string text(reinterpret_cast<const char*>(header.data()), header.size());

    // RAW: the header is in, the rest still to come.
    lprtest::LprClient raw(kDevice, printer.rawPort());
    ASSERT_TRUE(raw.send(text));
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.size() == 1; }));
    // LPR: a data file of 100000 bytes, its header sent.
    lprtest::LprClient lpr(kDevice, printer.lprPort());
    EXPECT_EQ(lpr.exchange("\x02lp\n"), lprtest::Heard::of(0));
    EXPECT_EQ(lpr.exchange("\x03" "100000 dfA001host\n"), lprtest::Heard::of(0));
    ASSERT_TRUE(lpr.send(text));
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.size() == 2; }));
    const auto jobs = simulator_->jobs();
    for (const JobInfo& job : jobs) {
        EXPECT_TRUE(job.receiving);
        EXPECT_EQ(job.clientJobId[3], 1);
        EXPECT_EQ(control("job " + std::to_string(job.handle) + " drop"), "ok\n");
    }
    EXPECT_EQ(raw.next(), lprtest::Heard{lprtest::Heard::Reset});
    EXPECT_EQ(lpr.next(), lprtest::Heard{lprtest::Heard::Reset});
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) {
        return jobs.size() == 2 && !jobs[0].receiving && !jobs[1].receiving;
    }));
    for (const JobInfo& job : simulator_->jobs())
        EXPECT_EQ(job.state, devsim::kJobAborted);
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.empty(); }));
    const std::string log = control("log");
    EXPECT_NE(log.find(" " + std::to_string(jobs[0].handle) + " 3 0 "), std::string::npos) << log;
    EXPECT_NE(log.find(" " + std::to_string(jobs[1].handle) + " 3 0 "), std::string::npos) << log;
    printer.stop();
}

TEST_F(SimulatorTest, AJobPrintsItsImpressionsThenIsDoneThenLeavesForTheLog)
{
    devsim::DeviceSettings device;
    device.printTime = 300ms;
    device.impressions = 3;
    device.keepDone = 300ms;
    start(device);
    const uint32_t handle = oneJob();
    Bytes listed = ask(kListObjects2, listJobsBody());
    EXPECT_EQ(listedHandles(listed), std::vector<uint32_t>{handle});

    Bytes attributes = ask(kGet2, get2Body(0, {handle}, {283, 277}));
    ASSERT_EQ(status(attributes), 1);
    EXPECT_EQ(attributes.at(20 + 2 + 4 + 2 + 4), 7); // printing, and receiving still
    simulator_->jobDataEnded(handle, true);
    ASSERT_TRUE(waitForJobs([&](const std::vector<JobInfo>& jobs) {
        return !jobs.empty() && jobs[0].state == devsim::kJobDone;
    }));
    attributes = ask(kGet2, get2Body(0, {handle}, {277}));
    EXPECT_EQ(get32(attributes, 20 + 2 + 4 + 2 + 4), 3u);
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.empty(); }));
    EXPECT_EQ(status(ask(kGet2, get2Body(0, {handle}, {283}))), 8);
    const Bytes log = ask(kTraceJob, traceBody(clientId(7)));
    EXPECT_EQ(log.at(20 + 1 + 8 + 2 + 4), 1); // completion 1
}

TEST_F(SimulatorTest, CompletionsKeepTheirPaceOverAllDevices)
{
    devsim::DeviceSettings device = quick();
    device.printTime = 0ms;
    devsim::SimulatorSettings settings;
    settings.completionsPerSecond = 5;
    start(device, settings);
    const uint32_t first = oneJob(1);
    const uint32_t second = simulator_->jobArrived("127.0.0.6", clientId(2), nullptr);
    simulator_->jobDataEnded(first, true);
    simulator_->jobDataEnded(second, true);
    ASSERT_TRUE(waitForLine("devsim: 127.0.0.6 job " + std::to_string(second) + " done at "));
    // "done at T ms (monotonic)": the second 200 ms after the first.
    std::vector<double> times;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& line : lines_)
            if (line.find(" done at ") != std::string::npos)
                times.push_back(std::stod(line.substr(line.find(" done at ") + 9)));
    }
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], 190.0);
}

TEST_F(SimulatorTest, CancelJobAndUnknownHandles)
{
    start(quick());
    const uint32_t handle = oneJob();
    Bytes cancel;
    put32(cancel, handle);
    const Bytes reply = ask(kCancelJob, cancel);
    EXPECT_EQ(Bytes(reply.begin() + 18, reply.end()), (Bytes{0, 1, 0, 0, 0, static_cast<uint8_t>(handle)}));
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.empty(); }));
    EXPECT_EQ(ask(kTraceJob, traceBody(clientId(7))).at(20 + 1 + 8 + 2 + 4), 6);

    Bytes unknown;
    put32(unknown, 999);
    EXPECT_EQ(status(ask(kCancelJob, unknown)), 8);
    EXPECT_EQ(status(ask(kGet2, get2Body(0, {999}, {280}))), 8);
    EXPECT_EQ(status(ask(kTraceJob, traceBody(clientId(99)))), 8);
    EXPECT_EQ(status(ask(kGet2, get2Body(512, {7}, {282}))), 8);
    EXPECT_EQ(status(ask(44, {})), 7); // a method the device does not offer
}

TEST_F(SimulatorTest, DeviceStateAndWhatTheDeviceSupports)
{
    start();
    // 490/601/111: 277, 280, 283 and 282.
    Bytes support = ask(kGet2, get2Body(490, {601}, {111}));
    EXPECT_EQ(Bytes(support.begin() + 20, support.end()),
              (Bytes{0, 1, 0, 0, 2, 0x59, 0, 1, 0, 111, 0, 14, 0, 4, 1, 0x15, 0, 1, 0x18, 0, 1, 0x1B, 0, 1, 0x1A, 0}));
    EXPECT_EQ(control("support 127.0.0.5 282 off"), "ok\n");
    support = ask(kGet2, get2Body(490, {601}, {111}));
    EXPECT_EQ(get16(support, 20 + 12), 3u); // the list lost 282

    Bytes operations = ask(kGet2, get2Body(512, {101}, {1001}));
    EXPECT_EQ(get16(operations, 20 + 12), 8u);
    EXPECT_EQ(get16(operations, 20 + 14 + 7 * 3), 106);
    EXPECT_EQ(control("support 127.0.0.5 106 off"), "ok\n");
    EXPECT_EQ(get16(ask(kGet2, get2Body(512, {101}, {1001})), 20 + 12), 7u);

    EXPECT_EQ(control("device 127.0.0.5 status 3 online 3 hint 0x09030000 codes 0x0A000001,2"),
              "127.0.0.5 status 3 online 3 hint 0x09030000 codes 0x0A000001,0x00000002\nok\n");
    const Bytes state = ask(kGet2, get2Body(512, {601}, {282}));
    EXPECT_EQ(Bytes(state.begin() + 20 + 8, state.end()),
              (Bytes{0x01, 0x1A, 0, 18, 3, 0, 2, 0x0A, 0, 0, 1, 0, 0, 0, 2, 0x09, 0x03, 0, 0, 3, 0, 0}));
    EXPECT_NE(control("device 127.0.0.5 status x").find("error: "), std::string::npos);
    EXPECT_NE(control("device status 1").find("error: name the device"), std::string::npos);
}

TEST_F(SimulatorTest, RepliesOverTcpFrameByFrame)
{
    start();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = endpoint(kDevice, port_);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to)), 0);
    Bytes two = request(kEcho, 1, {'a', 'b'});
    const Bytes second = request(kEcho, 2, {'c'});
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_EQ(::send(fd, two.data(), two.size(), 0), static_cast<ssize_t>(two.size()));
    Bytes heard;
    while (heard.size() < 43 && readable(fd, kWait)) {
        uint8_t bytes[256];
        ssize_t got = ::recv(fd, bytes, sizeof(bytes), 0);
        if (got <= 0)
            break;
        heard.insert(heard.end(), bytes, bytes + got);
    }
    ::close(fd);
    ASSERT_EQ(heard.size(), 43u);
    EXPECT_EQ(get16(heard, 6), 1);
    EXPECT_EQ(Bytes(heard.begin() + 20, heard.begin() + 22), (Bytes{'a', 'b'}));
    EXPECT_EQ(get16(heard, 22 + 6), 2);
    EXPECT_EQ(heard.back(), 'c');
    const auto log = simulator_->requestLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("127.0.0.5 tcp 127.0.0.1:", 0), 0u);
    EXPECT_NE(log[0].find(" Echo id=1 bytes=2"), std::string::npos);
}

TEST_F(SimulatorTest, EachReplyFault)
{
    start();
    const Bytes echo = request(kEcho, 9, {'h', 'i'});
    auto faulted = [&](const std::string& rule) {
        EXPECT_EQ(control("fault 127.0.0.5 " + rule), "ok\n");
        peer_.send(kDevice, port_, echo);
    };

    faulted("Echo:drop/1");
    EXPECT_FALSE(peer_.receive(kQuiet));
    EXPECT_EQ(peer_.ask(kDevice, port_, echo)->size(), 22u); // used up

    faulted("Echo:duplicate/1");
    EXPECT_TRUE(peer_.receive());
    EXPECT_TRUE(peer_.receive());

    faulted("Echo:malformed:magic/1");
    EXPECT_EQ(peer_.receive()->at(1), 0xCB);
    faulted("Echo:malformed:length/1");
    EXPECT_EQ(get16(*peer_.receive(), 8), 10); // claims 10, holds 2
    faulted("Echo:malformed:nostatus/1");
    auto noStatus = peer_.receive();
    EXPECT_EQ(noStatus->at(3), 0x00);
    EXPECT_EQ(get16(*noStatus, 18), 0);
    faulted("Echo:malformed:body/1");
    EXPECT_EQ(peer_.receive()->size(), 20u);

    faulted("any:status:33/1");
    EXPECT_EQ(status(*peer_.receive()), 33);

    faulted("Echo:parts:3/1");
    for (uint8_t flags : {0x03, 0x03, 0x01}) {
        auto part = peer_.receive();
        ASSERT_TRUE(part);
        EXPECT_EQ(part->at(3), flags);
        EXPECT_EQ(part->size(), 22u);
    }

    faulted("Echo:delay:400/1");
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(peer_.receive());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 400ms);

    // A rule for another method leaves Echo alone; clear ends every rule.
    EXPECT_EQ(control("fault 127.0.0.5 Get2:drop"), "ok\n");
    EXPECT_EQ(control("fault 127.0.0.5"), "127.0.0.5 Get2:drop\nok\n");
    EXPECT_TRUE(peer_.ask(kDevice, port_, echo));
    peer_.send(kDevice, port_, request(kGet2, 3, get2Body(490, {601}, {111})));
    EXPECT_FALSE(peer_.receive(kQuiet));
    EXPECT_EQ(control("fault 127.0.0.5 clear"), "ok\n");
    EXPECT_TRUE(peer_.ask(kDevice, port_, request(kGet2, 4, get2Body(490, {601}, {111}))));
    EXPECT_NE(control("fault 127.0.0.5 Get2:explode").find("error: "), std::string::npos);

    // Requests that want no reply get none; broken ones are logged, not answered.
    peer_.send(kDevice, port_, request(kEcho, 5, {'x'}, 0x00));
    peer_.send(kDevice, port_, Bytes{0xCD, 0xCA, 0x10});
    EXPECT_FALSE(peer_.receive(kQuiet));
    EXPECT_NE(simulator_->requestLog().back().find("malformed: shorter than a header"), std::string::npos);
}

TEST_F(SimulatorTest, SubscribersGetTheEventsTheyChose)
{
    start(quick());
    UdpPeer both;
    UdpPeer states;
    const Bytes subscribed = ask(8, appendToListBody(501, element({154, 18}, 2, both.port())));
    EXPECT_EQ(Bytes(subscribed.begin() + 18, subscribed.end()), (Bytes{0, 1, 0, 0, 1, 0xF5, 0, 2, 0, 0}));
    EXPECT_EQ(status(ask(kSetListElement, setListElementBody(2, 501, element({154}, 2, states.port())))), 1);
    EXPECT_TRUE(waitForLine("devsim: 127.0.0.5 subscribe 501 [154,18] udp 127.0.0.1:" + std::to_string(both.port())));
    const std::string logged = simulator_->requestLog().front();
    const std::string port = std::to_string(both.port());
    char portHex[8];
    std::snprintf(portHex, sizeof(portHex), "%04x", both.port());
    EXPECT_EQ(logged.substr(logged.find(" AppendToList")),
              " AppendToList id=1 op=3 value=501 attr=2 ids=154,18 to=udp 127.0.0.1:" + port +
                  " frame=cdca100400080001002200000000000000000000" "03000001f500020000" "0002009a0012" "00000007"
                  "0009000206" "7f000001" + portHex + "01000000");

    const uint32_t handle = oneJob();
    std::string from;
    auto printing = both.receive(kWait, &from);
    ASSERT_TRUE(printing);
    EXPECT_EQ(from, kDevice + ":" + std::to_string(port_)); // from the device's own address
    EXPECT_EQ(get16(*printing, 4), 10);
    EXPECT_EQ(get32(*printing, 20), 501u);
    EXPECT_EQ(eventIds(*printing), std::vector<uint16_t>{154});
    EXPECT_EQ(get32(*printing, 25 + 3 + 2), handle);
    EXPECT_EQ(printing->at(25 + 3 + 12), 7);
    EXPECT_EQ(eventIds(*states.receive()), std::vector<uint16_t>{154});

    simulator_->jobDataEnded(handle, true);
    // Impression 1 alone, then impression 2 with the state 9.
    auto first = both.receive();
    EXPECT_EQ(eventIds(*first), std::vector<uint16_t>{18});
    EXPECT_EQ(get32(*first, 25 + 3 + 2 + 4 * 5), 1u);
    auto done = both.receive();
    EXPECT_EQ(eventIds(*done), (std::vector<uint16_t>{154, 18}));
    EXPECT_EQ(done->at(25 + 3 + 12), 9);
    auto stateOnly = states.receive();
    EXPECT_EQ(eventIds(*stateOnly), std::vector<uint16_t>{154});
    EXPECT_EQ(stateOnly->at(25 + 3 + 12), 9);

    // Renewal replaces: one notification per event, now with 18 only.
    EXPECT_EQ(status(ask(kSetListElement, setListElementBody(2, 501, element({18}, 2, both.port())))), 1);
    EXPECT_EQ(control("job " + std::to_string(handle) + " impressions 5"), "ok\n");
    EXPECT_EQ(eventIds(*both.receive()), std::vector<uint16_t>{18});
    EXPECT_EQ(control("job " + std::to_string(handle) + " state 2 reason 21"), "ok\n");
    auto reasoned = states.receive();
    ASSERT_TRUE(reasoned);
    EXPECT_EQ(reasoned->at(25 + 3 + 12), 2);
    EXPECT_EQ(reasoned->at(25 + 3 + 13), 21);
    EXPECT_NE(control("job " + std::to_string(handle) + " state 2 reason x").find("error: "), std::string::npos);
    EXPECT_FALSE(both.receive(kQuiet));
    EXPECT_FALSE(states.receive(kQuiet));

    // Unsubscribed: nothing more.
    EXPECT_EQ(status(ask(kSetListElement, setListElementBody(4, 501, element({}, 2, both.port())))), 1);
    EXPECT_EQ(control("job " + std::to_string(handle) + " impressions 6"), "ok\n");
    EXPECT_FALSE(both.receive(kQuiet));
    const std::string subs = control("subs 127.0.0.5");
    EXPECT_EQ(subs.rfind("127.0.0.5 501 [154] udp 127.0.0.1:" + std::to_string(states.port()) + " sent 3 failures 0\n", 0),
              0u)
        << subs;
}

TEST_F(SimulatorTest, EventFaultsAndSyntheticEvents)
{
    start(quick());
    UdpPeer watcher;
    ASSERT_EQ(status(ask(8, appendToListBody(501, element({154, 18, 19}, 2, watcher.port())))), 1);

    EXPECT_EQ(control("fault 127.0.0.5 event:drop/1"), "ok\n");
    EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
    EXPECT_FALSE(watcher.receive(kQuiet));
    EXPECT_EQ(control("fault 127.0.0.5 event:duplicate/1"), "ok\n");
    EXPECT_EQ(control("event 127.0.0.5 ref=77 unfiltered 18 5 154"), "ok\n");
    for (int copy = 0; copy < 2; ++copy) {
        auto frame = watcher.receive();
        ASSERT_TRUE(frame);
        EXPECT_EQ(get32(*frame, 20), 77u);
        EXPECT_EQ(frame->at(24), 3);
        EXPECT_EQ(frame->size(), 25u + 3 + 41 + 3 + 16 + 3 + 85);
    }
    EXPECT_FALSE(watcher.receive(kQuiet));
    // Filtered: 5 is not wanted.
    EXPECT_EQ(control("event 127.0.0.5 5 19 count=2"), "ok\n");
    for (int copy = 0; copy < 2; ++copy)
        EXPECT_EQ(eventIds(*watcher.receive()), std::vector<uint16_t>{19});
    EXPECT_NE(control("event 127.0.0.5 9999").find("error: the simulator has no body for event 9999"),
              std::string::npos);
    // Bodies with every count and length 0: their layouts' fixed bytes (and an empty attribute list).
    for (auto [id, size] : {std::pair{2, 6}, {4, 2}, {11, 10}, {48, 87}, {55, 285}, {60, 16}, {94, 10}, {120, 10},
                            {152, 16}, {158, 29}, {222, 23}, {225, 18}}) {
        EXPECT_EQ(control("event 127.0.0.5 unfiltered " + std::to_string(id)), "ok\n");
        auto frame = watcher.receive();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->size(), 20u + 5 + 3 + size) << id;
        EXPECT_EQ(get16(*frame, 25), id);
    }
    // Paced: every device, 3 rounds at 20 a second (2 devices: 6 notifications over 250 ms).
    const auto paced = std::chrono::steady_clock::now();
    EXPECT_EQ(control("event all count=3 rate=20 154"), "ok\n");
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(eventIds(*watcher.receive()), std::vector<uint16_t>{154});
    EXPECT_GE(std::chrono::steady_clock::now() - paced, 200ms);
    EXPECT_FALSE(watcher.receive(kQuiet));

    // Device status changes reach the subscribers as event 19 {code, name}.
    EXPECT_EQ(control("device 127.0.0.5 hint 0x09030000").find("ok\n") != std::string::npos, true);
    auto status19 = watcher.receive();
    ASSERT_TRUE(status19);
    EXPECT_EQ(get32(*status19, 25 + 3), 0x09030000u);

    // After an unsubscribe the device goes on sending while told to.
    EXPECT_EQ(control("fault 127.0.0.5 event:after-unsubscribe"), "ok\n");
    EXPECT_EQ(status(ask(9, [&] {
                  Bytes body = {3};
                  put32(body, 501);
                  put16(body, 2);
                  const Bytes item = element({}, 2, watcher.port());
                  body.insert(body.end(), item.begin(), item.end());
                  return body;
              }())),
              1);
    EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
    EXPECT_TRUE(watcher.receive());
    EXPECT_NE(control("subs 127.0.0.5").find(" unsubscribed"), std::string::npos);

    // Unreachable: sent where nothing listens, the refusals counted.
    EXPECT_EQ(control("fault 127.0.0.5 clear"), "ok\n");
    EXPECT_EQ(control("fault 127.0.0.5 event:unreachable/1"), "ok\n");
    EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
    EXPECT_FALSE(watcher.receive(kQuiet));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (control("subs 127.0.0.5").find("unreachable sent 1 failures 1") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(control("subs 127.0.0.5").find("unreachable sent 1 failures 1"), std::string::npos);
}

TEST_F(SimulatorTest, TcpSubscribersAndAStalledOneDelaysNobody)
{
    start(quick());
    TcpEventListener tcp;
    TcpEventListener stalled;
    UdpPeer udp;
    ASSERT_EQ(status(ask(8, appendToListBody(501, element({154}, 1, stalled.port())))), 1);
    ASSERT_EQ(status(ask(8, appendToListBody(501, element({154}, 1, tcp.port())))), 1);
    ASSERT_EQ(status(ask(8, appendToListBody(501, element({154}, 2, udp.port())))), 1);
    EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
    ASSERT_TRUE(tcp.accept());
    EXPECT_EQ(tcp.peer(), kDevice);
    EXPECT_EQ(eventIds(*tcp.frame()), std::vector<uint16_t>{154});
    ASSERT_TRUE(stalled.accept()); // connected, never read
    ASSERT_TRUE(udp.receive());
    // More than the stalled subscriber can take; the others get every notification.
    for (int batch = 0; batch < 40; ++batch) {
        ASSERT_EQ(control("event 127.0.0.5 count=100 154"), "ok\n");
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(udp.receive()) << batch << " " << i;
            ASSERT_TRUE(tcp.frame()) << batch << " " << i;
        }
    }
    const std::string subs = control("subs 127.0.0.5");
    const std::string stalledLine = "127.0.0.5 501 [154] tcp 127.0.0.1:" + std::to_string(stalled.port()) + " sent ";
    const size_t at = subs.find(stalledLine);
    ASSERT_NE(at, std::string::npos) << subs;
    const std::string line = subs.substr(at, subs.find('\n', at) - at);
    EXPECT_GT(std::stoul(line.substr(line.find(" failures ") + 10)), 0u) << "the stalled one lost none: " << line;
}

TEST_F(SimulatorTest, AKeptConnectionThatBreaksIsMadeAgain)
{
    start(quick());
    TcpEventListener tcp;
    ASSERT_EQ(status(ask(8, appendToListBody(501, element({154}, 1, tcp.port())))), 1);
    EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
    ASSERT_TRUE(tcp.accept());
    ASSERT_TRUE(tcp.frame());
    tcp.hangUp();
    // The device finds the connection gone (a lost notification at most), then connects again.
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    bool again = false;
    while (!again && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
        again = tcp.accept(100ms);
    }
    ASSERT_TRUE(again);
    EXPECT_TRUE(tcp.frame());
}

TEST_F(SimulatorTest, SubscriptionsExpireUnlessRenewed)
{
    devsim::SimulatorSettings settings;
    settings.subscriptionLifetime = 300ms;
    start(quick(), settings);
    UdpPeer watcher;
    ASSERT_EQ(status(ask(8, appendToListBody(501, element({154}, 2, watcher.port())))), 1);
    ASSERT_TRUE(waitForLine("devsim: 127.0.0.5 expire 501 [154] udp"));
    EXPECT_EQ(control("subs 127.0.0.5"), "ok\n");
    EXPECT_EQ(control("event 127.0.0.5 154"), "ok\n");
    EXPECT_FALSE(watcher.receive(kQuiet));
}

TEST_F(SimulatorTest, ControlCommandsOnJobs)
{
    start(quick());
    std::atomic<int> dropped{0};
    const uint32_t handle = simulator_->jobArrived(kDevice, clientId(1), [&] { ++dropped; });
    const std::string h = std::to_string(handle);
    EXPECT_EQ(control("jobs 127.0.0.5").rfind("127.0.0.5 " + h + " 7 0 00000001", 0), 0u);
    EXPECT_EQ(control("job " + h + " codes 0x0A000001"), "ok\n");
    const Bytes state = ask(kGet2, get2Body(0, {handle}, {283}));
    EXPECT_EQ(Bytes(state.begin() + 20 + 8, state.end()),
              (Bytes{0x01, 0x1B, 0, 14, 7, 0, 0, 1, 0x0A, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(control("job " + h + " drop"), "ok\n");
    EXPECT_EQ(dropped, 1);
    simulator_->jobDataEnded(handle, false); // the connection broke: aborted
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.empty(); }));
    EXPECT_NE(control("log 127.0.0.5").find(" " + h + " 3 0 "), std::string::npos);

    const uint32_t lost = oneJob(2);
    EXPECT_EQ(control("job " + std::to_string(lost) + " lose"), "ok\n");
    EXPECT_EQ(control("jobs"), "ok\n");
    EXPECT_EQ(status(ask(kTraceJob, traceBody(clientId(2)))), 8);

    const uint32_t held = oneJob(3);
    EXPECT_EQ(control("job " + std::to_string(held) + " state 4"), "ok\n");
    simulator_->jobDataEnded(held, true); // told a state: it keeps it
    EXPECT_EQ(control("jobs").rfind("127.0.0.5 " + std::to_string(held) + " 4 0 ", 0), 0u);
    EXPECT_EQ(control("job " + std::to_string(held) + " state 9"), "ok\n");
    ASSERT_TRUE(waitForJobs([](const std::vector<JobInfo>& jobs) { return jobs.empty(); }));
    EXPECT_NE(control("log").find(" " + std::to_string(held) + " 1 0 "), std::string::npos);

    EXPECT_EQ(control("job 12345 cancel"), "error: no job 12345\n");
    EXPECT_NE(control("job " + std::to_string(held)).find("error: "), std::string::npos);
    EXPECT_EQ(control("frobnicate"), "error: unknown command 'frobnicate' (try help)\n");
    EXPECT_NE(control("help").find("power [DEVICE] off|on"), std::string::npos);
}

TEST_F(SimulatorTest, PowerOffSilencesTheDevice)
{
    testsupport::TempRoot root;
    devsim::SimulatorSettings settings;
    settings.root = root.path();
    start(quick(), settings);
    std::vector<std::string> switched;
    simulator_->setPowerSwitch([&](const std::string& address, bool on, std::string&) {
        switched.push_back(address + (on ? " on" : " off"));
        return true;
    });
    oneJob();
    EXPECT_EQ(control("power 127.0.0.5 off"), "ok\n");
    EXPECT_EQ(switched, std::vector<std::string>{"127.0.0.5 off"});
    peer_.send(kDevice, port_, request(kEcho, 1, {'x'}));
    EXPECT_FALSE(peer_.receive(kQuiet));
    EXPECT_EQ(simulator_->jobArrived(kDevice, clientId(1), nullptr), 0u);
    std::ifstream icmp(std::filesystem::path(root.path()) / "config" / "icmp");
    std::string line;
    EXPECT_TRUE(std::getline(icmp, line));
    EXPECT_EQ(line, "127.0.0.5 silent");

    EXPECT_EQ(control("power 127.0.0.5 on"), "ok\n");
    EXPECT_TRUE(peer_.ask(kDevice, port_, request(kEcho, 2, {'x'})));
    EXPECT_EQ(control("jobs 127.0.0.5"), "ok\n"); // it forgot its jobs
    std::ifstream after(std::filesystem::path(root.path()) / "config" / "icmp");
    EXPECT_FALSE(std::getline(after, line));
}

TEST_F(SimulatorTest, BroadcastEchoIsAnsweredByEachDevice)
{
    devsim::SimulatorSettings settings;
    settings.broadcast = true;
    settings.broadcastPort = 0;
    start({}, settings);
    EXPECT_TRUE(waitForLine("devsim: broadcast Echo on 127.255.255.255:" + std::to_string(simulator_->broadcastPort())));
    peer_.send("127.255.255.255", simulator_->broadcastPort(), request(kEcho, 1, {}));
    std::set<std::string> senders;
    for (int i = 0; i < 2; ++i) {
        std::string from;
        auto answer = peer_.receive(kWait, &from);
        ASSERT_TRUE(answer);
        EXPECT_EQ(Bytes(answer->begin() + 20, answer->end()), (Bytes{'d', 'e', 'v', 's', 'i', 'm'}));
        senders.insert(from.substr(0, from.find(':')));
    }
    EXPECT_EQ(senders, (std::set<std::string>{"127.0.0.5", "127.0.0.6"}));
}

} // namespace
