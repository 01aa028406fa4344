// Drives the installer's window from a second program in the same Wine prefix, the way a user
// would: it finds the main window by its class, reads the report, presses buttons, types the
// About accelerators and answers the About box. The steps come from the command line and run in
// order; the first one that fails ends the program with exit code 1 and a message on stderr.
//
//   qdi_wine_driver.exe STEP...
//     wait                 wait until the main window is shown (up to 90 s)
//     report:FILE          write the report edit control's text to FILE
//     title:FILE           write the main window's title to FILE
//     layout:FILE          write where the window shows what, for checking a screenshot: the
//                          screen origin and size of the main window's client area, of the
//                          report control's client area and of its whole frame (which holds
//                          its scroll bar), and each line the report control shows, with its
//                          top and whether it holds visible text
//     click:ID             press the button with identifier ID (BM_CLICK) and wait until the
//                          installer has handled it
//     post:ID              post WM_COMMAND ID to the main window, as a menu choice does
//     close                choose Close from the main window's system menu
//     alt:C                bring the main window to the front and type Alt+C (C one character)
//     about:FILE           wait for the About box and write the text of its line to FILE
//     escape               type Escape into the About box and wait until it has closed
//     closed               wait until the main window is gone (up to 90 s)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "res/resource.h"

namespace {

const char kMainClass[] = "QDIMainWindow";
const char kDialogClass[] = "#32770";
const DWORD kPollMs = 100;
// Generous: the 32-bit build starts inside an x86 emulator, on a machine that may be busy.
const DWORD kWindowWaitMs = 90000;
const DWORD kDialogWaitMs = 10000;
const UINT kCommandTimeoutMs = 120000;

HWND main_window;

bool fail(const std::string& message) {
    fprintf(stderr, "qdi_wine_driver: %s\n", message.c_str());
    return false;
}

template <typename Probe> bool wait_for(Probe probe, DWORD limit_ms) {
    for (DWORD waited = 0;; waited += kPollMs) {
        if (probe())
            return true;
        if (waited >= limit_ms)
            return false;
        Sleep(kPollMs);
    }
}

HWND find_main_window() {
    return FindWindowExA(nullptr, nullptr, kMainClass, nullptr);
}

// The main window once it is shown: it exists from inside CreateWindowExA, while its buttons
// and report are still being made, and is shown only after its first report is set.
HWND find_shown_main_window() {
    HWND window = find_main_window();
    return window && IsWindowVisible(window) ? window : nullptr;
}

// The About box: a dialog owned by the main window.
HWND find_about_box() {
    HWND dialog = nullptr;
    while ((dialog = FindWindowExA(nullptr, dialog, kDialogClass, nullptr)) != nullptr) {
        if (GetWindow(dialog, GW_OWNER) == main_window && IsWindowVisible(dialog))
            return dialog;
    }
    return nullptr;
}

// Reads a window's text through WM_GETTEXT, which crosses the process boundary.
bool read_text(HWND window, std::string* text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kCommandTimeoutMs,
                             &length))
        return fail("WM_GETTEXTLENGTH got no answer");
    std::string buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(&buffer[0]), SMTO_ABORTIFHUNG,
                             kCommandTimeoutMs, &copied))
        return fail("WM_GETTEXT got no answer");
    buffer.resize(copied);
    *text = buffer;
    return true;
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return fail("cannot write " + path);
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    return (fclose(file) == 0 && written) || fail("cannot write " + path);
}

// Steps after the first invocation's "wait" find the window at once.
bool need_main_window() {
    if (!main_window)
        main_window = find_shown_main_window();
    if (!main_window || !IsWindow(main_window))
        return fail("the main window is not there");
    return true;
}

