// Xcv records of the standard TCP/IP port monitor (DELETE_PORT_DATA_1; see pal/winspool.h).
#pragma once

#include "pal/winspool.h"
