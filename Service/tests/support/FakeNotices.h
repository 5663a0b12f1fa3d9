// Print-manager notices for unit tests: each call is recorded, results are scripted.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "jtrkplatform.h"

struct NoticeCall {
    std::string kind; // "start", "status", "print", "end"
    WString printer;
    DWORD jobId;
    DWORD value; // status or N-up value
};

class FakeNotices {
public:
    static FakeNotices& instance();
    void reset();
    std::vector<NoticeCall> calls();
    void record(const char* kind, LPCWSTR printer, DWORD jobId, DWORD value);

    int startResult = 0;
    int printResult = 0;
    // Result of a status 0x400 question; other statuses answer statusResult.
    int pausedAnswer = 0;
    int statusResult = 0;

private:
    std::mutex m_lock;
    std::vector<NoticeCall> m_calls;
};
