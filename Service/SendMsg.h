// Messages to the user through the outside message manager: a text of the service's string table
// filled with the job's names, and for most texts a set of choices (continue, delete, hold).
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include "MsgJobInfo.h"

#define SENDMSG_NOT_PREPARED (-100)
#define SENDMSG_MAX_TYPE 3

// The message manager's message id (> 0 while the message is open) or its error;
// SENDMSG_NOT_PREPARED when the message cannot be made. A missing info or NULL texts insert "".
LONG SendMsg(LPCWSTR printer, DWORD jobId, WORD dwMsgNo, WORD msgType, DWORD textId, const MsgJobInfo* info);

// The number of choices offered with textId; -1 for a text that is never sent.
int GetMsgChoiceCount(DWORD textId);
