// The program entry: asks whether it runs as a 32-bit program on 64-bit Windows, registers the
// main window class, creates the main window with its report, arms the refresh timer and runs the
// message loop until the window is gone.
#include "app/main_window.h"
#include "install/install.h"
#include "platform/text.h"
#include "report/report.h"

// Windows checks the structure size that the class registration names.
static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXA) == 48,
              "WNDCLASSEXA is 48 bytes on 32-bit Windows");

namespace {

const char kClassName[] = "QDIMainWindow";
const char kWindowTitle[] = "Quorvale Driver Installer";
const UINT kClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
const int kWindowY = 0;
const int kWindowWidth = 600;
const int kWindowHeight = 440;
// The loop ended because GetMessageA failed, not by a quit message.
const int kMessageLoopFailed = 1;

void register_main_class() {
    WNDCLASSEXA window_class;
    window_class.cbSize = sizeof(WNDCLASSEXA);
    window_class.style = kClassStyle;
    window_class.lpfnWndProc = main_window_proc;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = app.instance;
    window_class.hIcon = LoadIconA(app.instance, MAKEINTRESOURCEA(kResourceIcon));
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    window_class.lpszMenuName = MAKEINTRESOURCEA(kResourceMenu);
    window_class.lpszClassName = kClassName;
    window_class.hIconSm = nullptr;
    // A failed registration shows as a failed window creation.
    RegisterClassExA(&window_class);
}

// Creates and shows the main window; its creation composes the first report. Null on failure.
HWND create_main_window(int show_command) {
    text_copy(app.version_text, sizeof app.version_text, "");
    text_append_format(app.version_text, sizeof app.version_text, "ver %s", kInstallerVersion);
    HWND window =
        CreateWindowExA(0, kClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, kWindowY,
                        kWindowWidth, kWindowHeight, nullptr, nullptr, app.instance, nullptr);
    if (!window)
        return nullptr;
    ShowWindow(window, show_command);
    UpdateWindow(window);
    arm_refresh_timer(window);
    return window;
}

} // namespace

int installer_main() {
    app.instance = GetModuleHandleA(nullptr);
    // Asked once, before the first report, whose advice depends on it.
    detect_wow64();
    register_main_class();
    HWND window = create_main_window(SW_SHOWDEFAULT);
    if (!window)
        return 0;
    HACCEL accelerators = LoadAcceleratorsA(app.instance, MAKEINTRESOURCEA(kResourceAccelerators));
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(msg.wParam);
        // GetMessageA answers -1 when it fails; looping on would spin without end.
        if (got < 0)
            return kMessageLoopFailed;
        if (TranslateAcceleratorA(window, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
