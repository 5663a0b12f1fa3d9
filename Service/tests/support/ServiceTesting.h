// Helpers of the service's unit tests: the event log read back, a context with its tables, client
// job ids and bounded waits.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "ClientJobId.h"
#include "PrnComData.h"
#include "PrnJobData4V2.h"
#include "ServiceContext.h"

namespace svctest {

struct Event {
    DWORD id;
    WORD type;
    std::vector<std::u16string> strings;
};

// The service's entries in the event log, oldest first.
std::vector<Event> serviceEvents();

ClJobID clJobId(DWORD data1, const char* text);
DWORD ipv4(BYTE a, BYTE b, BYTE c, BYTE d);

// Polls the condition every 10 ms until it holds or the time runs out.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20));

// A service context with its own tables, stop event and address map, as the service main makes it.
class Context {
public:
    Context();
    ~Context();
    JTRKServiceContext* get() { return &context_; }
    clPrnComData& printers() { return *context_.pPrnComData; }
    clPrnJobData4V2& jobs() { return *context_.pPrnJobData4V2; }
    void stop() { SetEvent(context_.hSvcEvent); }

private:
    JTRKServiceContext context_{};
};

} // namespace svctest
