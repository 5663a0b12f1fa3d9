#include "ServiceTesting.h"

#include "WatchDevice.h"

#include <cstring>
#include <thread>

namespace svctest {

namespace {

BOOL collect(const PAL_EVENTLOG_ENTRY* entry, void* context)
{
    if (std::u16string(entry->source) != u"OutputBeaconService2")
        return TRUE;
    Event event{entry->eventId, entry->eventType, {}};
    for (WORD i = 0; i < entry->stringCount; ++i)
        event.strings.emplace_back(entry->strings[i]);
    static_cast<std::vector<Event>*>(context)->push_back(event);
    return TRUE;
}

} // namespace

std::vector<Event> serviceEvents()
{
    std::vector<Event> events;
    palReadEventLog(collect, &events);
    return events;
}

ClJobID clJobId(DWORD data1, const char* text)
{
    ClJobID id;
    memset(&id, 0, sizeof id);
    id.Data1 = data1;
    memcpy(id.JobText, text, strlen(text));
    return id;
}

DWORD ipv4(BYTE a, BYTE b, BYTE c, BYTE d)
{
    const BYTE bytes[4] = {a, b, c, d};
    DWORD address;
    memcpy(&address, bytes, 4);
    return address;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Context::Context()
{
    context_.pPrnComData = new clPrnComData;
    context_.pPrnJobData4V2 = new clPrnJobData4V2;
    context_.IPAddrMap = new IPAddressPrinterMap;
    context_.hSvcEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    context_.pPrnComData->SetContext(&context_);
}

Context::~Context()
{
    SetEvent(context_.hSvcEvent);
    // The service waits for each watch thread a bounded time, which a scaled tick makes short: the
    // tables go only once every thread that reaches them has ended, however loaded the machine is.
    bool ended = waitFor([&] {
        context_.pPrnComData->TerminatePrinterInstance();
        return !context_.pPrnComData->WatchThreadsRunning();
    }, std::chrono::seconds(60));
    if (!ended)
        return;
    // As the service's shutdown does once the watch threads have ended.
    FreeRetiredSubscribeContexts();
    delete context_.pPrnComData;
    delete context_.pPrnJobData4V2;
    delete context_.IPAddrMap;
    CloseHandle(context_.hSvcEvent);
}

} // namespace svctest
