// user32: window creation and its messages, the default position, the default handling of
// WM_ERASEBKGND, GetMessageA's filters, the modal dialog and its owner, accelerators with Alt and
// a character, EnableMenuItem, SetTimer again, and the text of a multi-line read-only edit.
#include <algorithm>
#include <vector>

#include "res/resource.h"
#include "tests/conformance/conformance.h"

namespace {

const char kRecorderClass[] = "QDIConformanceRecorder";
const int kMenuResource = IDR_MAIN_MENU;
const int kAcceleratorResource = IDR_ACCELERATORS;
const int kDialogResource = IDD_ABOUT;
const UINT kAboutCommand = IDM_ABOUT;
const UINT kInstallCommand = IDM_INSTALL;
const UINT kTestMessage = WM_USER + 7;

std::vector<UINT> received;

LRESULT CALLBACK recorder_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    received.push_back(message);
    return DefWindowProcA(window, message, wparam, lparam);
}

// The recorder class, with the window colour as its background brush (or none).
void register_recorder(bool with_brush) {
    // On Windows a second registration fails harmlessly; simwin forgets classes between checks.
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = recorder_proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground =
        with_brush ? reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)) : nullptr;
    window_class.lpszClassName = with_brush ? kRecorderClass : "QDIConformanceBare";
    RegisterClassExA(&window_class);
}

HWND make_window(int x, int y, bool with_brush = true) {
    register_recorder(with_brush);
    return CreateWindowExA(0, with_brush ? kRecorderClass : "QDIConformanceBare", "Recorder",
                           WS_OVERLAPPEDWINDOW, x, y, 300, 200, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

int position_of(const std::vector<UINT>& messages, UINT message) {
    for (size_t i = 0; i < messages.size(); ++i)
        if (messages[i] == message)
            return static_cast<int>(i);
    return -1;
}

// Takes every message queued now, so that the next check starts from an empty queue.
void drain_queue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        ;
}

} // namespace

CONFORMANCE_CHECK(user32_creation_sends_its_messages_in_order_inside_the_call) {
    received.clear();
    HWND window = make_window(CW_USEDEFAULT, 0);
    EXPECT(window != nullptr);
    std::vector<UINT> during = received;
    int minmax = position_of(during, WM_GETMINMAXINFO);
    int nccreate = position_of(during, WM_NCCREATE);
    int nccalc = position_of(during, WM_NCCALCSIZE);
    int create = position_of(during, WM_CREATE);
    EXPECT_EQ(minmax, 0);
    EXPECT_EQ(nccreate, 1);
    EXPECT_EQ(nccalc, 2);
    EXPECT_EQ(create, 3);
    // The window is not visible, so nothing asks it to paint yet.
    EXPECT_EQ(position_of(during, WM_PAINT), -1);
    DestroyWindow(window);
    drain_queue();
}

CONFORMANCE_CHECK(user32_default_x_ignores_y_and_a_given_x_keeps_both) {
    HWND top = make_window(CW_USEDEFAULT, 0);
    HWND low = make_window(CW_USEDEFAULT, 200);
    HWND given = make_window(0, 200);
    RECT a = {}, b = {}, c = {};
    GetWindowRect(top, &a);
    GetWindowRect(low, &b);
    GetWindowRect(given, &c);
    EXPECT_EQ(a.top, b.top);
    EXPECT_EQ(c.left, 0);
    EXPECT_EQ(c.top, 200);
    DestroyWindow(top);
    DestroyWindow(low);
    DestroyWindow(given);
    drain_queue();
}

KNOWN_WINE_DIFFERENCE(user32_default_position_is_away_from_the_corner,
                      "Wine puts a CW_USEDEFAULT window at the work area's top-left corner; "
                      "Windows cascades default positions away from it") {
    HWND window = make_window(CW_USEDEFAULT, 0);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT(rect.left != 0 || rect.top != 0);
    DestroyWindow(window);
    drain_queue();
}

namespace {

const COLORREF kMarker = RGB(10, 20, 30);

// Fills a bitmap with the marker colour, has the default window procedure erase it for a window
// of the recorder class with or without its brush, and gives the result and the colour left.
LRESULT erase_over_marker(bool with_brush, COLORREF* left) {
    HWND window = make_window(CW_USEDEFAULT, 0, with_brush);
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = {0, 0, 16, 16};
    HBRUSH marker = CreateSolidBrush(kMarker);
    FillRect(memory, &all, marker);
    EXPECT_EQ(GetPixel(memory, 5, 5), kMarker);
    LRESULT result = DefWindowProcA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
    *left = GetPixel(memory, 5, 5);
    SelectObject(memory, old);
    DeleteObject(marker);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    DestroyWindow(window);
    drain_queue();
    return result;
}

} // namespace

