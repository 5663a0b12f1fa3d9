// The entry points of VxDmlp.so, linked by name.
#include <cstdlib>

#include "DmlpEntries.h"

DmlpEntryPoints g_DmlpEntries = {
    DMLP_Initialize,      DMLP_Terminate,        DMLP_Bind,      DMLP_Unbind,       DMLP_FreeMemory,
    DMLP_ReleaseParam,    DMLP_SubscribeEvent,   DMLP_SubscribeEvent2,
    DMLP_UnsubscribeEvent, DMLP_UnsubscribeEvent2, DMLP_Get2,    DMLP_ListObjects2, DMLP_TraceJob,
    DMLP_CancelJob,       malloc,                free,
};
