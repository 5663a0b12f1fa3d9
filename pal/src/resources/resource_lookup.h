// Finding one resource of a module, for the string functions and the dialog manager.
#pragma once

#include "pal/resources.h"

namespace pal {

// NULL with ERROR_RESOURCE_DATA_NOT_FOUND (no resources) or ERROR_RESOURCE_NAME_NOT_FOUND (no such id).
const PAL_STRING_RESOURCE* findString(HINSTANCE module, UINT id);
const PAL_DIALOG_TEMPLATE* findDialog(HINSTANCE module, UINT id);

} // namespace pal
