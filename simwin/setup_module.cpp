// LoadLibraryA and GetProcAddress for "setupapi.dll" (GetProcAddress also finds kernel32's
// exports), and the INF section entry points it exports: each run is recorded, may act on the
// machine through a test's action, and carries out the files of its INF's section while it
// dispatches what is due, as Windows' dialogs do.
#include "simwin/internal.h"

namespace sim {
namespace {

struct SetupModuleState {
    SetupModule exports = SetupModule::BothEntries;
    std::vector<InfRun> runs;
    std::function<void(const std::string&)> action;
};

SetupModuleState& state() {
    static SetupModuleState instance;
    return instance;
}

// The module handle that LoadLibraryA gives for the Setup API, as an image base would be.
HMODULE setup_module_handle() {
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x6E000000));
}

void record_run(const char* entry, HWND window, HINSTANCE module, const std::string& command_line,
                int show) {
    state().runs.push_back(InfRun{entry, command_line, show, window, module});
    if (state().action) {
        std::string section = command_line.substr(0, command_line.find(' '));
        state().action(section);
    }
    detail::run_inf_section_files(command_line);
}

} // namespace

void set_setup_module(SetupModule exports) {
    state().exports = exports;
}

const std::vector<InfRun>& inf_runs() {
    return state().runs;
}

void on_inf_section(std::function<void(const std::string& section)> action) {
    state().action = std::move(action);
}

namespace detail {

void reset_setup_module() {
    state() = SetupModuleState();
    reset_inf_engine();
}

} // namespace detail
} // namespace sim

using sim::detail::enter;
using sim::detail::record;

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    std::string text = name ? name : "";
    if (enter("LoadLibraryA", text)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!sim::equal_nocase(text, "setupapi.dll") ||
        sim::state().exports == sim::SetupModule::NotLoadable) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    sim::detail::count_open(sim::Resource::Module, 1);
    return sim::setup_module_handle();
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    // A name given by ordinal is not something the program does; it is answered as not found.
    std::string text = name && !IS_INTRESOURCE(name) ? name : "#ordinal";
    if (enter("GetProcAddress", text)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (sim::detail::is_kernel32(module)) {
        FARPROC entry = sim::detail::kernel32_export(text);
        if (!entry)
            SetLastError(ERROR_PROC_NOT_FOUND);
        return entry;
    }
    if (module != sim::setup_module_handle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    sim::SetupModule exports = sim::state().exports;
    bool ansi =
        exports == sim::SetupModule::BothEntries || exports == sim::SetupModule::AnsiEntryOnly;
    bool wide =
        exports == sim::SetupModule::BothEntries || exports == sim::SetupModule::WideEntryOnly;
    // The module exports the ANSI entry under the plain name, as the real one does.
    if (ansi && text == "InstallHinfSection")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&InstallHinfSectionA));
    if (wide && text == "InstallHinfSectionW")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&InstallHinfSectionW));
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

VOID WINAPI InstallHinfSectionA(HWND window, HINSTANCE module, PCSTR command_line, INT show) {
    std::string text = command_line ? command_line : "";
    record("InstallHinfSection", sim::detail::format("%s show=%d", text.c_str(), show));
    sim::record_run("InstallHinfSection", window, module, text, show);
}

VOID WINAPI InstallHinfSectionW(HWND window, HINSTANCE module, PCWSTR command_line, INT show) {
    std::string text;
    // Recorded in the ANSI code page, so a line the program widened reads as it wrote it.
    for (const WCHAR* p = command_line; p && *p; ++p)
        text += sim::narrow(*p);
    record("InstallHinfSectionW", sim::detail::format("%s show=%d", text.c_str(), show));
    sim::record_run("InstallHinfSectionW", window, module, text, show);
}
