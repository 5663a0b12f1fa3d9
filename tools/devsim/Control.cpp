// Control commands: what a test or a person changes in the running simulator. One command per
// line; the reply's last line is "ok" or "error: ...".
#include <arpa/inet.h>
#include <time.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SimulatorImpl.h"

namespace devsim {

namespace {

const char kHelp[] =
    "fault [DEVICE] [RULE|clear]        list, add or clear DMLP faults (METHOD:ACTION[/N])\n"
    "jobs [DEVICE]                      job objects: DEVICE HANDLE STATE IMPRESSIONS ID [receiving]\n"
    "log [DEVICE]                       job log: DEVICE HANDLE COMPLETION IMPRESSIONS ID\n"
    "job H state S [reason R]|impressions N|codes C,...|none|cancel|lose|drop\n"
    "device [DEVICE] [status N] [online N] [hint CODE] [codes C,...|none]\n"
    "support [DEVICE] 282|106 on|off    attribute 282 in the 111 list, operation 106 in the 1001 list\n"
    "subs [DEVICE]                      subscriptions: DEVICE VALUE [IDS] TRANSPORT ADDRESS:PORT sent N failures N\n"
    "event DEVICE|all [ref=N] [unfiltered] [count=N] [rate=N] ID...   notifications to the subscribers\n"
    "power [DEVICE] off|on              off: no DMLP, RAW and LPR refused, ICMP echo silent\n"
    "requests [DEVICE] [clear]          the request log\n";

// Bytes of an event body with every count and length 0, by event id (fixed wire bytes, and
// whether an attribute list's uint16 count follows).
struct EventShape {
    uint16_t id;
    uint16_t fixed;
    bool attributes;
};

constexpr EventShape kEventShapes[] = {
    {2, 6, false},   {3, 6, false},   {4, 2, false},   {5, 16, false},  {11, 10, false}, {14, 25, false},
    {15, 8, false},  {16, 23, false}, {17, 31, false}, {18, 41, false}, {19, 5, false},  {20, 5, false},
    {24, 8, false},  {26, 6, false},  {40, 22, false}, {45, 9, false},  {48, 87, false}, {53, 53, false},
    {54, 53, false}, {55, 285, false}, {56, 26, false}, {57, 37, false}, {58, 12, false}, {60, 16, false},
    {63, 29, false}, {64, 20, false}, {65, 12, false}, {66, 23, false}, {67, 8, false},  {68, 12, false},
    {69, 25, false}, {70, 3, false},  {71, 3, false},  {72, 6, false},  {73, 22, false}, {74, 22, false},
    {82, 9, false},  {83, 26, false}, {84, 37, false}, {85, 19, false}, {86, 18, false}, {87, 12, false},
    {88, 30, false}, {89, 17, false}, {90, 13, false}, {91, 7, false},  {94, 8, true},   {106, 38, false},
    {113, 34, false}, {122, 14, false}, {125, 17, false}, {129, 37, false}, {130, 5, false}, {152, 14, true},
    {153, 14, true}, {154, 83, true}, {155, 83, true}, {158, 29, false}, {217, 9, false}, {218, 6, false},
    {219, 8, false}, {222, 23, false}, {223, 9, false}, {225, 16, true},
};

constexpr uint16_t kEventWithAddress = 120; // uint32, uint16, address form, s8

bool number(const std::string& text, uint32_t& value)
{
    int base = 10;
    const char* begin = text.data();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    auto [end, error] = std::from_chars(begin, text.data() + text.size(), value, base);
    return begin != text.data() + text.size() && error == std::errc() && end == text.data() + text.size();
}

bool numberList(const std::string& text, std::vector<uint32_t>& values)
{
    values.clear();
    if (text == "none")
        return true;
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        uint32_t value = 0;
        if (!number(item, value))
            return false;
        values.push_back(value);
    }
    return !values.empty();
}

std::string hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

std::string codeList(const std::vector<uint32_t>& codes)
{
    std::string text;
    for (uint32_t code : codes)
        text += (text.empty() ? "" : ",") + hex32(code);
    return text.empty() ? "none" : text;
}

bool isAddress(const std::string& text)
{
    in_addr parsed{};
    return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

// A client job id carrying the monotonic clock's nanoseconds in its 8 bytes (big-endian), so that
// a receiver can tell how long the notification took.
ClientId stampedClientId()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nanoseconds = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    ClientId id{};
    for (int i = 0; i < 8; ++i)
        id[8 + i] = static_cast<uint8_t>(nanoseconds >> (56 - 8 * i));
    return id;
}

bool eventBody(uint16_t id, const Device& device, Bytes& body)
{
    if (id == kEventJobState || id == 155) {
        body = jobStateEvent(0, kJobPrinting, 0, 0, stampedClientId());
        return true;
    }
    if (id == kEventDeviceStatus) {
        body = deviceStatusEvent(device.hint, "status " + std::to_string(device.status));
        return true;
    }
    if (id == kEventWithAddress) {
        body = {0, 0, 0, 0, 0, 0, 0, 13, 0, 0}; // an address form of kind 13 has no body
        return true;
    }
    for (const EventShape& shape : kEventShapes)
        if (shape.id == id) {
            body.assign(shape.fixed + (shape.attributes ? 2u : 0u), 0);
            return true;
        }
    return false;
}

std::string jobLine(const Device& device, const Job& job)
{
    return device.settings.address + " " + std::to_string(job.handle) + " " + std::to_string(job.state) + " " +
           std::to_string(job.impressions) + " " + hexBytes(job.clientJobId.data(), job.clientJobId.size()) +
           (job.receiving ? " receiving" : "") + "\n";
}

// The ICMP stub table of the platform root: a silent device is listed as "ADDRESS silent".
bool setIcmpSilent(const std::string& root, const std::string& address, bool silent, std::string& error)
{
    const std::filesystem::path folder = std::filesystem::path(root) / "config";
    const std::filesystem::path table = folder / "icmp";
    std::vector<std::string> lines;
    {
        std::ifstream in(table);
        for (std::string line; std::getline(in, line);)
            if (line != address + " silent")
                lines.push_back(line);
    }
    if (silent)
        lines.push_back(address + " silent");
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    const std::filesystem::path temporary = table.string() + ".devsim";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const std::string& line : lines)
            out << line << "\n";
        if (!out) {
            error = "cannot write " + temporary.string();
            return false;
        }
    }
    std::filesystem::rename(temporary, table, failure);
    if (failure)
        error = "cannot write " + table.string() + ": " + failure.message();
    return !failure;
}

