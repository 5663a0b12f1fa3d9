#pragma once

#include "pal/types.h"
