// The Install and Uninstall commands: remove every adapter instance with its INF copies, run one
// section of the driver INF through the Setup API, show the new state and, after an install that
// left an adapter without a driver, re-enumerate the hubs that carry adapters. A 32-bit program on
// 64-bit Windows changes nothing, nor does Install without the driver package.
#include "install/install.h"

#include <type_traits>

#include "devices/adapter_list.h"
#include "platform/text.h"
#include "report/report.h"
#include "usb/port_table.h"

const char kDriverInfPath[] = ".\\zelkqx7.inf";

namespace {

const char kInstallSection[] = "DefaultInstall";
const char kUninstallSection[] = "DefaultUninstall";
const char kSetupModuleName[] = "setupapi.dll";
const char kAnsiEntryName[] = "InstallHinfSection";
const char kWideEntryName[] = "InstallHinfSectionW";

enum {
    kInfMode = 128,
    kCommandLineRoom = 200,
    kAnsiEntryShow = 0,
    kWideEntryShow = 5,
};

// The entry points as the Setup API publishes them. On 32-bit Windows a pointer without WINAPI
// would corrupt the stack at the call; the assertions tie these types to the published
// declarations, so such a pointer does not compile.
typedef VOID(WINAPI* InstallHinfSectionAnsiEntry)(HWND, HINSTANCE, PCSTR, INT);
typedef VOID(WINAPI* InstallHinfSectionWideEntry)(HWND, HINSTANCE, PCWSTR, INT);
static_assert(std::is_same<InstallHinfSectionAnsiEntry, decltype(&InstallHinfSectionA)>::value,
              "the ANSI entry point carries the platform's calling convention");
static_assert(std::is_same<InstallHinfSectionWideEntry, decltype(&InstallHinfSectionW)>::value,
              "the wide entry point carries the platform's calling convention");

// Shows the wait cursor; returns the cursor it replaced.
HCURSOR show_wait_cursor() {
    return SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

} // namespace

void run_inf_section(HWND window, const char* section_name) {
    char command_line[kCommandLineRoom] = "";
    if (!text_append_format(command_line, sizeof command_line, "%s %d %s", section_name, kInfMode,
                            kDriverInfPath))
        return;

    HMODULE module = LoadLibraryA(kSetupModuleName);
    if (!module)
        return;

    // The module stays loaded: the device information calls use it for the rest of the run.
    FARPROC ansi_entry = GetProcAddress(module, kAnsiEntryName);
    if (ansi_entry) {
        InstallHinfSectionAnsiEntry run_ansi =
            reinterpret_cast<InstallHinfSectionAnsiEntry>(reinterpret_cast<void (*)()>(ansi_entry));
        run_ansi(window, module, command_line, kAnsiEntryShow);
    }

    FARPROC wide_entry = GetProcAddress(module, kWideEntryName);
    if (!wide_entry)
        return;
    WCHAR wide_command_line[kCommandLineRoom];
    if (MultiByteToWideChar(CP_ACP, 0, command_line, -1, wide_command_line, kCommandLineRoom) == 0)
        return;
    InstallHinfSectionWideEntry run_wide =
        reinterpret_cast<InstallHinfSectionWideEntry>(reinterpret_cast<void (*)()>(wide_entry));
    run_wide(window, module, wide_command_line, kWideEntryShow);
}

void reenumerate_adapter_hubs() {
    scan_usb_topology();
    resolve_devnodes(1);

    // Adapters of one hub that follow each other in the table cause one re-enumeration.
    DEVINST last_reenumerated = 0;
    for (int i = 0; i < port_table.count; ++i) {
        const PortEntry& entry = port_table.entries[i];
        if (entry.is_hub || entry.devnode == 0 || entry.devnode == last_reenumerated)
            continue;
        last_reenumerated = entry.devnode;
        CM_Reenumerate_DevNode(entry.devnode, 0);
    }
}

// A 32-bit program on 64-bit Windows, or Install without the driver package, would remove the
// adapter's instances and the maker's INF copies and install nothing in their place: then the
// command changes nothing and only shows the report, whose advice says why.
void install_command(HWND window) {
    HCURSOR previous = show_wait_cursor();
    if (install_state.under_wow64 || !driver_package_present()) {
        refresh_report(window, 1);
        SetCursor(previous);
        return;
    }
    walk_adapter_instances(1);
    run_inf_section(window, kInstallSection);
    DWORD flags = refresh_report(window, 1);
    if (flags & kAdapterWithoutDriver)
        reenumerate_adapter_hubs();
    SetCursor(previous);
}

// Uninstall needs no package: its removal is of use without it.
void uninstall_command(HWND window) {
    HCURSOR previous = show_wait_cursor();
    if (!install_state.under_wow64) {
        walk_adapter_instances(1);
        run_inf_section(window, kUninstallSection);
    }
    refresh_report(window, 1);
    SetCursor(previous);
}
