// String resources of the service's own texts (language 1041).
#pragma once

// Actions and reasons of the event-log entries on client-library results.
#define IDS_ACTION_CHECK_PORT 104
#define IDS_ACTION_CHECK_PRINTER 105
#define IDS_ACTION_SUBSCRIBE_AGAIN 106 // also the activation reason while the service starts
#define IDS_REASON_NOT_TRACKED 107     // activation reason in any other service state
#define IDS_REASON_NO_ADDRESS 112
#define IDS_REASON_NO_ANSWER 113
#define IDS_REASON_NOT_SUPPORTED 114
// Names of the client-library calls, as the API ids of OutputClibErrEventLog.
#define IDS_API_CHECKDEVICE 115
#define IDS_API_GETSTATUSINFO 116
#define IDS_API_TRACEJOB 117
#define IDS_API_CANCELJOB 118
#define IDS_API_SUBSCRIBEEVENT 119
#define IDS_API_GETCLIENTJOBID 120
#define IDS_API_RELEASEBUFF 121

#define SERVICE_TEXT_CHARS 256
