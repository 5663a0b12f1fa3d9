// The DMLP job messages at the front of a job's data: gathered over WritePort calls, parsed for the
// client job id, the label and the N-up value, and stamped with the local time.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"

#define RECORD_HEAD_BYTES 20
#define RECORD_TAG 0xCDCA
#define RECORD_KIND_OFFSET 4
#define RECORD_LENGTH_OFFSET 8

// Record kinds (the DMLP method of each job message).
#define KIND_JOB_START 17
#define KIND_SET_JOB 18
#define KIND_JOB_END 19
#define KIND_END_SCAN 20
#define KIND_SET_DOCUMENT 24
#define KIND_JOB_START2 107

// Kind 18: uint16 attribute 8, uint8 text length (at least 32), text starting "PAU"; the label is
// text characters 8 to 31.
#define LABEL_ATTRIBUTE 8
#define LABEL_MIN_TEXT 32
#define LABEL_TEXT_OFFSET 3
#define LABEL_PAYLOAD_OFFSET 11
#define LABEL_PAYLOAD_BYTES (LABEL_TEXT_OFFSET + LABEL_MIN_TEXT)
static const char g_LabelPrefix[] = "PAU";

// Kind 24: uint16 attribute 0x08B5, then the N-up byte.
#define NUP_ATTRIBUTE 0x08B5
#define NUP_PAYLOAD_BYTES 3

// Kind 107: uint16 count, then {uint16 id, uint16 length, value} per attribute.
#define ATTRIBUTE_HEAD_BYTES 4
#define CLIENT_JOB_ID_ATTRIBUTE 280
#define CLIENT_JOB_ID_BYTES 64
#define STAMP_OFFSET 16  // JobInfo1, the first 8 characters of the job text
#define STAMP_CHARS 8
#define LABEL_TAIL_OFFSET 48  // the label takes JobInfo1 and value bytes 48 to 63

static WORD ReadBE16(const BYTE* p)
{
    return (WORD)((p[0] << 8) | p[1]);
}

static DWORD ReadBE32(const BYTE* p)
{
    return ((DWORD)p[0] << 24) | ((DWORD)p[1] << 16) | ((DWORD)p[2] << 8) | p[3];
}

static DWORD RecordKind(const BYTE* pRecord)
{
    return ReadBE16(pRecord + RECORD_KIND_OFFSET);
}

static DWORD RecordPayloadLength(const BYTE* pRecord)
{
    return ReadBE16(pRecord + RECORD_LENGTH_OFFSET);
}

// Walks the records of the data. Data that ends exactly after a record without an end record needs
// more data: a header split at a record boundary is still a header.
int JobHeaderScan(const BYTE* pData, DWORD cbData)
{
    DWORD dwOffset = 0;
    for (;;) {
        if (cbData - dwOffset <= RECORD_HEAD_BYTES)
            return JOBHEADER_NEED_MORE;
        const BYTE* pRecord = pData + dwOffset;
        if (ReadBE16(pRecord) != RECORD_TAG)
            return JOBHEADER_UNTAGGED;
        DWORD cbRecord = RECORD_HEAD_BYTES + RecordPayloadLength(pRecord);
        if (cbRecord > cbData - dwOffset)
            return JOBHEADER_NEED_MORE;
        if (RecordKind(pRecord) == KIND_JOB_END || RecordKind(pRecord) == KIND_END_SCAN)
            return JOBHEADER_END;
        dwOffset += cbRecord;
    }
}

// ---- Attribute lists (kind 107)

typedef struct _AttributeCursor {
    const BYTE* pNext;
    DWORD cbLeft;
    DWORD cLeft;  // attributes the list still announces
} AttributeCursor;

typedef struct _Attribute {
    WORD wId;
    DWORD cbValue;
    BYTE* pValue;
} Attribute;

