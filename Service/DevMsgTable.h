// The device status table: a device status code (StatusInfo.lStatusCode) to the message class, the
// print-manager status and the text of the state.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

// uErrAction
#define ERRACT_STATUS 1 // the print manager gets the status only
#define ERRACT_NOTICE 2 // the print manager also gets the formatted text of uMsgId

// dwMsgNo of the device-power-off row; the service's own message classes follow the table's.
#define WIM_DEVICEPOWEROFF 1001
#define WIM_OFFLINE 1007
#define WIM_DELETEFAILED 1019
#define WIM_DATARESET 1020
#define WIM_POWERRESET 1021
#define WIM_ATTRIBUTEFAILED 1022

typedef struct _DevMsgRecord {
    DWORD dwMsgNo;      // message class; 0 for rows that only set a print-manager status
    DWORD dwStatusCode; // the code to match; 0 ends the table
    DWORD lFlag;        // match mask; 0 selects the shifted match
    DWORD uErrAction;   // ERRACT_STATUS or ERRACT_NOTICE
    DWORD dwPrtStatus;  // status value for the print manager
    DWORD dwMsgType;    // message type for the message manager
    DWORD uMsgId;       // string id of the user text, or 0; read and written with GetDevMsgTextId/SetDevMsgTextId
} DevMsgRecord;

static_assert(sizeof(DevMsgRecord) == 28, "DevMsgRecord is seven DWORDs");

#define DEVMSG_TABLE_ROWS 122

// The table in match order, then an end row of zeros.
extern DevMsgRecord DevMsgTable[DEVMSG_TABLE_ROWS + 1];

// The first row matching code (signed; shifted arithmetically), or the end row.
DevMsgRecord* GetDevMsgRecordCLIB(LONG lStatusCode);
// The first row of class WIM_OFFLINE, or the end row.
DevMsgRecord* GetOfflineRecordCLIB();

// The power-off row's text is chosen per poll by whichever watch thread polls; every thread reads
// it, so the text id is read and written atomically.
DWORD GetDevMsgTextId(const DevMsgRecord* record);
void SetDevMsgTextId(DevMsgRecord* record, DWORD uMsgId);
