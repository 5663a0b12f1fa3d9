// Windows Installer (see pal/msi.h).
#pragma once

#include "pal/msi.h"
