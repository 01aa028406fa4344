// The Setup API module as LoadLibraryA and GetProcAddress present it: which INF section entry
// points it exports, the sections that ran through them, and what a section does to the machine.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "simwin/win32.h"

namespace sim {

enum class SetupModule { BothEntries, AnsiEntryOnly, WideEntryOnly, NoEntries, NotLoadable };
// Both entry points are exported after reset().
void set_setup_module(SetupModule exports);

struct InfRun {
    std::string entry;        // "InstallHinfSection" or "InstallHinfSectionW"
    std::string command_line; // as the entry point received it (the wide one narrowed again)
    int show = -1;
    HWND window = nullptr;
    HINSTANCE module = nullptr;
};
const std::vector<InfRun>& inf_runs();

// What running an INF section does to the machine: called with the section name (the first field
// of the command line) each time an entry point runs.
void on_inf_section(std::function<void(const std::string& section)> action);

} // namespace sim
