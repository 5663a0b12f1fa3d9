#include "FakeMessages.h"

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
    sendResult = 7;
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
