// Message boxes: recorded for tests, written to standard error, answered by the dialogs' input.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "dialogs/input.h"
#include "dialogs/windows.h"
#include "text/text_utf8.h"

namespace pal {
namespace {

struct BoxJournal {
    std::mutex mutex;
    std::vector<PAL_MESSAGE_BOX_RECORD> records;
};

BoxJournal& journal()
{
    static BoxJournal* boxes = new BoxJournal;
    return *boxes;
}

template <size_t N>
void copyCut(WCHAR (&field)[N], std::u16string_view text)
{
    size_t kept = std::min(text.size(), N - 1);
    text.copy(field, kept);
    field[kept] = u'\0';
}

// The answers a box of this type can give; the first is its default.
std::vector<int> buttonsOf(UINT type)
{
    switch (type & 0xF) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    default: return {IDOK};
    }
}

int chosen(UINT type, std::optional<int> answer)
{
    std::vector<int> buttons = buttonsOf(type);
    for (int button : buttons)
        if (answer && *answer == button)
            return button;
    return buttons.front();
}

std::string oneLine(const std::u16string& text)
{
    std::string line = toUtf8(text);
    for (size_t at = 0; (at = line.find("\r\n", at)) != std::string::npos;)
        line.replace(at, 2, " / ");
    return line;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    if (hWnd && !windowOf(hWnd))
        return 0;
    std::u16string text = lpText ? lpText : u"";
    std::u16string caption = lpCaption ? lpCaption : u"Error";
    bool terminal = currentInputSource() == InputSource::Terminal;
    if (!terminal)
        std::fprintf(stderr, "[message box] %s: %s\n", toUtf8(caption).c_str(), oneLine(text).c_str());
    int answer = chosen(uType, messageBoxAnswer(uType, caption, text));
    PAL_MESSAGE_BOX_RECORD record{};
    record.parent = hWnd;
    copyCut(record.caption, caption);
    copyCut(record.text, text);
    record.type = uType;
    record.answer = answer;
    BoxJournal& boxes = journal();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    boxes.records.push_back(record);
    return answer;
}

UINT palMessageBoxCount(void)
{
    BoxJournal& boxes = journal();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    return static_cast<UINT>(boxes.records.size());
}

BOOL palMessageBoxRecord(UINT index, PAL_MESSAGE_BOX_RECORD* record)
{
    BoxJournal& boxes = journal();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    if (!record || index >= boxes.records.size())
        return FALSE;
    *record = boxes.records[index];
    return TRUE;
}

void palClearMessageBoxes(void)
{
    BoxJournal& boxes = journal();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    boxes.records.clear();
}

} // extern "C"
