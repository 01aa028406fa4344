// The whole program under failure: from its entry to its exit on the rich machine (start, a
// timer tick, an adapter plugged in, the About box by its accelerator, Install, a tick, Uninstall
// and Exit), with the k-th call of each kind that can fail on Windows failing in turn, once and
// from then on. Every run must end with the exit code the message loop gives, leave nothing open,
// show exactly the report it composed, remove only the adapter's instances, delete only the
// maker's INF copies and never call the drivers installed while the machine says otherwise.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "app/main_window.h"
#include "install/install.h"
#include "tests/program/sweep_machine.h"

namespace {

using namespace reliability_machine;

const uint64_t kPlugAt = 3100; // after the first tick
const uint64_t kAboutAt = 3200;
const uint64_t kAboutClosedAt = 3300;
const uint64_t kInstallAt = 3400;
const uint64_t kUninstallAt = 6500; // after the tick that shows what Install left
const uint64_t kExitAt = 6600;
const uint64_t kTimeLimit = 8000;
// A failure that leaves the window needing paint makes the loop paint without end, as on
// Windows; a clean run needs about a hundred messages.
const long kMessageLimit = 600;
const char kSetText[] = "msg=0xc "; // WM_SETTEXT in SendMessageA's logged arguments

HWND main_window() {
    return sim::find_window("QDIMainWindow");
}

bool is_adapter_instance(const std::string& id, bool usb_only) {
    for (const char* prefix : {"USB\\VID_0E1C&PID_0001\\", "USB\\Vid_0e1c&Pid_0001\\",
                               "HID\\VID_0E1C&PID_0001\\", "HID\\Vid_0e1c&Pid_0001\\"}) {
        if (usb_only && prefix[0] != 'U')
            continue;
        if (id.compare(0, 22, prefix) == 0)
            return true;
    }
    return false;
}

bool has_rumble_driver(const sim::Node* node) {
    return node && !node->removed && node->description &&
           node->description->compare(0, 10, "Quorvale (") == 0;
}

// Whether every adapter that the machine holds has the maker's driver: each plugged adapter on a
// hub that answers has a node with its description, and so has each configured instance.
bool every_adapter_has_the_driver(const sim::UsbHub& hub) {
    for (const sim::UsbPort& port : hub.ports) {
        const sim::UsbDevice* device = port.device.get();
        if (!device || !device->plugged)
            continue;
        if (device->hub && !every_adapter_has_the_driver(*device->hub))
            return false;
        bool adapter = device->vendor == sim::kUsbAdapterVendor &&
                       device->product == sim::kUsbAdapterProduct && !device->hub;
        if (adapter && hub.reachable() && !has_rumble_driver(sim::node(device->node)))
            return false;
    }
    return true;
}

bool machine_is_installed() {
    for (int n = 0; n <= 9; ++n)
        if (sim::UsbController* hc = sim::controller(n))
            if (hc->root && !every_adapter_has_the_driver(*hc->root))
                return false;
    for (DEVINST id = sim::root_node(); const sim::Node* node = sim::node(id); ++id)
        if (!node->removed && is_adapter_instance(node->instance_id, true) &&
            !has_rumble_driver(node))
            return false;
    return true;
}

// Whether the last WM_SETTEXT of the run failed.
bool last_set_text_failed() {
    const std::vector<sim::Call>& log = sim::calls();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        if (it->function == "SendMessageA" && it->args.find(kSetText) != std::string::npos)
            return it->failed;
    return false;
}

// What the report control shows against what the last refresh composed: "" when they agree. A
// full refresh shows its report unless the control refused it; one that ended early found the
// ports unchanged, so the shown report starts with the port section just composed.
std::string shown_report_fault(const std::string& shown) {
    std::string composed = report_buffers.report_text;
    if (composed.find("Installed Drivers:") != std::string::npos) {
        if (shown == composed || last_set_text_failed())
            return "";
        return "the control does not show the composed report";
    }
    return shown.rfind(composed, 0) == 0 ? "" : "an early end leaves an older report shown";
}

// The user's part of a run. With closes_again (a run with failures) a click on Exit lost to a
// failure is followed by the Close command, as a user would try.
void schedule_timeline(bool closes_again) {
    sim::set_time_limit(kTimeLimit);
    sim::set_message_limit(kMessageLimit);
    sim::at(kPlugAt, [] {
        sim::controller(0)->root->device(1).hub->plug(4);
        if (HWND window = main_window())
            SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    });
    sim::at(kAboutAt, [] { sim::type_alt_char('?'); });
    sim::at(kAboutClosedAt, [] { sim::press_key(VK_ESCAPE); });
    sim::at(kInstallAt, [] {
        if (HWND window = main_window())
            sim::choose_menu_item(window, kCommandInstall);
    });
    sim::at(kUninstallAt, [] {
        if (HWND window = main_window())
            sim::choose_menu_item(window, kCommandUninstall);
    });
    sim::at(kExitAt, [] { sim::click_button(app.exit_button); });
    if (!closes_again)
        return;
    for (uint64_t again : {kExitAt + 100, kExitAt + 200})
        sim::at(again, [] {
            if (HWND window = main_window())
                sim::choose_system_close(window);
        });
}

struct Plan {
    std::string kind; // "" for a run without failures
    int k = 0;
    bool persistent = false;
};

struct RunOutcome {
    bool met_failure = false;
    bool hidden_adapters = false; // a failure hid adapters without driver and the report said
                                  // the drivers were installed
    bool stalled = false;
    std::map<std::string, long> failable_calls; // by kind
    std::set<std::string> failed_calls;         // function and arguments of each failed call
};

// One run of the program from its entry to its exit under plan; every fault is recorded in the
// test with the plan named.
RunOutcome run_program(const Plan& plan) {
    sim::reset();
    sim::forget_unrun_actions();
    app = AppState();
    install_state = InstallState();
    std::memset(&report_buffers, 0, sizeof report_buffers);
    MachineFiles files = build_rich_machine();
    std::string where =
        plan.kind.empty()
            ? std::string("clean run")
            : plan.kind + (plan.persistent ? " from call " : " call ") + std::to_string(plan.k);
    std::string shown;
    bool hidden_adapters = false;
    sim::on_machine_event([&](const sim::MachineEvent& event) {
        switch (event.kind) {
        case sim::MachineEvent::InstanceRemoved:
            EXPECT_TRUE(is_adapter_instance(event.subject, false))
                << where << " removed " << event.subject;
            break;
        case sim::MachineEvent::FileDeleted:
            EXPECT_TRUE(std::find(files.maker_copies.begin(), files.maker_copies.end(),
                                  event.subject) != files.maker_copies.end())
                << where << " deleted " << event.subject;
            break;
        case sim::MachineEvent::WindowText:
            if (event.window != app.report_edit || !app.report_edit)
                break;
            shown = event.subject;
            EXPECT_EQ(shown, report_buffers.report_text) << where;
            // The rich machine keeps its driver files and running driver at the installer's
            // version, so only an adapter without the driver contradicts the installed advice.
            // A failure that hides such an adapter from the scan leaves the program nothing to
            // see (the report then lists fewer ports); such runs are counted, not faulted.
            if (shown.find(report_machine::kInstalledAdvice) != std::string::npos &&
                !machine_is_installed()) {
                EXPECT_GT(sim::injected_failure_count(), 0)
                    << where << " calls the drivers installed";
                hidden_adapters = true;
            }
            break;
        default:
            break;
        }
    });
    // Before each of the user's steps (actions due together run in the order they were added) no
    // refresh is running: what the control shows must agree with what was composed last.
    for (uint64_t at : {kPlugAt, kAboutAt, kInstallAt, kUninstallAt, kExitAt})
        sim::at(at, [&shown, &where] {
            if (app.report_edit) {
                EXPECT_EQ(shown_report_fault(shown), "") << where << " at " << sim::now_ms();
            }
        });

    schedule_timeline(!plan.kind.empty());

    if (!plan.kind.empty()) {
        if (plan.persistent)
            sim::fail_calls_from(plan.kind, plan.k);
        else
            sim::fail_call(plan.kind, plan.k);
    }
    int exit_code = installer_main();
    sim::clear_failures();

    RunOutcome outcome;
    outcome.hidden_adapters = hidden_adapters;
    outcome.met_failure = sim::injected_failure_count() > 0;
    outcome.stalled = sim::run_stalled();
    bool loop_ran = false, loop_failed = false;
    for (const sim::Call& call : sim::calls()) {
        if (call.can_fail)
            ++outcome.failable_calls[call.function];
        if (call.failed)
            outcome.failed_calls.insert(call.function + " " + call.args);
        if (call.function == "GetMessageA") {
            loop_ran = true;
            loop_failed = loop_failed || call.failed;
        }
    }
    // The message loop's own ending: the quit code 0, 1 when GetMessageA failed, 0 at once when
    // the window could not be made; a run the simulation had to end carries its code.
    int expected = !loop_ran || !loop_failed ? 0 : 1;
    if (loop_ran && !loop_failed && outcome.stalled)
        expected = sim::kStalledExitCode;
    EXPECT_EQ(exit_code, expected) << where;
    if (app.report_edit && loop_ran) {
        EXPECT_EQ(shown_report_fault(shown), "") << where << " at the end";
    }

    // A loop ended by a failing GetMessageA, or ended by the simulation, leaves the window to
    // the process's end.
    if (HWND window = main_window())
        DestroyWindow(window);
    EXPECT_EQ(sim::open_summary(), "") << where;
    EXPECT_EQ(sim::active_dialog(), nullptr) << where;
    // A run without failures goes through the whole timeline; a failure may end a run early.
    if (plan.kind.empty()) {
        EXPECT_EQ(sim::unrun_actions(), 0) << where;
    }
    sim::forget_unrun_actions();
    for (const std::string& path : files.kept_files)
        EXPECT_TRUE(sim::file_exists(path)) << where << " lost " << path;
    sim::on_machine_event(nullptr);
    return outcome;
}

struct SweepFigures {
    long runs = 0;
    long points = 0; // (kind, k) pairs failed once
    std::set<std::string> failed_calls;
    std::map<std::string, int> stalls; // kind and mode of the runs that had to be ended
    std::map<std::string, int> hidden; // kind and mode of the runs with hidden adapters
};

// Which calls of a kind with count calls in the clean run fail in turn: every one of the first
// kEveryCallUpTo, and of the rest an even spread, the last included, so that no kind gets more
// than kMostCallsOfAKind runs a mode and the sweep stays under a minute. QDI_FULL_SWEEP=1 in the
// environment fails every call.
const long kEveryCallUpTo = 10;
const long kMostCallsOfAKind = 16;

std::vector<long> calls_to_fail(long count) {
    std::vector<long> chosen;
    bool full = std::getenv("QDI_FULL_SWEEP") != nullptr;
    if (full || count <= kMostCallsOfAKind) {
        for (long k = 1; k <= count; ++k)
            chosen.push_back(k);
        return chosen;
    }
    for (long k = 1; k <= kEveryCallUpTo; ++k)
        chosen.push_back(k);
    long spread = kMostCallsOfAKind - kEveryCallUpTo;
    for (long i = 1; i <= spread; ++i)
        chosen.push_back(kEveryCallUpTo + (count - kEveryCallUpTo) * i / spread);
    return chosen;
}

// Fails the chosen calls of kind in turn, once and from then on.
void sweep_kind(const std::string& kind, long clean_count, SweepFigures& figures) {
    for (bool persistent : {false, true}) {
        for (long k : calls_to_fail(clean_count)) {
            RunOutcome outcome = run_program(Plan{kind, static_cast<int>(k), persistent});
            ++figures.runs;
            EXPECT_TRUE(outcome.met_failure) << kind << " call " << k;
            if (!persistent)
                ++figures.points;
            figures.failed_calls.insert(outcome.failed_calls.begin(), outcome.failed_calls.end());
            std::string mode = kind + (persistent ? " from k" : " once");
            if (outcome.stalled)
                ++figures.stalls[mode];
            if (outcome.hidden_adapters)
                ++figures.hidden[mode];
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

class ProgramSweepTest : public ::testing::Test {
  protected:
    void TearDown() override {
        sim::reset();
    }
};

TEST_F(ProgramSweepTest, TheCleanRunGoesThroughEveryStepAndExitsWithZero) {
    RunOutcome outcome = run_program(Plan{});
    EXPECT_FALSE(outcome.stalled);
    EXPECT_EQ(sim::count_calls("DialogBoxParamA"), 1);
    int sections = 0;
    for (const sim::InfRun& run : sim::inf_runs())
        sections += run.entry == "InstallHinfSection";
    EXPECT_EQ(sections, 2) << "Install and Uninstall";
    EXPECT_GE(sim::count_calls("CM_Reenumerate_DevNode"), 1);
    for (const char* kind : {"RegisterClassExA",
                             "CreateWindowExA",
                             "ShowWindow",
                             "UpdateWindow",
                             "SetTimer",
                             "LoadIconA",
                             "LoadAcceleratorsA",
                             "GetMessageA",
                             "TranslateAcceleratorA",
                             "DispatchMessageA",
                             "BeginPaint",
                             "GetClientRect",
                             "CreateCompatibleDC",
                             "CreateCompatibleBitmap",
                             "LoadBitmapA",
                             "CreateSolidBrush",
                             "SelectObject",
                             "FillRect",
                             "DrawTextA",
                             "SetBkMode",
                             "SetTextColor",
                             "BitBlt",
                             "DialogBoxParamA",
                             "SetDlgItemTextA",
                             "EnableMenuItem",
                             "SendMessageA"})
        EXPECT_GT(outcome.failable_calls[kind], 0) << kind;
    long failable = 0;
    for (const auto& kind : outcome.failable_calls)
        failable += kind.second;
    std::printf("[ sweep    ] a clean run makes %ld calls that can fail, of %zu kinds\n", failable,
                outcome.failable_calls.size());
    for (const auto& kind : outcome.failable_calls)
        std::printf("[ sweep    ]   %s %ld\n", kind.first.c_str(), kind.second);
}

// The kinds of call, split in groups that ctest runs side by side.
class ProgramSweepGroupTest : public ProgramSweepTest, public ::testing::WithParamInterface<int> {};
const int kGroups = 6;

TEST_P(ProgramSweepGroupTest, EveryFailingCallLeavesTheProgramSound) {
    RunOutcome clean = run_program(Plan{});
    ASSERT_FALSE(HasFailure());
    SweepFigures figures;
    int index = 0;
    for (const auto& kind : clean.failable_calls) {
        if (index++ % kGroups != GetParam())
            continue;
        sweep_kind(kind.first, kind.second, figures);
        if (HasFailure())
            break;
    }
    std::printf("[ sweep    ] group %d: %ld runs, %ld failure points (kind and k), %zu distinct "
                "failed calls\n",
                GetParam(), figures.runs, figures.points, figures.failed_calls.size());
    for (const auto& stall : figures.stalls)
        std::printf("[ sweep    ]   ended by the simulation: %s, %d runs\n", stall.first.c_str(),
                    stall.second);
    for (const auto& hidden : figures.hidden)
        std::printf("[ sweep    ]   installed advice while a failure hid adapters without driver: "
                    "%s, %d runs\n",
                    hidden.first.c_str(), hidden.second);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProgramSweepGroupTest, ::testing::Range(0, kGroups));

} // namespace
