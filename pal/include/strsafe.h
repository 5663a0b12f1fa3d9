// Safe string functions (StringCch*; see pal/strings.h).
#pragma once

#include "pal/strings.h"
