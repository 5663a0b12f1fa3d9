// Run-time binding of the outside message manager's library HBMSGM64.dll: its folder comes from the
// shared section the message manager publishes while it runs, the library is loaded on first use,
// each entry resolved by name and called with one parameter block.
// Results: the entry's int; MSGM_NOT_AVAILABLE when the folder cannot be read, the library's file is
// not found (load error 2) or the entry is missing; -1 for any other load failure, 126 included.
#pragma once

#include <cstddef>

#include <windows.h>

#include "jtrkplatform.h"

#include "OutsideLibrary.h"

#define MSGM_NOT_AVAILABLE OUTSIDE_NOT_AVAILABLE
// MsgmiReceiveMessage_d: the message manager does not know the message (it was started again, or
// its library loaded anew, since the message was sent).
#define MSGM_UNKNOWN_MESSAGE (-3)
#define MSGM_SECTION_NAME "HBMSGMMF"
#define MSGM_GLOBAL_PREFIX "Global\\"
#define MSGM_LIBRARY "HBMSGM64.dll"
#define MSGM_FOLDER_BYTES 260
#define MSGM_PATH_BYTES 260

// Kind of the messages the service sends.
#define MSGM_KIND_MESSAGE 0x920
// Choice ids of the answers.
#define MSGM_CHOICE_CONTINUE 0x44301
#define MSGM_CHOICE_DELETE 0x44400
#define MSGM_CHOICE_HOLD 0x44800
#define MSGM_CHOICE_HOLD_JOB 0x44801

// The section's layout; the service reads only value 5, the library's folder.
typedef struct _MsgmSharedInfo {
    char szFolder[MSGM_FOLDER_BYTES]; // value 5: ends with a path separator
    BYTE reserved1[12];
    DWORD dwValue1;
    DWORD dwValue2;
    DWORD dwValue3;
    DWORD dwValue4;
    BYTE reserved2[4];
    DWORD dwValue6;
    DWORD dwValue9;
    BYTE reserved3[4];
    DWORD dwValue8;
    DWORD dwValue10;
} MsgmSharedInfo;

static_assert(offsetof(MsgmSharedInfo, dwValue1) == 272 && offsetof(MsgmSharedInfo, dwValue4) == 284 &&
                  offsetof(MsgmSharedInfo, dwValue6) == 292 && offsetof(MsgmSharedInfo, dwValue9) == 296 &&
                  offsetof(MsgmSharedInfo, dwValue8) == 304 && offsetof(MsgmSharedInfo, dwValue10) == 308,
              "MsgmSharedInfo layout");

// Where opening the section failed: {37, error} at OpenFileMappingA, {23, error} at MapViewOfFile.
#define MSGM_STEP_OPEN 37
#define MSGM_STEP_MAP 23
typedef struct _MsgmError {
    DWORD dwStep;
    DWORD dwError;
} MsgmError;

// ---- Records of a message (zero-filled; the fixed words are the message manager's)
typedef struct _MsgmChoiceEntry {
    DWORD dwChoiceId;
    DWORD dwReserved;
    LPCSTR lpszLabel; // code page 932
    ULONGLONG ullReserved;
} MsgmChoiceEntry;

typedef struct _MsgmChoiceList {
    DWORD dwCount;
    DWORD dwReserved;
    const MsgmChoiceEntry* lpEntries;
} MsgmChoiceList;

typedef struct _MsgmChoiceHeader {
    DWORD dwHasChoices; // 1 with choices, else 0
    DWORD dwReserved;
    MsgmChoiceList* lpList; // NULL without choices
} MsgmChoiceHeader;

typedef struct _MsgmJobRecord {
    DWORD dwKind;      // 3
    DWORD dwSize;      // 40
    LPSTR lpszPrinter; // PrtName
    DWORD dwJobId;
    DWORD dwValue5; // 5
    DWORD dwValue1; // 1
    DWORD dwReserved;
    LPSTR lpszMachine; // MachineName
} MsgmJobRecord;

#define MSGM_TAG_BYTES 4
typedef struct _MsgmMessageRecord {
    WORD wVersion; // 0x100
    BYTE byFlag;   // 1
    BYTE reserved1[25];
    char szTag[MSGM_TAG_BYTES]; // "xxx"
    BYTE reserved2[16];
    MsgmJobRecord* lpJob;
    BYTE reserved3[32];
} MsgmMessageRecord;