static void BeginAttributes(AttributeCursor* pCursor, const BYTE* pPayload, DWORD cbPayload)
{
    pCursor->cLeft = cbPayload >= 2 ? ReadBE16(pPayload) : 0;
    pCursor->pNext = pPayload + 2;
    pCursor->cbLeft = cbPayload >= 2 ? cbPayload - 2 : 0;
}

// The next attribute that lies wholly inside the payload; an attribute that does not fit ends the walk.
static BOOL NextAttribute(AttributeCursor* pCursor, Attribute* pAttribute)
{
    if (pCursor->cLeft == 0 || pCursor->cbLeft < ATTRIBUTE_HEAD_BYTES)
        return FALSE;
    DWORD cbValue = ReadBE16(pCursor->pNext + 2);
    if (cbValue > pCursor->cbLeft - ATTRIBUTE_HEAD_BYTES)
        return FALSE;
    pAttribute->wId = ReadBE16(pCursor->pNext);
    pAttribute->cbValue = cbValue;
    pAttribute->pValue = (BYTE*)pCursor->pNext + ATTRIBUTE_HEAD_BYTES;
    pCursor->pNext += ATTRIBUTE_HEAD_BYTES + cbValue;
    pCursor->cbLeft -= ATTRIBUTE_HEAD_BYTES + cbValue;
    pCursor->cLeft--;
    return TRUE;
}

// Writes the day, hour, minute and second over JobInfo1 of every client job id in the list.
void StampJobHeader(LPBYTE pPayload, DWORD cbPayload)
{
    HANDLE hToken = g_MonSys.pfnRevertToPrinterSelf();
    EnterCriticalSection(&csJobHeader);
    AttributeCursor cursor;
    Attribute attribute;
    BeginAttributes(&cursor, pPayload, cbPayload);
    while (NextAttribute(&cursor, &attribute)) {
        if (attribute.wId != CLIENT_JOB_ID_ATTRIBUTE || attribute.cbValue != CLIENT_JOB_ID_BYTES)
            continue;
        SYSTEMTIME now;
        GetLocalTime(&now);
        char szStamp[STAMP_CHARS + 1];
        sprintf_s(szStamp, sizeof(szStamp), "%02u%02u%02u%02u", now.wDay, now.wHour, now.wMinute, now.wSecond);
        memcpy(attribute.pValue + STAMP_OFFSET, szStamp, STAMP_CHARS);
    }
    LeaveCriticalSection(&csJobHeader);
    g_MonSys.pfnImpersonatePrinterClient(hToken);
}

// ---- Parsing

typedef struct _HeaderResults {
    char label[JTMX_LABEL_BYTES];
    BYTE clientJobId[JTMX_CLIENT_JOB_ID_BYTES];
    BOOL bClientJobId;
    DWORD dwNup;
} HeaderResults;

// The client job id in host order: three big-endian numbers, then 56 bytes as they stand.
static void TakeClientJobId(const BYTE* pValue, BYTE* pClientJobId)
{
    DWORD dwData1 = ReadBE32(pValue);
    WORD wData2 = ReadBE16(pValue + 4);
    WORD wData3 = ReadBE16(pValue + 6);
    memcpy(pClientJobId, &dwData1, sizeof(dwData1));
    memcpy(pClientJobId + 4, &wData2, sizeof(wData2));
    memcpy(pClientJobId + 6, &wData3, sizeof(wData3));
    memcpy(pClientJobId + 8, pValue + 8, CLIENT_JOB_ID_BYTES - 8);
}

