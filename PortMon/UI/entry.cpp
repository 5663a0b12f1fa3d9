// The module's entry: its handle, kept at load (the constructor plays DllMain's process attach),
// and the MONITORUI table.
#include "jtrkmnui.h"

static HINSTANCE g_hModule = NULL;

__attribute__((constructor)) static void UiProcessAttach(void)
{
    HMODULE hModule = NULL;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCWSTR)(void*)&UiProcessAttach, &hModule))
        g_hModule = hModule;
}

HINSTANCE UiModule(void)
{
    return g_hModule;
}

static MONITORUI g_MonitorUI = {sizeof(MONITORUI), AddPortUI, ConfigurePortUI, DeletePortUI};

static_assert(sizeof(MONITORUI) == 32, "MONITORUI is 32 bytes");

PMONITORUI WINAPI InitializePrintMonitorUI(void)
{
    UiTraceIn(W("InitializePrintMonitorUI"));
    UiTraceOutBool(W("InitializePrintMonitorUI"), TRUE);
    return &g_MonitorUI;
}
