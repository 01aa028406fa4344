// The status report: rebuilds the adapter list, composes the port section and the report key,
// stops early when the key is unchanged and the refresh is not forced, else probes the driver
// files, decides the StatusFlags and the advice line and sets the text into the report control.
#include "app/main_window.h"
#include "devices/adapter_list.h"
#include "install/install.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"

ReportBuffers report_buffers;

namespace {

const char kHeaderLine[] = "<< USB ports with Quorvales configured >>\r\n";
// The rule line: 69 hyphen-minus characters.
const char kRuleLine[] =
    "---------------------------------------------------------------------\r\n";
static_assert(sizeof kRuleLine == 69 + 3, "the rule has 69 characters");
const char kPortLine[] = "Port %s: %s%s driver%s\r\n";
const char kMemoryPackSuffix[] = " & mempak";
const char kNotPluggedIn[] = ", not plugged in";
const char kNoPorts[] = "None\r\n";
const char kTwoEmptyLines[] = "\r\n\r\n";

const char kInstalledDriversLine[] = "Installed Drivers:\r\n";
// A driver file's line: its version and the file's title.
const char kFileLine[] = "ver %s - %s\r\n";
const char kRumbleFileTitle[] = "Rumble Driver File";
const char kMempakFileTitle[] = "Mempak Driver File";
const char kKernelFileTitle[] = "Quorvale Driver File";
const char kLoadedDriverLine[] = "ver %s - Quorvale Driver Loaded\r\n";
const char kNoDriversLine[] = "--- no rumble or mempack drivers installed ---\r\n";

const char kRumbleFile[] = "zelkqx7f.dll";
const char kMempakFile[] = "zelkqx7m.dll";
const char kKernelFile[] = "system32\\drivers\\zelkqx7.sys";

const char kInstalledAdvice[] = "The %s drivers are successfully installed.\r\n";
const char kRebootAdvice[] = "Some files were in use during the install.  You will need to "
                             "reboot your computer to complete the %s driver installation.\r\n";
const char kInstallAdvice[] = "Click the <Install> button to install the %s drivers.\r\n";
const char kWow64Advice[] = "This 32-bit installer cannot install drivers on 64-bit Windows. "
                            "Use the 64-bit installer of version %s.\r\n";
const char kMissingPackageAdvice[] = "The driver package is not in this folder: put zelkqx7.inf "
                                     "and its files here, then click <Install>.\r\n";

const char* driver_kind_name(DriverKind kind) {
    switch (kind) {
    case NoDriver:
        return "no";
    case Generic:
        return "generic";
    case Rumble:
        return "rumble";
    }
    return "no";
}

void append_report(const char* text) {
    text_append(report_buffers.report_text, kReportRoom, text);
}

// The header, the rule, one line per AdapterEntry (or "None") and the two empty lines; returns
// the bits that the listed adapters set.
DWORD compose_port_section(const char* mempak_suffix) {
    DWORD flags = 0;
    append_report(kHeaderLine);
    append_report(kRuleLine);
    for (int i = 0; i < adapter_list.count; ++i) {
        const AdapterEntry& entry = adapter_list.entries[i];
        text_append_format(report_buffers.report_text, kReportRoom, kPortLine, entry.label,
                           driver_kind_name(entry.kind), entry.kind == Rumble ? mempak_suffix : "",
                           entry.plugged ? "" : kNotPluggedIn);
        if (entry.kind == NoDriver)
            flags |= kAdapterWithoutDriver;
        else if (entry.kind == Generic)
            flags |= kNeedsInstall;
    }
    if (adapter_list.count == 0)
        append_report(kNoPorts);
    append_report(kTwoEmptyLines);
    return flags;
}

int is_installer_version(const char* version) {
    return text_equal(version, kInstallerVersion);
}

// Probes one driver file and appends its line, under its title, when it is found; returns
// mismatch_flag when its version is not the installer's, missing_flag when it is not found. Adds
// a written line to *line_count.
DWORD compose_file_line(const char* name, int in_system_dir, const char* title, DWORD mismatch_flag,
                        DWORD missing_flag, int* line_count) {
    char version[kVersionRoom];
    if (!query_file_version(version, name, in_system_dir))
        return missing_flag;
    text_append_format(report_buffers.report_text, kReportRoom, kFileLine, version, title);
    ++*line_count;
    return is_installer_version(version) ? 0 : mismatch_flag;
}

// The driver file lines and the loaded driver's line; returns the bits they set and adds the
// lines written to *line_count. A kernel driver file of another version needs an install; the
// other files and the running driver only a reboot.
DWORD compose_driver_lines(const char* loaded_version, int* line_count) {
    DWORD flags = 0;
    flags |= compose_file_line(kRumbleFile, 1, kRumbleFileTitle, kVersionMismatch, kNeedsInstall,
                               line_count);
    flags |= compose_file_line(kMempakFile, 1, kMempakFileTitle, kVersionMismatch, 0, line_count);
    flags |= compose_file_line(kKernelFile, 0, kKernelFileTitle, kNeedsInstall, kNeedsInstall,
                               line_count);
    if (loaded_version[0] != '\0') {
        if (!is_installer_version(loaded_version))
            flags |= kVersionMismatch;
        text_append_format(report_buffers.report_text, kReportRoom, kLoadedDriverLine,
                           loaded_version);
        ++*line_count;
    }
    return flags;
}

// The advice line: a 32-bit program on 64-bit Windows says so whatever the flags; else, once a
// removal needed a restart, the reboot advice; else the whole value of the flags chooses, and
// the Install advice gives way to the missing package's when the INF cannot be opened. The
// flags themselves stay as they are.
void append_advice(DWORD flags) {
    char* text = report_buffers.report_text;
    if (install_state.under_wow64)
        text_append_format(text, kReportRoom, kWow64Advice, kInstallerVersion);
    else if (install_state.removal_needs_restart)
        text_append_format(text, kReportRoom, kRebootAdvice, kInstallerVersion);
    else if (flags == 0)
        text_append_format(text, kReportRoom, kInstalledAdvice, kInstallerVersion);
    else if (flags == kVersionMismatch || flags == (kVersionMismatch | kAdapterWithoutDriver))
        text_append_format(text, kReportRoom, kRebootAdvice, kInstallerVersion);
    else if (!driver_package_present())
        text_append(text, kReportRoom, kMissingPackageAdvice);
    else
        text_append_format(text, kReportRoom, kInstallAdvice, kInstallerVersion);
}

} // namespace

