// Windows Installer sessions and records (see pal/msi.h).
#pragma once

#include "pal/msi.h"
