// Driver installation: the Install and Uninstall commands, the INF section runner, hub
// re-enumeration after an install, the cleanup of the maker's INF copies, and what the commands
// need of the machine (a program of the Windows' own bitness, the driver package).
#pragma once

#include "platform/platform.h"

// What the program learns about its process and its removals, kept until it ends.
struct InstallState {
    // 1: a 32-bit program on 64-bit Windows (WOW64), which cannot install drivers there.
    int under_wow64;
    // 1 once a removal left its device until Windows restarts (DI_NEEDREBOOT or DI_NEEDRESTART).
    int removal_needs_restart;
};
extern InstallState install_state;

// Asks kernel32's IsWow64Process, looked up by name since 32-bit Windows before XP SP2 lacks it,
// whether this process is a 32-bit program on 64-bit Windows; sets install_state.under_wow64 when
// it is, and leaves it 0 when the function is missing or fails. Called once, at start.
void detect_wow64();
// The driver INF, relative to the current directory: ".\zelkqx7.inf".
extern const char kDriverInfPath[];
// Whether the driver INF opens for reading in the current directory.
int driver_package_present();

// Reads a text value of HKLM\Software\Microsoft\Windows\CurrentVersion into buffer (size bytes,
// at most 200), expanding environment references. 1 when a non-empty text was read.
int read_current_version_value(char* buffer, int size, const char* value_name);
// Deletes the instance's installed INF copy in the directory named by value_name when the copy
// carries the maker's provider token.
void delete_provider_inf_copy(HDEVINFO set, PSP_DEVINFO_DATA data, const char* value_name);

void install_command(HWND window);
void uninstall_command(HWND window);
void run_inf_section(HWND window, const char* section_name);
void reenumerate_adapter_hubs();
