// IP helper (see pal/icmp.h).
#pragma once

#include "pal/icmp.h"
