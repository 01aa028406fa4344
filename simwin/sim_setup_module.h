// The Setup API module as LoadLibraryA and GetProcAddress present it: which INF section entry
// points it exports, the sections that ran through them, and what a section does to the machine
// (its INF's files, and whatever a test adds).
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

// What running an INF section does to the machine besides its files: called with the section
// name (the first field of the command line) each time an entry point runs, before the INF engine
// carries out the section's DelFiles and CopyFiles from the INF that the command line names.
void on_inf_section(std::function<void(const std::string& section)> action);
// Each file that an INF section copies or deletes takes ms of virtual time (0 after reset()), so
// that a timer falls due in the middle of a section.
void set_inf_file_duration(unsigned ms);

// The INF of the sample driver package (driver/zelkqx7.inf of the source tree) in the directory,
// beside the files that its [SourceDisksFiles] names, each with a version resource of this
// FileVersion: the package that Install and Uninstall take from their current directory.
constexpr const char* kSampleInfName = "zelkqx7.inf";
void put_sample_driver_package(const std::string& directory, const std::string& file_version);

} // namespace sim
