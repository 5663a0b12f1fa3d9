// Faults the simulated device is told to make in its DMLP replies and event notifications:
// METHOD:ACTION[/N], where METHOD is a method name or number, "any" or "event", and /N limits the
// rule to the next N messages it applies to.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

enum class FaultAction {
    None,
    Drop,             // no reply / notification
    Delay,            // the reply goes out after `value` ms
    Duplicate,        // sent twice
    Malformed,        // see MalformedKind
    Status,           // the reply carries status `value`
    Parts,            // the reply goes out as `value` parts, all but the last flagged "more parts"
    AfterUnsubscribe, // notifications go on to subscribers that have unsubscribed
    Unreachable,      // notifications go to a port where nothing listens
};

enum class MalformedKind { Magic, Length, NoStatus, Body };

struct FaultRule {
    bool anyMethod = false;
    bool events = false;
    uint16_t method = 0;
    FaultAction action = FaultAction::None;
    uint32_t value = 0;
    MalformedKind malformed = MalformedKind::Magic;
    std::optional<uint32_t> remaining; // /N

    std::string describe() const;
};

// Empty on success, else the complaint.
std::string parseFaultRule(const std::string& text, FaultRule& rule);

// A device's rules; the first rule that applies and has uses left decides.
class FaultSet {
public:
    void add(const FaultRule& rule);
    void clear();
    // The action for a reply to `method`, counting the use.
    FaultRule forReply(uint16_t method);
    // The action for the next notification, counting the use.
    FaultRule forEvent();
    // True while an after-unsubscribe rule is in force (not counted).
    bool keepsUnsubscribed() const;
    std::vector<std::string> describe() const;

private:
    FaultRule take(bool events, uint16_t method);

    mutable std::mutex mutex_;
    std::vector<FaultRule> rules_;
};

} // namespace devsim
