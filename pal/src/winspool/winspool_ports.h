// Port calls of winspool: the part served by the spooler host.
#pragma once

#include "pal/winspool.h"

extern "C" {
// DeletePortW as the host serves it: the port's monitor deletes it through its Xcv "DeletePort".
BOOL deletePortOnHost(LPWSTR pName, LPWSTR pPortName);
}
