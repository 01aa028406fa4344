// Simulated user32 messaging: the posted-message queue, sent messages, the virtual clock with
// window timers and the test's timeline, GetMessageA and PeekMessageA with their priorities
// (posted, quit, paint, timer) and filters, the keyboard state, keyboard translation,
// accelerator tables and the user-input helpers for tests.
#include <algorithm>

#include "simwin/ui_model.h"

namespace sim {
namespace detail {
namespace {

constexpr uint64_t kDefaultTimeLimitMs = 60000;
constexpr long kMessageGuard = 10000;    // messages per run before the run is ended as stuck
constexpr UINT kMinimumTimerPeriod = 10; // USER_TIMER_MINIMUM
constexpr LPARAM kAltDownBit = 0x20000000;
constexpr LPARAM kExtendedKeyBit = 0x01000000;
constexpr BYTE kKeyDown = 0x80;
constexpr LPARAM kKeyUpBits = static_cast<LPARAM>(0xC0000001u);
constexpr LPARAM kRepeatOne = 1;
constexpr WPARAM kSlashKey = 0xBF; // VK_OEM_2, the key that carries "/" and "?"
constexpr WORD kFromAccelerator = 1;
constexpr uintptr_t kFirstAcceleratorHandle = 0x30000;

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
    uint64_t due = 0;
    TIMERPROC callback = nullptr;
};

struct Action {
    uint64_t at = 0;
    long order = 0;
    std::function<void()> run;
};

struct MessagesState {
    std::deque<MSG> queue;
    bool quit_pending = false;
    int quit_code = 0;
    uint64_t now = 0;
    uint64_t limit = kDefaultTimeLimitMs;
    bool ended = false;
    sim::RunEnd end_reason = sim::RunEnd::NotEnded;
    long delivered = 0;
    long message_limit = kMessageGuard;
    std::vector<Timer> timers;
    std::vector<Action> actions;
    long next_order = 0;
    std::map<std::string, unsigned> durations;
    std::deque<std::pair<WPARAM, char>> typed; // keys down whose character TranslateMessage makes
    std::map<uintptr_t, std::string> accelerator_tables;
    BYTE keys[256] = {}; // the thread's keyboard state, as the messages taken so far left it
};

MessagesState& state() {
    static MessagesState instance;
    return instance;
}

// Timeline actions that a reset dropped before they ran, kept across resets until forgotten.
long dropped_actions = 0;

MSG make_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wparam;
    msg.lParam = lparam;
    msg.time = static_cast<DWORD>(state().now);
    return msg;
}

Timer* due_timer(const MessageFilter& filter) {
    Timer* best = nullptr;
    for (Timer& t : state().timers)
        if (t.due <= state().now && filter.takes(t.window, WM_TIMER) &&
            (!best || t.due < best->due))
            best = &t;
    return best;
}

HWND window_needing_paint(const MessageFilter& filter) {
    // Top-level windows before their children, as Windows paints parents first.
    for (int pass = 0; pass < 2; ++pass) {
        for (HWND window : all_windows()) {
            Window* w = window_object(window);
            if (!w->needs_paint || !w->visible || w->destroying || !filter.takes(window, WM_PAINT))
                continue;
            if ((pass == 0) == ((w->style & WS_CHILD) == 0))
                return window;
        }
    }
    return nullptr;
}

// Ends the run: from now on every GetMessageA answers WM_QUIT with the stall code.
void end_run(MSG* msg, sim::RunEnd reason) {
    if (!state().ended)
        state().end_reason = reason;
    state().ended = true;
    *msg = make_message(nullptr, WM_QUIT, static_cast<WPARAM>(sim::kStalledExitCode), 0);
}

// A key message taken from the queue moves the keyboard state, as GetKeyState then reports it.
void track_keys(const MSG& msg) {
    if (msg.wParam >= 256)
        return;
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
        state().keys[msg.wParam] |= kKeyDown;
    else if (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP)
        state().keys[msg.wParam] &= static_cast<BYTE>(~kKeyDown);
}

// The message that is ready now for the filter, in Windows' order: posted messages, the quit
// message, paint, timers. Taken from the queue (and a timer restarted) only when remove is set.
bool ready_message(MSG* msg, const MessageFilter& filter, bool remove, bool* quit) {
    MessagesState& s = state();
    *quit = false;
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (it->message != WM_QUIT && !filter.takes(it->hwnd, it->message))
            continue;
        *msg = *it;
        *quit = msg->message == WM_QUIT;
        if (remove) {
            s.queue.erase(it);
            track_keys(*msg);
        }
        return true;
    }
    if (s.quit_pending) {
        if (remove)
            s.quit_pending = false;
        *msg = make_message(nullptr, WM_QUIT, static_cast<WPARAM>(s.quit_code), 0);
        *quit = true;
        return true;
    }
    if (HWND window = window_needing_paint(filter)) {
        *msg = make_message(window, WM_PAINT, 0, 0);
        return true;
    }
    if (Timer* timer = due_timer(filter)) {
        *msg = make_message(timer->window, WM_TIMER, timer->id,
                            reinterpret_cast<LPARAM>(timer->callback));
        if (remove)
            timer->due = s.now + timer->period;
        return true;
    }
    return false;
}

} // namespace

