// Windows Sockets 2 (see pal/winsock.h).
#pragma once

#include "pal/winsock.h"
