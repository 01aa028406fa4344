// The main window's procedure: its children, the refresh triggers (creation, the refresh timer,
// device arrival and removal, a device node's change), the registration for USB device notices,
// the commands of the menu, buttons and accelerators, and painting.
#include "app/main_window.h"
#include "install/install.h"
#include "report/report.h"

AppState app;

// Windows checks the size that a device-interface filter names; the structure has no pointer, so
// it is 32 bytes in both builds.
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32,
              "DEV_BROADCAST_DEVICEINTERFACE_A is 32 bytes on Windows");

namespace {

const int kButtonY = 350;
const int kButtonWidth = 130;
const int kButtonHeight = 30;
const int kInstallButtonX = 40;
const int kUninstallButtonX = 230;
const int kExitButtonX = 410;
const int kEditX = 200;
const int kEditY = 10;
const int kEditWidth = 380;
const int kEditHeight = 320;
const DWORD kButtonStyle = WS_CHILD | BS_PUSHBUTTON;
// The scroll bar shows that the report goes on below the edge: with many port lines the advice
// lies beyond the area's 19 lines.
const DWORD kEditStyle = WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
const LRESULT kBackgroundErased = 1;

HWND create_button(HWND window, const char* text, int x, int id) {
    return CreateWindowExA(0, "Button", text, kButtonStyle, x, kButtonY, kButtonWidth,
                           kButtonHeight, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           app.instance, nullptr);
}

// The buttons first, shown together, then the report area. Failed children are ignored.
void create_children(HWND window) {
    app.install_button = create_button(window, "Install", kInstallButtonX, kCommandInstall);
    app.uninstall_button = create_button(window, "Uninstall", kUninstallButtonX, kCommandUninstall);
    app.exit_button = create_button(window, "Exit", kExitButtonX, kCommandExit);
    ShowWindow(app.install_button, SW_SHOW);
    ShowWindow(app.uninstall_button, SW_SHOW);
    ShowWindow(app.exit_button, SW_SHOW);
    app.report_edit = CreateWindowExA(
        WS_EX_CLIENTEDGE, "Edit", "", kEditStyle, kEditX, kEditY, kEditWidth, kEditHeight, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kReportEditId)), app.instance, nullptr);
    ShowWindow(app.report_edit, SW_SHOW);
}

// Windows tells a window of a USB device's arrival and removal only once the window has
// registered for the device's interface class; unregistered, it sends only DBT_DEVNODES_CHANGED.
// Without a registration the refresh timer still finds every change.
void register_usb_device_notices(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = kUsbDeviceInterfaceClass;
    filter.dbcc_name[0] = '\0';
    app.usb_device_notices =
        RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void unregister_usb_device_notices() {
    if (!app.usb_device_notices)
        return;
    UnregisterDeviceNotification(app.usb_device_notices);
    app.usb_device_notices = nullptr;
}

// Runs a command of the menu, the buttons or the accelerators; 0 when it is not one of ours.
int run_command(HWND window, int command) {
    switch (command) {
    case kCommandAbout:
        // The About box's result and failure are of no consequence.
        DialogBoxParamA(app.instance, MAKEINTRESOURCEA(kResourceAboutDialog), window,
                        about_dialog_proc, 0);
        return 1;
    case kCommandExit:
        DestroyWindow(window);
        return 1;
    case kCommandInstall:
        install_command(window);
        return 1;
    case kCommandUninstall:
        uninstall_command(window);
        return 1;
    default:
        return 0;
    }
}

void paint_window(HWND window) {
    PAINTSTRUCT paint;
    if (!BeginPaint(window, &paint))
        return;
    paint_header(window, &paint);
    EndPaint(window, &paint);
}

} // namespace

void arm_refresh_timer(HWND window) {
    if (app.timer_armed == 1)
        return;
    app.timer_armed = 1;
    SetTimer(window, kRefreshTimerId, kRefreshPeriodMs, nullptr);
}

// Setting the timer again restarts its period, so the next tick comes a full period after this
// refresh ended.
void refresh_tick(HWND window) {
    app.timer_armed = 0;
    app.refresh_brought_forward = 0;
    refresh_report(window, 0);
    arm_refresh_timer(window);
}

// A device node came or went. For a device that no driver started (an adapter without its
// driver) Windows announces nothing more, so the refresh timer is set to the short delay once;
// the notices that follow before it ticks change nothing, and after its tick the periods are
// the usual ones again.
void bring_refresh_forward(HWND window) {
    if (app.refresh_brought_forward == 1)
        return;
    app.refresh_brought_forward = 1;
    app.timer_armed = 1;
    SetTimer(window, kRefreshTimerId, kNodesChangedDelayMs, nullptr);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        // Registered before the first report is composed, so a device that arrives after that
        // report is announced; the forced refresh comes last so the report is in place before
        // the window is first shown.
        create_children(window);
        register_usb_device_notices(window);
        refresh_report(window, 1);
        return 0;
    case WM_DESTROY:
        unregister_usb_device_notices();
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        paint_window(window);
        return 0;
    case WM_ERASEBKGND:
        // The header painter fills the whole client area itself.
        return kBackgroundErased;
    case WM_COMMAND:
        if (run_command(window, LOWORD(wparam)))
            return 0;
        return DefWindowProcA(window, message, wparam, lparam);
    case WM_TIMER:
        if (wparam == kRefreshTimerId)
            refresh_tick(window);
        return 0;
    case WM_INITMENUPOPUP: {
        HMENU popup = reinterpret_cast<HMENU>(wparam);
        EnableMenuItem(popup, kCommandInstall, MF_BYCOMMAND | MF_ENABLED);
        EnableMenuItem(popup, kCommandUninstall, MF_BYCOMMAND | MF_ENABLED);
        return 0;
    }
    case WM_DEVICECHANGE:
        if (wparam == DBT_DEVICEARRIVAL || wparam == DBT_DEVICEREMOVECOMPLETE)
            refresh_report(window, 0);
        else if (wparam == DBT_DEVNODES_CHANGED)
            bring_refresh_forward(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}
