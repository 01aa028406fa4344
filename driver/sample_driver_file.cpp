// A stand-in for one file of the driver package: a resource-only image whose entry does
// nothing. The installer reads such a file only for its version resource.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