void add_key(INPUT* inputs, int* count, WORD key, bool up) {
    INPUT& input = inputs[(*count)++];
    memset(&input, 0, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
}

bool send_keys(INPUT* inputs, int count) {
    if (SendInput(count, inputs, sizeof(INPUT)) != static_cast<UINT>(count))
        return fail("SendInput did not take every key");
    return true;
}

bool bring_to_front(HWND window) {
    SetForegroundWindow(window);
    // The window's thread must see the activation before the keys arrive.
    if (!wait_for([window] { return GetForegroundWindow() == window; }, kDialogWaitMs))
        return fail("the window did not come to the front");
    return true;
}

// Alt with the key that types character on the current layout (Shift added when needed).
bool type_alt_character(char character) {
    SHORT scan = VkKeyScanA(character);
    if (scan == -1)
        return fail(std::string("no key types '") + character + "'");
    bool shift = (scan & 0x100) != 0;
    WORD key = static_cast<WORD>(scan & 0xFF);
    INPUT inputs[6];
    int count = 0;
    add_key(inputs, &count, VK_MENU, false);
    if (shift)
        add_key(inputs, &count, VK_SHIFT, false);
    add_key(inputs, &count, key, false);
    add_key(inputs, &count, key, true);
    if (shift)
        add_key(inputs, &count, VK_SHIFT, true);
    add_key(inputs, &count, VK_MENU, true);
    return bring_to_front(main_window) && send_keys(inputs, count);
}

// The lines of the report control as it lays them out (wrapped lines count one by one): their
// tops come from EM_POSFROMCHAR, their text from EM_LINEINDEX and EM_LINELENGTH, all answered
// across the process boundary without pointers.
bool write_layout(const std::string& path) {
    HWND edit = GetDlgItem(main_window, IDC_REPORT_EDIT);
    if (!edit)
        return fail("the main window has no report control");
    std::string text;
    if (!read_text(edit, &text))
        return false;
    RECT client_rect, edit_rect, frame_rect;
    POINT client_origin = {0, 0}, edit_origin = {0, 0};
    if (!GetClientRect(main_window, &client_rect) || !GetClientRect(edit, &edit_rect) ||
        !GetWindowRect(edit, &frame_rect) || !ClientToScreen(main_window, &client_origin) ||
        !ClientToScreen(edit, &edit_origin))
        return fail("cannot read the windows' places");
    char line[128];
    std::string layout;
    snprintf(line, sizeof line, "client %ld %ld %ld %ld\n", client_origin.x, client_origin.y,
             client_rect.right, client_rect.bottom);
    layout += line;
    snprintf(line, sizeof line, "report %ld %ld %ld %ld\n", edit_origin.x, edit_origin.y,
             edit_rect.right, edit_rect.bottom);
    layout += line;
    snprintf(line, sizeof line, "frame %ld %ld %ld %ld\n", frame_rect.left, frame_rect.top,
             frame_rect.right - frame_rect.left, frame_rect.bottom - frame_rect.top);
    layout += line;
    LRESULT count = SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        LRESULT start = SendMessageA(edit, EM_LINEINDEX, static_cast<WPARAM>(index), 0);
        if (start < 0 || static_cast<size_t>(start) > text.size())
            return fail("the report control gives no start for a line");
        LRESULT length = SendMessageA(edit, EM_LINELENGTH, static_cast<WPARAM>(start), 0);
        LRESULT position = SendMessageA(edit, EM_POSFROMCHAR, static_cast<WPARAM>(start), 0);
        std::string shown = text.substr(static_cast<size_t>(start), static_cast<size_t>(length));
        bool visible = shown.find_first_not_of(" \t") != std::string::npos;
        // An empty last line has no character to ask for; it follows the line before it.
        int top = position == -1 ? -1 : static_cast<short>(HIWORD(position));
        snprintf(line, sizeof line, "line %d %d\n", top, visible ? 1 : 0);
        layout += line;
    }
    return write_file(path, layout);
}

bool parse_id(const std::string& text, int* id) {
    char* end = nullptr;
    long value = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 0xFFFF)
        return fail("not a control identifier: " + text);
    *id = static_cast<int>(value);
    return true;
}

bool run_step(const std::string& step) {
    size_t colon = step.find(':');
    std::string name = step.substr(0, colon);
    std::string argument = colon == std::string::npos ? "" : step.substr(colon + 1);

    if (name == "wait") {
        if (!wait_for([] { return (main_window = find_shown_main_window()) != nullptr; },
                      kWindowWaitMs))
            return fail("no window of class QDIMainWindow appeared");
        return true;
    }
    if (name == "closed") {
        if (!wait_for([] { return find_main_window() == nullptr; }, kWindowWaitMs))
            return fail("the main window did not close");
        return true;
    }
    if (!need_main_window())
        return false;
    if (name == "report" || name == "title") {
        HWND source = name == "title" ? main_window : GetDlgItem(main_window, IDC_REPORT_EDIT);
        std::string text;
        if (!source)
            return fail("the main window has no report control");
        return read_text(source, &text) && write_file(argument, text);
    }
    if (name == "layout")
        return write_layout(argument);
    if (name == "click") {
        int id = 0;
        if (!parse_id(argument, &id))
            return false;
        HWND button = GetDlgItem(main_window, id);
        if (!button)
            return fail("the main window has no button " + argument);
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, kCommandTimeoutMs,
                                 &ignored) &&
            IsWindow(main_window))
            return fail("button " + argument + " was not handled in time");
        return true;
    }
    if (name == "post") {
        int id = 0;
        if (!parse_id(argument, &id))
            return false;
        if (!PostMessageA(main_window, WM_COMMAND, static_cast<WPARAM>(id), 0))
            return fail("cannot post command " + argument);
        return true;
    }
    if (name == "close") {
        if (!PostMessageA(main_window, WM_SYSCOMMAND, SC_CLOSE, 0))
            return fail("cannot post the Close command");
        return true;
    }
    if (name == "alt") {
        if (argument.size() != 1)
            return fail("alt takes one character: " + argument);
        return type_alt_character(argument[0]);
    }
    if (name == "about") {
        HWND dialog = nullptr;
        if (!wait_for([&dialog] { return (dialog = find_about_box()) != nullptr; }, kDialogWaitMs))
            return fail("no About box appeared");
        HWND line = GetDlgItem(dialog, IDC_ABOUT_TEXT);
        std::string text;
        if (!line)
            return fail("the About box has no text line");
        return read_text(line, &text) && write_file(argument, text);
    }
    if (name == "escape") {
        HWND dialog = find_about_box();
        if (!dialog)
            return fail("no About box to answer");
        INPUT inputs[2];
        int count = 0;
        add_key(inputs, &count, VK_ESCAPE, false);
        add_key(inputs, &count, VK_ESCAPE, true);
        if (!bring_to_front(dialog) || !send_keys(inputs, count))
            return false;
        if (!wait_for([] { return find_about_box() == nullptr; }, kDialogWaitMs))
            return fail("the About box did not close on Escape");
        return true;
    }
    return fail("unknown step: " + step);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!run_step(argv[i]))
            return 1;
    }
    return 0;
}
