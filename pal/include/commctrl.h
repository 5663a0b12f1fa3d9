// Common controls: the up-down control's messages and styles (see pal/dialogs.h).
#pragma once

#include "pal/dialogs.h"
