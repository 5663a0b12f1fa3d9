#include "JCSDK.h"

const IID IID_IJCSDKSpooler = {0x5B3E91C2, 0x40AF, 0x4E6D, {0x9C, 0x1B, 0x7A, 0x2D, 0x6F, 0x08, 0xE3, 0x14}};
const IID IID_IJCSDKEvents = {0xC4D2A877, 0x1B5E, 0x4F30, {0x8E, 0x9A, 0x3F, 0x61, 0xB0, 0xD2, 0xC9, 0x55}};

namespace {

HRESULT checked(HRESULT result, IJCSDKSpooler* spooler)
{
    if (FAILED(result))
        _com_issue_errorex(result, spooler, IID_IJCSDKSpooler);
    return result;
}

} // namespace

HRESULT ControlDeviceJob(IJCSDKSpooler* spooler, BSTR deviceJobId, LONG command)
{
    return checked(spooler->ControlDeviceJob(deviceJobId, command), spooler);
}

HRESULT SetJobEvents(IJCSDKSpooler* spooler, LONG mask)
{
    return checked(spooler->SetJobEvents(mask), spooler);
}

HRESULT ResetJobEvents(IJCSDKSpooler* spooler)
{
    return checked(spooler->ResetJobEvents(), spooler);
}

HRESULT UnadviseJobEvents(IJCSDKSpooler* spooler, JCSDKEventSink* sink)
{
    if (!spooler || !sink)
        return E_INVALIDARG;
    IConnectionPointContainer* container = nullptr;
    HRESULT result = spooler->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(result)) {
        IConnectionPoint* point = nullptr;
        result = container->FindConnectionPoint(IID_IJCSDKEvents, &point);
        if (SUCCEEDED(result)) {
            result = point->Unadvise(sink->Cookie());
            point->Release();
        }
        container->Release();
    }
    sink->SetCookie(JCSDK_COOKIE_UNADVISED);
    return result;
}
