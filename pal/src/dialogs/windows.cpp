// Windows and controls: creation from templates, the handle set, and the messages of each control.
#include <algorithm>
#include <climits>
#include <mutex>
#include <unordered_set>

#include "dialogs/windows.h"
#include "pal/strings.h"

namespace pal {
namespace {

struct WindowSet {
    std::mutex mutex;
    std::unordered_set<Window*> live;
};

WindowSet& windows()
{
    static WindowSet* set = new WindowSet;
    return *set;
}

Window* desktop()
{
    static Window* window = [] {
        auto* created = new Window;
        created->kind = WindowKind::Desktop;
        return created;
    }();
    return window;
}

bool sameClass(LPCWSTR className, const char16_t* name)
{
    return className && lstrcmpiW(className, name) == 0;
}

WindowKind kindOf(const PAL_DIALOG_ITEM& item)
{
    if (sameClass(item.className, u"EDIT"))
        return WindowKind::Edit;
    if (sameClass(item.className, u"COMBOBOX"))
        return WindowKind::Combo;
    if (sameClass(item.className, u"msctls_updown32"))
        return WindowKind::UpDown;
    if (sameClass(item.className, u"BUTTON"))
        return (item.style & 0xF) == BS_AUTOCHECKBOX ? WindowKind::CheckBox : WindowKind::PushButton;
    return WindowKind::Static;
}

std::unique_ptr<Window> createControl(const PAL_DIALOG_ITEM& item, Window* dialog, const std::u16string& label)
{
    auto control = std::make_unique<Window>();
    control->kind = kindOf(item);
    control->dialog = dialog;
    control->id = item.id;
    control->style = item.style;
    control->visible = (item.style & WS_VISIBLE) != 0;
    control->enabled = (item.style & WS_DISABLED) == 0;
    control->text = item.text ? item.text : u"";
    if (control->kind == WindowKind::Edit || control->kind == WindowKind::Combo)
        control->label = label;
    return control;
}

void setText(Window* window, std::u16string_view text)
{
    window->text.assign(text);
    if (window->kind == WindowKind::Edit) {
        notifyParent(window, EN_UPDATE);
        notifyParent(window, EN_CHANGE);
    }
}

std::u16string textOf(const Window* window)
{
    if (window->kind == WindowKind::Combo)
        return window->selection >= 0 ? window->items[static_cast<size_t>(window->selection)] : u"";
    return window->text;
}

LRESULT copyText(const std::u16string& text, WPARAM size, LPARAM buffer)
{
    auto* out = reinterpret_cast<WCHAR*>(buffer);
    if (!out || size == 0)
        return 0;
    size_t kept = std::min(text.size(), static_cast<size_t>(size) - 1);
    text.copy(out, kept);
    out[kept] = u'\0';
    return static_cast<LRESULT>(kept);
}

int clamp(const Window* upDown, long long value)
{
    long long low = std::min(upDown->low, upDown->high), high = std::max(upDown->low, upDown->high);
    return static_cast<int>(std::clamp(value, low, high));
}

LRESULT editMessage(Window* edit, UINT message, WPARAM wParam)
{
    switch (message) {
    case EM_LIMITTEXT:
        edit->limit = wParam ? static_cast<size_t>(wParam) : 0x7FFFFFFE;
        return 0;
    case EM_GETLIMITTEXT:
        return static_cast<LRESULT>(edit->limit);
    default:
        return 0;
    }
}

LRESULT comboMessage(Window* combo, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto count = static_cast<int>(combo->items.size());
    auto index = static_cast<int>(wParam);
    switch (message) {
    case CB_ADDSTRING:
        combo->items.emplace_back(lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"");
        return count;
    case CB_GETCOUNT:
        return count;
    case CB_SETCURSEL:
        combo->selection = index >= 0 && index < count ? index : -1;
        return combo->selection >= 0 ? combo->selection : CB_ERR;
    case CB_GETCURSEL:
        return combo->selection >= 0 ? combo->selection : CB_ERR;
    case CB_GETLBTEXTLEN:
        return index >= 0 && index < count ? static_cast<LRESULT>(combo->items[static_cast<size_t>(index)].size()) : CB_ERR;
    case CB_GETLBTEXT: {
        if (index < 0 || index >= count || !lParam)
            return CB_ERR;
        const std::u16string& item = combo->items[static_cast<size_t>(index)];
        item.copy(reinterpret_cast<WCHAR*>(lParam), item.size());
        reinterpret_cast<WCHAR*>(lParam)[item.size()] = u'\0';
        return static_cast<LRESULT>(item.size());
    }
    case CB_RESETCONTENT:
        combo->items.clear();
        combo->selection = -1;
        return 0;
    default:
        return 0;
    }
}

LRESULT upDownMessage(Window* upDown, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case UDM_SETRANGE32:
        upDown->low = static_cast<int>(wParam);
        upDown->high = static_cast<int>(lParam);
        upDown->position = clamp(upDown, upDown->position);
        return 0;
    case UDM_GETRANGE32:
        if (wParam)
            *reinterpret_cast<int*>(wParam) = upDown->low;
        if (lParam)
            *reinterpret_cast<int*>(lParam) = upDown->high;
        return 0;
    case UDM_SETPOS32: {
        int previous = upDown->position;
        upDown->position = clamp(upDown, static_cast<int>(lParam));
        if (upDown->buddy && (upDown->style & UDS_SETBUDDYINT))
            setText(upDown->buddy, fromAsciiNumber(upDown->position));
        return previous;
    }
    case UDM_GETPOS32: {
        long long typed = 0;
        bool valid = !upDown->buddy ||
                     (parseNumber(upDown->buddy->text, true, typed) && clamp(upDown, typed) == typed);
        if (valid && upDown->buddy)
            upDown->position = static_cast<int>(typed);
        if (lParam)
            *reinterpret_cast<BOOL*>(lParam) = valid ? FALSE : TRUE;
        return upDown->position;
    }
    default:
        return 0;
    }
}

LRESULT buttonMessage(Window* button, UINT message, WPARAM wParam)
{
    switch (message) {
    case BM_GETCHECK:
        return button->check;
    case BM_SETCHECK:
        button->check = static_cast<int>(wParam) == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
        return 0;
    default:
        return 0;
    }
}

} // namespace

