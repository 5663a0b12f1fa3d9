// Path helpers (PathFileExistsW; see pal/files.h).
#pragma once

#include "pal/files.h"
