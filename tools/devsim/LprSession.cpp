#include "LprSession.h"

#include <algorithm>
#include <cstdio>

namespace devsim {

namespace {

constexpr size_t kLongestLine = 4096;
constexpr uint64_t kLargestControlFile = 1 << 20;
// The answer to what the device cannot read, before it closes.
constexpr char kLpdError = '\x02';

std::string hexByte(char byte)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", static_cast<unsigned char>(byte));
    return text;
}

// Counts too large for 64 bits stand for "size unknown" as well as any count at the threshold.
uint64_t saturatingDecimal(std::string_view digits)
{
    uint64_t value = 0;
    for (char digit : digits) {
        const auto units = static_cast<uint64_t>(digit - '0');
        if (value > (UINT64_MAX - units) / 10)
            return UINT64_MAX;
        value = value * 10 + units;
    }
    return value;
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

LprSession::LprSession(LprScript script, uint64_t sizeUnknownFrom)
    : script_(std::move(script)), sizeUnknownFrom_(sizeUnknownFrom)
{
}

LprSession::Result LprSession::take(LprJob& job, std::string_view input)
{
    Result result;
    size_t taken = 0;
    while (taken < input.size() && result.then == Then::Read && !stalled_) {
        const std::string_view rest = input.substr(taken);
        switch (expect_) {
        case Expect::QueueCommand:
        case Expect::Subcommand:
            taken += takeLine(job, rest, result);
            break;
        case Expect::FileBytes:
            taken += takeFileBytes(job, rest, result);
            break;
        case Expect::FileEnd:
            taken += takeFileEnd(job, rest, result);
            break;
        }
    }
    job.stream.append(input.substr(0, taken));
    result.taken = taken;
    return result;
}

void LprSession::senderClosed(LprJob& job)
{
    if (!stalled_ && expect_ == Expect::FileBytes && currentFile(job).endedByClose)
        currentFile(job).whole = true;
}

LprSession::Result LprSession::resume(LprJob& job)
{
    Result result;
    if (!stalled_)
        return result;
    stalled_ = job.stalled = false;
    if (held_) {
        const LprStep step = *held_;
        held_.reset();
        result.replies += '\0';
        accepted(job, step, result);
    }
    return result;
}

size_t LprSession::readLimit(size_t bufferSize) const
{
    if (expect_ != Expect::FileBytes || file_ != LprStep::DataFile || !script_.dataBreak || breakDone_)
        return bufferSize;
    return static_cast<size_t>(std::min<uint64_t>(bufferSize, script_.dataBreak->afterBytes - fileBytes_));
}

size_t LprSession::takeLine(LprJob& job, std::string_view input, Result& result)
{
    const size_t end = input.find('\n');
    const size_t taken = end == std::string_view::npos ? input.size() : end + 1;
    line_.append(input.substr(0, std::min(end, input.size())));
    if (line_.size() > kLongestLine) {
        malformed(job, "a command line longer than " + std::to_string(kLongestLine) + " bytes", result);
        return taken;
    }
    if (end == std::string_view::npos)
        return taken;
    if (expect_ == Expect::QueueCommand)
        handleQueueCommand(job, result);
    else
        handleSubcommand(job, result);
    line_.clear();
    return taken;
}

void LprSession::handleQueueCommand(LprJob& job, Result& result)
{
    if (line_.empty() || line_[0] != '\x02')
        return malformed(job, "not a receive-job command: " + (line_.empty() ? "an empty line" : hexByte(line_[0])),
                         result);
    if (line_.size() == 1)
        return malformed(job, "a receive-job command without a queue name", result);
    job.queue = line_.substr(1);
    answer(job, LprStep::QueueCommand, result);
}

void LprSession::handleSubcommand(LprJob& job, Result& result)
{
    const char command = line_.empty() ? '\n' : line_[0];
    switch (command) {
    case '\x01':
        if (line_.size() != 1)
            return malformed(job, "an abort subcommand with operands", result);
        // RFC 1179: the files received so far are removed; no answer.
        job.controlFile.reset();
        job.dataFiles.clear();
        ++job.aborts;
        return;
    case '\x02':
        return handleFileCommand(job, LprStep::ControlFile, result);
    case '\x03':
        return handleFileCommand(job, LprStep::DataFile, result);
    default:
        return malformed(job, "not a subcommand: " + (line_.empty() ? "an empty line" : hexByte(command)), result);
    }
}

// "\x02count cfA...": "count SP name" after the command byte.
void LprSession::handleFileCommand(LprJob& job, LprStep step, Result& result)
{
    const std::string_view operands = std::string_view(line_).substr(1);
    const size_t space = operands.find(' ');
    const std::string_view count = operands.substr(0, space);
    const std::string_view name = space == std::string_view::npos ? std::string_view() : operands.substr(space + 1);
    const bool control = step == LprStep::ControlFile;
    if (!allDigits(count) || name.empty())
        return malformed(job, "cannot read the file subcommand '" + std::string(operands) + "'", result);
    if (name.substr(0, 2) != (control ? "cf" : "df"))
        return malformed(job, std::string(control ? "a control" : "a data") + " file named '" + std::string(name) + "'",
                         result);
    announced_ = LprFile{};
    announced_.name = name;
    announced_.announced = saturatingDecimal(count);
    announced_.endedByClose = !control && (announced_.announced == 0 || announced_.announced >= sizeUnknownFrom_);
    if (control && announced_.announced > kLargestControlFile)
        return malformed(job, "a control file of " + std::string(count) + " bytes", result);
    file_ = step;
    answer(job, control ? LprStep::ControlFileCommand : LprStep::DataFileCommand, result);
}

size_t LprSession::takeFileBytes(LprJob& job, std::string_view input, Result& result)
{
    LprFile& file = currentFile(job);
    const uint64_t room = file.endedByClose ? UINT64_MAX : file.announced - fileBytes_;
    const size_t taken = static_cast<size_t>(std::min<uint64_t>(readLimit(input.size()), room));
    file.bytes.append(input.substr(0, taken));
    fileBytes_ += taken;
    if (!file.endedByClose && fileBytes_ == file.announced)
        expect_ = Expect::FileEnd;
    breakIfDue(job, result);
    return taken;
}

size_t LprSession::takeFileEnd(LprJob& job, std::string_view input, Result& result)
{
    const bool control = file_ == LprStep::ControlFile;
    if (input[0] != '\0') {
        malformed(job, std::string("the ") + (control ? "control" : "data") + " file does not end with a 0 byte",
                  result);
        return 1;
    }
    currentFile(job).whole = true;
    answer(job, *file_, result);
    return 1;
}

void LprSession::answer(LprJob& job, LprStep step, Result& result)
{
    const LprAnswer answer = script_.answer(step);
    switch (answer.kind) {
    case LprAnswerKind::Accept:
        result.replies += '\0';
        accepted(job, step, result);
        return;
    case LprAnswerKind::Refuse:
        result.replies += static_cast<char>(answer.refusal);
        refused(job, step);
        return;
    default:
        interrupt(job, answer.kind, result);
        if (stalled_)
            held_ = step;
    }
}

void LprSession::interrupt(LprJob& job, LprAnswerKind kind, Result& result)
{
    switch (kind) {
    case LprAnswerKind::Stall:
        stalled_ = job.stalled = true;
        return;
    case LprAnswerKind::Reset:
        result.then = Then::Reset;
        return;
    default:
        result.then = Then::Close;
    }
}

void LprSession::accepted(LprJob& job, LprStep step, Result& result)
{
    switch (step) {
    case LprStep::QueueCommand:
        expect_ = Expect::Subcommand;
        return;
    case LprStep::ControlFileCommand:
        job.controlFile = announced_;
        break;
    case LprStep::DataFileCommand:
        job.dataFiles.push_back(announced_);
        breakDone_ = false;
        break;
    case LprStep::ControlFile:
    case LprStep::DataFile:
        file_.reset();
        expect_ = Expect::Subcommand;
        return;
    }
    fileBytes_ = 0;
    expect_ = announced_.endedByClose || announced_.announced > 0 ? Expect::FileBytes : Expect::FileEnd;
    breakIfDue(job, result);
}

void LprSession::refused(LprJob& job, LprStep step)
{
    job.refused.push_back(step);
    if (step == LprStep::ControlFile)
        job.controlFile.reset();
    else if (step == LprStep::DataFile)
        job.dataFiles.pop_back();
    if (step != LprStep::QueueCommand)
        file_.reset();
    expect_ = Expect::Subcommand;
}

void LprSession::malformed(LprJob& job, const std::string& what, Result& result)
{
    job.malformed = what;
    result.replies += kLpdError;
    result.then = Then::Close;
}

void LprSession::breakIfDue(LprJob& job, Result& result)
{
    if (file_ != LprStep::DataFile || !script_.dataBreak || breakDone_ || fileBytes_ < script_.dataBreak->afterBytes)
        return;
    breakDone_ = true;
    interrupt(job, script_.dataBreak->kind, result);
}

LprFile& LprSession::currentFile(LprJob& job)
{
    return file_ == LprStep::ControlFile ? *job.controlFile : job.dataFiles.back();
}

} // namespace devsim