std::u16string fromAsciiNumber(long long value)
{
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

Window* windowOf(HWND handle)
{
    auto* window = static_cast<Window*>(handle);
    if (window && window == desktop())
        return window;
    WindowSet& set = windows();
    std::lock_guard<std::mutex> lock(set.mutex);
    if (window && set.live.count(window))
        return window;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

Window* controlOf(Window* dialog, int id)
{
    if (dialog && dialog->kind == WindowKind::Dialog)
        for (auto& control : dialog->controls)
            if (control->id == id)
                return control.get();
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

void registerWindow(Window* window)
{
    WindowSet& set = windows();
    std::lock_guard<std::mutex> lock(set.mutex);
    set.live.insert(window);
    for (auto& control : window->controls)
        set.live.insert(control.get());
}

void unregisterWindow(Window* window)
{
    WindowSet& set = windows();
    std::lock_guard<std::mutex> lock(set.mutex);
    set.live.erase(window);
    for (auto& control : window->controls)
        set.live.erase(control.get());
}

std::unique_ptr<Window> createDialog(const PAL_DIALOG_TEMPLATE& dialogTemplate, DLGPROC proc, int depth)
{
    auto dialog = std::make_unique<Window>();
    dialog->kind = WindowKind::Dialog;
    dialog->text = dialogTemplate.title ? dialogTemplate.title : u"";
    dialog->proc = proc;
    dialog->templateId = dialogTemplate.id;
    dialog->depth = depth;
    std::u16string label;
    for (UINT i = 0; i < dialogTemplate.itemCount; ++i) {
        const PAL_DIALOG_ITEM& item = dialogTemplate.items[i];
        auto control = createControl(item, dialog.get(), label);
        label = control->kind == WindowKind::Static ? control->text : u"";
        if (control->kind == WindowKind::UpDown && (item.style & UDS_AUTOBUDDY) && !dialog->controls.empty() &&
            dialog->controls.back()->kind == WindowKind::Edit)
            control->buddy = dialog->controls.back().get();
        dialog->controls.push_back(std::move(control));
    }
    return dialog;
}

void notifyParent(Window* control, WORD code)
{
    if (control->dialog)
        sendToDialog(control->dialog, WM_COMMAND, MAKEWPARAM(control->id, code), reinterpret_cast<LPARAM>(control));
}

LRESULT sendToDialog(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return dialog->proc ? dialog->proc(dialog, message, wParam, lParam) : 0;
}

void typeText(Window* edit, std::u16string_view text)
{
    setText(edit, text.substr(0, std::min(text.size(), edit->limit)));
}

bool chooseItem(Window* combo, int index)
{
    if (index < 0 || index >= static_cast<int>(combo->items.size()))
        return false;
    combo->selection = index;
    notifyParent(combo, CBN_SELCHANGE);
    return true;
}

void clickButton(Window* button)
{
    if (button->kind == WindowKind::CheckBox)
        button->check = button->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    notifyParent(button, BN_CLICKED);
}

bool parseNumber(std::u16string_view text, bool allowSign, long long& value)
{
    size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t'))
        ++at;
    bool negative = allowSign && at < text.size() && text[at] == u'-';
    if (negative)
        ++at;
    if (at == text.size())
        return false;
    long long number = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < u'0' || text[at] > u'9')
            return false;
        number = number * 10 + (text[at] - u'0');
        if (number > 0xFFFFFFFFll)
            return false;
    }
    value = negative ? -number : number;
    return true;
}

LRESULT controlMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETTEXT:
        setText(window, lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"");
        return TRUE;
    case WM_GETTEXT:
        return copyText(textOf(window), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(textOf(window).size());
    default:
        break;
    }
    switch (window->kind) {
    case WindowKind::Edit:
        return editMessage(window, message, wParam);
    case WindowKind::Combo:
        return comboMessage(window, message, wParam, lParam);
    case WindowKind::UpDown:
        return upDownMessage(window, message, wParam, lParam);
    case WindowKind::PushButton:
    case WindowKind::CheckBox:
        return buttonMessage(window, message, wParam);
    default:
        return 0;
    }
}

} // namespace pal

