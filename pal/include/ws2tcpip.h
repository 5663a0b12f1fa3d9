// Windows Sockets 2 TCP/IP additions: getaddrinfo, inet_pton, inet_ntop (see pal/winsock.h).
#pragma once

#include "pal/winsock.h"
