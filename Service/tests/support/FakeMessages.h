// The message manager's calls for unit tests: every message and cancel recorded.
#pragma once

#include <map>
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
    // The answer a message gets (select number; 0 = none yet) and the event its answer sets.
    void answer(DWORD messageId, DWORD select);
    int receive(DWORD messageId, DWORD* select);
    void select(DWORD messageId, ULONGLONG eventValue);

    LONG sendResult = 7;
    int receiveResult = 0;
    bool createEvent = true;

private:
    std::mutex m_lock;
    std::vector<MessageCall> m_messages;
    std::vector<DWORD> m_cancelled;
    std::map<DWORD, DWORD> m_answers;
    std::map<DWORD, ULONGLONG> m_events;
};
