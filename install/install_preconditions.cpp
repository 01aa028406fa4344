// What the commands need of the machine before they change it: a program of the Windows' own
// bitness (a 32-bit program on 64-bit Windows cannot install drivers there) and, for Install,
// the driver package's INF in the current directory.
#include <type_traits>

#include "install/install.h"

InstallState install_state;

namespace {

const char kKernelModuleName[] = "kernel32.dll";
const char kWow64QueryName[] = "IsWow64Process";

// The query as kernel32 publishes it; the assertion ties the pointer to the published
// declaration, so a pointer without WINAPI (a corrupted stack on 32-bit Windows) does not compile.
typedef BOOL(WINAPI* IsWow64ProcessEntry)(HANDLE, PBOOL);
static_assert(std::is_same<IsWow64ProcessEntry, decltype(&IsWow64Process)>::value,
              "the WOW64 query carries the platform's calling convention");

} // namespace

void detect_wow64() {
    HMODULE kernel = GetModuleHandleA(kKernelModuleName);
    if (!kernel)
        return;
    FARPROC entry = GetProcAddress(kernel, kWow64QueryName);
    if (!entry)
        return;
    IsWow64ProcessEntry is_wow64_process =
        reinterpret_cast<IsWow64ProcessEntry>(reinterpret_cast<void (*)()>(entry));
    BOOL wow64 = FALSE;
    if (is_wow64_process(GetCurrentProcess(), &wow64) && wow64)
        install_state.under_wow64 = 1;
}

// Opened as the Setup API opens an INF, for reading and sharing only reading: an INF that it
// could not read counts as missing.
int driver_package_present() {
    HANDLE file = CreateFileA(kDriverInfPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}
