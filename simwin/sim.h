// The test-facing side of the simulated Windows: reset to an empty machine, inject failures into
// any simulated call, read the call log, and count what the program holds open. The machine
// model of each area (USB stack, device tree, registry and files, user interface) has its own
// header, included at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simwin/win32.h"

namespace sim {

// A fresh, empty machine: every model emptied, failure plans, call log and counters cleared,
// the virtual clock at 0.
void reset();

// ---- failure injection -------------------------------------------------------------------------
// Only calls of the kinds that can fail on Windows are counted and failed: releases (CloseHandle,
// GlobalFree, RegCloseKey, DeleteObject ...) and calls that have no failure (TranslateMessage,
// GetSysColor, wsprintfA ...) are logged but never fail. Calls are counted per function name
// ("DeviceIoControl"); k counts from 1, from the moment the plan is set.
void fail_call(const std::string& function, int k);       // only the k-th call fails
void fail_calls_from(const std::string& function, int k); // the k-th and every later call fail
void fail_every_call(const std::string& function);        // every call fails
// Across all simulated functions: the k-th call that can fail after this plan is set fails,
// once or from then on (the failure sweep).
void fail_global_call(long k, bool persistent);
void clear_failures();
long call_count();          // simulated calls since the last reset
long failable_call_count(); // of those, the calls of kinds that can fail
// How many calls met an injected failure since the last reset.
long injected_failure_count();

// ---- call log ----------------------------------------------------------------------------------
struct Call {
    std::string function;
    std::string args;      // the arguments that matter, formatted by the function ("\\\\.\\HCD0")
    bool can_fail = false; // a kind of call that can fail on Windows
    bool failed = false;   // a failure plan made it fail
};
const std::vector<Call>& calls();
int count_calls(const std::string& function);
// The calls of one function, in order.
std::vector<Call> calls_of(const std::string& function);
void clear_log();
// Whether calls are logged at all (default yes). Without the log, calls are still counted and
// failed as planned, at a fraction of the cost: for the fuzz targets. reset() keeps the setting.
void keep_call_log(bool keep);

// ---- counters of what is open ------------------------------------------------------------------
enum class Resource {
    Handle,             // kernel handles: files, devices
    HeapBlock,          // GlobalAlloc blocks
    RegistryKey,        // keys opened by RegOpenKeyExA or SetupDiOpenDevRegKey
    DeviceInfoSet,      // SetupDiCreateDeviceInfoList sets
    GdiObject,          // bitmaps, brushes
    DeviceContext,      // memory and paint device contexts
    Module,             // LoadLibraryA modules
    DeviceNotification, // RegisterDeviceNotificationA registrations
    Count
};
int open_count(Resource resource);
// A one-line summary of every non-zero counter but modules (which stay loaded by design), for
// test messages; "" when nothing is open.
std::string open_summary();

// ---- what the program did to the machine -------------------------------------------------------
// One event for each effect that a tool or test may want to follow as it happens: a device
// instance removed (or its removal left for a restart), a file deleted, a window's text set, a
// modal dialog opened or closed.
struct MachineEvent {
    enum Kind {
        InstanceRemoved,
        FileDeleted,
        WindowText,
        DialogOpened,
        DialogClosed,
        RemovalNeedsRestart, // the removal succeeded, but the instance stays until a restart
    } kind;
    std::string subject;   // the instance ID, the file's path, the new text, the dialog's template
    HWND window = nullptr; // the window whose text was set, or the dialog
};
// The observer sees every event from now until the next reset.
void on_machine_event(std::function<void(const MachineEvent&)> observer);
namespace detail {
// Called by the area where the effect took place, after it succeeded.
void notify(const MachineEvent& event);
} // namespace detail

// ---- text helpers for models and tests ---------------------------------------------------------
// Windows-1252 to UTF-16 and one UTF-16 unit back, as the ANSI code page converts them
// (MultiByteToWideChar, WideCharToMultiByte); a unit the code page lacks becomes '?'.
std::u16string widen(const std::string& ansi);
char narrow(char16_t unit);
// Compares ASCII letters without regard to case, as Windows compares names.
bool equal_nocase(const std::string& a, const std::string& b);
// The text with its ASCII letters in upper case, the form names are compared in.
std::string upper_case(std::string text);

} // namespace sim

#include "simwin/sim_device_notices.h"
#include "simwin/sim_devices.h"
#include "simwin/sim_files.h"
#include "simwin/sim_process.h"
#include "simwin/sim_setup_module.h"
#include "simwin/sim_ui.h"
#include "simwin/sim_usb.h"
