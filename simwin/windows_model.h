// The state that the simulated user32 and gdi32 share: windows, classes, the message queue and
// timers, menus and accelerator tables from the resource script, device contexts and GDI objects.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "simwin/internal.h"

namespace sim::detail {

// ---- resources parsed from res/installer.rc ----------------------------------------------------
struct MenuTemplateItem {
    std::string text;
    UINT id = 0;
    bool separator = false;
    UINT state = 0;                      // MF_GRAYED / MF_DISABLED from the script
    std::vector<MenuTemplateItem> popup; // non-empty or is_popup for a popup
    bool is_popup = false;
};
struct AcceleratorEntry {
    BYTE flags = 0; // FVIRTKEY, FALT, FSHIFT, FCONTROL
    WORD key = 0;
    WORD command = 0;
};
struct DialogControl {
    std::string class_name; // "Button", "Static", "Edit"
    std::string text;       // "#107" for an icon by number
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    DWORD style = 0;
    DWORD ex_style = 0;
};
struct DialogTemplate {
    int x = 0, y = 0, width = 0, height = 0;
    DWORD style = 0;
    std::string caption;
    std::string font;
    int font_size = 0;
    std::vector<DialogControl> controls;
};
struct ResourceScript {
    std::map<std::string, std::vector<MenuTemplateItem>> menus; // by name ("#109")
    std::map<std::string, std::vector<AcceleratorEntry>> accelerators;
    std::map<std::string, DialogTemplate> dialogs;
    std::map<std::string, std::string> icons;   // name -> file
    std::map<std::string, std::string> bitmaps; // name -> file
};
// The program's resource script, parsed on first use (throws on a script it cannot read).
const ResourceScript& resources();
// "#109" for an integer resource, else the name itself.
std::string resource_name(LPCSTR name);
// The width and height of a bitmap resource (from its file's header).
bool bitmap_size(const std::string& name, int* width, int* height);

// ---- menus -------------------------------------------------------------------------------------
struct MenuItem {
    std::string text;
    UINT id = 0;
    bool separator = false;
    UINT state = 0;
    HMENU popup = nullptr;
};
struct Menu {
    std::vector<MenuItem> items;
};
Menu* menu_object(HMENU menu);
HMENU load_menu(const std::string& name); // null when the script has no such menu
// Finds the item with that command in menu or its popups; *holder gets the menu that holds it.
MenuItem* find_menu_command(HMENU menu, UINT command, HMENU* holder);
// The position of popup in the menu bar, or 0.
int bar_position(HMENU bar, HMENU popup);

// ---- windows -----------------------------------------------------------------------------------
// A window: what a test sees of it (sim::WindowInfo, with exists set), and the rest.
struct Window : sim::WindowInfo {
    WNDPROC procedure = nullptr;
    int client_width = -1, client_height = -1; // set by a test, else derived from the size
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    bool needs_paint = false;
    bool needs_erase = false;
    bool destroying = false;
    std::vector<HWND> children;
    // A modal dialog.
    DLGPROC dialog_procedure = nullptr;
    bool dialog_ended = false;
    INT_PTR dialog_result = 0;
    int default_button = IDOK;
    // What painting left on screen, and every operation that drew on it.
    std::vector<sim::PaintedItem> surface;
    std::vector<sim::PaintedItem> screen_log;
    int paints = 0;
};
Window* window_object(HWND window);
// Every live window, in creation order.
std::vector<HWND> all_windows();
HWND focus_window();
void post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Puts a message at the head of the queue, ahead of everything posted before it.
void post_message_first(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// CreateWindowExA and DestroyWindow as the system itself uses them (for dialogs), unlogged.
HWND create_window(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                   int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                   LPVOID param);
BOOL destroy_window(HWND window);
// Which messages a GetMessageA or PeekMessageA call takes: those of one window and its
// descendants (all when null), and in one range of message numbers (all when both are 0).
// WM_QUIT is taken whatever the filter.
struct MessageFilter {
    HWND window = nullptr;
    UINT first = 0, last = 0;
    bool takes(HWND target, UINT message) const;
};
// The message loop's steps as a modal loop inside the system runs them, unlogged. next_message
// waits (moves the clock) for a message the filter takes; peek_message never waits.
bool next_message(MSG* msg, const MessageFilter& filter = MessageFilter());
bool peek_message(MSG* msg, const MessageFilter& filter, bool remove);
bool translate_message(const MSG* msg);
// A key message taken from the queue moves the keyboard state, as GetKeyState then reports it.
void track_keys(const MSG& msg);
LRESULT dispatch_message(const MSG* msg);
void repost_quit(int code);
void client_size(const Window& window, int* width, int* height);
// The overlap of a and b as *out; false (and *out untouched) when they do not overlap.
bool intersect(const RECT& a, const RECT& b, RECT* out);
// The modal dialogs that are running, innermost last.
std::vector<HWND>& dialog_stack();
// The procedure of every dialog window: hands messages to the dialog's DLGPROC first.
LRESULT CALLBACK dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

void kill_window_timers(HWND window);
// Whether the window and the windows above it are enabled.
bool accepts_input(HWND window);
// Fills rect of dc with a colour, as FillRect does, unlogged (the default background erase).
void fill_rect(HDC dc, const RECT& rect, COLORREF color);
// The colour of a solid brush made by CreateSolidBrush (0 for anything else).
COLORREF brush_color(HBRUSH brush);
COLORREF sys_color(int index);
// A handle value that is never 0 and never reused within a run.
uintptr_t next_handle_value();

void reset_windows();
void reset_gdi();
void reset_menus();
void reset_input();

} // namespace sim::detail
