// Simulated user32 messaging and time: the posted-message queue, sent messages, the virtual clock
// with window timers and the test's timeline, GetMessageA and PeekMessageA with their priorities
// (posted, quit, paint, timer) and filters, and dispatching.
#include <algorithm>

#include "simwin/windows_model.h"

namespace sim {
namespace detail {
namespace {

constexpr uint64_t kDefaultTimeLimitMs = 60000;
constexpr long kMessageGuard = 10000;    // messages per run before the run is ended as stuck
constexpr UINT kMinimumTimerPeriod = 10; // USER_TIMER_MINIMUM

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

void post_message_first(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    state().queue.push_front(make_message(window, message, wparam, lparam));
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
    reset_input();
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

VOID WINAPI Sleep(DWORD ms) {
    enter("Sleep", format("%u", ms));
    sim::detail::state().now += ms;
}

DWORD WINAPI GetTickCount() {
    enter("GetTickCount", "");
    return static_cast<DWORD>(sim::detail::state().now);
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
