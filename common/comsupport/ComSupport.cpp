// The one call of the compiler's COM support library that the service needs and mingw-w64 does not
// ship (comdef.h declares it; Microsoft's compiler brings it in comsuppw.lib): a failed COM call
// becomes a _com_error carrying the object's error information, when it has some for the interface.
#include <windows.h>
#include <comdef.h>

void WINAPI _com_issue_errorex(HRESULT result, IUnknown* object, REFIID interfaceId)
{
    IErrorInfo* info = nullptr;
    ISupportErrorInfo* support = nullptr;
    if (object != nullptr && SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
        if (support->InterfaceSupportsErrorInfo(interfaceId) == S_OK && GetErrorInfo(0, &info) != S_OK)
            info = nullptr;
        support->Release();
    }
    throw _com_error(result, info);
}
