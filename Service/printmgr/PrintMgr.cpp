#include "PrintMgr.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

struct EntryCache {
    PRINTMGR_ENTRY getMonIfLevel = nullptr;
    PRINTMGR_ENTRY noticeStartEx = nullptr;
    PRINTMGR_ENTRY noticeStart = nullptr;
    PRINTMGR_ENTRY sendEx = nullptr;
    PRINTMGR_ENTRY send = nullptr;
    PRINTMGR_ENTRY noticeEnd = nullptr;
    PRINTMGR_ENTRY needSendNoticeMessage = nullptr;
    PRINTMGR_ENTRY getNoticeHost = nullptr;
    PRINTMGR_ENTRY setExtInfo = nullptr;
    PRINTMGR_ENTRY getExtInfo = nullptr;
    PRINTMGR_ENTRY attributeGetA = nullptr;
    PRINTMGR_ENTRY attributeGetW = nullptr;
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
    static clOutsideLibrary* instance = new clOutsideLibrary(buildLibraryPath, clOutsideLibrary::MISSING_FILE_OR_MODULE);
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

bool validLevel(DWORD level)
{
    return level == 1 || level == 2;
}

// The start notice by the library's level: the Ex entry, or the plain one and a handle of our own.
int noticeStart(LPCSTR printer, DWORD jobId, LPSTR document, DWORD fieldCount, HANDLE* phNotice)
{
    DWORD level = 0;
    PrGetMonIfLevelD(&level);
    if (level != 0) {
        PrStatusNoticeStartExBlock block = {const_cast<LPSTR>(printer), document, &jobId, &fieldCount, phNotice};
        return CallPrintMgrEntry("PrStatusNoticeStartExD", &g_entries.noticeStartEx, &block);
    }
    PrStatusNoticeStartBlock block = {0, 0, const_cast<LPSTR>(printer), document, jobId, fieldCount};
    int result = CallPrintMgrEntry("PrStatusNoticeStartD", &g_entries.noticeStart, &block);
    if (result == 0 && makeNoticeHandle(phNotice) != 0)
        return -1;
    return result;
}

// A zero-filled parameter block written at the library's offsets.
template <size_t Bytes>
class RawBlock {
public:
    template <class T>
    RawBlock& put(size_t offset, T value)
    {
        memcpy(bytes_ + offset, &value, sizeof value);
        return *this;
    }
    RawBlock& tag(LPCSTR fourChars)
    {
        memcpy(bytes_ + 8, fourChars, 4);
        return *this;
    }
    template <class T>
    T get(size_t offset) const
    {
        T value;
        memcpy(&value, bytes_ + offset, sizeof value);
        return value;
    }
    void* data() { return bytes_; }

private:
    alignas(8) BYTE bytes_[Bytes] = {};
};

// A DWORD at 8, the pointers from 16, then the output buffer (cleared first) and its size.
int callWithOutputBuffer(LPCSTR entry, PRINTMGR_ENTRY* slot, DWORD value, std::initializer_list<LPVOID> pointers,
                         LPSTR buffer, DWORD bufferBytes)
{
    if (!buffer)
        return failWith(ERROR_INVALID_PARAMETER);
    memset(buffer, 0, bufferBytes);
    RawBlock<64> block;
    size_t offset = 16;
    block.put(8, value);
    for (LPVOID pointer : pointers) {
        block.put(offset, pointer);
        offset += 8;
    }
    block.put(offset, buffer).put(offset + 8, bufferBytes);
    return finish(CallPrintMgrEntry(entry, slot, block.data()));
}

// The block of the extended-information entries; the key at 16 is required.
RawBlock<56> extInfoBlock(LPCSTR tag, DWORD value, LPVOID key, DWORD first, DWORD second, LPVOID data,
                          DWORD dataBytes)
{
    RawBlock<56> block;
    block.tag(tag).put(12, value).put(16, key).put(24, first).put(28, second).put(32, data).put(40, dataBytes);
    return block;
}

int missingKey()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return PRINTMGR_NOT_AVAILABLE;
}

int attributeGet(LPCSTR entry, PRINTMGR_ENTRY* slot, const void* name, DWORD* value)
{
    if (!name || !value)
        return failWith(ERROR_INVALID_PARAMETER);
    RawBlock<16> block;
    block.put(0, name);
    int result = CallPrintMgrEntry(entry, slot, block.data());
    *value = block.get<DWORD>(8);
    return finish(result);
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
    int result = noticeStart(ansiPrinter, jobId, ansiDocument, fieldCount, phNotice);
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
    return PrStatusSendExD(static_cast<LPCSTR>(ansiPrinter), jobId, status, extCount, extInfo, extSize, notice, text);
}

int PrStatusSendExD(LPCSTR printer, DWORD jobId, DWORD status, DWORD extCount, LPVOID extInfo, DWORD extSize,
                    PrNoticeInfo* notice, LPCSTR text)
{
    if (!printer)
        return failWith(ERROR_INVALID_PARAMETER);
    DWORD level = 0;
    PrGetMonIfLevelD(&level);
    PrStatusSendExBlock block = {};
    block.lpszPrinter = const_cast<LPSTR>(printer);
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
    if (!resolved && result == PRINTMGR_NOT_AVAILABLE)
        return PrStatusSendD(printer, jobId, statusForOldLevel(status), notice, text);
    return finish(result);
}

int PrStatusNoticeEndD(LPCWSTR printer, DWORD jobId)
{
    AnsiStrings strings;
    DWORD error = 0;
    LPSTR ansiPrinter = strings.add(printer, &error);
    if (!ansiPrinter)
        return failWith(error);
    return PrStatusNoticeEndD(static_cast<LPCSTR>(ansiPrinter), jobId);
}

