// The Windows API as this system uses it, provided by the platform layer (libpal).
#pragma once

#include "pal/types.h"
#include "pal/errors.h"
#include "pal/handles.h"
#include "pal/strings.h"
#include "pal/format.h"
#include "pal/codepage.h"
#include "pal/threads.h"
#include "pal/files.h"
#include "pal/ini.h"
#include "pal/debug.h"
#include "pal/registry.h"
#include "pal/eventlog.h"
#include "pal/version.h"
#include "pal/pipes.h"
#include "pal/icmp.h"
#include "pal/system.h"
