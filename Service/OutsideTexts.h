// Texts the service gives to the outside print manager and message manager: ANSI strings in the
// system code page.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#define OUTSIDE_SENDER_NAME W("TALLY-DESK Output Beacon Service2")
#define OUTSIDE_SENDER_BYTES 39
#define OUTSIDE_TEXT_BYTES 512

// The sender name in a heap buffer of OUTSIDE_SENDER_BYTES; NULL when it cannot be made.
LPSTR AllocSenderName();
void FreeSenderName(LPSTR sender);

// String resource textId with %1 printer, %2 document, %3 user (NULL inserts as "") in a LocalAlloc
// buffer (free with LocalFree); NULL when the text cannot be loaded or formatted.
LPSTR FormatDeviceText(DWORD textId, LPCSTR printer, LPCSTR document, LPCSTR user);
