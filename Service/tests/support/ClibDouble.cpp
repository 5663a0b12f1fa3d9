#include "ClibDouble.h"

#include <cstring>

namespace {

std::string key(const ClJobID& id)
{
    return std::string(reinterpret_cast<const char*>(&id), sizeof id);
}

ClJobID idOf(const ClJobID* id)
{
    ClJobID copy;
    memset(&copy, 0, sizeof copy);
    if (id)
        copy = *id;
    return copy;
}

} // namespace

ClibDouble& ClibDouble::instance()
{
    static ClibDouble clib;
    return clib;
}

void ClibDouble::reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_traces.clear();
    m_cancels.clear();
    m_calls.clear();
    initializeResult = TRUE;
    terminateResult = TRUE;
    releaseResult = 1;
    resetBindResult = 1;
    failedRebindReleases = false;
    reboundHandle = reinterpret_cast<DmlpBinding>(0xB2);
    subscribedHandle = reinterpret_cast<DmlpBinding>(0xB1);
    subscribeResult = 0;
    resetBindPorts.clear();
    m_statuses.clear();
    onCall = nullptr;
}

void ClibDouble::answerStatus(std::vector<std::pair<DMLLIB_RESULTCODE, StatusInfo>> answers)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_statuses = std::move(answers);
}

std::pair<DMLLIB_RESULTCODE, StatusInfo> ClibDouble::status()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_statuses.empty())
        return {0x00040001u, StatusInfo{1, 0, 0}};
    auto answer = m_statuses.front();
    if (m_statuses.size() > 1)
        m_statuses.erase(m_statuses.begin());
    return answer;
}

void ClibDouble::answerTrace(const ClJobID& id, TraceAnswer answer)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_traces[key(id)] = answer;
}

void ClibDouble::answerCancel(const ClJobID& id, DMLLIB_RESULTCODE code)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_cancels[key(id)] = code;
}

std::vector<ClibCall> ClibDouble::calls()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

size_t ClibDouble::count(const std::string& name)
{
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const ClibCall& call : m_calls)
        n += call.name == name ? 1 : 0;
    return n;
}

TraceAnswer ClibDouble::trace(const ClJobID& id)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_traces.find(key(id));
    return found == m_traces.end() ? TraceAnswer{DMLLIB_TRACE_PROCESSING, 0x00080001u, 0} : found->second;
}

DMLLIB_RESULTCODE ClibDouble::cancel(const ClJobID& id)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_cancels.find(key(id));
    return found == m_cancels.end() ? 0x00090001u : found->second;
}

void ClibDouble::record(ClibCall call)
{
    call.tick = GetTickCount64();
    std::string name = call.name;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_calls.push_back(std::move(call));
    }
    if (onCall)
        onCall(name);
}

extern "C" {

BOOL DMLLIB_Initialize(DmlpInstance* phAplh)
{
    ClibDouble::instance().record({"Initialize", u"", idOf(nullptr), nullptr, nullptr});
    *phAplh = ClibDouble::instance().initializeResult ? 0x5A5A : 0;
    return ClibDouble::instance().initializeResult;
}

BOOL DMLLIB_Terminate(DmlpInstance)
{
    ClibDouble::instance().record({"Terminate", u"", idOf(nullptr), nullptr, nullptr});
    return ClibDouble::instance().terminateResult;
}

DMLLIB_RESULTCODE DMLLIB_TraceJob(DmlpInstance, const WCHAR* lpPrinterName, const ClJobID* pClJobID, BYTE* pbyRtnTrace,
                                  DmlpBinding hBind, DWORD* ImprCompCnt, int)
{
    ClibDouble::instance().record({"TraceJob", lpPrinterName ? lpPrinterName : u"", idOf(pClJobID), hBind, nullptr});
    TraceAnswer answer = ClibDouble::instance().trace(idOf(pClJobID));
    *pbyRtnTrace = answer.traceByte;
    if (ImprCompCnt)
        *ImprCompCnt = answer.impressions;
    return answer.code;
}

DMLLIB_RESULTCODE DMLLIB_CancelJob(DmlpInstance, const WCHAR* lpPrinterName, const ClJobID* pClJobID, DmlpBinding hBind)
{
    ClibDouble::instance().record({"CancelJob", lpPrinterName ? lpPrinterName : u"", idOf(pClJobID), hBind, nullptr});
    return ClibDouble::instance().cancel(idOf(pClJobID));
}

DMLLIB_RESULTCODE DMLLIB_ReleaseBuff(DmlpInstance, const WCHAR* lpPrinterName, void* pReleaseParamBuff)
{
    ClibDouble::instance().record(
        {"ReleaseBuff", lpPrinterName ? lpPrinterName : u"", idOf(nullptr), nullptr, pReleaseParamBuff});
    return ClibDouble::instance().releaseResult;
}

DMLLIB_RESULTCODE DMLLIB_SubscribeEvent(DmlpInstance, const WCHAR* lpPrinterName, BYTE byMode,
                                        const DmlpCallback* pCallback, DmlpBinding* phBind, void*, int)
{
    ClibDouble& clib = ClibDouble::instance();
    clib.record({byMode == DMLLIB_EVENT_UNSUBSCRIBE ? "Unsubscribe" : "SubscribeEvent",
                 lpPrinterName ? lpPrinterName : u"", idOf(nullptr), phBind ? *phBind : nullptr, nullptr,
                 pCallback ? pCallback->context : nullptr});
    if (phBind)
        *phBind = byMode == DMLLIB_EVENT_UNSUBSCRIBE ? nullptr : (*phBind ? *phBind : clib.subscribedHandle);
    return clib.subscribeResult;
}

DMLLIB_RESULTCODE DMLLIB_GetStatusInfo(DmlpInstance, const WCHAR* lpPrinterName, const ClJobID* pClJobID,
                                       StatusInfo* lpstStatusInfo, DmlpBinding hBind, int)
{
    ClibDouble& clib = ClibDouble::instance();
    clib.record({"GetStatusInfo", lpPrinterName ? lpPrinterName : u"", idOf(pClJobID), hBind, nullptr});
    auto answer = clib.status();
    if (LOWORD(answer.first) == 1)
        *lpstStatusInfo = answer.second;
    return answer.first;
}

DWORD DMLLIB_ResetBind(DmlpInstance, const WCHAR* lpPrinterName, DmlpBinding* phBind, WORD wLocalPort)
{
    ClibDouble& clib = ClibDouble::instance();
    clib.record({"ResetBind", lpPrinterName ? lpPrinterName : u"", idOf(nullptr), phBind ? *phBind : nullptr, nullptr});
    {
        clib.resetBindPorts.push_back(wLocalPort);
    }
    if (clib.resetBindResult == 1)
        *phBind = clib.reboundHandle;
    else if (clib.failedRebindReleases)
        *phBind = nullptr;
    return clib.resetBindResult;
}

} // extern "C"
