// The service's end of the pipe "\\.\pipe\vexil_jtrksvc2": one job report per call from the port
// monitor, each answered with an empty message.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include "ServiceContext.h"

#define JTRK_PIPE_TIMEOUT_MS 1000

// The pipe with one instance that every local user may reach; NULL when its security descriptor
// cannot be made, INVALID_HANDLE_VALUE (with the last error) when the pipe cannot be created.
HANDLE CreateJobPipe();

// Thread procedure; the argument is the service context. Exit code 1 when its event could not be made.
unsigned __stdcall WaitJobThread(void* context);