using namespace pal;

extern "C" {

HWND GetDesktopWindow(void)
{
    return desktop();
}

BOOL IsWindow(HWND hWnd)
{
    DWORD saved = GetLastError();
    bool live = windowOf(hWnd) != nullptr;
    SetLastError(saved);
    return live;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Window* dialog = windowOf(hDlg);
    return dialog ? controlOf(dialog, nIDDlgItem) : nullptr;
}

int GetDlgCtrlID(HWND hWnd)
{
    Window* window = windowOf(hWnd);
    return window ? window->id : 0;
}

LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex)
{
    Window* window = windowOf(hWnd);
    if (!window)
        return 0;
    bool dialog = window->kind == WindowKind::Dialog;
    if (dialog && nIndex == DWLP_USER)
        return window->user;
    if (dialog && nIndex == DWLP_MSGRESULT)
        return window->messageResult;
    if (dialog && nIndex == DWLP_DLGPROC)
        return reinterpret_cast<LONG_PTR>(window->proc);
    if (nIndex == GWLP_ID)
        return window->id;
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    Window* window = windowOf(hWnd);
    if (!window)
        return 0;
    LONG_PTR* slot = nullptr;
    if (window->kind == WindowKind::Dialog && nIndex == DWLP_USER)
        slot = &window->user;
    else if (window->kind == WindowKind::Dialog && nIndex == DWLP_MSGRESULT)
        slot = &window->messageResult;
    if (!slot) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG_PTR previous = *slot;
    *slot = dwNewLong;
    SetLastError(ERROR_SUCCESS);
    return previous;
}

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* window = windowOf(hWnd);
    if (!window || window->kind == WindowKind::Desktop)
        return 0;
    if (window->kind == WindowKind::Dialog)
        return sendToDialog(window, Msg, wParam, lParam);
    return controlMessage(window, Msg, wParam, lParam);
}

LRESULT SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? SendMessageW(control, Msg, wParam, lParam) : 0;
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    Window* window = windowOf(hWnd);
    if (!window)
        return FALSE;
    if (window->kind == WindowKind::Dialog)
        window->text = lpString ? lpString : u"";
    else
        controlMessage(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString));
    return TRUE;
}

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount)
{
    Window* window = windowOf(hWnd);
    if (!window || nMaxCount <= 0)
        return 0;
    return static_cast<int>(copyText(textOf(window), static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control && SetWindowTextW(control, lpString);
}

UINT GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (!control) {
        if (lpString && cchMax > 0)
            lpString[0] = u'\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(control, lpString, cchMax));
}

UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned)
{
    if (lpTranslated)
        *lpTranslated = FALSE;
    Window* control = static_cast<Window*>(GetDlgItem(hDlg, nIDDlgItem));
    long long value = 0;
    if (!control || !parseNumber(textOf(control), bSigned != FALSE, value))
        return 0;
    if (bSigned ? (value < INT_MIN || value > INT_MAX) : value > static_cast<long long>(UINT_MAX))
        return 0;
    if (lpTranslated)
        *lpTranslated = TRUE;
    return static_cast<UINT>(value);
}

BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned)
{
    long long value = bSigned ? static_cast<long long>(static_cast<INT>(uValue)) : static_cast<long long>(uValue);
    return SetDlgItemTextW(hDlg, nIDDlgItem, fromAsciiNumber(value).c_str());
}

BOOL ShowWindow(HWND hWnd, int nCmdShow)
{
    Window* window = windowOf(hWnd);
    if (!window)
        return FALSE;
    bool wasVisible = window->visible;
    window->visible = nCmdShow != SW_HIDE;
    return wasVisible;
}

BOOL IsWindowVisible(HWND hWnd)
{
    Window* window = windowOf(hWnd);
    return window && window->visible;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable)
{
    Window* window = windowOf(hWnd);
    if (!window)
        return FALSE;
    bool wasDisabled = !window->enabled;
    window->enabled = bEnable != FALSE;
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd)
{
    Window* window = windowOf(hWnd);
    return window && window->enabled;
}

} // extern "C"
