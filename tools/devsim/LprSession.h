// One connection of the simulated line printer daemon: reads the RFC 1179 "receive a printer
// job" command and its subcommands from the bytes as they come, records them in an LprJob, and
// says what to answer and what the connection does next. No sockets here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "LprJob.h"

namespace devsim {

class LprSession {
public:
    enum class Then {
        Read,  // go on reading
        Stall, // stop reading until resume()
        Close, // close gracefully
        Reset, // reset the connection
    };
    struct Result {
        size_t taken = 0;    // bytes of the input the device took
        std::string replies; // to send, in order
        Then then = Then::Read;
    };

    LprSession(LprScript script, uint64_t sizeUnknownFrom);

    // Takes bytes from the front of input into job; stops early when the session stalls or the
    // connection is to end.
    Result take(LprJob& job, std::string_view input);
    // The sender closed its end after everything taken so far.
    void senderClosed(LprJob& job);
    // A stalled session goes on; an answer it held back goes out as an acknowledgement.
    Result resume(LprJob& job);
    bool stalled() const { return stalled_; }
    // The most bytes the next read may take, so that a break inside a data file lands on its byte.
    size_t readLimit(size_t bufferSize) const;

private:
    enum class Expect { QueueCommand, Subcommand, FileBytes, FileEnd };

    size_t takeLine(LprJob& job, std::string_view input, Result& result);
    size_t takeFileBytes(LprJob& job, std::string_view input, Result& result);
    size_t takeFileEnd(LprJob& job, std::string_view input, Result& result);
    void handleQueueCommand(LprJob& job, Result& result);
    void handleSubcommand(LprJob& job, Result& result);
    void handleFileCommand(LprJob& job, LprStep step, Result& result);
    void answer(LprJob& job, LprStep step, Result& result);
    void interrupt(LprJob& job, LprAnswerKind kind, Result& result);
    void accepted(LprJob& job, LprStep step, Result& result);
    void refused(LprJob& job, LprStep step);
    void malformed(LprJob& job, const std::string& what, Result& result);
    void breakIfDue(LprJob& job, Result& result);
    LprFile& currentFile(LprJob& job);

    const LprScript script_;
    const uint64_t sizeUnknownFrom_;
    Expect expect_ = Expect::QueueCommand;
    std::string line_;              // the command line read so far
    std::optional<LprStep> file_;   // ControlFile or DataFile while one is announced or coming
    LprFile announced_;             // the file its accepted command will start
    uint64_t fileBytes_ = 0;        // bytes of the current file so far
    bool breakDone_ = false;        // the data break of the current data file happened
    bool stalled_ = false;
    std::optional<LprStep> held_;   // the step whose answer a stall holds back
};

} // namespace devsim
