// Driver installation: the Install and Uninstall commands, the INF section runner, hub
// re-enumeration after an install, and the cleanup of the maker's INF copies.
#pragma once

#include "platform/platform.h"

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