int PrStatusNoticeEndD(LPCSTR printer, DWORD jobId)
{
    if (!printer)
        return failWith(ERROR_INVALID_PARAMETER);
    PrStatusNoticeEndBlock block = {0, const_cast<LPSTR>(printer), jobId};
    return finish(CallPrintMgrEntry("PrStatusNoticeEndD", &g_entries.noticeEnd, &block));
}

int PrStatusNoticeStartExD(LPCSTR printer, DWORD jobId, DWORD level, LPSTR document, DWORD fieldCount,
                           HANDLE* phNotice)
{
    if (!printer || !document || !phNotice)
        return failWith(ERROR_INVALID_PARAMETER);
    *phNotice = nullptr;
    if (!validLevel(level))
        return failWith(ERROR_INVALID_LEVEL);
    return finish(noticeStart(printer, jobId, document, fieldCount, phNotice));
}

int PrStatusNoticeStartD(LPCSTR printer, DWORD jobId, DWORD level, LPSTR document, DWORD fieldCount)
{
    if (!printer || !document)
        return failWith(ERROR_INVALID_PARAMETER);
    if (!validLevel(level))
        return failWith(ERROR_INVALID_LEVEL);
    PrStatusNoticeStartBlock block = {0, 0, const_cast<LPSTR>(printer), document, jobId, fieldCount};
    return finish(CallPrintMgrEntry("PrStatusNoticeStartD", &g_entries.noticeStart, &block));
}

int PrStatusNoticeStartD(LPCWSTR printer, DWORD jobId, LPCWSTR document, DWORD fieldCount)
{
    AnsiStrings strings;
    DWORD error = 0;
    LPSTR ansiPrinter = strings.add(printer, &error);
    LPSTR ansiDocument = ansiPrinter ? strings.addBuffer(document, PRINTMGR_DOCUMENT_BYTES, &error) : nullptr;
    if (!ansiDocument)
        return failWith(error);
    return PrStatusNoticeStartD(static_cast<LPCSTR>(ansiPrinter), jobId, 1, ansiDocument, fieldCount);
}

int PrStatusSendD(LPCSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice, LPCSTR text)
{
    if (!printer)
        return failWith(ERROR_INVALID_PARAMETER);
    PrStatusSendBlock block = {};
    block.lpszPrinter = const_cast<LPSTR>(printer);
    block.dwJobId = jobId;
    block.dwStatus = status;
    block.lpNotice = notice;
    block.lpszText = const_cast<LPSTR>(text);
    return finish(CallPrintMgrEntry("PrStatusSendD", &g_entries.send, &block));
}

int PrStatusSendD(LPCWSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice, LPCSTR text)
{
    AnsiStrings strings;
    DWORD error = 0;
    LPSTR ansiPrinter = strings.add(printer, &error);
    if (!ansiPrinter)
        return failWith(error);
    return PrStatusSendD(static_cast<LPCSTR>(ansiPrinter), jobId, status, notice, text);
}

int PrNeedSendNoticeMessageD(DWORD value, LPVOID first, LPVOID second, LPVOID third, LPSTR buffer,
                             DWORD bufferBytes)
{
    return callWithOutputBuffer("PrNeedSendNoticeMessageD", &g_entries.needSendNoticeMessage, value,
                                {first, second, third}, buffer, bufferBytes);
}

int PrGetNoticeHostD(DWORD value, LPVOID first, LPVOID second, LPSTR buffer, DWORD bufferBytes)
{
    return callWithOutputBuffer("PrGetNoticeHostD", &g_entries.getNoticeHost, value, {first, second}, buffer,
                                bufferBytes);
}

int PrSetExtInfoD(DWORD value, LPVOID key, DWORD first, DWORD second, LPVOID data, DWORD dataBytes)
{
    if (!key)
        return missingKey();
    auto block = extInfoBlock("SETE", value, key, first, second, data, dataBytes);
    return finish(CallPrintMgrEntry("PrSetExtInfoD", &g_entries.setExtInfo, block.data()));
}

int PrGetExtInfoD(LPCSTR tag, DWORD value, LPVOID key, DWORD first, DWORD second, LPVOID buffer, DWORD bufferBytes,
                  DWORD* returned)
{
    if (!tag || (strcmp(tag, "GETE") != 0 && strcmp(tag, "GETJ") != 0))
        return failWith(ERROR_INVALID_PARAMETER);
    if (!key)
        return missingKey();
    bool withValues = strcmp(tag, "GETE") == 0;
    auto block = extInfoBlock(tag, value, key, withValues ? first : 0, withValues ? second : 0, buffer, bufferBytes);
    int result = CallPrintMgrEntry("PrGetExtInfoD", &g_entries.getExtInfo, block.data());
    if (returned && (result == 0 || result == PRINTMGR_EXT_MORE_DATA))
        *returned = block.get<DWORD>(44);
    return finish(result);
}

int PrGetExtInfoD(DWORD value, LPVOID key, DWORD ids[2])
{
    if (!ids)
        return failWith(ERROR_INVALID_PARAMETER);
    if (!key)
        return missingKey();
    DWORD buffer[2] = {};
    auto block = extInfoBlock("GEID", value, key, 0, 0, buffer, sizeof buffer);
    int result = CallPrintMgrEntry("PrGetExtInfoD", &g_entries.getExtInfo, block.data());
    if (result == 0)
        memcpy(ids, buffer, sizeof buffer);
    return finish(result);
}

int PrAttributeGetDA(LPCSTR name, DWORD* value)
{
    return attributeGet("PrAttributeGetDA", &g_entries.attributeGetA, name, value);
}

int PrAttributeGetDW(LPCWSTR name, DWORD* value)
{
    return attributeGet("PrAttributeGetDW", &g_entries.attributeGetW, name, value);
}
