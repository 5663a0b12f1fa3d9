#include "OutsideTexts.h"

LPSTR AllocSenderName()
{
    auto* sender = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, OUTSIDE_SENDER_BYTES));
    if (sender && WideCharToMultiByte(CP_ACP, 0, OUTSIDE_SENDER_NAME, -1, sender, OUTSIDE_SENDER_BYTES, nullptr,
                                      nullptr) <= 0) {
        HeapFree(GetProcessHeap(), 0, sender);
        return nullptr;
    }
    return sender;
}

void FreeSenderName(LPSTR sender)
{
    if (sender)
        HeapFree(GetProcessHeap(), 0, sender);
}

LPSTR FormatDeviceText(DWORD textId, LPCSTR printer, LPCSTR document, LPCSTR user)
{
    char pattern[OUTSIDE_TEXT_BYTES];
    if (textId == 0 || LoadStringA(GetModuleHandleW(nullptr), textId, pattern, sizeof pattern) <= 0)
        return nullptr;
    DWORD_PTR inserts[3] = {reinterpret_cast<DWORD_PTR>(printer ? printer : ""),
                            reinterpret_cast<DWORD_PTR>(document ? document : ""),
                            reinterpret_cast<DWORD_PTR>(user ? user : "")};
    LPSTR text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  pattern, 0, 0, reinterpret_cast<LPSTR>(&text), 0,
                                  reinterpret_cast<va_list*>(inserts));
    if (length == 0) {
        LocalFree(text);
        return nullptr;
    }
    return text;
}