DWORD refresh_report(HWND, int force) {
    text_copy(report_buffers.previous_key, kReportRoom, report_buffers.report_key);
    DWORD flags = 0;
    adapter_list.count = 0;
    report_buffers.report_text[0] = '\0';

    collect_plugged_adapters();
    walk_adapter_instances(0);
    sort_adapter_list();

    const char* mempak_suffix = memory_pack_component_present() ? kMemoryPackSuffix : "";
    flags |= compose_port_section(mempak_suffix);

    char loaded_version[kVersionRoom];
    query_loaded_driver_version(loaded_version);
    text_copy(report_buffers.report_key, kReportRoom, report_buffers.report_text);
    text_append(report_buffers.report_key, kReportRoom, loaded_version);

    // Unchanged ports and running driver: the shown report stays as it is.
    if (!force && text_equal(report_buffers.report_key, report_buffers.previous_key))
        return 0;

    append_report(kInstalledDriversLine);
    int line_count = 0;
    flags |= compose_driver_lines(loaded_version, &line_count);
    if (line_count == 0)
        append_report(kNoDriversLine);
    append_report(kTwoEmptyLines);
    append_advice(flags);

    // A report that the control did not take is not shown: forgetting its key makes the next
    // refresh write the whole report again instead of ending early on an unchanged key.
    if (!SendMessageA(app.report_edit, WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(report_buffers.report_text)))
        report_buffers.report_key[0] = '\0';
    return flags;
}