// The three words at offset 24 of the send block.
typedef struct _MsgmSenderRecord {
    WORD wMsgNo;
    WORD wMsgType;
    DWORD dwReserved;
    LPSTR lpszSender;
    ULONGLONG ullReserved;
} MsgmSenderRecord;

// ---- Parameter blocks
typedef struct _MsgmSendMessageBlock {
    DWORD dwKind;
    DWORD dwReserved1;
    LPSTR lpszText;
    ULONGLONG ullReserved2;
    MsgmSenderRecord sender;
    MsgmChoiceHeader* lpChoices;
    ULONGLONG ullReserved3;
    MsgmMessageRecord* lpMessage;
} MsgmSendMessageBlock;

typedef struct _MsgmReceiveBlock {
    DWORD dwMessageId;
    DWORD dwReserved;
    void* lpReply;
} MsgmReceiveBlock;

// The reply record: five words, the select number (1 = first choice) in the second.
typedef struct _MsgmReply {
    ULONGLONG ullWord0;
    DWORD dwSelect;
    DWORD dwReserved;
    ULONGLONG ullWords[3];
} MsgmReply;

typedef struct _MsgmCancelTarget {
    WORD wKind;
    WORD wReserved;
    DWORD dwMessageId;
} MsgmCancelTarget;

typedef struct _MsgmCancelBlock {
    ULONGLONG ullKind;
    MsgmCancelTarget* lpTarget;
} MsgmCancelBlock;

typedef struct _MsgmEventSelectBlock {
    DWORD dwMessageId;
    DWORD dwReserved;
    ULONGLONG ullEvent;
} MsgmEventSelectBlock;

typedef struct _MsgmCreateEventBlock {
    HANDLE* lphEvent;      // receives the event handle
    ULONGLONG* lpullEvent; // receives the event value that MsgmiEventSelect_d takes
} MsgmCreateEventBlock;

static_assert(sizeof(MsgmChoiceEntry) == 24 && sizeof(MsgmChoiceList) == 16 && sizeof(MsgmChoiceHeader) == 16,
              "choice records");
static_assert(sizeof(MsgmJobRecord) == 40 && offsetof(MsgmJobRecord, dwJobId) == 16 &&
                  offsetof(MsgmJobRecord, lpszMachine) == 32,
              "job record");
static_assert(sizeof(MsgmMessageRecord) == 88 && offsetof(MsgmMessageRecord, szTag) == 28 &&
                  offsetof(MsgmMessageRecord, lpJob) == 48,
              "message record");
static_assert(sizeof(MsgmSendMessageBlock) == 72 && offsetof(MsgmSendMessageBlock, sender) == 24 &&
                  offsetof(MsgmSendMessageBlock, sender.lpszSender) == 32 &&
                  offsetof(MsgmSendMessageBlock, lpChoices) == 48 && offsetof(MsgmSendMessageBlock, lpMessage) == 64,
              "send block");
static_assert(sizeof(MsgmReply) == 40 && offsetof(MsgmReply, dwSelect) == 8, "reply record");
static_assert(sizeof(MsgmCancelTarget) == 8 && offsetof(MsgmCancelBlock, lpTarget) == 8, "cancel block");
static_assert(offsetof(MsgmEventSelectBlock, ullEvent) == 8 && offsetof(MsgmCreateEventBlock, lpullEvent) == 8,
              "event blocks");

typedef OUTSIDE_ENTRY MSGM_ENTRY;

int CallMsgmEntry(LPCSTR lpszEntry, MSGM_ENTRY* cacheSlot, void* block);
LPVOID OpenMsgmSharedMemory(MsgmError* error, HANDLE* handle);
void CloseMsgmSharedMemory(LPVOID view, HANDLE handle);
// Value 5 copies the folder into out (MSGM_FOLDER_BYTES; at most 259 bytes and a terminator);
// 1-4, 6, 8, 9, 10 store a DWORD. 0 after reading, -1 when the section cannot be opened.
int GetMsgmSharedValue(void* out, DWORD number, MsgmError* error);
DWORD GetWinVersion();
BOOL IsGlobalNamespaceOS();

int MsgmiSendMessageEx_d(DWORD kind, MsgmMessageRecord* message, const MsgmSenderRecord* sender,
                         MsgmChoiceHeader* choices, LPSTR text);
int MsgmiReceiveMessage_d(DWORD messageId, void* reply);
int MsgmiCancelReplyV31_d(WORD kind, DWORD messageId);
void MsgmiEventSelect_d(DWORD messageId, ULONGLONG eventValue);
int MsgmiCreateNamedEvent_d(HANDLE* phEvent, ULONGLONG* eventValue);
