// What the simulated functions share inside simwin: the entry check that logs a call and tells
// whether it must fail, the kernel handle table, the open counters, and the hooks through which
// CreateFileA and DeviceIoControl reach the area that owns a device name.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "simwin/sim.h"

namespace sim::detail {

// Logs the call and answers true when a failure plan says this call fails. Every simulated
// function that can fail on Windows calls it first, with its own name.
bool enter(const char* function, const std::string& args = std::string());
// Logs a call of a kind that does not fail on Windows (a release, a query of a fixed value): no
// failure plan counts it or fails it.
void record(const char* function, const std::string& args = std::string());
// printf-style formatting for call-log arguments.
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for a call's arguments in the call log: formatted only while the log is kept (the
// fuzz targets keep none, and formatting every call's arguments would cost them much of their
// time).
std::string log_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The components of a backslash-separated path in order, empty ones included: "A\B\" gives "A",
// "B" and "", and "" gives one empty component.
std::vector<std::string> path_parts(const std::string& path);

void count_open(Resource resource, int delta);
// Called by enter() for every simulated call: the user interface model lets a call take virtual
// time (sim::set_call_duration).
void call_entered(const char* function);

// ---- kernel handles ----------------------------------------------------------------------------
enum class HandleKind { Controller, Hub, File, ControlDevice };
struct HandleObject {
    HandleKind kind = HandleKind::File;
    std::string name;       // the name it was opened by
    int index = 0;          // controller number, or the area's own index
    void* target = nullptr; // the model object (hub, file) it refers to
    DWORD access = 0;
    DWORD share = 0;
    uint64_t position = 0; // file read position
};
HANDLE open_handle(const HandleObject& object);
HandleObject* handle_object(HANDLE handle); // null for an unknown or closed handle
// Whether every handle this program holds on target was opened sharing deletion.
bool open_handles_share_delete(const void* target);
// The sharing test of CreateFileA between one open that exists (a handle, or another process's
// hold on a file) and a new open: each side must share what the other side asks for.
bool shares_with(DWORD held_access, DWORD held_share, DWORD access, DWORD share);
// May a new open with access and share join the open handles of target?
bool sharing_allows(const void* target, DWORD access, DWORD share);

// ---- area hooks, each implemented by the area that owns it -------------------------------------
// Each open hook answers true when the name is its own; it then sets *handle (or
// INVALID_HANDLE_VALUE with the last error set).
bool usb_open(const std::string& name, DWORD access, DWORD share, HANDLE* handle);
bool control_device_open(const std::string& name, DWORD access, DWORD share, HANDLE* handle);
HANDLE file_open(const std::string& name, DWORD access, DWORD share, DWORD disposition);

BOOL usb_ioctl(HandleObject& object, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
               DWORD* returned);
BOOL control_device_ioctl(HandleObject& object, DWORD code, void* in, DWORD in_size, void* out,
                          DWORD out_size, DWORD* returned);

// ---- registry, for the areas that hand out keys (SetupDiOpenDevRegKey) ------------------------
// Opens the key at path below root (a root HKEY) with the rights in access, as RegOpenKeyExA
// opens it: the key is counted as Resource::RegistryKey until RegCloseKey. ERROR_FILE_NOT_FOUND
// when it is missing; *result is null on failure. The call is not logged as RegOpenKeyExA.
LSTATUS open_registry_key(HKEY root, const std::string& path, REGSAM access, HKEY* result);

// ---- the process (simwin/process.cpp) ---------------------------------------------------------
// Whether the program runs as a 32-bit program on 64-bit Windows.
bool in_wow64();
// kernel32's module handle when name names it ("kernel32", "kernel32.dll", any case), else null.
HMODULE kernel32_module(const std::string& name);
bool is_kernel32(HMODULE module);
// What GetProcAddress finds in kernel32 by this name: null for a name the model does not export.
FARPROC kernel32_export(const std::string& name);
// The path a file access by the program reaches: under WOW64 the system directory and what lies
// below it (but the redirector's exempt folders) is SysWOW64. full_path is a full, normalised
// path; the answer keeps its letters' case.
std::string redirected_path(const std::string& full_path);
// ---- device information sets, for the Setup API calls that make them ---------------------------
// A new, empty set, counted as Resource::DeviceInfoSet until SetupDiDestroyDeviceInfoList.
HDEVINFO new_device_info_set();
bool device_info_set_exists(HDEVINFO set);

// ---- device-change notices ---------------------------------------------------------------------
// Called by the device tree when a node becomes present (arrived) or stops being present: the
// notices that Windows sends for it wait for the windows' next GetMessageA.
void device_node_changed(DEVINST node, bool arrived);
// Sends every waiting notice to its window; the message loop calls it before it looks at the
// queue, as GetMessageA handles messages sent from another thread first.
void deliver_device_notices();
// What the message loop of a dialog that a system call shows (the Setup API's progress and
// removal dialogs) dispatches while the call runs: the notices sent to the thread and the
// window timers that are due, each due timer once. Nothing else of the queue is taken.
void dispatch_due_messages();

// ---- the clock and the INF engine --------------------------------------------------------------
// Moves the virtual clock on by ms, as work inside a system call takes time.
void pass_time(uint64_t ms);
// Carries out the DelFiles and CopyFiles of the INF section that an INF entry point's command line
// names, dispatching what is due around each file; part of setup_module's reset.
void run_inf_section_files(const std::string& command_line);
void reset_inf_engine();

// Reset hooks, called by sim::reset() in this order.
void reset_usb();
void reset_devices();
void reset_files();
void reset_ui();
void reset_setup_module();
void reset_device_notices();
void reset_process();

} // namespace sim::detail
