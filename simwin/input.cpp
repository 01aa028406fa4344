// Simulated keyboard input: the thread's keyboard state as the messages taken so far left it,
// keyboard translation into character messages, accelerator tables from the resource script, and
// the user-input helpers through which tests type, press and click.
#include <algorithm>

#include "simwin/windows_model.h"

namespace sim {
namespace detail {
namespace {

constexpr LPARAM kAltDownBit = 0x20000000;
constexpr LPARAM kExtendedKeyBit = 0x01000000;
constexpr BYTE kKeyDown = 0x80;
constexpr LPARAM kKeyUpBits = static_cast<LPARAM>(0xC0000001u);
constexpr LPARAM kRepeatOne = 1;
constexpr WPARAM kSlashKey = 0xBF; // VK_OEM_2, the key that carries "/" and "?"
constexpr WORD kFromAccelerator = 1;
constexpr uintptr_t kFirstAcceleratorHandle = 0x30000;

struct InputState {
    std::deque<std::pair<WPARAM, char>> typed; // keys down whose character TranslateMessage makes
    std::map<uintptr_t, std::string> accelerator_tables;
    BYTE keys[256] = {}; // the thread's keyboard state, as the messages taken so far left it
};

InputState& state() {
    static InputState instance;
    return instance;
}

} // namespace

void track_keys(const MSG& msg) {
    if (msg.wParam >= 256)
        return;
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
        state().keys[msg.wParam] |= kKeyDown;
    else if (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP)
        state().keys[msg.wParam] &= static_cast<BYTE>(~kKeyDown);
}

void reset_input() {
    state() = InputState();
}

} // namespace detail

void type_alt_char(char ch) {
    HWND target = detail::focus_window();
    WPARAM key = (ch == '/' || ch == '?')
                     ? detail::kSlashKey
                     : static_cast<WPARAM>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    LPARAM down = detail::kRepeatOne | detail::kAltDownBit;
    detail::post_message(target, WM_SYSKEYDOWN, VK_MENU, down);
    detail::post_message(target, WM_SYSKEYDOWN, key, down);
    detail::state().typed.push_back({key, ch});
    detail::post_message(target, WM_SYSKEYUP, key, detail::kKeyUpBits | detail::kAltDownBit);
    detail::post_message(target, WM_KEYUP, VK_MENU, detail::kKeyUpBits);
}

void press_key(int virtual_key) {
    HWND target = detail::focus_window();
    WPARAM key = static_cast<WPARAM>(virtual_key);
    detail::post_message(target, WM_KEYDOWN, key, detail::kRepeatOne);
    if (virtual_key == VK_ESCAPE || virtual_key == VK_RETURN)
        detail::state().typed.push_back({key, virtual_key == VK_ESCAPE ? '\x1b' : '\r'});
    detail::post_message(target, WM_KEYUP, key, detail::kKeyUpBits);
}

void click_button(HWND button) {
    WindowInfo info = window_info(button);
    if (!info.exists || !info.parent || !detail::accepts_input(button))
        return;
    detail::post_message(info.parent, WM_COMMAND, MAKEWPARAM(info.id, 0),
                         reinterpret_cast<LPARAM>(button));
}

void choose_system_close(HWND window) {
    if (!detail::accepts_input(window))
        return;
    detail::post_message(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;

SHORT WINAPI GetKeyState(int virtual_key) {
    enter("GetKeyState", format("%#x", virtual_key));
    if (virtual_key < 0 || virtual_key > 255)
        return 0;
    // The high bit of the answer: the key is down.
    return (sim::detail::state().keys[virtual_key] & sim::detail::kKeyDown) ? SHORT(-128) : 0;
}

BOOL WINAPI GetKeyboardState(PBYTE keys) {
    enter("GetKeyboardState", "");
    if (!keys)
        return FALSE;
    std::copy(std::begin(sim::detail::state().keys), std::end(sim::detail::state().keys), keys);
    return TRUE;
}

BOOL WINAPI SetKeyboardState(PBYTE keys) {
    enter("SetKeyboardState", "");
    if (!keys)
        return FALSE;
    std::copy(keys, keys + 256, std::begin(sim::detail::state().keys));
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    record("TranslateMessage", msg ? format("msg=%#x", msg->message) : "");
    return sim::detail::translate_message(msg) ? TRUE : FALSE;
}

bool sim::detail::translate_message(const MSG* msg) {
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
        return FALSE;
    auto& typed = sim::detail::state().typed;
    for (auto it = typed.begin(); it != typed.end(); ++it) {
        if (it->first != msg->wParam)
            continue;
        UINT char_message = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
        // The character message comes next, ahead of everything queued after the key.
        sim::detail::post_message_first(msg->hwnd, char_message,
                                        static_cast<WPARAM>(static_cast<unsigned char>(it->second)),
                                        msg->lParam);
        typed.erase(it);
        return true;
    }
    return false;
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE instance, LPCSTR name) {
    std::string resource = name ? sim::detail::resource_name(name) : "";
    if (enter("LoadAcceleratorsA", resource)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (instance != sim::program_instance() ||
        !sim::detail::resources().accelerators.count(resource)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto& tables = sim::detail::state().accelerator_tables;
    for (auto& entry : tables)
        if (entry.second == resource)
            return reinterpret_cast<HACCEL>(entry.first);
    uintptr_t value = sim::detail::kFirstAcceleratorHandle + tables.size() * 4;
    tables[value] = resource;
    return reinterpret_cast<HACCEL>(value);
}

int WINAPI TranslateAcceleratorA(HWND window, HACCEL table, LPMSG msg) {
    if (enter("TranslateAcceleratorA", msg ? format("msg=%#x", msg->message) : ""))
        return 0;
    auto& tables = sim::detail::state().accelerator_tables;
    auto found = tables.find(reinterpret_cast<uintptr_t>(table));
    if (!msg || found == tables.end() || !sim::detail::window_object(window))
        return 0;
    bool character = msg->message == WM_CHAR || msg->message == WM_SYSCHAR;
    bool key = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
    if (!character && !key)
        return 0;
    // The modifier keys as the keyboard state holds them now.
    const BYTE* keys = sim::detail::state().keys;
    BYTE held = 0;
    if (keys[VK_CONTROL] & sim::detail::kKeyDown)
        held |= FCONTROL;
    if (keys[VK_MENU] & sim::detail::kKeyDown)
        held |= FALT;
    if (keys[VK_SHIFT] & sim::detail::kKeyDown)
        held |= FSHIFT;
    for (const sim::detail::AcceleratorEntry& entry :
         sim::detail::resources().accelerators.at(found->second)) {
        if (entry.key != (msg->wParam & 0xFFFF))
            continue;
        bool virtual_key = (entry.flags & FVIRTKEY) != 0;
        bool matches = false;
        if (character) {
            // A character entry: Alt as the keyboard state has it, the other keys are ignored.
            matches = !virtual_key && (held & FALT) == (entry.flags & FALT);
        } else if (virtual_key) {
            matches = held == (entry.flags & (FSHIFT | FCONTROL | FALT));
        } else {
            // A character entry with Alt also matches a key-down whose code is the character
            // and whose lParam says Alt is down.
            matches = (entry.flags & FALT) && (msg->lParam & sim::detail::kAltDownBit) &&
                      !(msg->lParam & sim::detail::kExtendedKeyBit);
        }
        if (!matches)
            continue;
        // A command on the window's menu is offered only when its item is enabled, after the
        // popup that holds it was told it opens.
        sim::detail::Window* object = sim::detail::window_object(window);
        HMENU holder = nullptr;
        sim::detail::MenuItem* item =
            object->menu ? sim::detail::find_menu_command(object->menu, entry.command, &holder)
                         : nullptr;
        if (item) {
            sim::detail::send_message(
                window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(holder),
                MAKELPARAM(sim::detail::bar_position(object->menu, holder), FALSE));
            item = sim::detail::find_menu_command(object->menu, entry.command, &holder);
            if (item && (item->state & (MF_GRAYED | MF_DISABLED)))
                return 1;
        }
        sim::detail::send_message(window, WM_COMMAND,
                                  MAKEWPARAM(entry.command, sim::detail::kFromAccelerator), 0);
        return 1;
    }
    return 0;
}
