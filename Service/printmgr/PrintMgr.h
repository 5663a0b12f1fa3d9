// Run-time binding of the outside print manager's client library HBPHSTD64.dll: found through the
// registry, loaded on first use, each entry resolved by name and called with one parameter block.
// Results: the entry's int; PRINTMGR_NOT_AVAILABLE when the library or the entry is missing,
// -1 for other load failures.
#pragma once

#include <cstddef>

#include <windows.h>

#include "jtrkplatform.h"

#include "OutsideLibrary.h"

#define PRINTMGR_NOT_AVAILABLE OUTSIDE_NOT_AVAILABLE
#define PRINTMGR_REG_KEY "Software\\Harbor\\HBDBCMN\\CurrentVersion\\MP01"
#define PRINTMGR_REG_VALUE "ComponentPath"
#define PRINTMGR_LIBRARY "HBPHSTD64.dll"
#define PRINTMGR_PATH_BYTES 260
// The document buffer the library may rewrite holds at least this many bytes with its terminator.
#define PRINTMGR_DOCUMENT_BYTES 260

// A status with this bit is sent as PRINTMGR_STATUS_OLD_LEVEL to libraries below level 2.
#define PRINTMGR_STATUS_NEW_BIT 0x4000
#define PRINTMGR_STATUS_OLD_LEVEL 512

// Given with a status when the state has a user text.
typedef struct _PrNoticeInfo {
    WORD dwMsgNo;
    WORD dwMsgType;
    DWORD dwReserved; // 0
    LPSTR lpszSender; // ANSI sender name
} PrNoticeInfo;

// Made by the binding for libraries of level 0, which return no handle of their own.
typedef struct _PrNoticeHandle {
    DWORD dwVersion;
    DWORD dwCount;
    LONG lReserved;
} PrNoticeHandle;

// ---- Parameter blocks (little-endian, 8-byte pointers)
typedef struct _PrGetMonIfLevelBlock {
    DWORD* lpdwLevel;
} PrGetMonIfLevelBlock;

typedef struct _PrStatusNoticeStartExBlock {
    LPSTR lpszPrinter;
    LPSTR lpszDocument; // the library may rewrite it within PRINTMGR_DOCUMENT_BYTES
    DWORD* lpdwJobId;
    DWORD* lpdwFieldCount;
    HANDLE* lphNotice;
} PrStatusNoticeStartExBlock;

typedef struct _PrStatusNoticeStartBlock {
    DWORD dwReserved1;
    DWORD dwReserved2;
    LPSTR lpszPrinter;
    LPSTR lpszDocument;
    DWORD dwJobId;
    DWORD dwFieldCount;
} PrStatusNoticeStartBlock;

typedef struct _PrStatusSendExBlock {
    DWORD dwReserved1;
    DWORD dwReserved2;
    LPSTR lpszPrinter;
    DWORD dwJobId;
    DWORD dwStatus;
    DWORD dwExtCount;
    LPVOID lpExtInfo;
    DWORD dwExtSize;
    PrNoticeInfo* lpNotice;
    LPSTR lpszText;
    ULONG_PTR ulPassThrough;
} PrStatusSendExBlock;

typedef struct _PrStatusSendBlock {
    DWORD dwReserved1;
    DWORD dwReserved2;
    LPSTR lpszPrinter;
    DWORD dwJobId;
    DWORD dwStatus;
    PrNoticeInfo* lpNotice;
    LPSTR lpszText;
    ULONG_PTR ulPassThrough;
} PrStatusSendBlock;

typedef struct _PrStatusNoticeEndBlock {
    ULONGLONG ullReserved;
    LPSTR lpszPrinter;
    DWORD dwJobId;
} PrStatusNoticeEndBlock;

static_assert(sizeof(PrNoticeInfo) == 16 && offsetof(PrNoticeInfo, lpszSender) == 8, "PrNoticeInfo layout");
static_assert(sizeof(PrNoticeHandle) == 12, "PrNoticeHandle layout");
static_assert(offsetof(PrStatusNoticeStartExBlock, lphNotice) == 32, "PrStatusNoticeStartExD block");
static_assert(offsetof(PrStatusNoticeStartBlock, dwJobId) == 24 && offsetof(PrStatusNoticeStartBlock, dwFieldCount) == 28,
              "PrStatusNoticeStartD block");
static_assert(sizeof(PrStatusSendExBlock) == 72 && offsetof(PrStatusSendExBlock, dwExtCount) == 24 &&
                  offsetof(PrStatusSendExBlock, lpExtInfo) == 32 && offsetof(PrStatusSendExBlock, dwExtSize) == 40 &&
                  offsetof(PrStatusSendExBlock, lpNotice) == 48 && offsetof(PrStatusSendExBlock, ulPassThrough) == 64,
              "PrStatusSendExD block");
