// The window objects of the dialog manager: dialogs and their controls. An HWND is the address of a
// Window; handles are checked against the set of live windows before use.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pal/dialogs.h"

namespace pal {

enum class WindowKind { Desktop, Dialog, Edit, Combo, PushButton, CheckBox, Static, UpDown };

struct Window {
    WindowKind kind = WindowKind::Static;
    Window* dialog = nullptr; // the dialog of a control
    int id = 0;
    DWORD style = 0;
    bool visible = true;
    bool enabled = true;
    std::u16string text;
    std::u16string label; // the static text before an edit or combo, for the terminal form

    size_t limit = 32767; // edit: the most characters typing may give
    std::vector<std::u16string> items; // combo
    int selection = -1;
    int check = BST_UNCHECKED;
    int low = 0, high = 100, position = 0; // up-down
    Window* buddy = nullptr;

    // Dialog.
    DLGPROC proc = nullptr;
    LONG_PTR user = 0;
    LONG_PTR messageResult = 0;
    UINT templateId = 0;
    int depth = 0;
    int steps = 0;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<std::unique_ptr<Window>> controls;
};

Window* windowOf(HWND handle); // NULL with ERROR_INVALID_WINDOW_HANDLE
Window* controlOf(Window* dialog, int id); // NULL with ERROR_CONTROL_ID_NOT_FOUND
void registerWindow(Window* window);
void unregisterWindow(Window* window);

// Builds a dialog and its controls from a template (not yet registered).
std::unique_ptr<Window> createDialog(const PAL_DIALOG_TEMPLATE& dialogTemplate, DLGPROC proc, int depth);

// A WM_COMMAND from a control to its dialog's procedure.
void notifyParent(Window* control, WORD code);
LRESULT sendToDialog(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What a user's action does to a control (typing, choosing, clicking), with its notifications.
void typeText(Window* edit, std::u16string_view text);
bool chooseItem(Window* combo, int index);
void clickButton(Window* button);

// Decimal number as GetDlgItemInt and the up-down read it: blanks before, a sign when allowed.
bool parseNumber(std::u16string_view text, bool allowSign, long long& value);
std::u16string fromAsciiNumber(long long value);

// The messages of a control (not of a dialog).
LRESULT controlMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace pal
