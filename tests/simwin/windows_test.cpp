// The simulated window system itself, where the program's tests rely on it behaving as Windows
// does: the resource script, timers and message order, accelerators on menu items, window text,
// creation failures, GDI selection rules and the wsprintfA limit.
#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/sim_test.h"

namespace {

struct Seen {
    UINT message;
    WPARAM wparam;
    uint64_t at;
};
std::vector<Seen> seen;
LRESULT create_answer = 0;

LRESULT CALLBACK recording_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    seen.push_back(Seen{message, wparam, sim::now_ms()});
    if (message == WM_CREATE)
        return create_answer;
    if (message == WM_DESTROY)
        PostQuitMessage(3);
    return DefWindowProcA(window, message, wparam, lparam);
}

class UiSimTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        seen.clear();
        create_answer = 0;
    }

    // A top-level window of a recording class that carries the installer's menu.
    static HWND make_window() {
        WNDCLASSEXA window_class = {};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = recording_proc;
        window_class.hInstance = sim::program_instance();
        window_class.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
        window_class.lpszClassName = "Recorder";
        RegisterClassExA(&window_class);
        return CreateWindowExA(0, "Recorder", "R", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 300, 200,
                               nullptr, nullptr, sim::program_instance(), nullptr);
    }

    // The program's loop, without accelerators; returns the quit code.
    static int run_loop() {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return static_cast<int>(msg.wParam);
    }

    static std::vector<uint64_t> times_of(UINT message) {
        std::vector<uint64_t> times;
        for (const Seen& s : seen)
            if (s.message == message)
                times.push_back(s.at);
        return times;
    }
};

HWND the_dialog = nullptr;
INT_PTR CALLBACK inspecting_dialog_proc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return 0;
    the_dialog = dialog;
    EXPECT_EQ(sim::window_text(dialog), "About");
    sim::WindowInfo icon = sim::window_info(GetDlgItem(dialog, IDC_ABOUT_ICON));
    EXPECT_EQ(icon.class_name, "Static");
    EXPECT_EQ(icon.style & 0xF, static_cast<DWORD>(SS_ICON));
    sim::WindowInfo line = sim::window_info(GetDlgItem(dialog, IDC_ABOUT_TEXT));
    EXPECT_EQ(line.class_name, "Static");
    EXPECT_EQ(line.text, "");
    EXPECT_EQ(line.style & (SS_NOPREFIX | WS_GROUP), static_cast<DWORD>(SS_NOPREFIX | WS_GROUP));
    sim::WindowInfo ok = sim::window_info(GetDlgItem(dialog, IDOK));
    EXPECT_EQ(ok.class_name, "Button");
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(ok.style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(sim::children(dialog).size(), 4u);
    EXPECT_EQ(GetDlgItem(dialog, 1001), nullptr);
    EndDialog(dialog, 7);
    return 1;
}

} // namespace

TEST_F(UiSimTest, TheResourceScriptGivesMenuAcceleratorsDialogIconAndBitmap) {
    HWND window = make_window();
    ASSERT_NE(window, nullptr);
    HMENU bar = sim::window_menu(window);
    for (UINT command : {IDM_INSTALL, IDM_UNINSTALL, IDM_EXIT, IDM_ABOUT})
        EXPECT_EQ(sim::menu_item_state(bar, command), MF_ENABLED) << command;
    EXPECT_EQ(sim::menu_item_state(bar, 106), -1);
    EXPECT_NE(LoadAcceleratorsA(sim::program_instance(), MAKEINTRESOURCEA(IDR_ACCELERATORS)),
              nullptr);
    EXPECT_EQ(LoadAcceleratorsA(sim::program_instance(), MAKEINTRESOURCEA(110)), nullptr);
    EXPECT_NE(LoadIconA(sim::program_instance(), MAKEINTRESOURCEA(IDI_INSTALLER)), nullptr);

    HBITMAP picture = LoadBitmapA(sim::program_instance(), MAKEINTRESOURCEA(IDB_HEADER));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(sim::open_count(sim::Resource::GdiObject), 1);
    DeleteObject(picture);

    EXPECT_EQ(DialogBoxParamA(sim::program_instance(), MAKEINTRESOURCEA(IDD_ABOUT), window,
                              inspecting_dialog_proc, 0),
              7);
    EXPECT_FALSE(sim::window_info(the_dialog).exists);
    EXPECT_EQ(DialogBoxParamA(sim::program_instance(), MAKEINTRESOURCEA(104), window,
                              inspecting_dialog_proc, 0),
              -1);
    DestroyWindow(window);
}

TEST_F(UiSimTest, SettingATimerAgainRestartsItsPeriodAndKillingItStopsIt) {
    HWND window = make_window();
    SetTimer(window, 5, 1000, nullptr);
    sim::at(500, [window] { SetTimer(window, 5, 1000, nullptr); });
    sim::at(2600, [window] { EXPECT_TRUE(KillTimer(window, 5)); });
    // Nothing is due or scheduled after that: the run ends by itself.
    EXPECT_EQ(run_loop(), sim::kStalledExitCode);
    EXPECT_TRUE(sim::run_stalled());
    EXPECT_EQ(times_of(WM_TIMER), (std::vector<uint64_t>{1500, 2500}));
    DestroyWindow(window);
}

