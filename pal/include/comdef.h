// COM strings and errors (_bstr_t, _com_error) with the rest of the COM calls.
#pragma once

#include <windows.h>