static void ReadAttributeList(const BYTE* pPayload, DWORD cbPayload, HeaderResults* pResults)
{
    AttributeCursor cursor;
    Attribute attribute;
    BeginAttributes(&cursor, pPayload, cbPayload);
    while (NextAttribute(&cursor, &attribute)) {
        if (attribute.wId != CLIENT_JOB_ID_ATTRIBUTE || attribute.cbValue < CLIENT_JOB_ID_BYTES)
            continue;
        memcpy(pResults->label, attribute.pValue + STAMP_OFFSET, STAMP_CHARS);
        memcpy(pResults->label + STAMP_CHARS, attribute.pValue + LABEL_TAIL_OFFSET,
               CLIENT_JOB_ID_BYTES - LABEL_TAIL_OFFSET);
        if (attribute.cbValue == CLIENT_JOB_ID_BYTES) {
            TakeClientJobId(attribute.pValue, pResults->clientJobId);
            pResults->bClientJobId = TRUE;
        }
    }
}

// A kind-18 text label: attribute 8, at least 32 characters, starting "PAU".
static BOOL TakeTextLabel(const BYTE* pPayload, DWORD cbPayload, HeaderResults* pResults)
{
    if (cbPayload < LABEL_PAYLOAD_BYTES || ReadBE16(pPayload) != LABEL_ATTRIBUTE ||
        pPayload[2] < LABEL_MIN_TEXT ||
        memcmp(pPayload + LABEL_TEXT_OFFSET, g_LabelPrefix, sizeof(g_LabelPrefix) - 1) != 0)
        return FALSE;
    memcpy(pResults->label, pPayload + LABEL_PAYLOAD_OFFSET, JTMX_LABEL_BYTES);
    char* pBlank = (char*)memchr(pResults->label, ' ', JTMX_LABEL_BYTES);
    if (pBlank)
        memset(pBlank, 0, JTMX_LABEL_BYTES - (size_t)(pBlank - pResults->label));
    return TRUE;
}

static void TakeNup(const BYTE* pPayload, DWORD cbPayload, HeaderResults* pResults)
{
    if (cbPayload >= NUP_PAYLOAD_BYTES && ReadBE16(pPayload) == NUP_ATTRIBUTE)
        pResults->dwNup = pPayload[2];
}

// Walks a header that JobHeaderScan found complete; stamps the client job ids in the data.
static void ParseRecords(LPBYTE pData, DWORD cbData, HeaderResults* pResults)
{
    BOOL bLabelAllowed = TRUE;
    DWORD dwOffset = 0;
    while (cbData - dwOffset >= RECORD_HEAD_BYTES) {
        LPBYTE pRecord = pData + dwOffset;
        DWORD cbPayload = RecordPayloadLength(pRecord);
        if (cbPayload > cbData - dwOffset - RECORD_HEAD_BYTES)
            return;
        LPBYTE pPayload = pRecord + RECORD_HEAD_BYTES;
        switch (RecordKind(pRecord)) {
        case KIND_JOB_START:
            bLabelAllowed = TRUE;
            break;
        case KIND_SET_JOB:
            if (bLabelAllowed && TakeTextLabel(pPayload, cbPayload, pResults))
                return;
            break;
        case KIND_JOB_END:
        case KIND_END_SCAN:
            return;
        case KIND_SET_DOCUMENT:
            TakeNup(pPayload, cbPayload, pResults);
            break;
        case KIND_JOB_START2:
            StampJobHeader(pPayload, cbPayload);
            ReadAttributeList(pPayload, cbPayload, pResults);
            bLabelAllowed = FALSE;
            break;
        default:
            break;
        }
        dwOffset += RECORD_HEAD_BYTES + cbPayload;
    }
}

static void TakeHeader(PPortEntry pPort, LPBYTE pData, DWORD cbData)
{
    HeaderResults results;
    memset(&results, 0, sizeof(results));
    ParseRecords(pData, cbData, &results);
    memcpy(pPort->szPauName, results.label, JTMX_LABEL_BYTES - 1);
    pPort->szPauName[JTMX_LABEL_BYTES - 1] = '\0';
    if (results.bClientJobId)
        memcpy(pPort->ClientJobId, results.clientJobId, JTMX_CLIENT_JOB_ID_BYTES);
    pPort->dwNup = results.dwNup;
    pPort->bHeaderParsed = TRUE;
}

