// The input of the dialogs: a test's stepper, a script (set in the process or read from a file),
// or a person at a terminal, who sees each dialog drawn as a form and types the script's commands.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "dialogs/input.h"
#include "text/text_utf8.h"

namespace pal {
namespace {

// A stepper that never ends its dialog would hang the caller: after this many steps the dialog
// is cancelled.
constexpr int kMaxStepsPerDialog = 10000;

struct InputState {
    std::mutex mutex;
    PalDialogStepper stepper = nullptr;
    void* stepperContext = nullptr;
    bool scriptSet = false;
    std::vector<std::string> lines;
    size_t nextLine = 0;
    std::optional<int> pendingAnswer;
    bool terminalAllowed = true;
};

InputState& input()
{
    static InputState* state = new InputState;
    return *state;
}

const char kHelp[] =
    "commands:\n"
    "  type ID TEXT      replace the text of edit ID\n"
    "  select ID INDEX   choose item INDEX of list ID\n"
    "  check ID          tick check box ID\n"
    "  uncheck ID        clear check box ID\n"
    "  click ID          press button ID\n"
    "  ok | cancel       press OK or Cancel\n"
    "  answer ok|yes|no|cancel   answer the next message box\n";

bool terminalUsable()
{
    InputState& state = input();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.terminalAllowed && isatty(STDIN_FILENO);
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<int> answerNamed(const std::string& word)
{
    if (word == "ok")
        return IDOK;
    if (word == "yes")
        return IDYES;
    if (word == "no")
        return IDNO;
    if (word == "cancel")
        return IDCANCEL;
    return std::nullopt;
}

// The next command line of the script, or nothing when it has ended.
std::optional<std::pair<size_t, std::string>> nextScriptLine()
{
    InputState& state = input();
    std::lock_guard<std::mutex> lock(state.mutex);
    while (state.nextLine < state.lines.size()) {
        size_t number = ++state.nextLine;
        std::string line = trimmed(state.lines[number - 1]);
        if (!line.empty() && line[0] != '#')
            return std::make_pair(number, line);
    }
    return std::nullopt;
}

void stopScript()
{
    InputState& state = input();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.nextLine = state.lines.size();
}

bool scriptStep(Window* dialog)
{
    auto line = nextScriptLine();
    if (!line)
        return false;
    std::string reason;
    if (runCommand(dialog, line->second, reason))
        return true;
    std::fprintf(stderr, "dialog script line %zu: %s: %s\n", line->first, line->second.c_str(), reason.c_str());
    stopScript();
    return false;
}

// ---- The terminal form

std::string controlLine(const Window& control)
{
    std::string line = "  [" + std::to_string(control.id) + "] ";
    switch (control.kind) {
    case WindowKind::Edit:
        line += toUtf8(control.label) + " \"" + toUtf8(control.text) + "\"";
        break;
    case WindowKind::Combo: {
        line += toUtf8(control.label) + " ";
        for (size_t i = 0; i < control.items.size(); ++i)
            line += (static_cast<int>(i) == control.selection ? "(*" : "( ") + std::to_string(i) + ") " +
                    toUtf8(control.items[i]) + "  ";
        break;
    }
    case WindowKind::CheckBox:
        line += std::string(control.check == BST_CHECKED ? "[x] " : "[ ] ") + toUtf8(control.text);
        break;
    case WindowKind::PushButton:
        line += "<" + toUtf8(control.text) + ">";
        break;
    default:
        return {};
    }
    if (!control.enabled)
        line += " (disabled)";
    return line + "\n";
}

std::string renderForm(const Window& dialog)
{
    std::string form = "\n== " + toUtf8(dialog.text) + " ==\n";
    for (const auto& control : dialog.controls)
        if (control->visible)
            form += controlLine(*control);
    return form;
}

std::optional<std::string> readTerminalLine(const char* prompt)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::string line;
    for (int c; (c = std::fgetc(stdin)) != EOF;) {
        if (c == '\n')
            return trimmed(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
        line.push_back(static_cast<char>(c));
    }
    return line.empty() ? std::nullopt : std::optional<std::string>(trimmed(line));
}

bool terminalStep(Window* dialog)
{
    std::fputs(renderForm(*dialog).c_str(), stdout);
    auto line = readTerminalLine("> ");
    if (!line)
        return false;
    if (line->empty() || (*line)[0] == '#')
        return true;
    if (*line == "help") {
        std::fputs(kHelp, stdout);
        return true;
    }
    std::string reason;
    if (!runCommand(dialog, *line, reason))
        std::printf("refused: %s (type help for the commands)\n", reason.c_str());
    return true;
}

// ---- Commands

Window* usableControl(Window* dialog, const std::string& idText, std::string& reason)
{
    char* end = nullptr;
    long id = std::strtol(idText.c_str(), &end, 10);
    if (idText.empty() || *end) {
        reason = "not a control id";
        return nullptr;
    }
    Window* control = controlOf(dialog, static_cast<int>(id));
    if (!control)
        reason = "no control " + idText;
    else if (!control->visible)
        reason = "control " + idText + " is hidden";
    else if (!control->enabled)
        reason = "control " + idText + " is disabled";
    else
        return control;
    return nullptr;
}

bool wrongKind(const Window* control, WindowKind kind, const char* name, std::string& reason)
{
    if (control->kind == kind)
        return false;
    reason = std::string("control is not ") + name;
    return true;
}

void pressDialogButton(Window* dialog, int id)
{
    Window* button = controlOf(dialog, id);
    sendToDialog(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool controlCommand(Window* dialog, const std::string& verb, std::istringstream& words, const std::string& line,
                    std::string& reason)
{
    std::string idText;
    words >> idText;
    Window* control = usableControl(dialog, idText, reason);
    if (!control)
        return false;
    if (verb == "type") {
        if (wrongKind(control, WindowKind::Edit, "an edit", reason))
            return false;
        size_t start = line.find(idText, 4) + idText.size();
        std::string text = start < line.size() ? line.substr(start + 1) : "";
        typeText(control, fromUtf8(text));
        return true;
    }
    if (verb == "select") {
        int index = -1;
        if (wrongKind(control, WindowKind::Combo, "a list", reason))
            return false;
        if (!(words >> index) || !chooseItem(control, index)) {
            reason = "no such item";
            return false;
        }
        return true;
    }
    if (verb == "check" || verb == "uncheck") {
        if (wrongKind(control, WindowKind::CheckBox, "a check box", reason))
            return false;
        if ((control->check == BST_CHECKED) != (verb == "check"))
            clickButton(control);
        return true;
    }
    if (control->kind != WindowKind::PushButton && control->kind != WindowKind::CheckBox) {
        reason = "control is not a button";
        return false;
    }
    clickButton(control);
    return true;
}

} // namespace

InputSource currentInputSource()
{
    {
        InputState& state = input();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.stepper)
            return InputSource::Stepper;
        if (state.scriptSet)
            return InputSource::Script;
    }
    return terminalUsable() ? InputSource::Terminal : InputSource::None;
}

bool inputStep(Window* dialog)
{
    if (++dialog->steps > kMaxStepsPerDialog)
        return false;
    switch (currentInputSource()) {
    case InputSource::Stepper: {
        InputState& state = input();
        PalDialogStepper stepper;
        void* context;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            stepper = state.stepper;
            context = state.stepperContext;
        }
        return stepper && stepper(dialog, dialog->templateId, dialog->depth, context);
    }
    case InputSource::Script:
        return scriptStep(dialog);
    case InputSource::Terminal:
        return terminalStep(dialog);
    default:
        return false;
    }
}

std::optional<int> messageBoxAnswer(UINT, const std::u16string& caption, const std::u16string& text)
{
    InputSource source = currentInputSource();
    {
        InputState& state = input();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.pendingAnswer || source != InputSource::Terminal) {
            std::optional<int> answer = state.pendingAnswer;
            state.pendingAnswer.reset();
            return answer;
        }
    }
    std::printf("\n== %s ==\n%s\n", toUtf8(caption).c_str(), toUtf8(text).c_str());
    for (;;) {
        auto line = readTerminalLine("answer (ok, yes, no, cancel)> ");
        if (!line)
            return std::nullopt;
        std::string word = line->rfind("answer ", 0) == 0 ? trimmed(line->substr(7)) : *line;
        if (auto answer = answerNamed(word))
            return answer;
    }
}

bool runCommand(Window* dialog, const std::string& line, std::string& reason)
{
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "answer") {
        std::string word;
        words >> word;
        auto answer = answerNamed(word);
        if (!answer) {
            reason = "answer ok, yes, no or cancel";
            return false;
        }
        InputState& state = input();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.pendingAnswer = answer;
        return true;
    }
    if (!dialog) {
        reason = "no dialog is open";
        return false;
    }
    if (verb == "ok" || verb == "cancel") {
        pressDialogButton(dialog, verb == "ok" ? IDOK : IDCANCEL);
        return true;
    }
    if (verb == "type" || verb == "select" || verb == "check" || verb == "uncheck" || verb == "click")
        return controlCommand(dialog, verb, words, line, reason);
    reason = "unknown command";
    return false;
}

} // namespace pal

using namespace pal;

extern "C" {

void palSetDialogScript(const char* script)
{
    InputState& state = input();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.scriptSet = script != nullptr;
    state.lines = script ? splitLines(script) : std::vector<std::string>();
    state.nextLine = 0;
    state.pendingAnswer.reset();
}

BOOL palSetDialogScriptFile(const char* path)
{
    std::ifstream file(path ? path : "", std::ios::binary);
    if (!file) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::ostringstream text;
    text << file.rdbuf();
    palSetDialogScript(text.str().c_str());
    return TRUE;
}

void palSetDialogStepper(PalDialogStepper stepper, void* context)
{
    InputState& state = input();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.stepper = stepper;
    state.stepperContext = context;
    state.pendingAnswer.reset();
}

void palSetDialogTerminal(BOOL allowed)
{
    InputState& state = input();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.terminalAllowed = allowed != FALSE;
}

BOOL palDialogCommand(HWND dialog, const char* command)
{
    Window* window = dialog ? windowOf(dialog) : nullptr;
    if ((dialog && (!window || window->kind != WindowKind::Dialog)) || !command)
        return FALSE;
    std::string reason;
    return runCommand(window, trimmed(command), reason);
}

} // extern "C"
