#include "PrintMgr.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct EntryCache {
    PRINTMGR_ENTRY getMonIfLevel = nullptr;
    PRINTMGR_ENTRY noticeStartEx = nullptr;
    PRINTMGR_ENTRY noticeStart = nullptr;
    PRINTMGR_ENTRY sendEx = nullptr;
    PRINTMGR_ENTRY send = nullptr;
    PRINTMGR_ENTRY noticeEnd = nullptr;
};

EntryCache g_entries;

// Library folder + "\HBPHSTD64.dll"; FALSE when the folder is unknown or the path too long.
BOOL buildLibraryPath(char* path, size_t pathBytes)
{
    if (!GetPrintMgrComponentPath(path))
        return FALSE;
    const char suffix[] = "\\" PRINTMGR_LIBRARY;
    size_t length = strlen(path);
    if (length + strlen(suffix) >= std::min<size_t>(pathBytes, PRINTMGR_PATH_BYTES))
        return FALSE;
    memcpy(path + length, suffix, sizeof suffix);
    return TRUE;
}

clOutsideLibrary& library()
{
    static clOutsideLibrary* instance = new clOutsideLibrary(buildLibraryPath);
    return *instance;
}

// The wide strings of one call in the ANSI code page, freed together; the last error survives
// the frees.
class AnsiStrings {
public:
    ~AnsiStrings()
    {
        DWORD error = GetLastError();
        for (LPSTR text : texts_)
            HeapFree(GetProcessHeap(), 0, text);
        SetLastError(error);
    }
    // NULL text converts as "".
    LPSTR add(LPCWSTR text, DWORD* error)
    {
        LPSTR converted = AllocAnsiString(GetProcessHeap(), text ? text : W(""), error);
        if (converted)
            texts_.push_back(converted);
        return converted;
    }
    // A zero-filled buffer of at least minimum bytes holding text.
    LPSTR addBuffer(LPCWSTR text, size_t minimum, DWORD* error)
    {
        LPSTR converted = add(text, error);
        if (!converted)
            return nullptr;
        size_t length = strlen(converted);
        if (length + 1 >= minimum)
            return converted;
        auto* buffer = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, minimum));
        if (!buffer) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        memcpy(buffer, converted, length);
        texts_.push_back(buffer);
        return buffer;
    }

private:
    std::vector<LPSTR> texts_;
};

int failWith(DWORD error)
{
    SetLastError(error);
    return -1;
}

// The library's document (ANSI) back into the caller's wide buffer, cut to its size.
BOOL copyDocumentBack(LPCSTR ansi, LPWSTR document, DWORD documentChars)
{
    if (!document || documentChars == 0)
        return TRUE;
    int needed = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (needed <= 0)
        return FALSE;
    std::vector<WCHAR> wide(static_cast<size_t>(needed));
    if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), needed) <= 0)
        return FALSE;
    size_t length = std::min<size_t>(static_cast<size_t>(needed) - 1, documentChars - 1);
    memcpy(document, wide.data(), length * sizeof(WCHAR));
    document[length] = 0;
    return TRUE;
}

int makeNoticeHandle(HANDLE* phNotice)
{
    auto* handle = static_cast<PrNoticeHandle*>(LocalAlloc(LPTR, sizeof(PrNoticeHandle)));
    if (!handle)
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    handle->dwVersion = 1;
    handle->dwCount = 1;
    handle->lReserved = -1;
    *phNotice = handle;
    return 0;
}

DWORD statusForOldLevel(DWORD status)
{
    return (status & PRINTMGR_STATUS_NEW_BIT) ? PRINTMGR_STATUS_OLD_LEVEL : status;
}

// The last error as the entry left it after a failure, else 0.
int finish(int result)
{
    if (result >= 0)
        SetLastError(0);
    return result;
}

} // namespace

int CallPrintMgrEntry(LPCSTR lpszEntry, PRINTMGR_ENTRY* cacheSlot, void* block)
{
    return library().iCall(lpszEntry, cacheSlot, block);
}

BOOL GetPrintMgrComponentPath(LPSTR buffer)
{
    if (!buffer)
        return FALSE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRINTMGR_REG_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    char value[PRINTMGR_PATH_BYTES];
    DWORD size = sizeof value;
    LSTATUS status = RegQueryValueExA(key, PRINTMGR_REG_VALUE, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return FALSE;
    // Stored data need not end with a terminator; a value filling all 260 bytes has no room for one.
    size_t length = strnlen(value, size);
    if (length >= PRINTMGR_PATH_BYTES)
        return FALSE;
    memcpy(buffer, value, length);
    buffer[length] = 0;
    return TRUE;
}

BOOL IsPrintMgrInstalled()
{
    char path[PRINTMGR_PATH_BYTES];
    return GetPrintMgrComponentPath(path);
}

LPSTR AllocAnsiString(HANDLE heap, LPCWSTR text, DWORD* error)
{
    if (!text) {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        *error = GetLastError();
        return nullptr;
    }
    auto* buffer = static_cast<LPSTR>(HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(length) * 2));
    if (!buffer) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, length * 2, nullptr, nullptr) <= 0) {
        *error = GetLastError();
        HeapFree(heap, 0, buffer);
        return nullptr;
    }
    *error = 0;
    return buffer;
}

