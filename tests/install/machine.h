// The INF side of a test machine: the CurrentVersion values that name the INF directories, the
// "InfPath" value of a device's driver key, and the head of an INF copy that carries the maker's
// provider token. Free of GoogleTest, so that the fuzz targets build their machines with it too.
#pragma once

#include <string>

#include "simwin/sim.h"

namespace inf_machine {

inline const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
inline const char kInfDirectory[] = "C:\\WINDOWS\\inf";
inline const char kMakerInfHead[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Zelk%\r\n";

// Sets a CurrentVersion directory value ("DevicePath" or "OtherDevicePath").
inline void set_inf_directory(const char* value_name, const std::string& text, DWORD type = REG_SZ,
                              bool terminated = true) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, kCurrentVersion, value_name, text, type,
                             terminated);
}

// Sets the "InfPath" value of the driver key that names a device's installed INF copy.
inline void set_inf_path(const std::string& driver_key, const std::string& inf_name,
                         bool terminated = true) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, sim::driver_registry_path(driver_key), "InfPath",
                             inf_name, REG_SZ, terminated);
}

} // namespace inf_machine