CONFORMANCE_CHECK(user32_default_erase_fills_the_client_area_with_the_class_brush) {
    COLORREF left = 0;
    EXPECT(erase_over_marker(true, &left) != 0);
    EXPECT_EQ(left, GetSysColor(COLOR_WINDOW));
}

CONFORMANCE_CHECK(user32_default_erase_without_a_class_brush_paints_nothing) {
    COLORREF left = 0;
    EXPECT_EQ(erase_over_marker(false, &left), 0);
    EXPECT_EQ(left, kMarker);
}

CONFORMANCE_CHECK(user32_get_message_with_a_destroyed_window_fails) {
    HWND window = make_window(CW_USEDEFAULT, 0);
    DestroyWindow(window);
    drain_queue();
    // Something to take, so that a call that ignored the filter would not wait.
    PostMessageA(nullptr, kTestMessage, 1, 0);
    MSG msg = {};
    SetLastError(0);
    BOOL got = GetMessageA(&msg, window, 0, 0);
    EXPECT_EQ(got, -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    drain_queue();
}

CONFORMANCE_CHECK(user32_get_message_filters_by_window_and_by_range) {
    HWND first = make_window(CW_USEDEFAULT, 0);
    HWND second = make_window(CW_USEDEFAULT, 0);
    drain_queue();
    PostMessageA(second, kTestMessage, 2, 0);
    PostMessageA(first, kTestMessage, 1, 0);
    PostMessageA(first, kTestMessage + 1, 3, 0);
    MSG msg = {};
    EXPECT_EQ(GetMessageA(&msg, first, kTestMessage + 1, kTestMessage + 1), 1);
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(3));
    EXPECT_EQ(GetMessageA(&msg, first, 0, 0), 1);
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(1));
    EXPECT(msg.hwnd == first);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(2));
    DestroyWindow(first);
    DestroyWindow(second);
    drain_queue();
}

namespace {

BOOL owner_enabled_in_dialog = TRUE;

INT_PTR CALLBACK ending_dialog_proc(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message != WM_INITDIALOG)
        return FALSE;
    owner_enabled_in_dialog = IsWindowEnabled(reinterpret_cast<HWND>(lparam));
    EndDialog(dialog, 7);
    return TRUE;
}

} // namespace

CONFORMANCE_CHECK(user32_modal_dialog_disables_its_owner_until_it_ends) {
    HWND owner = make_window(CW_USEDEFAULT, 0);
    EXPECT(IsWindowEnabled(owner));
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kDialogResource),
                                     owner, ending_dialog_proc, reinterpret_cast<LPARAM>(owner));
    EXPECT_EQ(result, static_cast<INT_PTR>(7));
    EXPECT(!owner_enabled_in_dialog);
    EXPECT(IsWindowEnabled(owner));
    DestroyWindow(owner);
    drain_queue();
}

namespace {

// Holds the Alt key down in the thread's keyboard state, or lets it go.
void hold_alt(bool down) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_MENU] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

} // namespace

// A character entry with Alt matches a character message by the Alt key's state, and a key-down
// only by the Alt bit of its lParam with the character's code as the key.
CONFORMANCE_CHECK(user32_alt_character_accelerators_go_by_the_alt_key_state) {
    HWND window = make_window(CW_USEDEFAULT, 0);
    HACCEL table =
        LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kAcceleratorResource));
    EXPECT(table != nullptr);
    const LPARAM kAltBit = 0x20000000;
    MSG msg = {};
    msg.hwnd = window;
    received.clear();
    msg.message = WM_SYSCHAR;
    msg.wParam = '?';
    msg.lParam = kAltBit | 1;
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
    hold_alt(true);
    EXPECT_EQ(GetKeyState(VK_MENU) < 0, true);
    EXPECT(TranslateAcceleratorA(window, table, &msg) != 0);
    msg.wParam = '/';
    EXPECT(TranslateAcceleratorA(window, table, &msg) != 0);
    msg.message = WM_CHAR;
    msg.lParam = 1;
    EXPECT(TranslateAcceleratorA(window, table, &msg) != 0);
    msg.wParam = 'a';
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
    hold_alt(false);
    msg.wParam = '/';
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
    EXPECT_EQ(static_cast<int>(std::count(received.begin(), received.end(), WM_COMMAND)), 3);
    // The key that carries "/" and "?" is not the character itself.
    msg.message = WM_SYSKEYDOWN;
    msg.wParam = VK_OEM_2;
    msg.lParam = kAltBit | 1;
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
    msg.wParam = '/';
    EXPECT(TranslateAcceleratorA(window, table, &msg) != 0);
    msg.lParam = 1;
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
    EXPECT_EQ(static_cast<int>(std::count(received.begin(), received.end(), WM_COMMAND)), 4);
    DestroyWindow(window);
    drain_queue();
}

namespace {

WPARAM accelerator_command = 0;

LRESULT CALLBACK command_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND)
        accelerator_command = wparam;
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