// Notifications that the event command sends, device after device, at a rate or all at once.
struct EventRun {
    std::vector<Device*> devices;
    std::vector<EventEntry> events;
    std::optional<uint32_t> reference;
    bool unfiltered = false;
    uint64_t total = 0;
    uint64_t sent = 0;
    double rate = 0; // notifications a second; 0: at once
    Clock::time_point start;
};

void sendEvents(Simulator::Impl& impl, const std::shared_ptr<EventRun>& run)
{
    uint64_t due = run->total;
    if (run->rate > 0) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - run->start).count();
        due = std::min<uint64_t>(run->total, static_cast<uint64_t>(elapsed * run->rate) + 1);
    }
    for (; run->sent < due; ++run->sent) {
        Device& device = *run->devices[run->sent % run->devices.size()];
        for (EventEntry& entry : run->events)
            if (entry.id == kEventJobState || entry.id == kEventDeviceStatus)
                eventBody(entry.id, device, entry.body); // a fresh send time; the device's own state
        impl.notify(device, run->events, run->reference, run->unfiltered);
    }
    if (run->sent < run->total)
        impl.at(run->start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(static_cast<double>(run->sent) / run->rate)),
                [&impl, run] { sendEvents(impl, run); });
}

class Command {
public:
    Command(Simulator::Impl& impl, const std::vector<std::string>& words) : impl_(impl), words_(words) {}

