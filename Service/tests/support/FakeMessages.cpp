#include "FakeMessages.h"

#include "MsgMgr.h"
#include "SendMsg.h"

FakeMessages& FakeMessages::instance()
{
    static FakeMessages messages;
    return messages;
}

void FakeMessages::reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.clear();
    m_cancelled.clear();
    m_answers.clear();
    m_events.clear();
    sendResult = 7;
    receiveResult = 0;
    createEvent = true;
}

std::vector<MessageCall> FakeMessages::messages()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages;
}

std::vector<DWORD> FakeMessages::cancelled()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_cancelled;
}

void FakeMessages::recordMessage(MessageCall call)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.push_back(std::move(call));
}

void FakeMessages::recordCancel(DWORD messageId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_cancelled.push_back(messageId);
}

LONG SendMsg(LPCWSTR printer, DWORD jobId, WORD dwMsgNo, WORD, DWORD textId, const MsgJobInfo* info)
{
    FakeMessages::instance().recordMessage(
        {printer ? printer : u"", jobId, dwMsgNo, textId, info && info->Document ? info->Document : ""});
    return FakeMessages::instance().sendResult;
}

int MsgmiCancelReplyV31_d(WORD, DWORD messageId)
{
    FakeMessages::instance().recordCancel(messageId);
    return 0;
}

void FakeMessages::answer(DWORD messageId, DWORD select)
{
    ULONGLONG event = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_answers[messageId] = select;
        event = m_events[messageId];
    }
    if (event)
        SetEvent(reinterpret_cast<HANDLE>(event));
}

int FakeMessages::receive(DWORD messageId, DWORD* select)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_answers.find(messageId);
    *select = found == m_answers.end() ? 0 : found->second;
    return receiveResult;
}

void FakeMessages::select(DWORD messageId, ULONGLONG eventValue)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_events[messageId] = eventValue;
}

int MsgmiReceiveMessage_d(DWORD messageId, void* reply)
{
    DWORD select = 0;
    int result = FakeMessages::instance().receive(messageId, &select);
    static_cast<MsgmReply*>(reply)->dwSelect = select;
    return result;
}

void MsgmiEventSelect_d(DWORD messageId, ULONGLONG eventValue)
{
    FakeMessages::instance().select(messageId, eventValue);
}

int MsgmiCreateNamedEvent_d(HANDLE* phEvent, ULONGLONG* eventValue)
{
    if (!FakeMessages::instance().createEvent)
        return -1;
    *phEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    *eventValue = reinterpret_cast<ULONGLONG>(*phEvent);
    return 0;
}
