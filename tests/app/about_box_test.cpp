// The About box: opened by both accelerators and the Help menu, naming the product and version,
// ended by Escape, Enter and its OK button.
#include "tests/app/harness.h"

using AboutBoxTest = AppTest;

namespace {

const char kAboutLine[] = "Quorvale Driver Installer - ver 1.2.78";

// Checks the open About box and ends it with end.
void expect_about_box_and_end(const std::function<void(HWND)>& end) {
    HWND dialog = sim::active_dialog();
    ASSERT_NE(dialog, nullptr);
    sim::WindowInfo info = sim::window_info(dialog);
    EXPECT_EQ(info.text, "About");
    EXPECT_EQ(info.owner, sim::find_window("QDIMainWindow"));
    EXPECT_EQ(sim::window_text(sim::dialog_item(dialog, IDC_ABOUT_TEXT)), kAboutLine);
    end(dialog);
}

} // namespace

TEST_F(AboutBoxTest, OpensFromBothAcceleratorsAndTheHelpMenuAndEndsOnEscape) {
    const std::vector<std::pair<const char*, std::function<void()>>> openers = {
        {"Alt+?", [] { sim::type_alt_char('?'); }},
        {"Alt+/", [] { sim::type_alt_char('/'); }},
        {"Help menu", [] { EXPECT_TRUE(sim::choose_menu_item(main_window(), kCommandAbout)); }},
    };
    uint64_t t = 100;
    for (const auto& opener : openers) {
        sim::at(t, opener.second);
        sim::at(t + 10, [name = opener.first] {
            SCOPED_TRACE(name);
            expect_about_box_and_end([](HWND) { sim::press_key(VK_ESCAPE); });
        });
        sim::at(t + 20, [name = opener.first] {
            EXPECT_EQ(sim::active_dialog(), nullptr) << name;
            EXPECT_NE(main_window(), nullptr) << name;
        });
        t += 100;
    }
    sim::at(t, [] { press_exit(); });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("DialogBoxParamA"), 3);
    for (const sim::Call& call : sim::calls_of("EndDialog"))
        EXPECT_NE(call.args.find("result=2"), std::string::npos);
}

// The About box is modal: the main window is disabled while it is open, so its buttons and menu
// take nothing until it ends.
TEST_F(AboutBoxTest, TheMainWindowTakesNoInputWhileItIsOpen) {
    sim::at(100, [] { sim::type_alt_char('?'); });
    sim::at(110, [] {
        ASSERT_NE(sim::active_dialog(), nullptr);
        EXPECT_FALSE(sim::window_info(main_window()).enabled);
        sim::click_button(app.exit_button);
        EXPECT_FALSE(sim::choose_menu_item(main_window(), kCommandInstall));
    });
    sim::at(120, [] {
        EXPECT_NE(main_window(), nullptr);
        sim::press_key(VK_ESCAPE);
    });
    sim::at(130, [] {
        EXPECT_EQ(sim::active_dialog(), nullptr);
        EXPECT_TRUE(sim::window_info(main_window()).enabled);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("LoadLibraryA"), 0);
}

TEST_F(AboutBoxTest, OkAndEnterEndItWithIdentifierOne) {
    sim::at(100, [] { sim::type_alt_char('?'); });
    sim::at(110, [] {
        expect_about_box_and_end(
            [](HWND dialog) { sim::click_button(sim::dialog_item(dialog, IDOK)); });
    });
    sim::at(200, [] { sim::type_alt_char('/'); });
    sim::at(210, [] { expect_about_box_and_end([](HWND) { sim::press_key(VK_RETURN); }); });
    sim::at(300, [] {
        EXPECT_EQ(sim::active_dialog(), nullptr);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    ASSERT_EQ(sim::count_calls("EndDialog"), 2);
    for (const sim::Call& call : sim::calls_of("EndDialog"))
        EXPECT_NE(call.args.find("result=1"), std::string::npos);
}

TEST_F(AboutBoxTest, TheAcceleratorsNeedAltAndOnlyTheirCharacters) {
    sim::at(100, [] {
        HWND window = main_window();
        // "?" typed without Alt, and Alt with other characters, open nothing.
        PostMessageA(window, WM_CHAR, '?', 1);
        PostMessageA(window, WM_CHAR, '/', 1);
        sim::type_alt_char('x');
        sim::type_alt_char('.');
    });
    sim::at(200, [] {
        EXPECT_EQ(sim::active_dialog(), nullptr);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("DialogBoxParamA"), 0);
}

TEST_F(AboutBoxTest, ClosingItsWindowIsItsCancel) {
    sim::at(100, [] { sim::type_alt_char('?'); });
    sim::at(110, [] { sim::choose_system_close(sim::active_dialog()); });
    sim::at(120, [] {
        EXPECT_EQ(sim::active_dialog(), nullptr);
        EXPECT_NE(main_window(), nullptr);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(AboutBoxTest, DialogProcedureAnswersOnlyItsMessages) {
    // Messages it does not handle are left to the dialog manager.
    EXPECT_EQ(about_dialog_proc(nullptr, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(about_dialog_proc(nullptr, WM_COMMAND, 1000, 0), 0);
    EXPECT_EQ(about_dialog_proc(nullptr, WM_TIMER, 1, 0), 0);
    EXPECT_EQ(sim::count_calls("EndDialog"), 0);
}
