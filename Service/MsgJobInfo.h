// The texts of a job that user messages show: four ANSI strings, each allocated on its own.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

typedef struct _MsgJobInfo {
    LPSTR PrtName;
    LPSTR MachineName;
    LPSTR Document;
    LPSTR UserName;
} MsgJobInfo;

// Fills the four texts with fresh copies of the given ones, in the order of the fields.
void CopyMsgJobInfo(MsgJobInfo* info, const LPCSTR texts[4]);
// Frees the four texts and clears them.
BOOL FreeMsgJobInfo(MsgJobInfo* info);