void PrGetMonIfLevelD(DWORD* lpdwLevel)
{
    if (!lpdwLevel)
        return;
    *lpdwLevel = 0;
    PrGetMonIfLevelBlock block = {lpdwLevel};
    CallPrintMgrEntry("PrGetMonIfLevelD", &g_entries.getMonIfLevel, &block);
}

int PrStatusNoticeStartExD(LPCWSTR printer, DWORD jobId, DWORD, LPWSTR document, DWORD documentChars,
                           DWORD fieldCount, HANDLE* phNotice)
{
    if (!phNotice)
        return failWith(ERROR_INVALID_PARAMETER);
    *phNotice = nullptr;
    AnsiStrings strings;
    DWORD error = 0;
    LPSTR ansiPrinter = strings.add(printer, &error);
    LPSTR ansiDocument = ansiPrinter ? strings.addBuffer(document, PRINTMGR_DOCUMENT_BYTES, &error) : nullptr;
    if (!ansiDocument)
        return failWith(error);
    size_t documentBytes = std::max<size_t>(strlen(ansiDocument) + 1, PRINTMGR_DOCUMENT_BYTES);
    DWORD level = 0;
    PrGetMonIfLevelD(&level);
    int result;
    if (level != 0) {
        PrStatusNoticeStartExBlock block = {ansiPrinter, ansiDocument, &jobId, &fieldCount, phNotice};
        result = CallPrintMgrEntry("PrStatusNoticeStartExD", &g_entries.noticeStartEx, &block);
    } else {
        PrStatusNoticeStartBlock block = {0, 0, ansiPrinter, ansiDocument, jobId, fieldCount};
        result = CallPrintMgrEntry("PrStatusNoticeStartD", &g_entries.noticeStart, &block);
        if (result == 0 && makeNoticeHandle(phNotice) != 0)
            return -1;
    }
    if (result != 0)
        return finish(result);
    ansiDocument[documentBytes - 1] = 0; // whatever the library wrote, the text ends in its buffer
    if (!copyDocumentBack(ansiDocument, document, documentChars)) {
        error = GetLastError();
        LocalFree(*phNotice);
        *phNotice = nullptr;
        return failWith(error);
    }
    return finish(result);
}

int PrStatusSendExD(LPCWSTR printer, DWORD jobId, DWORD status, DWORD extCount, LPVOID extInfo, DWORD extSize,
                    PrNoticeInfo* notice, LPCSTR text)
{
    AnsiStrings strings;
    DWORD error = 0;
    LPSTR ansiPrinter = strings.add(printer, &error);
    if (!ansiPrinter)
        return failWith(error);
    DWORD level = 0;
    PrGetMonIfLevelD(&level);
    PrStatusSendExBlock block = {};
    block.lpszPrinter = ansiPrinter;
    block.dwJobId = jobId;
    block.dwStatus = status;
    block.dwExtCount = extCount;
    block.lpExtInfo = extInfo;
    block.dwExtSize = extSize;
    block.lpNotice = notice;
    block.lpszText = const_cast<LPSTR>(text);
    if (level == 0 && block.dwExtCount == 2) {
        // The old interface takes one value: the first of the two is dropped.
        block.dwExtCount = 1;
        if (block.lpExtInfo) {
            block.lpExtInfo = static_cast<BYTE*>(block.lpExtInfo) + sizeof(DWORD);
            block.dwExtSize = sizeof(DWORD);
        }
    }
    if (level < 2)
        block.dwStatus = statusForOldLevel(block.dwStatus);
    bool resolved = false;
    int result = library().iCall("PrStatusSendExD", &g_entries.sendEx, &block, &resolved);
    if (!resolved && result == PRINTMGR_NOT_AVAILABLE) {
        PrStatusSendBlock plain = {};
        plain.lpszPrinter = ansiPrinter;
        plain.dwJobId = jobId;
        plain.dwStatus = statusForOldLevel(status);
        plain.lpNotice = notice;
        plain.lpszText = const_cast<LPSTR>(text);
        plain.ulPassThrough = block.ulPassThrough;
        result = CallPrintMgrEntry("PrStatusSendD", &g_entries.send, &plain);
    }
    return finish(result);
}

int PrStatusNoticeEndD(LPCWSTR printer, DWORD jobId)
{
    AnsiStrings strings;
    DWORD error = 0;
    LPSTR ansiPrinter = strings.add(printer, &error);
    if (!ansiPrinter)
        return failWith(error);
    PrStatusNoticeEndBlock block = {0, ansiPrinter, jobId};
    return finish(CallPrintMgrEntry("PrStatusNoticeEndD", &g_entries.noticeEnd, &block));
}
