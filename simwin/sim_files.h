// The registry, the environment, the file system (with version resources) and the adapter
// driver's control device of the simulated machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simwin/win32.h"

namespace sim {

// ---- registry ----------------------------------------------------------------------------------
// Paths are backslash-separated below a root ("Software\\Microsoft\\Windows\\CurrentVersion"),
// compared without regard to case. Setting a value creates the key and its parents. The registry
// starts empty after reset().
void add_registry_key(HKEY root, const std::string& path);
void delete_registry_key(HKEY root, const std::string& path); // with its subkeys
bool registry_key_exists(HKEY root, const std::string& path);
void set_registry_value(HKEY root, const std::string& path, const std::string& name, DWORD type,
                        const std::vector<uint8_t>& data);
// A string value as Windows stores it; terminated false stores it without its terminating zero.
void set_registry_string(HKEY root, const std::string& path, const std::string& name,
                         const std::string& text, DWORD type = REG_SZ, bool terminated = true);
void delete_registry_value(HKEY root, const std::string& path, const std::string& name);
// A key that refuses to be opened (RegOpenKeyExA answers ERROR_ACCESS_DENIED), as a key whose
// security denies the caller read access.
void deny_registry_key(HKEY root, const std::string& path, bool denied = true);
// The key below HKEY_LOCAL_MACHINE that holds a device's driver key
// ("SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver key).
std::string driver_registry_path(const std::string& driver_key);

// ---- environment -------------------------------------------------------------------------------
// After reset() the environment holds SystemRoot and windir, both naming the Windows directory.
// Names are compared without regard to case.
void set_environment(const std::string& name, const std::string& value);
void remove_environment(const std::string& name);

// ---- files -------------------------------------------------------------------------------------
// Full drive-letter paths, compared without regard to case; "/" counts as "\" and repeated
// separators count as one, as Windows treats them. A relative path is taken from the current
// directory ("C:\\" unless set). The Windows directory is "C:\\WINDOWS" and the system directory
// "C:\\WINDOWS\\system32" unless set otherwise. Putting a file creates its directories.
struct VersionBlock {
    std::string translation = "040904E4";
    std::vector<std::pair<std::string, std::string>> strings; // {"FileVersion", "1.2.78"}
};
void put_file(const std::string& path, const std::string& content);
// A driver file carrying a version resource with one string block; no version: no resource.
void put_version_file(const std::string& path, std::optional<std::string> file_version,
                      const std::string& translation = "040904E4");
// A file whose version resource holds these string blocks, in this order (none: a resource
// with no StringFileInfo at all).
void put_version_file_blocks(const std::string& path, const std::vector<VersionBlock>& blocks);
// The bytes of the version resource that put_version_file_blocks gives a file, for a test that
// damages them, and a file that carries these bytes as its version resource, damaged or not.
// GetFileVersionInfoSizeA asks for twice the bytes and 4 more, whatever their lengths say.
std::vector<uint8_t> version_resource(const std::vector<VersionBlock>& blocks);
void put_version_file_resource(const std::string& path, const std::vector<uint8_t>& resource);
bool file_exists(const std::string& path);
std::string file_content(const std::string& path);
void remove_file(const std::string& path);
void make_directory(const std::string& path);
void set_current_directory(const std::string& path);
void set_windows_directory(const std::string& path); // the system directory follows it
void set_system_directory(const std::string& path);
std::string windows_directory();
std::string system_directory();
// Another process holds the file open with this access (GENERIC_READ, GENERIC_WRITE) and share
// mode (FILE_SHARE_*): opens and deletions that its sharing refuses fail with
// ERROR_SHARING_VIOLATION until release_file_hold.
void hold_file(const std::string& path, DWORD access, DWORD share);
void release_file_hold(const std::string& path);

// ---- the adapter driver's control device \\.\Zelk_QX7 ------------------------------------------
// Absent until set: opening it fails with ERROR_FILE_NOT_FOUND. Present with a reply of any
// number of bytes (BytesReturned is the reply size, capped to the output size), or present with
// a failing version query (reply nullopt or query_fails).
void set_control_device(std::optional<std::vector<uint8_t>> reply, bool query_fails = false);
void remove_control_device();
// The version query code of the control device.
constexpr DWORD kControlDeviceVersionQuery = 0xB98C2044u;

} // namespace sim
