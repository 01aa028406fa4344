// The status report: driver probes, report composition, the StatusFlags and change detection.
#pragma once

#include "platform/platform.h"

enum StatusFlag : DWORD {
    kNeedsInstall = 1,
    kVersionMismatch = 2,
    kAdapterWithoutDriver = 4,
};

enum {
    kReportRoom = 10000,
    kVersionRoom = 52, // a version text of at most 51 characters
    kDirectoryPathRoom = 100,
};

struct ReportBuffers {
    char report_text[kReportRoom];
    char report_key[kReportRoom];
    char previous_key[kReportRoom];
};

extern ReportBuffers report_buffers;
extern const char kInstallerVersion[]; // "1.2.78", the project's version

// Writes the FileVersion text of the file into out (kVersionRoom bytes) and returns 1, or
// returns 0 and leaves out as it was.
int query_file_version(char* out, const char* name, int in_system_dir);
// out (kVersionRoom bytes): "" without a running driver, "?.?.?" when it does not answer.
void query_loaded_driver_version(char* out);
int memory_pack_component_present();
// Recomposes the report and sets it into the report edit control; returns the StatusFlags, or 0
// when force is 0 and nothing that the report key covers changed.
DWORD refresh_report(HWND window, int force);