static_assert(sizeof(PrStatusSendBlock) == 48 && offsetof(PrStatusSendBlock, lpNotice) == 24 &&
                  offsetof(PrStatusSendBlock, ulPassThrough) == 40,
              "PrStatusSendD block");
static_assert(offsetof(PrStatusNoticeEndBlock, dwJobId) == 16, "PrStatusNoticeEndD block");

typedef OUTSIDE_ENTRY PRINTMGR_ENTRY;

// Loads the library when needed (a failure is not remembered), resolves the entry into its cache
// slot and calls it.
int CallPrintMgrEntry(LPCSTR lpszEntry, PRINTMGR_ENTRY* cacheSlot, void* block);
// The library's folder from the registry; buffer of PRINTMGR_PATH_BYTES.
BOOL GetPrintMgrComponentPath(LPSTR buffer);
BOOL IsPrintMgrInstalled();
// A copy of text in the ANSI code page on heap, twice the converted length; NULL with *error set.
LPSTR AllocAnsiString(HANDLE heap, LPCWSTR text, DWORD* error);

// The library's interface level; stays 0 when the entry cannot be called.
void PrGetMonIfLevelD(DWORD* lpdwLevel);
// The start notice. document (documentChars wide characters with the terminator) may come back
// rewritten by the library, cut to its buffer. *phNotice: free with LocalFree.
int PrStatusNoticeStartExD(LPCWSTR printer, DWORD jobId, DWORD level, LPWSTR document, DWORD documentChars,
                           DWORD fieldCount, HANDLE* phNotice);
int PrStatusSendExD(LPCWSTR printer, DWORD jobId, DWORD status, DWORD extCount, LPVOID extInfo, DWORD extSize,
                    PrNoticeInfo* notice, LPCSTR text);
int PrStatusNoticeEndD(LPCWSTR printer, DWORD jobId);

// ---- Entries the service does not call. A missing argument gives -1 with error 87.
// ANSI forms: as the wide ones without conversion; level must be 1 or 2 (else error 124).
int PrStatusNoticeStartExD(LPCSTR printer, DWORD jobId, DWORD level, LPSTR document, DWORD fieldCount,
                           HANDLE* phNotice);
int PrStatusNoticeStartD(LPCSTR printer, DWORD jobId, DWORD level, LPSTR document, DWORD fieldCount);
int PrStatusSendExD(LPCSTR printer, DWORD jobId, DWORD status, DWORD extCount, LPVOID extInfo, DWORD extSize,
                    PrNoticeInfo* notice, LPCSTR text);
int PrStatusNoticeEndD(LPCSTR printer, DWORD jobId);
// The plain status, sent as given (no level adaptation).
int PrStatusSendD(LPCSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice, LPCSTR text);
// Wide forms: the strings converted to the ANSI code page (NULL as ""); the start notice at level 1.
int PrStatusNoticeStartD(LPCWSTR printer, DWORD jobId, LPCWSTR document, DWORD fieldCount);
int PrStatusSendD(LPCWSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice, LPCSTR text);

// The output buffer (required) is cleared before the call.
int PrNeedSendNoticeMessageD(DWORD value, LPVOID first, LPVOID second, LPVOID third, LPSTR buffer,
                             DWORD bufferBytes);
int PrGetNoticeHostD(DWORD value, LPVOID first, LPVOID second, LPSTR buffer, DWORD bufferBytes);

// Extended information under a key (required: PRINTMGR_NOT_AVAILABLE without it).
int PrSetExtInfoD(DWORD value, LPVOID key, DWORD first, DWORD second, LPVOID data, DWORD dataBytes);
// tag "GETE" or "GETJ" (first and second are sent with "GETE" only); *returned (optional) gets the
// library's DWORD on result 0 or PRINTMGR_EXT_MORE_DATA.
int PrGetExtInfoD(LPCSTR tag, DWORD value, LPVOID key, DWORD first, DWORD second, LPVOID buffer, DWORD bufferBytes,
                  DWORD* returned);
// "GEID": the library's two DWORDs into ids on result 0.
int PrGetExtInfoD(DWORD value, LPVOID key, DWORD ids[2]);
#define PRINTMGR_EXT_MORE_DATA (-7)

// The attribute named by text; *value is 0 unless the library sets it.
int PrAttributeGetDA(LPCSTR name, DWORD* value);
int PrAttributeGetDW(LPCWSTR name, DWORD* value);
