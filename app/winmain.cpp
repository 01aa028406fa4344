// The Windows entry point of the installer: everything happens in installer_main, which takes
// no arguments and returns the exit code of the message loop.
#include "app/main_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return installer_main();
}
