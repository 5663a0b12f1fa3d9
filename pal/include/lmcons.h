// LAN Manager lengths (UNLEN; see pal/system.h).
#pragma once

#include "pal/system.h"
