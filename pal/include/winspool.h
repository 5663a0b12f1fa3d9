// Spooler API (winspool.drv).
#pragma once

#include "pal/winspool.h"
