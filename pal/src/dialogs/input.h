// Where the dialogs' input comes from (a test's stepper, a script, a terminal) and the commands of
// the script language that drive a dialog and answer message boxes.
#pragma once

#include <optional>
#include <string>

#include "dialogs/windows.h"

namespace pal {

enum class InputSource { None, Stepper, Script, Terminal };

InputSource currentInputSource();

// Runs one step of input on the open dialog: false when the input has ended (the dialog is then
// to be cancelled).
bool inputStep(Window* dialog);

// The answer to a message box from the input: the pending script answer, the terminal user's
// choice, else nothing (the caller takes the default).
std::optional<int> messageBoxAnswer(UINT type, const std::u16string& caption, const std::u16string& text);

// Runs one command line on a dialog (NULL: no dialog open); false with a reason when refused.
bool runCommand(Window* dialog, const std::string& line, std::string& reason);

} // namespace pal
