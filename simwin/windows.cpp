// Simulated user32 windows: window classes, creation and destruction with their messages, the
// default window procedure, the built-in Button, Edit and Static controls, window text and
// client size, cursors and icons, and the module and system-colour queries.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "simwin/windows_model.h"

namespace sim {
namespace detail {
namespace {

constexpr uintptr_t kProgramInstance = 0x400000;
constexpr uintptr_t kArrowCursor = 0x10003;
constexpr uintptr_t kWaitCursor = 0x10005;
constexpr uintptr_t kProgramIcon = 0x20107;
constexpr int kFrameWidth = 8;     // sizing border of an overlapped window, each side
constexpr int kCaptionHeight = 23; // caption bar
constexpr int kMenuBarHeight = 20;
constexpr int kClientEdgeWidth = 2;  // WS_EX_CLIENTEDGE, each side
constexpr int kWsprintfLimit = 1024; // wsprintfA writes at most this many bytes
constexpr DWORD kErrorCannotFindClass = 1407;
constexpr DWORD kErrorClassExists = 1410;
constexpr DWORD kErrorChildWithoutParent = 1406;
constexpr ATOM kFirstAtom = 0xC000;

struct WindowsState {
    std::map<std::string, ClassInfo> classes; // by upper-case name
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    uintptr_t next_value = 0x10010;
    HCURSOR cursor = nullptr;
    ATOM next_atom = kFirstAtom;
    std::map<int, COLORREF> system_colors; // the theme's colours that differ from the defaults
};

WindowsState& state() {
    static WindowsState instance;
    return instance;
}

LRESULT CALLBACK control_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

bool builtin_class(const std::string& name) {
    std::string key = sim::upper_case(name);
    return key == "BUTTON" || key == "EDIT" || key == "STATIC" || key == "#32770";
}

} // namespace

uintptr_t next_handle_value() {
    uintptr_t value = state().next_value;
    state().next_value += 4;
    return value;
}

Window* window_object(HWND window) {
    auto it = state().windows.find(reinterpret_cast<uintptr_t>(window));
    return it == state().windows.end() ? nullptr : it->second.get();
}

std::vector<HWND> all_windows() {
    std::vector<HWND> result;
    for (auto& entry : state().windows)
        result.push_back(reinterpret_cast<HWND>(entry.first));
    return result;
}

void client_size(const Window& window, int* width, int* height) {
    if (window.client_width >= 0) {
        *width = window.client_width;
        *height = window.client_height;
        return;
    }
    int w = window.width, h = window.height;
    if (!(window.style & WS_CHILD)) {
        if (window.style & (WS_THICKFRAME | WS_DLGFRAME)) {
            w -= 2 * kFrameWidth;
            h -= 2 * kFrameWidth;
        }
        if ((window.style & WS_CAPTION) == WS_CAPTION)
            h -= kCaptionHeight;
        if (window.menu)
            h -= kMenuBarHeight;
    }
    if (window.ex_style & WS_EX_CLIENTEDGE) {
        w -= 2 * kClientEdgeWidth;
        h -= 2 * kClientEdgeWidth;
    }
    *width = std::max(w, 0);
    *height = std::max(h, 0);
}

LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* object = window_object(window);
    if (!object || !object->procedure)
        return 0;
    return object->procedure(window, message, wparam, lparam);
}

HWND focus_window() {
    if (!dialog_stack().empty())
        return dialog_stack().back();
    for (auto& entry : state().windows) {
        const Window& w = *entry.second;
        if (!(w.style & WS_CHILD) && !w.dialog_procedure && !w.destroying)
            return reinterpret_cast<HWND>(entry.first);
    }
    return nullptr;
}

bool accepts_input(HWND window) {
    for (Window* w = window_object(window); w; w = window_object(w->parent))
        if (!w->enabled || w->destroying)
            return false;
    return window_object(window) != nullptr;
}

void reset_windows() {
    state() = WindowsState();
}

} // namespace detail

HINSTANCE program_instance() {
    return reinterpret_cast<HINSTANCE>(detail::kProgramInstance);
}

WindowInfo window_info(HWND window) {
    const detail::Window* object = detail::window_object(window);
    return object ? static_cast<const WindowInfo&>(*object) : WindowInfo();
}

std::string window_text(HWND window) {
    const detail::Window* object = detail::window_object(window);
    return object ? object->text : std::string();
}

std::vector<HWND> children(HWND window) {
    const detail::Window* object = detail::window_object(window);
    return object ? object->children : std::vector<HWND>();
}

HWND find_window(const std::string& class_name) {
    for (auto& entry : detail::state().windows) {
        const detail::Window& w = *entry.second;
        if (!(w.style & WS_CHILD) && equal_nocase(w.class_name, class_name) && !w.destroying)
            return reinterpret_cast<HWND>(entry.first);
    }
    return nullptr;
}

