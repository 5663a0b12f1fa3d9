// The stand-in message manager's own pipe protocol between its library (in the caller's process)
// and the program hbmsgm. Every number little-endian; a text is a 32-bit length and its bytes.
//
// Requests (one message each; the reply is one message):
//   SEND    pid, the deep copy of one message (MsgmMessage)  -> int32 id (> 0) or a negative error
//   CANCEL  id                                               -> int32 0, or -1 when not open
//   ANSWER  id, verb                                         -> int32 result, text (for the tool)
//   LIST                                                     -> text (for the tool)
//   LISTEN  -> int32 0 once registered; the connection stays open and each answer of any message
//           then arrives on it as id, select
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#define MSGM_PIPE_NAME "\\\\.\\pipe\\HBMSGM64"

namespace msgm {

enum Op : uint32_t { kSend = 1, kCancel = 2, kAnswer = 3, kList = 4, kListen = 5 };

// What MsgmiReceiveMessage_d answers for a message the running manager does not know.
constexpr int kUnknownMessage = -3;

struct Choice {
    uint32_t id = 0;
    std::string label; // code page 932
};

// One message as the library copies it out of the caller's records.
struct Message {
    uint32_t kind = 0;
    uint32_t msgNo = 0;
    uint32_t type = 0;
    std::string text;   // code page 932
    std::string sender; // code page 932
    std::vector<Choice> choices;
    uint32_t jobId = 0;
    std::string printer;
    std::string machine;
    // The caller's records as they were, for the journal.
    std::string sendBlock, choiceHeader, choiceList, choiceEntries, messageRecord, jobRecord;
};

class Writer {
public:
    Writer& u32(uint32_t value)
    {
        bytes_.append(reinterpret_cast<const char*>(&value), 4);
        return *this;
    }
    Writer& text(const std::string& value)
    {
        u32(static_cast<uint32_t>(value.size()));
        bytes_ += value;
        return *this;
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}
    bool u32(uint32_t& value)
    {
        if (bytes_.size() - offset_ < 4)
            return false;
        memcpy(&value, bytes_.data() + offset_, 4);
        offset_ += 4;
        return true;
    }
    bool text(std::string& value)
    {
        uint32_t length = 0;
        if (!u32(length) || bytes_.size() - offset_ < length)
            return false;
        value.assign(bytes_, offset_, length);
        offset_ += length;
        return true;
    }

private:
    const std::string& bytes_;
    size_t offset_ = 0;
};

inline void writeMessage(Writer& out, const Message& m)
{
    out.u32(m.kind).u32(m.msgNo).u32(m.type).text(m.text).text(m.sender).u32(static_cast<uint32_t>(m.choices.size()));
    for (const Choice& choice : m.choices)
        out.u32(choice.id).text(choice.label);
    out.u32(m.jobId).text(m.printer).text(m.machine);
    out.text(m.sendBlock).text(m.choiceHeader).text(m.choiceList).text(m.choiceEntries);
    out.text(m.messageRecord).text(m.jobRecord);
}

inline bool readMessage(Reader& in, Message& m)
{
    uint32_t count = 0;
    if (!in.u32(m.kind) || !in.u32(m.msgNo) || !in.u32(m.type) || !in.text(m.text) || !in.text(m.sender) ||
        !in.u32(count) || count > 64)
        return false;
    m.choices.resize(count);
    for (Choice& choice : m.choices)
        if (!in.u32(choice.id) || !in.text(choice.label))
            return false;
    return in.u32(m.jobId) && in.text(m.printer) && in.text(m.machine) && in.text(m.sendBlock) &&
           in.text(m.choiceHeader) && in.text(m.choiceList) && in.text(m.choiceEntries) && in.text(m.messageRecord) &&
           in.text(m.jobRecord);
}

} // namespace msgm