bool MessageFilter::takes(HWND target, UINT message) const {
    if ((first != 0 || last != 0) && (message < first || message > last))
        return false;
    // The window itself or one of its descendants.
    for (HWND at = target; window && at != window; at = window_object(at)->parent)
        if (!at || !window_object(at))
            return false;
    return true;
}

bool peek_message(MSG* msg, const MessageFilter& filter, bool remove) {
    bool quit = false;
    return ready_message(msg, filter, remove, &quit);
}

// The message the loop receives next; false for WM_QUIT.
bool next_message(MSG* msg, const MessageFilter& filter) {
    MessagesState& s = state();
    for (;;) {
        if (s.ended || ++s.delivered > s.message_limit) {
            end_run(msg, sim::RunEnd::MessageLimit);
            return false;
        }
        // Device notices are sent messages: handled inside the wait, before anything posted.
        deliver_device_notices();
        bool quit = false;
        if (ready_message(msg, filter, true, &quit))
            return !quit;
        // Nothing to deliver: the clock moves to the next action or timer the filter takes.
        auto action = std::min_element(s.actions.begin(), s.actions.end(),
                                       [](const Action& a, const Action& b) {
                                           return a.at != b.at ? a.at < b.at : a.order < b.order;
                                       });
        uint64_t next_timer = UINT64_MAX;
        for (const Timer& t : s.timers)
            if (filter.takes(t.window, WM_TIMER))
                next_timer = std::min(next_timer, t.due);
        bool have_action = action != s.actions.end();
        if (!have_action && next_timer == UINT64_MAX) {
            end_run(msg, sim::RunEnd::NothingToDo);
            return false;
        }
        uint64_t when =
            have_action ? std::min(std::max(action->at, s.now), next_timer) : next_timer;
        if (when > s.limit) {
            end_run(msg, sim::RunEnd::TimeLimit);
            return false;
        }
        s.now = std::max(s.now, when);
        if (have_action && action->at <= s.now) {
            std::function<void()> run = std::move(action->run);
            s.actions.erase(action);
            run();
        }
    }
}

void dispatch_due_messages() {
    const MessageFilter timers{nullptr, WM_TIMER, WM_TIMER};
    for (;;) {
        deliver_device_notices();
        MSG msg;
        bool quit = false;
        if (state().ended || !ready_message(&msg, timers, true, &quit))
            return;
        if (quit) {
            // The quit message is the caller's loop's to take: it stays waiting.
            repost_quit(static_cast<int>(msg.wParam));
            return;
        }
        dispatch_message(&msg);
    }
}

void repost_quit(int code) {
    state().quit_pending = true;
    state().quit_code = code;
}

void post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    state().queue.push_back(make_message(window, message, wparam, lparam));
}

void kill_window_timers(HWND window) {
    auto& timers = state().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [window](const Timer& t) { return t.window == window; }),
                 timers.end());
}

void pass_time(uint64_t ms) {
    state().now += ms;
}

void call_entered(const char* function) {
    if (state().durations.empty())
        return;
    auto it = state().durations.find(function);
    if (it != state().durations.end())
        state().now += it->second;
}

void reset_ui() {
    dropped_actions += static_cast<long>(state().actions.size());
    state() = MessagesState();
    dialog_stack().clear();
    reset_windows();
    reset_gdi();
    reset_menus();
}

} // namespace detail

uint64_t now_ms() {
    return detail::state().now;
}

void set_call_duration(const std::string& function, unsigned ms) {
    detail::state().durations[function] = ms;
}

void at(uint64_t at_ms, std::function<void()> action) {
    detail::state().actions.push_back(
        detail::Action{at_ms, detail::state().next_order++, std::move(action)});
}

