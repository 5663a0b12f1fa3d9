#include "MsgMgr.h"

#include <algorithm>
#include <cstring>

#include "OutsideLibrary.h"

namespace {

struct EntryCache {
    MSGM_ENTRY sendMessage = nullptr;
    MSGM_ENTRY receiveMessage = nullptr;
    MSGM_ENTRY cancelReply = nullptr;
    MSGM_ENTRY eventSelect = nullptr;
    MSGM_ENTRY createNamedEvent = nullptr;
};

EntryCache g_entries;

// Value 5 (the folder, with its separator) + "HBMSGM64.dll"; FALSE when the section cannot be
// read or the path does not fit.
BOOL buildLibraryPath(char* path, size_t pathBytes)
{
    MsgmError error = {};
    char folder[MSGM_FOLDER_BYTES];
    if (GetMsgmSharedValue(folder, 5, &error) != 0)
        return FALSE;
    size_t length = strlen(folder);
    if (length + sizeof MSGM_LIBRARY > std::min<size_t>(pathBytes, MSGM_PATH_BYTES))
        return FALSE;
    memcpy(path, folder, length);
    memcpy(path + length, MSGM_LIBRARY, sizeof MSGM_LIBRARY);
    return TRUE;
}

clOutsideLibrary& library()
{
    static clOutsideLibrary* instance = new clOutsideLibrary(buildLibraryPath, clOutsideLibrary::MISSING_FILE);
    return *instance;
}

const char* sectionName()
{
    return IsGlobalNamespaceOS() ? MSGM_GLOBAL_PREFIX MSGM_SECTION_NAME : MSGM_SECTION_NAME;
}

} // namespace

int CallMsgmEntry(LPCSTR lpszEntry, MSGM_ENTRY* cacheSlot, void* block)
{
    return library().iCall(lpszEntry, cacheSlot, block);
}

LPVOID OpenMsgmSharedMemory(MsgmError* error, HANDLE* handle)
{
    *handle = OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName());
    if (!*handle) {
        *error = {MSGM_STEP_OPEN, GetLastError()};
        return nullptr;
    }
    LPVOID view = MapViewOfFile(*handle, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        *error = {MSGM_STEP_MAP, GetLastError()};
        CloseHandle(*handle);
        *handle = nullptr;
    }
    return view;
}

void CloseMsgmSharedMemory(LPVOID view, HANDLE handle)
{
    if (view)
        UnmapViewOfFile(view);
    if (handle)
        CloseHandle(handle);
}

int GetMsgmSharedValue(void* out, DWORD number, MsgmError* error)
{
    HANDLE handle = nullptr;
    const auto* info = static_cast<const MsgmSharedInfo*>(OpenMsgmSharedMemory(error, &handle));
    if (!info)
        return -1;
    const DWORD* value = nullptr;
    switch (number) {
    case 5: {
        // The section's text need not end within its 260 bytes: at most 259 and a terminator.
        size_t length = strnlen(info->szFolder, MSGM_FOLDER_BYTES - 1);
        memcpy(out, info->szFolder, length);
        static_cast<char*>(out)[length] = 0;
        break;
    }
    case 1: value = &info->dwValue1; break;
    case 2: value = &info->dwValue2; break;
    case 3: value = &info->dwValue3; break;
    case 4: value = &info->dwValue4; break;
    case 6: value = &info->dwValue6; break;
    case 8: value = &info->dwValue8; break;
    case 9: value = &info->dwValue9; break;
    case 10: value = &info->dwValue10; break;
    default: break;
    }
    if (value)
        memcpy(out, value, sizeof(DWORD));
    CloseMsgmSharedMemory(const_cast<MsgmSharedInfo*>(info), handle);
    return 0;
}

DWORD GetWinVersion()
{
    return GetVersion();
}

BOOL IsGlobalNamespaceOS()
{
    DWORD version = GetWinVersion();
    return (version & 0x80000000u) == 0 && LOBYTE(LOWORD(version)) >= 5;
}

int MsgmiSendMessageEx_d(DWORD kind, MsgmMessageRecord* message, const MsgmSenderRecord* sender,
                         MsgmChoiceHeader* choices, LPSTR text)
{
    MsgmSendMessageBlock block = {};
    block.dwKind = kind;
    block.lpszText = text;
    if (sender)
        block.sender = *sender;
    block.lpChoices = choices;
    block.lpMessage = message;
    return CallMsgmEntry("MsgmiSendMessageEx_d", &g_entries.sendMessage, &block);
}

int MsgmiReceiveMessage_d(DWORD messageId, void* reply)
{
    MsgmReceiveBlock block = {};
    block.dwMessageId = messageId;
    block.lpReply = reply;
    return CallMsgmEntry("MsgmiReceiveMessage_d", &g_entries.receiveMessage, &block);
}

int MsgmiCancelReplyV31_d(WORD kind, DWORD messageId)
{
    MsgmCancelTarget target = {};
    target.wKind = kind;
    target.dwMessageId = messageId;
    MsgmCancelBlock block = {kind, &target};
    return CallMsgmEntry("MsgmiCancelReplyV31_d", &g_entries.cancelReply, &block);
}

void MsgmiEventSelect_d(DWORD messageId, ULONGLONG eventValue)
{
    MsgmEventSelectBlock block = {};
    block.dwMessageId = messageId;
    block.ullEvent = eventValue;
    CallMsgmEntry("MsgmiEventSelect_d", &g_entries.eventSelect, &block);
}

int MsgmiCreateNamedEvent_d(HANDLE* phEvent, ULONGLONG* eventValue)
{
    MsgmCreateEventBlock block = {phEvent, eventValue};
    return CallMsgmEntry("MsgmiCreateNamedEvent_d", &g_entries.createNamedEvent, &block);
}
