// VxRouting: the optional routing plug-in of the protocol library, loaded by path from the folder
// of the protocol library's own module ("VxRouting.dll") and resolved by name. Every export is
// optional; a missing one disables that call.
#pragma once

#include "VxTrans.h"

#ifdef _WIN32
#define VXROUTING_API extern "C" __declspec(dllexport)
#else
#define VXROUTING_API extern "C" __attribute__((visibility("default")))
#endif

// Runs once after loading.
typedef void (*VxRoutingInitializeProc)(void);
// For TCP and UDP pairs (protocols 6 and 17): fills pair->local with the local address to use
// towards pair->peer. A local half left all zero means no choice.
typedef void (*VxRoutingSelectProc)(VxTransAddressPair* pair);
// Runs when the protocol library has released its transports at its last stop.
typedef void (*VxRoutingShutdownProc)(void);

#define VXROUTING_INITIALIZE_NAME "VxRoutingInitialize"
#define VXROUTING_SELECT_NAME "VxRoutingSelect"
#define VXROUTING_SHUTDOWN_NAME "VxRoutingShutdown"