void set_client_size(HWND window, int width, int height) {
    detail::Window* object = detail::window_object(window);
    if (!object)
        return;
    object->client_width = width;
    object->client_height = height;
    // What lay outside the new client area is no longer on screen.
    std::vector<PaintedItem> kept;
    const RECT client{0, 0, width, height};
    for (PaintedItem item : object->surface) {
        RECT cut{};
        if (!detail::intersect(item.rect, client, &cut))
            continue;
        if (item.kind != PaintedItem::Text)
            item.rect = cut;
        kept.push_back(item);
    }
    object->surface = kept;
    detail::send_message(window, WM_SIZE, 0, MAKELPARAM(width, height));
    if (class_info(object->class_name).style & (CS_HREDRAW | CS_VREDRAW))
        invalidate(window);
}

void invalidate(HWND window) {
    detail::Window* object = detail::window_object(window);
    if (object) {
        object->needs_paint = true;
        object->needs_erase = true;
    }
}

ClassInfo class_info(const std::string& class_name) {
    auto it = detail::state().classes.find(sim::upper_case(class_name));
    return it == detail::state().classes.end() ? ClassInfo() : it->second;
}

std::string cursor_name(HCURSOR cursor) {
    uintptr_t value = reinterpret_cast<uintptr_t>(cursor);
    if (value == detail::kArrowCursor)
        return "arrow";
    if (value == detail::kWaitCursor)
        return "wait";
    return value ? "?" : "";
}

