#include "MsgJobInfo.h"

#include <cstring>

namespace {

LPSTR copyText(LPCSTR text)
{
    size_t size = strlen(text) + 1;
    LPSTR copy = new char[size];
    memcpy(copy, text, size);
    return copy;
}

} // namespace

void CopyMsgJobInfo(MsgJobInfo* info, const LPCSTR texts[4])
{
    info->PrtName = copyText(texts[0]);
    info->MachineName = copyText(texts[1]);
    info->Document = copyText(texts[2]);
    info->UserName = copyText(texts[3]);
}

BOOL FreeMsgJobInfo(MsgJobInfo* info)
{
    if (!info)
        return FALSE;
    for (LPSTR* text : {&info->PrtName, &info->MachineName, &info->Document, &info->UserName}) {
        delete[] *text;
        *text = nullptr;
    }
    return TRUE;
}