    std::string run(bool& power, std::string& powerDevice, bool& powerOn);

private:
    // Takes the next word when it names a device; else the one device there is.
    Device* device(bool required);
    std::vector<Device*> devices();
    bool more() const { return next_ < words_.size(); }
    const std::string& word() { return words_[next_++]; }
    std::string fault();
    std::string jobs(bool log);
    std::string job();
    std::string deviceState();
    std::string support();
    std::string subscriptions();
    std::string event();
    std::string power(bool& power, std::string& powerDevice, bool& powerOn);
    std::string requests();

    Simulator::Impl& impl_;
    const std::vector<std::string>& words_;
    size_t next_ = 1;
    std::string error_;
};

Device* Command::device(bool required)
{
    if (more() && isAddress(words_[next_])) {
        Device* found = impl_.findDevice(words_[next_]);
        if (!found)
            error_ = "no device " + words_[next_];
        ++next_;
        return found;
    }
    if (!required)
        return nullptr;
    if (impl_.devices.size() == 1)
        return impl_.devices.front().get();
    error_ = "name the device (there are " + std::to_string(impl_.devices.size()) + ")";
    return nullptr;
}

std::vector<Device*> Command::devices()
{
    if (Device* one = device(false))
        return {one};
    std::vector<Device*> all;
    if (error_.empty())
        for (auto& owned : impl_.devices)
            all.push_back(owned.get());
    return all;
}

std::string Command::run(bool& power, std::string& powerDevice, bool& powerOn)
{
    const std::string& verb = words_[0];
    std::string reply;
    if (verb == "help")
        reply = kHelp;
    else if (verb == "fault")
        reply = fault();
    else if (verb == "jobs" || verb == "log")
        reply = jobs(verb == "log");
    else if (verb == "job")
        reply = job();
    else if (verb == "device")
        reply = deviceState();
    else if (verb == "support")
        reply = support();
    else if (verb == "subs")
        reply = subscriptions();
    else if (verb == "event")
        reply = event();
    else if (verb == "power")
        reply = this->power(power, powerDevice, powerOn);
    else if (verb == "requests")
        reply = requests();
    else
        error_ = "unknown command '" + verb + "' (try help)";
    if (error_.empty() && more())
        error_ = "unexpected '" + words_[next_] + "'";
    if (!error_.empty()) {
        power = false;
        return "error: " + error_ + "\n";
    }
    return reply + "ok\n";
}

std::string Command::fault()
{
    Device* target = device(true);
    if (!target)
        return {};
    std::string reply;
    if (!more()) {
        for (const std::string& rule : target->faults.describe())
            reply += target->settings.address + " " + rule + "\n";
        return reply;
    }
    const std::string& text = word();
    if (text == "clear") {
        target->faults.clear();
        return {};
    }
    FaultRule rule;
    error_ = parseFaultRule(text, rule);
    if (error_.empty())
        target->faults.add(rule);
    return {};
}

std::string Command::jobs(bool log)
{
    std::string reply;
    for (Device* target : devices()) {
        if (!log) {
            for (const Job& job : target->jobs)
                reply += jobLine(*target, job);
            continue;
        }
        for (const LogEntry& entry : target->log)
            reply += target->settings.address + " " + std::to_string(entry.handle) + " " +
                     std::to_string(entry.completion) + " " + std::to_string(entry.impressions) + " " +
                     hexBytes(entry.clientJobId.data(), entry.clientJobId.size()) + "\n";
    }
    return reply;
}

