#include "Faults.h"

#include <charconv>

#include "DmlpWire.h"

namespace devsim {

namespace {

bool parseNumber(const std::string& text, uint32_t& value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string parseAction(const std::string& text, FaultRule& rule)
{
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string argument = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    const bool hasArgument = colon != std::string::npos;
    struct Plain {
        const char* name;
        FaultAction action;
        bool eventsOnly;
    };
    static const Plain kPlain[] = {{"drop", FaultAction::Drop, false},
                                   {"duplicate", FaultAction::Duplicate, false},
                                   {"after-unsubscribe", FaultAction::AfterUnsubscribe, true},
                                   {"unreachable", FaultAction::Unreachable, true}};
    for (const Plain& plain : kPlain) {
        if (name != plain.name)
            continue;
        if (hasArgument)
            return name + " takes no value";
        if (plain.eventsOnly != rule.events && plain.eventsOnly)
            return name + " is a fault of events only";
        rule.action = plain.action;
        return {};
    }
    if (rule.events)
        return "events know drop, duplicate, after-unsubscribe and unreachable, not '" + text + "'";
    if (name == "malformed") {
        static const std::pair<const char*, MalformedKind> kKinds[] = {{"magic", MalformedKind::Magic},
                                                                       {"length", MalformedKind::Length},
                                                                       {"nostatus", MalformedKind::NoStatus},
                                                                       {"body", MalformedKind::Body}};
        for (const auto& [kindName, kind] : kKinds)
            if (argument == kindName) {
                rule.action = FaultAction::Malformed;
                rule.malformed = kind;
                return {};
            }
        return "malformed wants magic, length, nostatus or body, not '" + argument + "'";
    }
    const std::pair<const char*, FaultAction> kValued[] = {
        {"delay", FaultAction::Delay}, {"status", FaultAction::Status}, {"parts", FaultAction::Parts}};
    for (const auto& [valuedName, action] : kValued) {
        if (name != valuedName)
            continue;
        if (!parseNumber(argument, rule.value) || (action != FaultAction::Delay && rule.value > 0xFFFF) ||
            (action == FaultAction::Parts && rule.value == 0))
            return name + " wants a number, not '" + argument + "'";
        rule.action = action;
        return {};
    }
    return "unknown fault '" + text + "'";
}

const char* actionName(FaultAction action)
{
    switch (action) {
    case FaultAction::None:
        return "none";
    case FaultAction::Drop:
        return "drop";
    case FaultAction::Delay:
        return "delay";
    case FaultAction::Duplicate:
        return "duplicate";
    case FaultAction::Malformed:
        return "malformed";
    case FaultAction::Status:
        return "status";
    case FaultAction::Parts:
        return "parts";
    case FaultAction::AfterUnsubscribe:
        return "after-unsubscribe";
    case FaultAction::Unreachable:
        return "unreachable";
    }
    return "?";
}

const char* malformedName(MalformedKind kind)
{
    switch (kind) {
    case MalformedKind::Magic:
        return "magic";
    case MalformedKind::Length:
        return "length";
    case MalformedKind::NoStatus:
        return "nostatus";
    case MalformedKind::Body:
        return "body";
    }
    return "?";
}

} // namespace

std::string FaultRule::describe() const
{
    std::string text = events ? "event" : anyMethod ? "any" : methodName(method);
    text += std::string(":") + actionName(action);
    if (action == FaultAction::Malformed)
        text += std::string(":") + malformedName(malformed);
    else if (action == FaultAction::Delay || action == FaultAction::Status || action == FaultAction::Parts)
        text += ":" + std::to_string(value);
    if (remaining)
        text += "/" + std::to_string(*remaining);
    return text;
}

std::string parseFaultRule(const std::string& text, FaultRule& rule)
{
    rule = FaultRule();
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return "a fault is METHOD:ACTION[/N], not '" + text + "'";
    const std::string method = text.substr(0, colon);
    std::string action = text.substr(colon + 1);
    const size_t slash = action.rfind('/');
    if (slash != std::string::npos) {
        uint32_t count = 0;
        if (!parseNumber(action.substr(slash + 1), count) || count == 0)
            return "/N wants a positive number in '" + text + "'";
        rule.remaining = count;
        action.resize(slash);
    }
    if (method == "any") {
        rule.anyMethod = true;
    } else if (method == "event") {
        rule.events = true;
    } else if (auto id = methodByName(method)) {
        rule.method = *id;
    } else {
        return "unknown method '" + method + "' in '" + text + "'";
    }
    return parseAction(action, rule);
}

void FaultSet::add(const FaultRule& rule)
{
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(rule);
}

void FaultSet::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

FaultRule FaultSet::take(bool events, uint16_t method)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
        if (rule->events != events || rule->action == FaultAction::AfterUnsubscribe)
            continue;
        if (!events && !rule->anyMethod && rule->method != method)
            continue;
        FaultRule chosen = *rule;
        if (rule->remaining && --*rule->remaining == 0)
            rules_.erase(rule);
        return chosen;
    }
    return FaultRule();
}

FaultRule FaultSet::forReply(uint16_t method)
{
    return take(false, method);
}

FaultRule FaultSet::forEvent()
{
    return take(true, 0);
}

bool FaultSet::keepsUnsubscribed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const FaultRule& rule : rules_)
        if (rule.action == FaultAction::AfterUnsubscribe)
            return true;
    return false;
}

std::vector<std::string> FaultSet::describe() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const FaultRule& rule : rules_)
        lines.push_back(rule.describe());
    return lines;
}

} // namespace devsim
