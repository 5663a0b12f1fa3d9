// The client library for the service's unit tests: trace and cancel answers scripted per client
// job id, every call recorded.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "JTRKCLIB.h"

struct TraceAnswer {
    BYTE traceByte;
    DMLLIB_RESULTCODE code;
    DWORD impressions;
};

struct ClibCall {
    std::string name; // "TraceJob", "CancelJob", "ReleaseBuff", "Initialize", "Terminate", "SubscribeEvent",
                      // "Unsubscribe", "GetStatusInfo", "ResetBind"
    std::u16string printer;
    ClJobID clJobId;
    DmlpBinding binding;
    void* released;
    void* callbackContext = nullptr; // a subscription's callback context
    ULONGLONG tick = 0;              // the platform's tick when the call came
};

class ClibDouble {
public:
    static ClibDouble& instance();
    void reset();

    void answerTrace(const ClJobID& id, TraceAnswer answer);
    void answerCancel(const ClJobID& id, DMLLIB_RESULTCODE code);
    // Device statuses: each read takes the next scripted answer; the last one stays.
    void answerStatus(std::vector<std::pair<DMLLIB_RESULTCODE, StatusInfo>> answers);
    std::pair<DMLLIB_RESULTCODE, StatusInfo> status();
    std::vector<ClibCall> calls();
    size_t count(const std::string& name);

    // Unscripted traces answer "still processing".
    TraceAnswer trace(const ClJobID& id);
    DMLLIB_RESULTCODE cancel(const ClJobID& id);
    void record(ClibCall call);

    BOOL initializeResult = TRUE;
    BOOL terminateResult = TRUE;
    DMLLIB_RESULTCODE releaseResult = 1;
    DWORD resetBindResult = 1;
    bool failedRebindReleases = false; // a failed rebind leaves no binding
    DmlpBinding reboundHandle = reinterpret_cast<DmlpBinding>(0xB2);
    DmlpBinding subscribedHandle = reinterpret_cast<DmlpBinding>(0xB1);
    // No code: a subscription of the tests' watch threads writes no event unless a test asks for one.
    DMLLIB_RESULTCODE subscribeResult = 0;
    std::vector<WORD> resetBindPorts;
    // Runs on the caller's thread after each call is recorded, with the call's name: a test makes
    // something happen while the service waits for the device.
    std::function<void(const std::string&)> onCall;

private:
    std::mutex m_lock;
    std::map<std::string, TraceAnswer> m_traces;
    std::map<std::string, DMLLIB_RESULTCODE> m_cancels;
    std::vector<ClibCall> m_calls;
    std::vector<std::pair<DMLLIB_RESULTCODE, StatusInfo>> m_statuses;
};