std::string Command::job()
{
    uint32_t handle = 0;
    if (!more() || !number(word(), handle) || !more()) {
        error_ = "job H state S [reason R]|impressions N|codes LIST|cancel|lose|drop";
        return {};
    }
    Job* job = nullptr;
    Device* owner = impl_.deviceOfJob(handle, &job);
    if (!owner) {
        error_ = "no job " + std::to_string(handle);
        return {};
    }
    const std::string action = word();
    if (action == "cancel" || action == "lose" || action == "drop") {
        if (action == "cancel")
            impl_.endJob(*owner, *job, kJobCanceled, kCompletedCanceled);
        else if (action == "lose")
            impl_.loseJob(*owner, handle);
        else if (job->drop)
            job->drop();
        else
            error_ = "job " + std::to_string(handle) + " has no connection to drop";
        return {};
    }
    uint32_t value = 0;
    std::vector<uint32_t> values;
    const std::string argument = more() ? word() : std::string();
    if (action == "codes" && numberList(argument, values)) {
        job->codes = values;
    } else if (action == "impressions" && number(argument, value)) {
        ++job->generation; // told, not printed: the job stops printing by itself
        impl_.setImpressions(*owner, *job, value);
    } else if (action == "state" && number(argument, value) && value <= 255) {
        uint32_t reason = 0;
        if (more() && words_[next_] == "reason") {
            ++next_;
            if (!more() || !number(word(), reason) || reason > 255) {
                error_ = "job H state S reason R: R is a number up to 255";
                return {};
            }
        }
        job->reason = static_cast<uint8_t>(reason);
        const uint8_t state = static_cast<uint8_t>(value);
        const uint8_t completion = state == kJobDone       ? kCompletedNormally
                                   : state == kJobCanceled ? kCompletedCanceled
                                                           : kCompletedAborted;
        if (state == kJobDone || state == kJobCanceled || state == kJobAborted) {
            impl_.endJob(*owner, *job, state, completion);
        } else {
            ++job->generation;
            job->state = state;
            impl_.notifyJob(*owner, *job, true, false);
        }
    } else {
        error_ = "job H " + action + " wants a value, not '" + argument + "'";
    }
    return {};
}

std::string Command::deviceState()
{
    Device* target = device(true);
    if (!target)
        return {};
    bool changed = false;
    while (more() && error_.empty()) {
        const std::string field = word();
        const std::string value = more() ? word() : std::string();
        uint32_t parsed = 0;
        std::vector<uint32_t> codes;
        if (field == "codes" && numberList(value, codes))
            target->codes = codes;
        else if (field == "hint" && number(value, parsed))
            target->hint = parsed;
        else if ((field == "status" || field == "online") && number(value, parsed) && parsed <= 255)
            (field == "status" ? target->status : target->online) = static_cast<uint8_t>(parsed);
        else
            error_ = "device " + field + " '" + value + "': want status N, online N, hint CODE or codes LIST|none";
        changed = true;
    }
    if (!error_.empty())
        return {};
    if (changed) {
        const uint32_t code = target->hint ? target->hint : target->codes.empty() ? 0 : target->codes.front();
        impl_.notify(*target,
                     {{kEventDeviceStatus, deviceStatusEvent(code, "status " + std::to_string(target->status) +
                                                                      " online " + std::to_string(target->online))}},
                     std::nullopt, false);
    }
    return target->settings.address + " status " + std::to_string(target->status) + " online " +
           std::to_string(target->online) + " hint " + hex32(target->hint) + " codes " + codeList(target->codes) +
           (target->powered ? "" : " (off)") + "\n";
}

std::string Command::support()
{
    Device* target = device(true);
    const std::string what = more() ? word() : std::string();
    const std::string state = more() ? word() : std::string();
    if (!target)
        return {};
    if ((what != "282" && what != "106") || (state != "on" && state != "off")) {
        error_ = "support [DEVICE] 282|106 on|off";
        return {};
    }
    (what == "282" ? target->settings.reportsDeviceState : target->settings.setsListElements) = state == "on";
    return {};
}

std::string Command::subscriptions()
{
    std::string reply;
    for (Device* target : devices()) {
        for (const Subscription& subscription : target->subscriptions) {
            std::string ids;
            for (uint16_t id : subscription.ids)
                ids += (ids.empty() ? "" : ",") + std::to_string(id);
            reply += target->settings.address + " " + std::to_string(subscription.value) + " [" + ids + "] " +
                     subscription.to.describe() + " sent " + std::to_string(subscription.sent) + " failures " +
                     std::to_string(subscription.failures) + (subscription.unsubscribed ? " unsubscribed" : "") + "\n";
        }
        if (target->unreachableSends)
            reply += target->settings.address + " unreachable sent " + std::to_string(target->unreachableSends) +
                     " failures " + std::to_string(target->unreachableFailures) + "\n";
    }
    return reply;
}