CONFORMANCE_CHECK(user32_accelerator_sends_its_command_marked_as_from_an_accelerator) {
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = command_proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "QDIConformanceCommand";
    RegisterClassExA(&window_class);
    HWND window =
        CreateWindowExA(0, "QDIConformanceCommand", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 100,
                        100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    HACCEL table =
        LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kAcceleratorResource));
    MSG msg = {};
    msg.hwnd = window;
    msg.message = WM_SYSCHAR;
    msg.wParam = '?';
    msg.lParam = 0x20000001;
    accelerator_command = 0;
    hold_alt(true);
    EXPECT(TranslateAcceleratorA(window, table, &msg) != 0);
    hold_alt(false);
    EXPECT_EQ(accelerator_command, MAKEWPARAM(kAboutCommand, 1));
    DestroyWindow(window);
    drain_queue();
}

CONFORMANCE_CHECK(user32_enable_menu_item_answers_the_previous_state) {
    HMENU bar = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kMenuResource));
    EXPECT(bar != nullptr);
    HMENU file = GetSubMenu(bar, 0);
    EXPECT(file != nullptr);
    EXPECT_EQ(EnableMenuItem(file, kInstallCommand, MF_BYCOMMAND | MF_GRAYED),
              static_cast<BOOL>(MF_ENABLED));
    EXPECT_EQ(EnableMenuItem(file, kInstallCommand, MF_BYCOMMAND | MF_ENABLED),
              static_cast<BOOL>(MF_GRAYED));
    EXPECT_EQ(EnableMenuItem(file, kInstallCommand, MF_BYCOMMAND | MF_ENABLED),
              static_cast<BOOL>(MF_ENABLED));
    // A command that the popup does not hold.
    EXPECT_EQ(EnableMenuItem(file, kAboutCommand, MF_BYCOMMAND | MF_ENABLED), -1);
    // The bar finds a command inside its popups.
    EXPECT_EQ(EnableMenuItem(bar, kAboutCommand, MF_BYCOMMAND | MF_GRAYED),
              static_cast<BOOL>(MF_ENABLED));
    DestroyMenu(bar);
}

CONFORMANCE_CHECK(user32_setting_a_timer_again_restarts_its_period) {
    HWND window = make_window(CW_USEDEFAULT, 0);
    drain_queue();
    const UINT kPeriod = 300;
    DWORD start = GetTickCount();
    SetTimer(window, 5, kPeriod, nullptr);
    Sleep(200);
    SetTimer(window, 5, kPeriod, nullptr);
    MSG msg = {};
    while (GetMessageA(&msg, window, WM_TIMER, WM_TIMER) > 0 && msg.wParam != 5)
        ;
    DWORD elapsed = GetTickCount() - start;
    // Without the restart the tick would come at 300 ms; with it, 300 ms after the second call.
    EXPECT(elapsed >= 200 + kPeriod - 20);
    KillTimer(window, 5);
    DestroyWindow(window);
    drain_queue();
}

CONFORMANCE_CHECK(user32_read_only_multi_line_edit_keeps_its_text_and_cuts_to_the_buffer) {
    HWND parent = make_window(CW_USEDEFAULT, 0);
    HWND edit = CreateWindowExA(
        WS_EX_CLIENTEDGE, "Edit", "", WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, 0,
        200, 100, parent, reinterpret_cast<HMENU>(200), GetModuleHandleA(nullptr), nullptr);
    EXPECT(edit != nullptr);
    const char kText[] = "line one\r\nline two\r\n";
    EXPECT_EQ(SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kText)),
              static_cast<LRESULT>(TRUE));
    EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), static_cast<LRESULT>(sizeof kText - 1));
    char whole[64] = "";
    EXPECT_EQ(SendMessageA(edit, WM_GETTEXT, sizeof whole, reinterpret_cast<LPARAM>(whole)),
              static_cast<LRESULT>(sizeof kText - 1));
    EXPECT_TEXT(whole, kText);
    char part[6] = "xxxxx";
    EXPECT_EQ(SendMessageA(edit, WM_GETTEXT, sizeof part, reinterpret_cast<LPARAM>(part)),
              static_cast<LRESULT>(5));
    EXPECT_TEXT(part, "line ");
    DestroyWindow(parent);
    drain_queue();
}

// WNDCLASSEXA is 48 bytes on 32-bit Windows and 80 on 64-bit: a registration that declares the
// other bitness's size is refused (this check tells the two builds apart).
CONFORMANCE_CHECK(user32_class_registration_needs_this_builds_structure_size) {
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof(void*) == 8 ? 48 : 80;
    window_class.lpfnWndProc = recorder_proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "QDIConformanceSize";
    SetLastError(0);
    EXPECT_EQ(RegisterClassExA(&window_class), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    window_class.cbSize = sizeof window_class;
    EXPECT(RegisterClassExA(&window_class) != 0);
}
