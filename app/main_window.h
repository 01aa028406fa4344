// The application shell: the program entry, the main window and its message handling, the
// refresh triggers, the painted header and the About box.
#pragma once

#include "platform/platform.h"
#include "res/resource.h"

// The identifiers of res/resource.h, which the resource script shares.
enum {
    kCommandAbout = IDM_ABOUT,
    kCommandExit = IDM_EXIT,
    kCommandInstall = IDM_INSTALL,
    kCommandUninstall = IDM_UNINSTALL,
    kReportEditId = IDC_REPORT_EDIT,
    kAboutTextId = IDC_ABOUT_TEXT,
    kResourceMenu = IDR_MAIN_MENU,
    kResourceAccelerators = IDR_ACCELERATORS,
    kResourceAboutDialog = IDD_ABOUT,
    kResourceIcon = IDI_INSTALLER,
    kResourceHeaderBitmap = IDB_HEADER,
    kRefreshTimerId = 123,
    kRefreshPeriodMs = 3000,
    // After DBT_DEVNODES_CHANGED the next refresh comes this soon: a driverless adapter's plug
    // shows within a second, and the notices of one burst (Windows sends several for one plug)
    // bring one refresh.
    kNodesChangedDelayMs = 500,
    kVersionTextRoom = 20,
};

struct AppState {
    HINSTANCE instance;
    char version_text[kVersionTextRoom]; // "ver 1.2.78"
    HWND install_button;
    HWND uninstall_button;
    HWND exit_button;
    HWND report_edit;
    int timer_armed;
    int refresh_brought_forward;   // 1 while the timer runs the short delay after a node change
    HDEVNOTIFY usb_device_notices; // the registration for USB device notices; null without one
};

extern AppState app;
// The first two lines of the painted header, which the About box names as well.
extern const char kProductName[];     // "Quorvale"
extern const char kProductSubtitle[]; // "Driver Installer"

// The program entry: registers the class, creates the window, runs the message loop; returns
// the exit code.
int installer_main();
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void arm_refresh_timer(HWND window);
void refresh_tick(HWND window);
void bring_refresh_forward(HWND window);
void paint_header(HWND window, PAINTSTRUCT* paint);
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
