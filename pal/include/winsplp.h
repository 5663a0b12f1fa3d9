// Print monitor interface (MONITOR2, MONITORINIT, MONITORREG).
#pragma once

#include "pal/winspool.h"