// ---- Gathering

void ClearJobHeaderResults(PPortEntry pPort)
{
    memset(pPort->szPauName, 0, sizeof(pPort->szPauName));
    memset(pPort->ClientJobId, 0, sizeof(pPort->ClientJobId));
    pPort->dwNup = 0;
}

void FreeHeaderBuffer(PPortEntry pPort)
{
    free(pPort->pHeaderBuf);
    pPort->pHeaderBuf = NULL;
    pPort->cbHeaderBuf = 0;
}

// Gathering ends: what was held goes out first, then the call's own bytes when asked.
static void EndGathering(PPortEntry pPort, HeaderGather* pGather, BOOL bSendCall)
{
    pGather->pHeld = pPort->pHeaderBuf;
    pGather->cbHeld = pPort->cbHeaderBuf;
    pGather->bSendCall = bSendCall;
    SetPortState(pPort, PORT_STATE_HEADER_DONE);
}

// The first bytes of a job, parsed where they lie.
static int GatherFirst(PPortEntry pPort, LPBYTE pData, DWORD cbData, HeaderGather* pGather)
{
    int nScan = JobHeaderScan(pData, cbData);
    if (nScan == JOBHEADER_END) {
        TakeHeader(pPort, pData, cbData);
        EndGathering(pPort, pGather, TRUE);
        return 1;
    }
    if (nScan == JOBHEADER_NEED_MORE && cbData <= JOBHEADER_GATHER_LIMIT) {
        pPort->pHeaderBuf = (LPBYTE)malloc(cbData ? cbData : 1);
        if (pPort->pHeaderBuf) {
            if (cbData)
                memcpy(pPort->pHeaderBuf, pData, cbData);
            pPort->cbHeaderBuf = cbData;
            SetPortState(pPort, PORT_STATE_HEADER_INCOMPLETE);
            return 0;
        }
    }
    EndGathering(pPort, pGather, TRUE);
    return 0;
}

// Later bytes join the held ones, up to the gathering limit.
static int GatherMore(PPortEntry pPort, const BYTE* pData, DWORD cbData, HeaderGather* pGather)
{
    if (cbData > JOBHEADER_GATHER_LIMIT - pPort->cbHeaderBuf) {
        EndGathering(pPort, pGather, TRUE);
        return 0;
    }
    LPBYTE pJoined = (LPBYTE)realloc(pPort->pHeaderBuf, pPort->cbHeaderBuf + cbData);
    if (!pJoined) {
        EndGathering(pPort, pGather, TRUE);
        return 0;
    }
    if (cbData)
        memcpy(pJoined + pPort->cbHeaderBuf, pData, cbData);
    pPort->pHeaderBuf = pJoined;
    pPort->cbHeaderBuf += cbData;
    int nScan = JobHeaderScan(pJoined, pPort->cbHeaderBuf);
    if (nScan == JOBHEADER_NEED_MORE)
        return 0;
    if (nScan == JOBHEADER_END)
        TakeHeader(pPort, pJoined, pPort->cbHeaderBuf);
    EndGathering(pPort, pGather, FALSE);
    return nScan == JOBHEADER_END ? 1 : 0;
}

// Called while the header is not done. The job's bytes are held back until the header is complete,
// so that the client job id the device receives carries the stamp that is reported.
int ParseJobHeader(PPortEntry pPort, LPBYTE pData, DWORD cbData, HeaderGather* pGather)
{
    MonTraceIn(W("ParseJobHeader"));
    memset(pGather, 0, sizeof(*pGather));
    ClearJobHeaderResults(pPort);
    int nResult = pPort->pHeaderBuf ? GatherMore(pPort, pData, cbData, pGather)
                                    : GatherFirst(pPort, pData, cbData, pGather);
    return (int)MonTraceOutCode(W("ParseJobHeader"), (DWORD)nResult);
}