TEST_F(UiSimTest, PostedMessagesComeBeforePaintAndPaintBeforeTimers) {
    HWND window = make_window();
    ShowWindow(window, SW_SHOW);
    SetTimer(window, 1, 10, nullptr);
    sim::at(10, [window] {
        PostMessageA(window, WM_USER, 1, 0);
        PostMessageA(window, WM_USER, 2, 0);
        sim::invalidate(window);
    });
    // An action and a timer due at the same moment: the action runs first.
    sim::at(20, [window] { DestroyWindow(window); });
    EXPECT_EQ(run_loop(), 3);
    std::vector<UINT> order;
    for (const Seen& s : seen)
        if (s.message == WM_USER || s.message == WM_PAINT || s.message == WM_TIMER ||
            s.message == WM_DESTROY)
            order.push_back(s.message);
    std::vector<UINT> expected = {WM_PAINT, WM_USER, WM_USER, WM_PAINT, WM_TIMER, WM_DESTROY};
    EXPECT_EQ(order, expected);
}

TEST_F(UiSimTest, AnAcceleratorOnADisabledMenuItemSendsNoCommand) {
    HWND window = make_window();
    HACCEL table = LoadAcceleratorsA(sim::program_instance(), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG msg = {};
    msg.hwnd = window;
    msg.message = WM_SYSCHAR;
    msg.wParam = '?';
    msg.lParam = 0x20000001;
    // A character entry goes by the Alt key's state, not by the message.
    BYTE keys[256] = {};
    keys[VK_MENU] = 0x80;
    SetKeyboardState(keys);
    EnableMenuItem(sim::window_menu(window), IDM_ABOUT, MF_BYCOMMAND | MF_GRAYED);
    seen.clear();
    EXPECT_NE(TranslateAcceleratorA(window, table, &msg), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_INITMENUPOPUP));

    EnableMenuItem(sim::window_menu(window), IDM_ABOUT, MF_BYCOMMAND | MF_ENABLED);
    seen.clear();
    EXPECT_NE(TranslateAcceleratorA(window, table, &msg), 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(seen[1].wparam, MAKEWPARAM(IDM_ABOUT, 1));

    keys[VK_MENU] = 0; // no Alt
    SetKeyboardState(keys);
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
    DestroyWindow(window);
}

TEST_F(UiSimTest, WindowTextReadsBackWithinTheCallersBuffer) {
    HWND window = make_window();
    HWND edit = CreateWindowExA(0, "Edit", "start", WS_CHILD | ES_READONLY, 0, 0, 10, 10, window,
                                reinterpret_cast<HMENU>(200), sim::program_instance(), nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("read-only text")));
    EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 14);
    char small[5];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(SendMessageA(edit, WM_GETTEXT, sizeof small, reinterpret_cast<LPARAM>(small)), 4);
    EXPECT_STREQ(small, "read");
    // A child goes with its parent.
    DestroyWindow(window);
    EXPECT_FALSE(sim::window_info(edit).exists);
}

TEST_F(UiSimTest, CreationFailsAsWindowsFailsIt) {
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class - 4;
    window_class.lpfnWndProc = recording_proc;
    window_class.lpszClassName = "Short";
    EXPECT_EQ(RegisterClassExA(&window_class), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateWindowExA(0, "Short", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
              nullptr);

    create_answer = -1;
    EXPECT_EQ(make_window(), nullptr);
    EXPECT_EQ(times_of(WM_DESTROY).size(), 1u);
    EXPECT_EQ(
        CreateWindowExA(0, "Button", "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
}

TEST_F(UiSimTest, ASelectedObjectIsNotDeletedAndABitmapFitsOneContext) {
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(first, 10, 10);
    HGDIOBJ kept = SelectObject(first, bitmap);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(sim::open_count(sim::Resource::GdiObject), 1);
    EXPECT_EQ(SelectObject(first, kept), bitmap);
    EXPECT_TRUE(DeleteObject(bitmap));
    DeleteDC(first);
    DeleteDC(second);
}

TEST_F(UiSimTest, WsprintfStopsAtTheWindowsLimit) {
    std::string long_text(2000, 'a');
    std::vector<char> out(4000, 'x');
    EXPECT_EQ(wsprintfA(out.data(), "%s %d %s", "DefaultInstall", 128, ".\\zelkqx7.inf"), 32);
    EXPECT_STREQ(out.data(), "DefaultInstall 128 .\\zelkqx7.inf");
    EXPECT_EQ(wsprintfA(out.data(), "%s", long_text.c_str()), 1023);
    EXPECT_EQ(std::strlen(out.data()), 1023u);
    EXPECT_EQ(out[1024], 'x');
}
