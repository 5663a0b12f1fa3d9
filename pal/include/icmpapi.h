// ICMP echo (see pal/icmp.h).
#pragma once

#include "pal/icmp.h"
