// The message manager's calls for unit tests: every message and cancel recorded.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

struct MessageCall {
    std::u16string printer;
    DWORD jobId;
    WORD msgNo;
    DWORD textId;
    std::string document;
};

class FakeMessages {
public:
    static FakeMessages& instance();
    void reset();
    std::vector<MessageCall> messages();
    std::vector<DWORD> cancelled();
    void recordMessage(MessageCall call);
    void recordCancel(DWORD messageId);

    LONG sendResult = 7;

private:
    std::mutex m_lock;
    std::vector<MessageCall> m_messages;
    std::vector<DWORD> m_cancelled;
};
