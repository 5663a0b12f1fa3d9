#include "SendMsg.h"

#include <cstring>

#include "MsgMgr.h"
#include "OutsideTexts.h"
#include "TraceLog.h"
#include "resource.h"

namespace {

const char kSource[] = "SendMsg";

struct ChoiceCount {
    DWORD textId;
    int count;
};

// Ends with a zero pair.
const ChoiceCount kChoiceCounts[] = {
    {201, 2}, {202, 2}, {203, 3}, {204, 2}, {205, 2}, {206, 2}, {207, 1}, {208, 3}, {209, 2}, {210, 2}, {211, 2},
    {212, 2}, {213, 2}, {214, 2}, {215, 3}, {216, 2}, {217, 1}, {218, 1}, {251, 3}, {252, 3}, {253, 3}, {254, 3},
    {255, 3}, {256, 3}, {257, 3}, {258, 3}, {259, 3}, {260, 3}, {261, 3}, {262, 3}, {263, 3}, {264, 3}, {265, 3},
    {266, 3}, {267, 3}, {268, 3}, {269, 3}, {270, 3}, {301, 3}, {302, 3}, {303, 3}, {304, 3}, {305, 3}, {306, 3},
    {307, 3}, {308, 3}, {309, 3}, {310, 3}, {311, 3}, {312, 3}, {313, 3}, {314, 3}, {315, 3}, {316, 3}, {317, 3},
    {318, 3}, {319, 3}, {320, 3}, {321, 0}, {322, 0}, {323, 2}, {324, 2}, {325, 0}, {0, 0},
};

// Labels in code page 932.
#define LABEL_CONTINUE "\x91\xb1\x8d\x73" // 続行
#define LABEL_DELETE "\x8d\xed\x8f\x9c"   // 削除
#define LABEL_HOLD "\x95\xdb\x97\xaf"     // 保留

const MsgmChoiceEntry kChoices[] = {
    {MSGM_CHOICE_CONTINUE, 0, LABEL_CONTINUE, 0},
    {MSGM_CHOICE_DELETE, 0, LABEL_DELETE, 0},
    {MSGM_CHOICE_HOLD, 0, LABEL_HOLD, 0},
};
const MsgmChoiceEntry kHoldOrDelete[] = {
    {MSGM_CHOICE_HOLD_JOB, 0, LABEL_HOLD, 0},
    {MSGM_CHOICE_DELETE, 0, LABEL_DELETE, 0},
};

bool offersHoldOrDelete(DWORD textId)
{
    return textId == IDS_WIM_DEVICEPOWEROFF || textId == IDS_WIM_DATARESET || textId == IDS_WIM_POWERRESET;
}

// The choice list of a text with count > 0 choices.
MsgmChoiceList choiceListFor(DWORD textId, int count)
{
    if (offersHoldOrDelete(textId))
        return {2, 0, kHoldOrDelete};
    return {static_cast<DWORD>(count == 1 || count == 2 ? count : 3), 0, kChoices};
}

LPCSTR textOf(const MsgJobInfo* info, LPSTR MsgJobInfo::*field)
{
    return info && info->*field ? info->*field : "";
}

} // namespace

int GetMsgChoiceCount(DWORD textId)
{
    for (const ChoiceCount* entry = kChoiceCounts; entry->textId != 0; ++entry)
        if (entry->textId == textId)
            return entry->count;
    return -1;
}

LONG SendMsg(LPCWSTR printer, DWORD jobId, WORD dwMsgNo, WORD msgType, DWORD textId, const MsgJobInfo* info)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "SendMsg");
    if (info && info->PrtName && info->MachineName && info->Document && info->UserName) {
        g_TraceLog.vPrintMessage(kSource, "SendMsg", W("lpMsgJobInfo is not NULL"));
        g_TraceLog.vPrintMessage(kSource, "SendMsg", W("PrtName:[%hs] MachineName:[%hs] Document:[%hs] UserName:[%hs]"),
                                 info->PrtName, info->MachineName, info->Document, info->UserName);
    }
    int count = GetMsgChoiceCount(textId);
    if (!printer || jobId == 0 || dwMsgNo == 0 || textId == 0 || msgType > SENDMSG_MAX_TYPE || count < 0)
        return SENDMSG_NOT_PREPARED;

    LPSTR text = FormatDeviceText(textId, textOf(info, &MsgJobInfo::PrtName), textOf(info, &MsgJobInfo::Document),
                                  textOf(info, &MsgJobInfo::UserName));
    LPSTR sender = text ? AllocSenderName() : nullptr;
    if (!sender) {
        LocalFree(text);
        return SENDMSG_NOT_PREPARED;
    }
    MsgmChoiceList list = count > 0 ? choiceListFor(textId, count) : MsgmChoiceList{};
    MsgmChoiceHeader header = {count > 0 ? 1u : 0u, 0, count > 0 ? &list : nullptr};
    MsgmJobRecord job = {};
    job.dwKind = 3;
    job.dwSize = sizeof job;
    job.lpszPrinter = const_cast<LPSTR>(textOf(info, &MsgJobInfo::PrtName));
    job.dwJobId = jobId;
    job.dwValue5 = 5;
    job.dwValue1 = 1;
    job.lpszMachine = const_cast<LPSTR>(textOf(info, &MsgJobInfo::MachineName));
    MsgmMessageRecord message = {};
    message.wVersion = 0x100;
    message.byFlag = 1;
    memcpy(message.szTag, "xxx", MSGM_TAG_BYTES);
    message.lpJob = &job;
    MsgmSenderRecord senderRecord = {};
    senderRecord.wMsgNo = dwMsgNo;
    senderRecord.wMsgType = msgType;
    senderRecord.lpszSender = sender;

    LONG result = MsgmiSendMessageEx_d(MSGM_KIND_MESSAGE, &message, &senderRecord, &header, text);
    g_TraceLog.vPrintMessage(kSource, "SendMsg", W("Return Value:[%ld] MessageID:[%ld]"), result,
                             static_cast<LONG>(dwMsgNo));
    LocalFree(text);
    FreeSenderName(sender);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "SendMsg");
    return result;
}
