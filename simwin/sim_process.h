// The process that the program runs as: natively, or as a 32-bit program on 64-bit Windows
// (WOW64), where kernel32 answers IsWow64Process with TRUE, the program's file accesses to the
// system directory reach SysWOW64 and the Setup API refuses to remove devices.
#pragma once

#include <string>

namespace sim {

enum class ProcessKind {
    // After reset(): a program on Windows of its own bitness (32-bit Windows, or the 64-bit build
    // on 64-bit Windows). IsWow64Process answers FALSE.
    Native,
    // A 32-bit program on 64-bit Windows. GetSystemDirectoryA still answers the system
    // directory, but the program's opens, deletions and version reads of files in it reach
    // SysWOW64 in the Windows directory, and SetupDiRemoveDevice fails with ERROR_IN_WOW64.
    Wow64,
    // 32-bit Windows from before Windows XP SP2: kernel32 does not export IsWow64Process.
    NativeWithoutWow64Query,
};
void set_process_kind(ProcessKind kind);
ProcessKind process_kind();
// Where a WOW64 program's accesses to the system directory go: "SysWOW64" in the Windows
// directory ("C:\\WINDOWS\\SysWOW64").
std::string wow64_system_directory();

} // namespace sim
