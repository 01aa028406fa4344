// Simulated modal dialogs: DialogBoxParamA builds the dialog and its controls from the resource
// script's template, sends WM_INITDIALOG and runs a nested modal loop that keeps dispatching the
// other windows' messages and timers, turning Escape and Enter into the dialog's commands.
#include <algorithm>

#include "simwin/windows_model.h"

namespace sim {
namespace detail {
namespace {

// Dialog units of the "System" font at 8 points: 4 horizontal units are 8 pixels, 8 vertical
// units are 16 pixels.
constexpr int kPixelsPerUnitX = 2;
constexpr int kPixelsPerUnitY = 2;
constexpr DWORD kErrorControlIdNotFound = 1421;
constexpr DWORD kButtonTypeMask = 0xF; // BS_TYPEMASK: the button's kind in its style

HWND dialog_control(HWND dialog, int id) {
    Window* object = window_object(dialog);
    if (!object)
        return nullptr;
    for (HWND child : object->children) {
        Window* c = window_object(child);
        if (c && c->id == id)
            return child;
    }
    return nullptr;
}

// Whether msg goes to the dialog or one of its controls.
bool for_dialog(HWND dialog, const MSG& msg) {
    if (msg.hwnd == dialog)
        return true;
    Window* object = window_object(msg.hwnd);
    return object && object->parent == dialog;
}

} // namespace

std::vector<HWND>& dialog_stack() {
    static std::vector<HWND> stack;
    return stack;
}

LRESULT CALLBACK dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* object = window_object(window);
    if (object && object->dialog_procedure &&
        object->dialog_procedure(window, message, wparam, lparam))
        return TRUE;
    // The default dialog handling: closing the dialog is its Cancel command.
    if (message == WM_CLOSE) {
        post_message(window, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace detail

HWND active_dialog() {
    return detail::dialog_stack().empty() ? nullptr : detail::dialog_stack().back();
}

} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;
using sim::detail::Window;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner,
                               DLGPROC procedure, LPARAM param) {
    std::string name = template_name ? sim::detail::resource_name(template_name) : "";
    if (enter("DialogBoxParamA", name)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    const auto& dialogs = sim::detail::resources().dialogs;
    auto found = dialogs.find(name);
    if (instance != sim::program_instance() || found == dialogs.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    if (owner && !sim::detail::window_object(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    const sim::detail::DialogTemplate& t = found->second;
    // The owner takes no input while the dialog runs; it is disabled before the dialog exists.
    Window* owner_object = sim::detail::window_object(owner);
    bool owner_was_enabled = owner_object && owner_object->enabled;
    if (owner_was_enabled)
        owner_object->enabled = false;
    using sim::detail::kPixelsPerUnitX;
    using sim::detail::kPixelsPerUnitY;
    HWND dialog = sim::detail::create_window(
        0, "#32770", t.caption.c_str(), t.style & ~static_cast<DWORD>(WS_VISIBLE),
        t.x * kPixelsPerUnitX, t.y * kPixelsPerUnitY, t.width * kPixelsPerUnitX,
        t.height * kPixelsPerUnitY, owner, nullptr, instance, nullptr);
    if (!dialog) {
        if (owner_was_enabled)
            owner_object->enabled = true;
        return -1;
    }
    Window* object = sim::detail::window_object(dialog);
    object->dialog_procedure = procedure;
    HWND first_tab_stop = nullptr;
    for (const sim::detail::DialogControl& c : t.controls) {
        // An icon control names its icon by number; it shows no text.
        std::string text = c.text.rfind("#", 0) == 0 ? "" : c.text;
        HWND control = sim::detail::create_window(
            c.ex_style, c.class_name.c_str(), text.c_str(), c.style, c.x * kPixelsPerUnitX,
            c.y * kPixelsPerUnitY, c.width * kPixelsPerUnitX, c.height * kPixelsPerUnitY, dialog,
            reinterpret_cast<HMENU>(static_cast<intptr_t>(c.id)), instance, nullptr);
        if (control && !first_tab_stop && (c.style & WS_TABSTOP))
            first_tab_stop = control;
        if ((c.style & sim::detail::kButtonTypeMask) == BS_DEFPUSHBUTTON &&
            sim::equal_nocase(c.class_name, "Button"))
            object->default_button = c.id;
    }
    sim::detail::dialog_stack().push_back(dialog);
    sim::detail::notify({sim::MachineEvent::DialogOpened, name, dialog});
    sim::detail::send_message(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab_stop),
                              param);
    if (Window* shown = sim::detail::window_object(dialog)) {
        shown->visible = true;
        shown->needs_paint = true;
    }

    INT_PTR result = 0;
    for (;;) {
        Window* current = sim::detail::window_object(dialog);
        if (!current)
            break; // destroyed with its owner
        if (current->dialog_ended) {
            result = current->dialog_result;
            break;
        }
        MSG msg;
        if (!sim::detail::next_message(&msg)) {
            // The modal loop hands the quit message back to the loop that runs it.
            sim::detail::repost_quit(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.message == WM_KEYDOWN && sim::detail::for_dialog(dialog, msg) &&
            (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) {
            // Escape is the dialog's Cancel, Enter its default button.
            int command = msg.wParam == VK_ESCAPE ? IDCANCEL : current->default_button;
            sim::detail::send_message(
                dialog, WM_COMMAND, static_cast<WPARAM>(command),
                reinterpret_cast<LPARAM>(sim::detail::dialog_control(dialog, command)));
            continue;
        }
        sim::detail::translate_message(&msg);
        sim::detail::dispatch_message(&msg);
    }
    auto& stack = sim::detail::dialog_stack();
    stack.erase(std::remove(stack.begin(), stack.end(), dialog), stack.end());
    // The owner is enabled again before the dialog goes.
    if (Window* again = sim::detail::window_object(owner); again && owner_was_enabled)
        again->enabled = true;
    if (sim::detail::window_object(dialog))
        sim::detail::destroy_window(dialog);
    sim::detail::notify({sim::MachineEvent::DialogClosed, name, dialog});
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    record("EndDialog",
           format("%p result=%ld", static_cast<void*>(dialog), static_cast<long>(result)));
    Window* object = sim::detail::window_object(dialog);
    if (!object || !object->dialog_procedure) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    object->dialog_ended = true;
    object->dialog_result = result;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    if (enter("GetDlgItem", format("%p id=%d", static_cast<void*>(dialog), id))) {
        SetLastError(sim::detail::kErrorControlIdNotFound);
        return nullptr;
    }
    HWND control = sim::detail::dialog_control(dialog, id);
    if (!control)
        SetLastError(sim::detail::window_object(dialog) ? sim::detail::kErrorControlIdNotFound
                                                        : ERROR_INVALID_WINDOW_HANDLE);
    return control;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    if (enter("SetDlgItemTextA", format("id=%d \"%s\"", id, text ? text : ""))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    HWND control = sim::detail::dialog_control(dialog, id);
    if (!control) {
        SetLastError(sim::detail::kErrorControlIdNotFound);
        return FALSE;
    }
    return static_cast<BOOL>(
        sim::detail::send_message(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

namespace sim {
HWND dialog_item(HWND dialog, int id) {
    return detail::dialog_control(dialog, id);
}
} // namespace sim
