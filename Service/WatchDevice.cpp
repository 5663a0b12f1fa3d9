// The watch thread's frame: its parameter block and a thread that lives until the stop event or
// JTRK_MSG_ENDTHREAD. The device watch itself (subscription and polling) runs inside this frame.
#include "WatchDevice.h"

#include <cstring>

#include "ThreadMessages.h"

namespace {

LPWSTR copyName(LPCWSTR name)
{
    size_t chars = static_cast<size_t>(lstrlenW(name)) + 1;
    LPWSTR copy = new WCHAR[chars];
    memcpy(copy, name, chars * sizeof(WCHAR));
    return copy;
}

} // namespace

DeviceThreadParam* NewDeviceThreadParam(LPCWSTR printer, LPCWSTR port, JTRKServiceContext* context)
{
    auto* param = new DeviceThreadParam{copyName(printer), copyName(port), context, 0};
    return param;
}

void FreeDeviceThreadParam(DeviceThreadParam* param)
{
    if (!param)
        return;
    delete[] param->lpPrinterName;
    delete[] param->lpPortName;
    delete param;
}

unsigned __stdcall WatchDeviceThreadEx(void* argument)
{
    auto* param = static_cast<DeviceThreadParam*>(argument);
    // The queue exists before anyone is told of the thread, so a first JTRK_MSG_STARTJOB is kept.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    HANDLE stop = param->pContext ? param->pContext->hSvcEvent : nullptr;
    bool running = stop != nullptr;
    while (running) {
        DWORD result = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1)
            break;
        while (running && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            running = msg.message != JTRK_MSG_ENDTHREAD;
    }
    FreeDeviceThreadParam(param);
    return 0;
}