std::string Command::event()
{
    auto run = std::make_shared<EventRun>();
    if (more() && words_[next_] == "all") {
        ++next_;
        for (auto& owned : impl_.devices)
            if (owned->udp >= 0)
                run->devices.push_back(owned.get());
    } else if (more() && isAddress(words_[next_])) {
        if (Device* target = device(true))
            run->devices.push_back(target);
    }
    if (run->devices.empty()) {
        if (error_.empty())
            error_ = "event DEVICE|all [ref=N] [unfiltered] [count=N] [rate=N] ID...";
        return {};
    }
    uint32_t count = 1;
    while (more() && error_.empty()) {
        const std::string& item = word();
        uint32_t value = 0;
        if (item == "unfiltered")
            run->unfiltered = true;
        else if (item.rfind("ref=", 0) == 0 && number(item.substr(4), value))
            run->reference = value;
        else if (item.rfind("count=", 0) == 0 && number(item.substr(6), value))
            count = value;
        else if (item.rfind("rate=", 0) == 0 && number(item.substr(5), value) && value > 0)
            run->rate = value;
        else if (number(item, value) && value <= 0xFFFF) {
            run->events.push_back({static_cast<uint16_t>(value), {}});
            if (!eventBody(run->events.back().id, *run->devices.front(), run->events.back().body))
                error_ = "the simulator has no body for event " + item;
        } else
            error_ = "event: what is '" + item + "'?";
    }
    if (error_.empty() && run->events.empty())
        error_ = "event: no event ids";
    if (!error_.empty())
        return {};
    run->total = static_cast<uint64_t>(count) * run->devices.size();
    run->start = Clock::now();
    sendEvents(impl_, run);
    return {};
}

std::string Command::power(bool& power, std::string& powerDevice, bool& powerOn)
{
    Device* target = device(true);
    const std::string state = more() ? word() : std::string();
    if (!target)
        return {};
    if (state != "on" && state != "off") {
        error_ = "power [DEVICE] off|on";
        return {};
    }
    power = true;
    powerOn = state == "on";
    powerDevice = target->settings.address;
    if (!powerOn && target->powered) {
        // A device switched off forgets its jobs; the job log and its subscriptions stay.
        target->jobs.clear();
        impl_.closeEventConnections(*target);
        for (auto& [id, client] : target->clients)
            impl_.unwatch(client.fd);
        target->clients.clear();
    }
    target->powered = powerOn;
    impl_.say("devsim: " + powerDevice + " power " + state);
    if (impl_.settings.root.empty())
        return "no platform root: the ICMP stub table is unchanged\n";
    setIcmpSilent(impl_.settings.root, powerDevice, !powerOn, error_);
    return {};
}

std::string Command::requests()
{
    std::vector<Device*> targets = devices();
    if (more() && words_[next_] == "clear") {
        ++next_;
        std::erase_if(impl_.requests, [&](const std::string& line) {
            for (Device* target : targets)
                if (line.rfind(target->settings.address + " ", 0) == 0)
                    return true;
            return false;
        });
        return {};
    }
    std::string reply;
    for (const std::string& line : impl_.requests)
        for (Device* target : targets)
            if (line.rfind(target->settings.address + " ", 0) == 0)
                reply += line + "\n";
    return reply;
}

} // namespace

std::string Simulator::Impl::runCommand(const std::vector<std::string>& words, bool& power, std::string& powerDevice,
                                        bool& powerOn)
{
    if (words.empty())
        return "error: empty command\n";
    return Command(*this, words).run(power, powerDevice, powerOn);
}

} // namespace devsim
