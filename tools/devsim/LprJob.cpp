#include "LprJob.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <utility>

namespace devsim {

namespace {

constexpr std::array<std::pair<LprStep, const char*>, 5> kStepNames{{
    {LprStep::QueueCommand, "queue"},
    {LprStep::ControlFileCommand, "cf-command"},
    {LprStep::ControlFile, "cf"},
    {LprStep::DataFileCommand, "df-command"},
    {LprStep::DataFile, "df"},
}};

constexpr std::array<std::pair<LprAnswerKind, const char*>, 5> kAnswerNames{{
    {LprAnswerKind::Accept, "ack"},
    {LprAnswerKind::Refuse, "refuse"},
    {LprAnswerKind::Stall, "stall"},
    {LprAnswerKind::Close, "close"},
    {LprAnswerKind::Reset, "reset"},
}};

template <typename Value, size_t Count>
bool lookUp(const std::array<std::pair<Value, const char*>, Count>& table, const std::string& name, Value& value)
{
    for (const auto& [entry, text] : table)
        if (name == text) {
            value = entry;
            return true;
        }
    return false;
}

bool parseDecimal(const std::string& text, uint64_t limit, uint64_t& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return value <= limit;
}

// "refuse:7" -> Refuse with byte 7; "refuse" refuses with 1.
bool parseAnswer(const std::string& text, LprAnswer& answer)
{
    size_t colon = text.find(':');
    if (!lookUp(kAnswerNames, text.substr(0, colon), answer.kind))
        return false;
    if (colon == std::string::npos)
        return true;
    uint64_t refusal = 0;
    if (answer.kind != LprAnswerKind::Refuse || !parseDecimal(text.substr(colon + 1), 255, refusal) || refusal == 0)
        return false;
    answer.refusal = static_cast<uint8_t>(refusal);
    return true;
}

// "df@N=stall|close|reset"
bool parseDataBreak(const std::string& where, const std::string& what, LprDataBreak& dataBreak)
{
    if (where.rfind("df@", 0) != 0 || !parseDecimal(where.substr(3), UINT64_MAX, dataBreak.afterBytes))
        return false;
    return lookUp(kAnswerNames, what, dataBreak.kind) && dataBreak.kind != LprAnswerKind::Accept &&
           dataBreak.kind != LprAnswerKind::Refuse;
}

bool parseItem(const std::string& item, LprScript& script)
{
    size_t equals = item.find('=');
    if (equals == std::string::npos)
        return false;
    const std::string where = item.substr(0, equals);
    const std::string what = item.substr(equals + 1);
    if (where.find('@') != std::string::npos) {
        LprDataBreak dataBreak;
        if (!parseDataBreak(where, what, dataBreak))
            return false;
        script.dataBreak = dataBreak;
        return true;
    }
    LprStep step;
    LprAnswer answer;
    if (!lookUp(kStepNames, where, step) || !parseAnswer(what, answer))
        return false;
    script.answers[step] = answer;
    return true;
}

} // namespace

LprAnswer LprScript::answer(LprStep step) const
{
    auto found = answers.find(step);
    return found == answers.end() ? LprAnswer{} : found->second;
}

bool parseLprScript(const std::string& text, LprScript& script, std::string& complaint)
{
    LprScript parsed;
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ','))
        if (!parseItem(item, parsed)) {
            complaint = "cannot read '" + item + "' in the LPR script '" + text + "'";
            return false;
        }
    if (text.empty() || text.back() == ',') {
        complaint = "the LPR script '" + text + "' has an empty item";
        return false;
    }
    script = std::move(parsed);
    return true;
}

const char* lprStepName(LprStep step)
{
    for (const auto& [entry, text] : kStepNames)
        if (entry == step)
            return text;
    return "?";
}

bool LprJob::complete() const
{
    const bool queueRefused =
        std::find(refused.begin(), refused.end(), LprStep::QueueCommand) != refused.end();
    return end == LprEnd::SenderClosed && queue && !queueRefused && controlFile && controlFile->whole &&
           !dataFiles.empty() &&
           std::all_of(dataFiles.begin(), dataFiles.end(), [](const LprFile& file) { return file.whole; });
}

std::multimap<char, std::string> LprJob::controlLines() const
{
    std::multimap<char, std::string> lines;
    if (!controlFile)
        return lines;
    std::istringstream text(controlFile->bytes);
    std::string line;
    while (std::getline(text, line))
        if (!line.empty())
            lines.emplace(line[0], line.substr(1));
    return lines;
}

std::string LprJob::controlLine(char letter) const
{
    const auto lines = controlLines();
    auto found = lines.find(letter);
    return found == lines.end() ? std::string() : found->second;
}

} // namespace devsim
