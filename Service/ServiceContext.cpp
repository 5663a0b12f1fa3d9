#include "ServiceContext.h"

#include "ServiceTrace.h"

namespace {

const char kSource[] = "JTRKSVC2";

} // namespace

LPCWSTR IPAddressPrinterMap::Append(DWORD address, LPCWSTR printer)
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::list<WString>& names = m_map[address];
    names.emplace_back(printer);
    return names.back().c_str();
}

std::vector<LPCWSTR> IPAddressPrinterMap::Names(DWORD address) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<LPCWSTR> names;
    auto found = m_map.find(address);
    if (found != m_map.end()) {
        for (const WString& name : found->second)
            names.push_back(name.c_str());
    }
    return names;
}

LPCWSTR IPAddressPrinterMap::Intern(LPCWSTR printer)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_names.emplace(printer).first->c_str();
}

void ReadServiceSettings(JTRKServiceContext* context, LPCWSTR iniPath)
{
    if (!iniPath)
        return;
    context->GetPageCount = GetPrivateProfileIntW(W("Device"), W("GetPageCount"), 1, iniPath) != 0;
    context->StraightDelete = GetPrivateProfileIntW(W("Device"), W("StraightDelete"), 1, iniPath) != 0;
    if (!context->GetPageCount) {
        context->SkipTrace = TRUE;
    } else {
        UINT skipTrace = GetPrivateProfileIntW(W("Device"), W("SkipTrace"), 0, iniPath);
        context->SkipTrace = skipTrace == 1 || skipTrace == 99;
        context->GetPageCount = skipTrace != 1;
    }
    int sleep = static_cast<int>(GetPrivateProfileIntW(W("Device"), W("Sleep"), 2000, iniPath));
    context->Sleep = sleep < 1 ? 2000 : static_cast<DWORD>(sleep);
    context->MaxResetCount = static_cast<int>(GetPrivateProfileIntW(W("Device"), W("ResetCount"), 0, iniPath));
    SVC_TRACE(kSource, "JTRKServiceMain", W("PageCount : [%ls]"), SvcOnOffText(context->GetPageCount));
    SVC_TRACE(kSource, "JTRKServiceMain", W("SkipTrace : [%ls]"), SvcOnOffText(context->SkipTrace));
    SVC_TRACE(kSource, "JTRKServiceMain", W("MaxResetCount : [%d]"), context->MaxResetCount);
    SVC_TRACE(kSource, "JTRKServiceMain", W("Sleep : [%d]"), context->Sleep);
}
