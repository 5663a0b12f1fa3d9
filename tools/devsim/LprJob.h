// What the simulated line printer daemon records of a connection (RFC 1179 "receive a printer
// job"), and how it is told to answer each step.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

// The points at which the sender waits for the device's one-byte answer.
enum class LprStep {
    QueueCommand,       // "\x02queue\n"
    ControlFileCommand, // "\x02count cfA...\n"
    ControlFile,        // the control file and its 0 byte
    DataFileCommand,    // "\x03count dfA...\n"
    DataFile,           // the data file and its 0 byte (a data file ended by close gets no answer)
};

enum class LprAnswerKind {
    Accept, // 0
    Refuse, // the refusal byte; the connection stays, the refused file is dropped
    Stall,  // no answer and no more reading, until resume() or the sender gives up
    Close,  // a graceful close instead of the answer
    Reset,  // a reset instead of the answer
};

struct LprAnswer {
    LprAnswerKind kind = LprAnswerKind::Accept;
    uint8_t refusal = 1; // for Refuse
};

// Within every data file, after this many bytes: Stall, Close or Reset (no byte is sent).
struct LprDataBreak {
    uint64_t afterBytes = 0;
    LprAnswerKind kind = LprAnswerKind::Close;
};

struct LprScript {
    std::map<LprStep, LprAnswer> answers; // a step not listed is accepted
    std::optional<LprDataBreak> dataBreak;

    LprAnswer answer(LprStep step) const;
};

// Reads "STEP=ANSWER,..." (STEP: queue, cf-command, cf, df-command, df; ANSWER: ack,
// refuse[:BYTE], stall, close, reset) and "df@N=stall|close|reset"; false with a complaint.
bool parseLprScript(const std::string& text, LprScript& script, std::string& complaint);
const char* lprStepName(LprStep step);

enum class LprEnd {
    Open,           // still connected
    SenderClosed,   // the sender closed its end; the device closed too
    SenderReset,    // the connection broke
    ClosedByDevice, // a scripted close, or a command the device could not read
    ResetByDevice,  // a scripted reset
    Stopped,        // the receiver stopped first
};

struct LprFile {
    std::string name;          // "cfA123host", "dfA123host"
    uint64_t announced = 0;    // the count of its subcommand
    bool endedByClose = false; // announced as of unknown size: it ends with the connection
    std::string bytes;
    bool whole = false; // every announced byte and the 0 byte came (or the sender closed, if endedByClose)
};

struct LprJob {
    std::string peer;       // "address:port" of the sender
    uint16_t peerPort = 0;  // the sender's local port
    std::string stream;     // every byte the device took, in order
    std::optional<std::string> queue;
    std::optional<LprFile> controlFile;
    std::vector<LprFile> dataFiles;
    std::vector<LprStep> refused; // the steps answered with a refusal
    unsigned aborts = 0;          // "\x01\n" subcommands: the files received before were dropped
    std::string malformed;        // what the device could not read (it answered 2 and closed)
    bool stalled = false;
    LprEnd end = LprEnd::Open;

    // The queue command, a whole control file and whole data files were accepted, and the sender
    // closed the connection.
    bool complete() const;
    // The control file's lines: letter -> value, in order.
    std::multimap<char, std::string> controlLines() const;
    // The first value of a control-file line, "" when there is none.
    std::string controlLine(char letter) const;
};

} // namespace devsim
