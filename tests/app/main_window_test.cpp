// The main window: its class and children, the ways the program ends, the commands of the menu,
// buttons and accelerators, and which messages cause a report refresh.
#include "install/install.h"
#include "tests/app/harness.h"

using MainWindowTest = AppTest;

namespace {

struct ExpectedChild {
    const char* class_name;
    const char* text;
    int x, y, width, height, id;
    DWORD style;
    DWORD ex_style;
};

const ExpectedChild kChildren[] = {
    {"Button", "Install", 40, 350, 130, 30, IDM_INSTALL, WS_CHILD | WS_VISIBLE, 0},
    {"Button", "Uninstall", 230, 350, 130, 30, IDM_UNINSTALL, WS_CHILD | WS_VISIBLE, 0},
    {"Button", "Exit", 410, 350, 130, 30, IDM_EXIT, WS_CHILD | WS_VISIBLE, 0},
    {"Edit", nullptr, 200, 10, 380, 320, IDC_REPORT_EDIT, 0x40200844 | WS_VISIBLE,
     WS_EX_CLIENTEDGE},
};

} // namespace

TEST_F(MainWindowTest, ClassAndWindowAreMadeAsTheShellDescribesThem) {
    sim::at(0, [] {
        sim::ClassInfo c = sim::class_info("QDIMainWindow");
        EXPECT_TRUE(c.registered);
        EXPECT_EQ(c.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
        EXPECT_EQ(c.procedure, &main_window_proc);
        EXPECT_EQ(c.class_extra, 0);
        EXPECT_EQ(c.window_extra, 0);
        EXPECT_EQ(c.instance, sim::program_instance());
        EXPECT_NE(c.icon, nullptr);
        EXPECT_EQ(sim::cursor_name(c.cursor), "arrow");
        EXPECT_EQ(c.background, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
        EXPECT_EQ(c.menu_name, "#" + std::to_string(IDR_MAIN_MENU));
        EXPECT_EQ(c.small_icon, nullptr);

        sim::WindowInfo w = sim::window_info(main_window());
        EXPECT_EQ(w.text, "Quorvale Driver Installer");
        EXPECT_EQ(w.style, static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
        EXPECT_EQ(w.ex_style, 0u);
        EXPECT_EQ(w.width, 600);
        EXPECT_EQ(w.height, 440);
        EXPECT_EQ(w.parent, nullptr);
        EXPECT_NE(sim::window_menu(main_window()), nullptr);
        EXPECT_EQ(app.instance, sim::program_instance());
        EXPECT_STREQ(app.version_text, "ver 1.2.78");
        EXPECT_EQ(app.timer_armed, 1);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    ASSERT_EQ(sim::calls_of("CreateWindowExA").size(), 5u);
    EXPECT_EQ(sim::calls_of("CreateWindowExA")[0].args,
              "QDIMainWindow \"Quorvale Driver Installer\" style=0xcf0000 ex=0");
    int shown_default = 0;
    for (const sim::Call& call : sim::calls_of("ShowWindow"))
        shown_default += call.args.find("show=10") != std::string::npos;
    EXPECT_EQ(shown_default, 1);
}

// Before the first report the program asks kernel32's IsWow64Process, looked up by name, once:
// a 32-bit program on 64-bit Windows gives the WOW64 advice. Windows whose kernel32 lacks the
// query, or a query that fails, leave the program as on its own Windows.
TEST_F(MainWindowTest, Wow64IsAskedOnceAtStartThroughKernel32AndDecidesTheFirstAdvice) {
    struct Case {
        sim::ProcessKind kind;
        bool query_fails, wow64;
        int queries;
    };
    const Case cases[] = {
        {sim::ProcessKind::Native, false, false, 1},
        {sim::ProcessKind::Wow64, false, true, 1},
        {sim::ProcessKind::Wow64, true, false, 1},
        {sim::ProcessKind::NativeWithoutWow64Query, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind) * 2 + c.query_fails);
        start_again();
        sim::set_process_kind(c.kind);
        if (c.query_fails)
            sim::fail_every_call("IsWow64Process");
        sim::at(0, [] { press_exit(); });
        EXPECT_EQ(installer_main(), 0);

        EXPECT_EQ(install_state.under_wow64, c.wow64 ? 1 : 0);
        std::string text = report_buffers.report_text;
        EXPECT_EQ(text.find("This 32-bit installer cannot install drivers on 64-bit Windows. Use "
                            "the 64-bit installer of version 1.2.78.\r\n") != std::string::npos,
                  c.wow64);
        ASSERT_EQ(sim::calls_of("GetModuleHandleA").size(), 2u);
        EXPECT_EQ(sim::calls_of("GetModuleHandleA")[1].args, "kernel32.dll");
        ASSERT_EQ(sim::calls_of("GetProcAddress").size(), 1u);
        EXPECT_EQ(sim::calls_of("GetProcAddress")[0].args, "IsWow64Process");
        EXPECT_EQ(sim::count_calls("IsWow64Process"), c.queries);
        long asked = -1, created = -1;
        for (size_t i = 0; i < sim::calls().size(); ++i) {
            if (asked < 0 && sim::calls()[i].function == "GetProcAddress")
                asked = static_cast<long>(i);
            if (created < 0 && sim::calls()[i].function == "CreateWindowExA")
                created = static_cast<long>(i);
        }
        EXPECT_LT(asked, created);
    }
}

// The main window opens where Windows places a new window (here at 40, 30), not at a corner or
// off the screen.
TEST_F(MainWindowTest, MainWindowOpensAtThePlaceWindowsChooses) {
    sim::at(0, [] {
        sim::WindowInfo w = sim::window_info(main_window());
        EXPECT_EQ(w.x, 40);
        EXPECT_EQ(w.y, 30);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, ChildrenAreCreatedInOrderWithTheirClassesTextsPlacesAndStyles) {
    sim::at(0, [] {
        std::vector<HWND> children = sim::children(main_window());
        ASSERT_EQ(children.size(), 4u);
        for (size_t i = 0; i < children.size(); ++i) {
            SCOPED_TRACE(i);
            sim::WindowInfo c = sim::window_info(children[i]);
            EXPECT_EQ(c.class_name, kChildren[i].class_name);
            if (i < 3) { // the report area holds the first report by now
                EXPECT_EQ(c.text, kChildren[i].text);
            }
            EXPECT_EQ(c.x, kChildren[i].x);
            EXPECT_EQ(c.y, kChildren[i].y);
            EXPECT_EQ(c.width, kChildren[i].width);
            EXPECT_EQ(c.height, kChildren[i].height);
            EXPECT_EQ(c.id, kChildren[i].id);
            EXPECT_EQ(c.style, kChildren[i].style);
            EXPECT_EQ(c.ex_style, kChildren[i].ex_style);
            EXPECT_TRUE(c.visible);
        }
        EXPECT_EQ(children[0], app.install_button);
        EXPECT_EQ(children[1], app.uninstall_button);
        EXPECT_EQ(children[2], app.exit_button);
        EXPECT_EQ(children[3], app.report_edit);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, TheFirstReportFillsTheEditBeforeTheWindowIsShown) {
    sim::at(0, [] {
        EXPECT_NE(sim::window_text(app.report_edit), "");
        EXPECT_EQ(sim::window_text(app.report_edit), report_buffers.report_text);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    // The buttons are shown together, then the edit; the report is set before the main window
    // is shown.
    const std::vector<sim::Call>& log = sim::calls();
    std::vector<std::string> order;
    for (const sim::Call& call : log) {
        if (call.function == "ShowWindow")
            order.push_back(call.args.find("show=10") != std::string::npos ? "main" : "child");
        if (call.function == "SendMessageA" && call.args.find("msg=0xc ") != std::string::npos)
            order.push_back("report");
        if (call.function == "CreateWindowExA")
            order.push_back(call.args.substr(0, call.args.find(' ')));
    }
    std::vector<std::string> expected = {"QDIMainWindow", "Button", "Button", "Button",
                                         "child",         "child",  "child",  "Edit",
                                         "child",         "report", "main"};
    EXPECT_EQ(order, expected);
}

TEST_F(MainWindowTest, EveryWayOfClosingEndsTheProgramWithCodeZero) {
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Exit button", [] { sim::click_button(app.exit_button); }},
        {"File menu Exit", [] { EXPECT_TRUE(sim::choose_menu_item(main_window(), IDM_EXIT)); }},
        {"system menu Close", [] { sim::choose_system_close(main_window()); }},
        {"WM_CLOSE", [] { PostMessageA(main_window(), WM_CLOSE, 0, 0); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.first);
        start_again();
        sim::at(5000, way.second);
        EXPECT_EQ(installer_main(), 0);
        EXPECT_FALSE(sim::run_stalled());
        EXPECT_EQ(main_window(), nullptr);
        EXPECT_EQ(sim::count_calls("PostQuitMessage"), 1);
        EXPECT_EQ(sim::open_summary(), "");
    }
}

// CW_USEDEFAULT leaves the place to the system, which ignores the y given with it; a window
// created at x = 0 would sit in the screen's corner.
TEST_F(MainWindowTest, TheSystemChoosesWhereTheMainWindowGoes) {
    sim::at(0, [] {
        sim::WindowInfo w = sim::window_info(main_window());
        EXPECT_EQ(w.x, sim::kDefaultWindowX);
        EXPECT_EQ(w.y, sim::kDefaultWindowY);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, FailedWindowCreationEndsAtOnceWithCodeZero) {
    sim::fail_call("CreateWindowExA", 1);
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("GetMessageA"), 0);
    EXPECT_EQ(sim::count_calls("SetTimer"), 0);

    // A class that could not be registered shows the same way.
    start_again();
    sim::fail_call("RegisterClassExA", 1);
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("GetMessageA"), 0);
}

TEST_F(MainWindowTest, FailedChildrenAndTimerLeaveAWorkingWindow) {
    sim::fail_call("CreateWindowExA", 2); // the Install button
    sim::fail_call("SetTimer", 1);
    sim::at(100, [] {
        EXPECT_EQ(app.install_button, nullptr);
        EXPECT_EQ(sim::children(main_window()).size(), 3u);
        EXPECT_TRUE(sim::choose_menu_item(main_window(), IDM_EXIT));
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, AFailingMessageLoopEndsWithAnErrorCodeInsteadOfSpinning) {
    sim::fail_calls_from("GetMessageA", 1);
    EXPECT_NE(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("GetMessageA"), 1);
    // The window is still there: the process ends and Windows takes it.
    EXPECT_NE(main_window(), nullptr);
    DestroyWindow(main_window());
}

TEST_F(MainWindowTest, OnlyTheRefreshTimerRefreshes) {
    sim::set_time_limit(2000); // no tick of the refresh timer in this run
    sim::at(100, [] {
        int before = refresh_count();
        EXPECT_EQ(SendMessageA(main_window(), WM_TIMER, 77, 0), 0);
        EXPECT_EQ(SendMessageA(main_window(), WM_TIMER, 124, 0), 0);
        EXPECT_EQ(refresh_count(), before);
        EXPECT_EQ(app.timer_armed, 1);
        EXPECT_EQ(SendMessageA(main_window(), WM_TIMER, 123, 0), 0);
        EXPECT_EQ(refresh_count(), before + 1);
        EXPECT_EQ(app.timer_armed, 1);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, OnlyArrivalAndRemovalCompleteRefresh) {
    sim::set_time_limit(2000);
    sim::at(100, [] {
        const WPARAM quiet[] = {DBT_DEVNODES_CHANGED, DBT_DEVICEQUERYREMOVE, 0x8003, 0x8006, 0};
        for (WPARAM event : quiet) {
            int before = refresh_count();
            EXPECT_EQ(SendMessageA(main_window(), WM_DEVICECHANGE, event, 0), 0) << event;
            EXPECT_EQ(refresh_count(), before) << event;
        }
        for (WPARAM event : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}) {
            int before = refresh_count();
            EXPECT_EQ(SendMessageA(main_window(), WM_DEVICECHANGE, event, 0), 0) << event;
            EXPECT_EQ(refresh_count(), before + 1) << event;
        }
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, TicksComeEveryPeriodAfterTheEndOfTheTicksRefresh) {
    // Every refresh takes virtual time: each call that opens a device or file takes 40 ms.
    sim::set_call_duration("CreateFileA", 40);
    // A device arrives between the first and the second tick; its refresh leaves the timer be.
    sim::at(4500, [] { PostMessageA(main_window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0); });
    sim::at(12000, [] { press_exit(); });
    EXPECT_EQ(installer_main(), 0);

    std::vector<unsigned long long> ticks = times_of("DispatchMessageA", "msg=0x113 wparam=0x7b");
    std::vector<unsigned long long> armed = times_of("SetTimer", "id=123");
    ASSERT_GE(ticks.size(), 3u);
    ASSERT_EQ(armed.size(), ticks.size() + 1); // at start, and after each tick's refresh
    for (size_t i = 0; i < ticks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ticks[i], armed[i] + kRefreshPeriodMs);
        EXPECT_GT(armed[i + 1], ticks[i]); // the refresh took time before the timer restarted
    }
}

TEST_F(MainWindowTest, TimerTicksKeepRefreshingWhileTheAboutBoxIsOpen) {
    sim::at(100, [] { sim::type_alt_char('?'); });
    sim::at(200, [] {
        ASSERT_NE(sim::active_dialog(), nullptr);
        EXPECT_EQ(refresh_count(), 1);
    });
    sim::at(6500, [] {
        EXPECT_NE(sim::active_dialog(), nullptr);
        EXPECT_EQ(refresh_count(), 3);
        sim::press_key(VK_ESCAPE);
    });
    sim::at(6600, [] { press_exit(); });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, InstallAndUninstallEnabledEachTimeTheFileMenuOpens) {
    sim::at(0, [] {
        HMENU bar = sim::window_menu(main_window());
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            EnableMenuItem(bar, kCommandInstall, MF_BYCOMMAND | MF_GRAYED);
            EnableMenuItem(bar, kCommandUninstall, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
            HMENU file = sim::open_menu_popup(main_window(), 0);
            EXPECT_EQ(sim::menu_item_state(file, kCommandInstall), MF_ENABLED);
            EXPECT_EQ(sim::menu_item_state(file, kCommandUninstall), MF_ENABLED);
            EXPECT_EQ(sim::menu_item_state(file, kCommandExit), MF_ENABLED);
        }
        // Opening the Help popup changes nothing and breaks nothing.
        HMENU help = sim::open_menu_popup(main_window(), 1);
        EXPECT_EQ(sim::menu_item_state(help, kCommandAbout), MF_ENABLED);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(MainWindowTest, InstallAndUninstallRunFromTheMenuAndTheButtons) {
    sim::at(100, [] { EXPECT_TRUE(sim::choose_menu_item(main_window(), kCommandInstall)); });
    sim::at(200, [] { sim::click_button(app.uninstall_button); });
    sim::at(300, [] { sim::click_button(app.install_button); });
    sim::at(400, [] { EXPECT_TRUE(sim::choose_menu_item(main_window(), kCommandUninstall)); });
    sim::at(500, [] { press_exit(); });
    EXPECT_EQ(installer_main(), 0);
    std::vector<std::string> sections;
    for (const sim::InfRun& run : sim::inf_runs())
        if (run.entry == "InstallHinfSection")
            sections.push_back(run.command_line.substr(0, run.command_line.find(' ')));
    std::vector<std::string> expected = {"DefaultInstall", "DefaultUninstall", "DefaultInstall",
                                         "DefaultUninstall"};
    EXPECT_EQ(sections, expected);
    EXPECT_EQ(sim::current_cursor(), "");
}

// A window procedure answers 0 to a WM_COMMAND it handles, whether the command came from the
// menu, a button or an accelerator.
TEST_F(MainWindowTest, HandledCommandsAnswerZero) {
    sim::at(0, [] {
        EXPECT_EQ(SendMessageA(main_window(), WM_COMMAND, kCommandInstall, 0), 0);
        EXPECT_EQ(SendMessageA(main_window(), WM_COMMAND, kCommandUninstall, 0), 0);
        EXPECT_EQ(SendMessageA(main_window(), WM_COMMAND, kCommandExit, 0), 0);
    });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::inf_runs().size(), 4u);
}

// Whether the procedure hands an unknown command to DefWindowProcA cannot be seen: that does
// nothing with a WM_COMMAND and answers 0. What can be seen is that nothing happens.
TEST_F(MainWindowTest, UnknownCommandsAreAnsweredZeroAndDoNothing) {
    sim::at(0, [] {
        EXPECT_EQ(SendMessageA(main_window(), WM_COMMAND, 4242, 0), 0);
        EXPECT_NE(main_window(), nullptr);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("DialogBoxParamA"), 0);
    EXPECT_TRUE(sim::inf_runs().empty());
}

TEST_F(MainWindowTest, ARunWithAnyCallFailingEndsAndLeavesNothingOpen) {
    // A failure that leaves the window needing paint makes the loop paint without end, as on
    // Windows; a few hundred messages are far more than this run needs.
    auto script = [] {
        sim::set_time_limit(8000);
        sim::set_message_limit(400);
        sim::at(100, [] { sim::invalidate(main_window()); });
        sim::at(200, [] { sim::type_alt_char('?'); });
        sim::at(300, [] { sim::press_key(VK_ESCAPE); });
        sim::at(400, [] { PostMessageA(main_window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0); });
        sim::at(3500, [] { PostMessageA(main_window(), WM_CLOSE, 0, 0); });
    };
    script();
    EXPECT_EQ(installer_main(), 0);
    long calls = sim::failable_call_count();
    ASSERT_GT(calls, 50);

    for (bool persistent : {false, true}) {
        for (long k = 1; k <= calls; ++k) {
            SCOPED_TRACE((persistent ? "from call " : "call ") + std::to_string(k));
            start_again();
            script();
            sim::fail_global_call(k, persistent);
            installer_main();
            sim::clear_failures();
            // A loop ended by a failing GetMessageA leaves the window to the process's end.
            if (HWND window = main_window())
                DestroyWindow(window);
            EXPECT_EQ(sim::open_summary(), "");
            EXPECT_EQ(sim::active_dialog(), nullptr);
            // A failure may end the run before the script's later steps.
            sim::forget_unrun_actions();
        }
    }
}
