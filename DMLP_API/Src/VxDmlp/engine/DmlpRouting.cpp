// The optional routing plug-in, loaded from the folder of this module.
#include <string.h>

#include "DmlpEngine.h"

namespace {

const char kModuleName[] = "VxDmlp.dll";
const char kPluginName[] = "VxRouting.dll";

// The plug-in's path: this module's path cut after its last separator, then the plug-in's name.
bool PluginPath(char* path, DWORD size)
{
    HMODULE self = GetModuleHandleA(kModuleName);
    if (self == nullptr)
        return false;
    const DWORD length = GetModuleFileNameA(self, path, size);
    if (length == 0 || length >= size)
        return false;
    char* cut = nullptr;
    for (char* at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/')
            cut = at + 1;
    }
    if (cut == nullptr || (size_t)(cut - path) + sizeof kPluginName > size)
        return false;
    memcpy(cut, kPluginName, sizeof kPluginName);
    return true;
}

bool IsAllZero(const VxTransAddress* address)
{
    const uint8_t* bytes = (const uint8_t*)address;
    for (size_t i = 0; i < sizeof *address; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

} // namespace

void DmlpLoadRouting(void)
{
    g_dmlp.routing = nullptr;
    g_dmlp.routingInitialize = nullptr;
    g_dmlp.routingSelect = nullptr;
    g_dmlp.routingShutdown = nullptr;
    char path[MAX_PATH];
    if (!PluginPath(path, sizeof path))
        return;
    g_dmlp.routing = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (g_dmlp.routing == nullptr)
        return;
    g_dmlp.routingInitialize = (VxRoutingInitializeProc)GetProcAddress(g_dmlp.routing, VXROUTING_INITIALIZE_NAME);
    g_dmlp.routingSelect = (VxRoutingSelectProc)GetProcAddress(g_dmlp.routing, VXROUTING_SELECT_NAME);
    g_dmlp.routingShutdown = (VxRoutingShutdownProc)GetProcAddress(g_dmlp.routing, VXROUTING_SHUTDOWN_NAME);
    if (g_dmlp.routingInitialize != nullptr)
        g_dmlp.routingInitialize();
}

void DmlpUnloadRouting(void)
{
    if (g_dmlp.routingShutdown != nullptr)
        g_dmlp.routingShutdown();
    if (g_dmlp.routing != nullptr)
        FreeLibrary(g_dmlp.routing);
    g_dmlp.routing = nullptr;
    g_dmlp.routingInitialize = nullptr;
    g_dmlp.routingSelect = nullptr;
    g_dmlp.routingShutdown = nullptr;
}

void DmlpSelectLocal(uint32_t endpoint, VxTransAddressPair* pair)
{
    const bool inet = pair->protocol == VXTRANS_PROTOCOL_TCP || pair->protocol == VXTRANS_PROTOCOL_UDP;
    if (inet && g_dmlp.routingSelect != nullptr) {
        VxTransAddressPair chosen = *pair;
        memset(&chosen.local, 0, sizeof chosen.local);
        g_dmlp.routingSelect(&chosen);
        // A zero local half means no choice: the transport's own address stands.
        if (!IsAllZero(&chosen.local)) {
            VxTransEndpointAddress own = {};
            VxTransGetLocalAddress(endpoint, 1, &own);
            DmlpTransportAddress* local = (DmlpTransportAddress*)&chosen.local;
            local->u.inet.port = ((const DmlpTransportAddress*)&own.address)->u.inet.port;
            pair->local = chosen.local;
            return;
        }
    }
    VxTransEndpointAddress own = {};
    if (VxTransGetLocalAddress(endpoint, 1, &own) >= 0)
        pair->local = own.address;
}
