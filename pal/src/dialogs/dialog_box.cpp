// Modal dialogs: DialogBoxParamW runs a dialog made from a module's template in the calling thread,
// taking one step of input at a time until EndDialog; dialogs nest.
#include "dialogs/input.h"
#include "pal/files.h"
#include "dialogs/windows.h"
#include "resources/resource_lookup.h"

namespace pal {
namespace {

thread_local int t_depth = 0;

HWND firstFocus(Window* dialog)
{
    for (auto& control : dialog->controls)
        if (control->visible && control->enabled && (control->style & WS_TABSTOP))
            return control.get();
    return nullptr;
}

// Cancel as closing the dialog would: IDCANCEL to the procedure; a dialog that stays open is ended.
void cancelDialog(Window* dialog)
{
    sendToDialog(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(controlOf(dialog, IDCANCEL)));
    if (!dialog->ended) {
        dialog->ended = true;
        dialog->result = IDCANCEL;
    }
}

class Nesting {
public:
    Nesting() { ++t_depth; }
    ~Nesting() { --t_depth; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
};

INT_PTR runDialog(const PAL_DIALOG_TEMPLATE& dialogTemplate, DLGPROC proc, LPARAM param)
{
    Nesting nesting;
    std::unique_ptr<Window> dialog = createDialog(dialogTemplate, proc, t_depth);
    registerWindow(dialog.get());
    sendToDialog(dialog.get(), WM_INITDIALOG, reinterpret_cast<WPARAM>(firstFocus(dialog.get())), param);
    while (!dialog->ended)
        if (!inputStep(dialog.get()))
            cancelDialog(dialog.get());
    unregisterWindow(dialog.get());
    return dialog->result;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

INT_PTR DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam)
{
    if (hWndParent && !windowOf(hWndParent))
        return 0;
    if (!IS_INTRESOURCE(lpTemplateName)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    const PAL_DIALOG_TEMPLATE* dialogTemplate = findDialog(hInstance, LOWORD(lpTemplateName));
    if (!dialogTemplate)
        return -1;
    if (currentInputSource() == InputSource::None) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
    return runDialog(*dialogTemplate, lpDialogFunc, dwInitParam);
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult)
{
    Window* dialog = windowOf(hDlg);
    if (!dialog || dialog->kind != WindowKind::Dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    dialog->ended = true;
    dialog->result = nResult;
    return TRUE;
}

} // extern "C"