long unrun_actions() {
    return detail::dropped_actions + static_cast<long>(detail::state().actions.size());
}

void forget_unrun_actions() {
    detail::state().actions.clear();
    detail::dropped_actions = 0;
}

void set_time_limit(uint64_t ms) {
    detail::state().limit = ms;
}

void set_message_limit(long messages) {
    detail::state().message_limit = messages;
}

bool run_stalled() {
    return detail::state().ended;
}

RunEnd run_end() {
    return detail::state().end_reason;
}

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

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    std::string args = format("%p msg=%#x wparam=%#lx", static_cast<void*>(window), message,
                              static_cast<unsigned long>(wparam));
    // Sending itself does not fail; setting a window's text does when the control cannot take
    // it (an edit control out of room answers FALSE and keeps the text it had).
    if (message != WM_SETTEXT)
        record("SendMessageA", args);
    else if (enter("SendMessageA", args))
        return FALSE;
    if (!sim::detail::window_object(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return sim::detail::send_message(window, message, wparam, lparam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (enter("PostMessageA", format("%p msg=%#x wparam=%#lx", static_cast<void*>(window), message,
                                     static_cast<unsigned long>(wparam)))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (window && !sim::detail::window_object(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    sim::detail::post_message(window, message, wparam, lparam);
    return TRUE;
}

VOID WINAPI PostQuitMessage(int code) {
    record("PostQuitMessage", format("%d", code));
    sim::detail::state().quit_pending = true;
    sim::detail::state().quit_code = code;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT first, UINT last) {
    if (enter("GetMessageA", format("%p %u-%u", static_cast<void*>(window), first, last))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // A filter naming a window that no longer exists is an error, not "no filter".
    if (window && !sim::detail::window_object(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return sim::detail::next_message(msg, sim::detail::MessageFilter{window, first, last}) ? TRUE
                                                                                           : FALSE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
    if (enter("PeekMessageA",
              format("%p %u-%u remove=%u", static_cast<void*>(window), first, last, remove)))
        return FALSE;
    if (!msg || (window && !sim::detail::window_object(window))) {
        SetLastError(msg ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return sim::detail::peek_message(msg, sim::detail::MessageFilter{window, first, last},
                                     (remove & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

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

VOID WINAPI Sleep(DWORD ms) {
    enter("Sleep", format("%u", ms));
    sim::detail::state().now += ms;
}

DWORD WINAPI GetTickCount() {
    enter("GetTickCount", "");
    return static_cast<DWORD>(sim::detail::state().now);
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
        sim::detail::state().queue.push_front(sim::detail::make_message(
            msg->hwnd, char_message, static_cast<WPARAM>(static_cast<unsigned char>(it->second)),
            msg->lParam));
        typed.erase(it);
        return true;
    }
    return false;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (enter("DispatchMessageA",
              msg ? format("%p msg=%#x wparam=%#lx t=%llu", static_cast<void*>(msg->hwnd),
                           msg->message, static_cast<unsigned long>(msg->wParam),
                           static_cast<unsigned long long>(sim::detail::state().now))
                  : ""))
        return 0;
    return sim::detail::dispatch_message(msg);
}

LRESULT sim::detail::dispatch_message(const MSG* msg) {
    if (!msg)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    if (!msg->hwnd)
        return 0;
    if (!sim::detail::window_object(msg->hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return sim::detail::send_message(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC callback) {
    if (enter("SetTimer", format("%p id=%lu elapse=%u t=%llu", static_cast<void*>(window),
                                 static_cast<unsigned long>(id), elapse,
                                 static_cast<unsigned long long>(sim::detail::state().now)))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (window && !sim::detail::window_object(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    UINT period = std::max(elapse, sim::detail::kMinimumTimerPeriod);
    auto& timers = sim::detail::state().timers;
    // Setting a timer again with the same window and identifier restarts its period.
    for (sim::detail::Timer& t : timers) {
        if (t.window == window && t.id == id) {
            t.period = period;
            t.due = sim::detail::state().now + period;
            t.callback = callback;
            return id ? id : 1;
        }
    }
    timers.push_back(
        sim::detail::Timer{window, id, period, sim::detail::state().now + period, callback});
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    record("KillTimer",
           format("%p id=%lu", static_cast<void*>(window), static_cast<unsigned long>(id)));
    auto& timers = sim::detail::state().timers;
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->window == window && it->id == id) {
            timers.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
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
