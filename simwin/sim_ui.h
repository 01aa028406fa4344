// The user interface of the simulated machine: windows, messages, timers and the virtual clock,
// menus, accelerators and dialogs from the program's resource script, and what painting left on
// a window. Tests drive a run of the program's message loop with a timeline of actions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simwin/win32.h"

namespace sim {

// The instance that GetModuleHandleA(NULL) returns.
HINSTANCE program_instance();

// ---- virtual clock and timeline ----------------------------------------------------------------
// Milliseconds since the last reset. The clock moves only when the message loop waits (to the
// next due action or timer) or when a simulated call has a duration.
uint64_t now_ms();
// From now on every call of the named simulated function takes ms of virtual time.
void set_call_duration(const std::string& function, unsigned ms);
// Runs action from inside GetMessageA once the clock reaches at_ms and nothing is queued; actions
// due at the same time run in the order they were added, before timers due then.
void at(uint64_t at_ms, std::function<void()> action);
// The actions that never ran: those still waiting and those that a reset() dropped, since the
// last forget_unrun_actions(). A test whose actions did not all run proves nothing by them.
long unrun_actions();
// Drops the waiting actions and forgets the dropped ones: at a test's start, and in a test that
// ends runs early on purpose (a failure sweep).
void forget_unrun_actions();
// A run ends when the clock would pass this limit (default 60000 ms), when nothing is queued,
// due or scheduled, or after 10000 messages (a loop that never empties its queue): GetMessageA
// then answers WM_QUIT with kStalledExitCode from then on.
void set_time_limit(uint64_t ms);
// The number of messages a run may deliver before it is ended as stuck (default 10000).
void set_message_limit(long messages);
constexpr int kStalledExitCode = 0x5717;
bool run_stalled();
// Why the simulation ended the run: the next message or action lay beyond the time limit, the
// message limit was reached while messages kept coming, or nothing was left to happen.
enum class RunEnd { NotEnded, TimeLimit, MessageLimit, NothingToDo };
RunEnd run_end();

// ---- windows -----------------------------------------------------------------------------------
// Where CW_USEDEFAULT as x places a new top-level window: the system's choice, away from the
// screen's corner, with the y given ignored.
constexpr int kDefaultWindowX = 40;
constexpr int kDefaultWindowY = 30;
struct WindowInfo {
    bool exists = false;
    std::string class_name;
    std::string text;
    DWORD style = 0;
    DWORD ex_style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int id = 0; // a child's identifier
    HWND parent = nullptr;
    HWND owner = nullptr;
    bool visible = false;
    bool enabled = true; // a disabled window takes no clicks or keys from the user
};
WindowInfo window_info(HWND window);
std::string window_text(HWND window);
// The children of a window in creation order.
std::vector<HWND> children(HWND window);
// The live top-level window of that class, or null.
HWND find_window(const std::string& class_name);
// The open modal dialog (the innermost), or null.
HWND active_dialog();
// The control with that identifier in a dialog, or null.
HWND dialog_item(HWND dialog, int id);
// Resizes the client area as a user would: WM_SIZE, and a repaint for a class with
// CS_HREDRAW/CS_VREDRAW.
void set_client_size(HWND window, int width, int height);
// Marks the whole client area for repainting, as another window moving across it does.
void invalidate(HWND window);

struct ClassInfo {
    bool registered = false;
    std::string name; // as registered
    UINT style = 0;
    WNDPROC procedure = nullptr;
    int class_extra = 0, window_extra = 0;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    std::string menu_name; // "#109" for a numeric resource
    HICON small_icon = nullptr;
};
ClassInfo class_info(const std::string& class_name);

// ---- user input (posted to the queue, handled when the loop runs) ------------------------------
// Alt held while a character is typed: WM_SYSKEYDOWN, WM_SYSCHAR with the Alt bit, the key ups.
void type_alt_char(char ch);
// A key pressed and released in the focus window (the active dialog, else the main window).
void press_key(int virtual_key);
// A click on a push button: its parent receives WM_COMMAND (BN_CLICKED) from it. Nothing happens
// when the button's window is disabled (a modal dialog disables its owner).
void click_button(HWND button);
// The close item of the window's system menu (nothing when the window is disabled).
void choose_system_close(HWND window);

// ---- menus -------------------------------------------------------------------------------------
HMENU window_menu(HWND window);
// Opens the popup at that position of the window's menu bar, as a click on it does: the window
// receives WM_INITMENUPOPUP. Returns the popup.
HMENU open_menu_popup(HWND window, int position);
// MF_ENABLED, MF_GRAYED or MF_DISABLED (or both bits), or -1 when the menu has no such command.
int menu_item_state(HMENU menu, UINT command);
// Chooses a menu item as a user does: the popup that holds it opens first; an enabled item then
// posts WM_COMMAND. Returns false when the item is missing or not enabled, or the window is
// disabled.
bool choose_menu_item(HWND window, UINT command);

// ---- cursors -----------------------------------------------------------------------------------
// "arrow", "wait", or "" for none.
std::string current_cursor();
std::string cursor_name(HCURSOR cursor);

// ---- painting ----------------------------------------------------------------------------------
// What a window shows after its last paint: fills, pictures and texts, in window client
// coordinates, in drawing order, cut to the area that was copied.
struct PaintedItem {
    // Copy: in the screen log only, a block copied onto the window from a memory context.
    enum Kind { Fill, Picture, Text, Copy } kind = Fill;
    RECT rect{};              // a text's layout rectangle; a fill's or picture's visible part
    COLORREF color = 0;       // fill colour or text colour
    std::string text;         // a text's characters; a picture's resource name ("#129")
    UINT format = 0;          // DrawTextA format
    bool transparent = false; // text drawn with background mode TRANSPARENT
    bool monochrome = false;  // a picture that passed through a monochrome bitmap
};
std::vector<PaintedItem> painted(HWND window);
// The colour GetSysColor answers for index from now on, as a theme (high contrast) sets it.
void set_system_color(int index, COLORREF color);
// Every drawing operation made directly on the window since the reset, in order: fills (the
// default background erase among them), texts and block copies. A window painted without flicker
// shows one copy of its whole client area per paint.
std::vector<PaintedItem> drawn_on_screen(HWND window);
int paint_count(HWND window); // BeginPaint calls on the window since the reset

} // namespace sim
