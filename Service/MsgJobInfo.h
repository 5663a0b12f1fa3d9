// The texts of a job that user messages show: four ANSI strings, each allocated on its own.
#pragma once

#include <windows.h>

typedef struct _MsgJobInfo {
    LPSTR PrtName;
    LPSTR MachineName;
    LPSTR Document;
    LPSTR UserName;
} MsgJobInfo;