std::string current_cursor() {
    return cursor_name(detail::state().cursor);
}

} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;
using sim::detail::Window;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* window_class) {
    std::string name = window_class && window_class->lpszClassName
                           ? std::string(window_class->lpszClassName)
                           : std::string();
    if (enter("RegisterClassExA",
              format("%s cbSize=%u", name.c_str(), window_class ? window_class->cbSize : 0))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!window_class || window_class->cbSize != sizeof(WNDCLASSEXA) || name.empty() ||
        !window_class->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& classes = sim::detail::state().classes;
    std::string key = sim::upper_case(name);
    if (classes.count(key) || sim::detail::builtin_class(name)) {
        SetLastError(sim::detail::kErrorClassExists);
        return 0;
    }
    sim::ClassInfo c;
    c.registered = true;
    c.name = name;
    c.style = window_class->style;
    c.procedure = window_class->lpfnWndProc;
    c.instance = window_class->hInstance;
    c.icon = window_class->hIcon;
    c.cursor = window_class->hCursor;
    c.background = window_class->hbrBackground;
    c.menu_name =
        window_class->lpszMenuName ? sim::detail::resource_name(window_class->lpszMenuName) : "";
    c.small_icon = window_class->hIconSm;
    c.class_extra = window_class->cbClsExtra;
    c.window_extra = window_class->cbWndExtra;
    classes[key] = c;
    return sim::detail::state().next_atom++;
}

HWND sim::detail::create_window(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x,
                                int y, int width, int height, HWND parent, HMENU menu,
                                HINSTANCE instance, LPVOID param) {
    std::string name = class_name && !IS_INTRESOURCE(class_name) ? class_name : "";
    WNDPROC procedure = nullptr;
    std::string menu_name;
    auto& classes = sim::detail::state().classes;
    auto it = classes.find(sim::upper_case(name));
    if (it != classes.end()) {
        procedure = it->second.procedure;
        menu_name = it->second.menu_name;
    } else if (sim::detail::builtin_class(name)) {
        procedure = sim::upper_case(name) == "#32770" ? sim::detail::dialog_window_proc
                                                      : sim::detail::control_proc;
    } else {
        SetLastError(sim::detail::kErrorCannotFindClass);
        return nullptr;
    }
    if ((style & WS_CHILD) && !sim::detail::window_object(parent)) {
        SetLastError(sim::detail::kErrorChildWithoutParent);
        return nullptr;
    }
    if (parent && !sim::detail::window_object(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }

    auto object = std::make_unique<Window>();
    object->exists = true;
    object->class_name = it != classes.end() ? it->second.name : name;
    object->procedure = procedure;
    object->style = style;
    object->ex_style = ex_style;
    object->instance = instance;
    bool child = (style & WS_CHILD) != 0;
    object->x = (!child && x == CW_USEDEFAULT) ? sim::kDefaultWindowX : x;
    object->y = (!child && x == CW_USEDEFAULT) ? sim::kDefaultWindowY : y;
    object->width = (!child && width == CW_USEDEFAULT) ? 600 : width;
    object->height = (!child && width == CW_USEDEFAULT) ? 400 : height;
    if (child) {
        object->parent = parent;
        object->id = static_cast<int>(reinterpret_cast<intptr_t>(menu));
    } else {
        object->owner = parent;
        object->menu =
            menu ? menu : (menu_name.empty() ? nullptr : sim::detail::load_menu(menu_name));
    }
    HWND window = reinterpret_cast<HWND>(sim::detail::next_handle_value());
    sim::detail::state().windows[reinterpret_cast<uintptr_t>(window)] = std::move(object);
    if (child)
        sim::detail::window_object(parent)->children.push_back(window);

    // An overlapped or sizable window is asked for its size limits first.
    if ((style & WS_THICKFRAME) || !(style & (WS_POPUP | WS_CHILD))) {
        POINT limits[5] = {};
        sim::detail::send_message(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(limits));
    }
    CREATESTRUCTA create{};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cx = width;
    create.cy = height;
    create.x = x;
    create.y = y;
    create.style = static_cast<LONG>(style);
    create.lpszName = title;
    create.lpszClass = class_name;
    create.dwExStyle = ex_style;
    LPARAM create_param = reinterpret_cast<LPARAM>(&create);
    if (!sim::detail::send_message(window, WM_NCCREATE, 0, create_param)) {
        sim::detail::destroy_window(window);
        return nullptr;
    }
    RECT frame{0, 0, 0, 0};
    if (Window* w = sim::detail::window_object(window))
        frame = RECT{w->x, w->y, w->x + w->width, w->y + w->height};
    sim::detail::send_message(window, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&frame));
    if (sim::detail::send_message(window, WM_CREATE, 0, create_param) == -1) {
        sim::detail::destroy_window(window);
        return nullptr;
    }
    Window* created = sim::detail::window_object(window);
    if (created && (style & WS_VISIBLE)) {
        created->visible = true;
        created->needs_paint = true;
        created->needs_erase = true;
    }
    return window;
}

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    std::string name = class_name && !IS_INTRESOURCE(class_name) ? class_name : "";
    if (enter("CreateWindowExA", format("%s \"%s\" style=%#x ex=%#x", name.c_str(),
                                        title ? title : "", style, ex_style))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return sim::detail::create_window(ex_style, class_name, title, style, x, y, width, height,
                                      parent, menu, instance, param);
}

BOOL WINAPI ShowWindow(HWND window, int show) {
    if (enter("ShowWindow", format("%p show=%d", static_cast<void*>(window), show)))
        return FALSE;
    Window* object = sim::detail::window_object(window);
    if (!object) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    BOOL was_visible = object->visible;
    bool visible = show != SW_HIDE;
    if (visible && !object->visible) {
        object->needs_paint = true;
        object->needs_erase = true;
    }
    object->visible = visible;
    if (visible)
        object->style |= WS_VISIBLE;
    else
        object->style &= ~static_cast<DWORD>(WS_VISIBLE);
    return was_visible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    if (enter("UpdateWindow", format("%p", static_cast<void*>(window))))
        return FALSE;
    Window* object = sim::detail::window_object(window);
    if (!object) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (object->needs_paint && object->visible)
        sim::detail::send_message(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL sim::detail::destroy_window(HWND window) {
    Window* object = sim::detail::window_object(window);
    if (!object || object->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    object->destroying = true;
    object->visible = false;
    // Owned windows (a modal dialog) go first, as Windows destroys them with their owner.
    std::vector<HWND> owned;
    for (auto& entry : sim::detail::state().windows)
        if (entry.second->owner == window && !entry.second->destroying)
            owned.push_back(reinterpret_cast<HWND>(entry.first));
    for (HWND w : owned)
        sim::detail::destroy_window(w);
    sim::detail::send_message(window, WM_DESTROY, 0, 0);
    std::vector<HWND> kids = object->children;
    for (HWND child : kids)
        sim::detail::destroy_window(child);
    sim::detail::kill_window_timers(window);
    if (object->parent) {
        Window* parent = sim::detail::window_object(object->parent);
        if (parent) {
            auto& list = parent->children;
            list.erase(std::remove(list.begin(), list.end(), window), list.end());
        }
    }
    sim::detail::state().windows.erase(reinterpret_cast<uintptr_t>(window));
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND window) {
    // Destroying is a release: it is logged but never fails.
    record("DestroyWindow", format("%p", static_cast<void*>(window)));
    return sim::detail::destroy_window(window);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* object = sim::detail::window_object(window);
    if (!object)
        return 0;
    switch (message) {
    case WM_NCCREATE: {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        object->text =
            create && create->lpszName && !IS_INTRESOURCE(create->lpszName) ? create->lpszName : "";
        return TRUE;
    }
    case WM_SETTEXT:
        object->text = lparam ? reinterpret_cast<const char*>(lparam) : "";
        sim::detail::notify({sim::MachineEvent::WindowText, object->text, window});
        return TRUE;
    case WM_GETTEXT: {
        char* out = reinterpret_cast<char*>(lparam);
        size_t room = static_cast<size_t>(wparam);
        if (!out || room == 0)
            return 0;
        size_t n = std::min(object->text.size(), room - 1);
        std::memcpy(out, object->text.data(), n);
        out[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(object->text.size());
    case WM_CLOSE:
        sim::detail::destroy_window(window);
        return 0;
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE)
            sim::detail::send_message(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND: {
        // The client area is filled with the class brush; without one nothing is erased.
        HBRUSH brush = sim::class_info(object->class_name).background;
        uintptr_t value = reinterpret_cast<uintptr_t>(brush);
        if (!brush || !wparam)
            return 0;
        COLORREF color = value <= 31 ? sim::detail::sys_color(static_cast<int>(value - 1))
                                     : sim::detail::brush_color(brush);
        int width = 0, height = 0;
        sim::detail::client_size(*object, &width, &height);
        sim::detail::fill_rect(reinterpret_cast<HDC>(wparam), RECT{0, 0, width, height}, color);
        return 1;
    }
    default:
        return 0;
    }
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    if (enter("GetWindowRect", format("%p", static_cast<void*>(window))))
        return FALSE;
    Window* object = sim::detail::window_object(window);
    if (!object || !rect) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = RECT{object->x, object->y, object->x + object->width, object->y + object->height};
    return TRUE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    enter("EnableWindow", format("%p %d", static_cast<void*>(window), enable));
    Window* object = sim::detail::window_object(window);
    if (!object) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The answer: whether the window was disabled before.
    BOOL was_disabled = object->enabled ? FALSE : TRUE;
    object->enabled = enable != FALSE;
    return was_disabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    enter("IsWindowEnabled", format("%p", static_cast<void*>(window)));
    Window* object = sim::detail::window_object(window);
    return object && object->enabled ? TRUE : FALSE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    if (enter("GetClientRect", format("%p", static_cast<void*>(window))))
        return FALSE;
    Window* object = sim::detail::window_object(window);
    if (!object || !rect) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    int width = 0, height = 0;
    sim::detail::client_size(*object, &width, &height);
    *rect = RECT{0, 0, width, height};
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    // The calling process's own module is always there.
    if (!name) {
        record("GetModuleHandleA", "(null)");
        return sim::program_instance();
    }
    if (enter("GetModuleHandleA", name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // kernel32 is loaded in every process; no other module is modelled as loaded by name.
    if (HMODULE kernel32 = sim::detail::kernel32_module(name))
        return kernel32;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    std::string resource = name ? sim::detail::resource_name(name) : "";
    if (enter("LoadIconA", resource)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (instance == sim::program_instance() && sim::detail::resources().icons.count(resource))
        return reinterpret_cast<HICON>(sim::detail::kProgramIcon);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    std::string resource = name ? sim::detail::resource_name(name) : "";
    if (enter("LoadCursorA", resource)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (!instance && name == IDC_ARROW)
        return reinterpret_cast<HCURSOR>(sim::detail::kArrowCursor);
    if (!instance && name == IDC_WAIT)
        return reinterpret_cast<HCURSOR>(sim::detail::kWaitCursor);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    record("SetCursor", sim::cursor_name(cursor));
    HCURSOR previous = sim::detail::state().cursor;
    sim::detail::state().cursor = cursor;
    return previous;
}

DWORD WINAPI GetSysColor(int index) {
    record("GetSysColor", format("%d", index));
    return sim::detail::sys_color(index);
}

void sim::set_system_color(int index, COLORREF color) {
    sim::detail::state().system_colors[index] = color;
}

COLORREF sim::detail::sys_color(int index) {
    auto chosen = sim::detail::state().system_colors.find(index);
    if (chosen != sim::detail::state().system_colors.end())
        return chosen->second;
    switch (index) {
    case COLOR_WINDOW:
        return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
        return RGB(0, 0, 0);
    case COLOR_BTNFACE:
        return RGB(240, 240, 240);
    default:
        return RGB(192, 192, 192);
    }
}

int WINAPIV wsprintfA(LPSTR out, LPCSTR format_text, ...) {
    record("wsprintfA", format_text ? format_text : "");
    if (!out || !format_text)
        return 0;
    char buffer[sim::detail::kWsprintfLimit + 1];
    va_list args;
    va_start(args, format_text);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = std::vsnprintf(buffer, sizeof buffer, format_text, args);
#pragma GCC diagnostic pop
    va_end(args);
    if (n < 0)
        n = 0;
    // Windows stops at its 1024-byte limit, terminator included.
    if (n > sim::detail::kWsprintfLimit - 1)
        n = sim::detail::kWsprintfLimit - 1;
    std::memcpy(out, buffer, static_cast<size_t>(n));
    out[n] = '\0';
    return n;
}
