// The process the program runs as: GetCurrentProcess, IsWow64Process as kernel32 exports it, the
// kernel32 module that GetModuleHandleA and GetProcAddress reach it through, and the file system
// redirector of a 32-bit program on 64-bit Windows.
#include "simwin/internal.h"

namespace sim {
namespace {

struct ProcessState {
    ProcessKind kind = ProcessKind::Native;
};

ProcessState& state() {
    static ProcessState instance;
    return instance;
}

const char kWow64Subdirectory[] = "\\SysWOW64";
// The subdirectories of the system directory that the redirector leaves alone (Windows 7 on).
const char* const kNotRedirected[] = {"CATROOT",      "CATROOT2", "DRIVERSTORE",
                                      "DRIVERS\\ETC", "LOGFILES", "SPOOL"};

// The module handle of kernel32, as an image base would be.
HMODULE kernel32_handle() {
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7B000000));
}

// Whether the upper-case path is dir or lies below it; *rest is what follows dir's separator.
bool below(const std::string& path, const std::string& dir, std::string* rest) {
    if (path.compare(0, dir.size(), dir) != 0)
        return false;
    if (path.size() == dir.size()) {
        rest->clear();
        return true;
    }
    if (path[dir.size()] != '\\')
        return false;
    *rest = path.substr(dir.size() + 1);
    return true;
}

} // namespace

void set_process_kind(ProcessKind kind) {
    state().kind = kind;
}

ProcessKind process_kind() {
    return state().kind;
}

std::string wow64_system_directory() {
    return windows_directory() + kWow64Subdirectory;
}

namespace detail {

void reset_process() {
    state() = ProcessState();
}

bool in_wow64() {
    return state().kind == ProcessKind::Wow64;
}

HMODULE kernel32_module(const std::string& name) {
    if (equal_nocase(name, "kernel32") || equal_nocase(name, "kernel32.dll"))
        return kernel32_handle();
    return nullptr;
}

bool is_kernel32(HMODULE module) {
    return module == kernel32_handle();
}

FARPROC kernel32_export(const std::string& name) {
    if (name == "IsWow64Process" && state().kind != ProcessKind::NativeWithoutWow64Query)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&IsWow64Process));
    return nullptr;
}

std::string redirected_path(const std::string& full_path) {
    if (!in_wow64())
        return full_path;
    std::string path = upper_case(full_path);
    std::string rest;
    if (!below(path, upper_case(system_directory()), &rest))
        return full_path;
    std::string ignored;
    for (const char* exempt : kNotRedirected)
        if (below(rest, exempt, &ignored))
            return full_path;
    std::string tail = full_path.substr(system_directory().size());
    return wow64_system_directory() + tail;
}

} // namespace detail
} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;

HANDLE WINAPI GetCurrentProcess() {
    // A pseudo handle: nothing to open or close.
    record("GetCurrentProcess");
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64) {
    if (enter("IsWow64Process", format("%p", process))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Only the program's own process is modelled, through its pseudo handle.
    if (process != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!wow64) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *wow64 = sim::detail::in_wow64() ? TRUE : FALSE;
    return TRUE;
}
