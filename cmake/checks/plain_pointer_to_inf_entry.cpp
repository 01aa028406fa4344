// Must not compile on 32-bit Windows: a pointer to the ANSI INF entry point without WINAPI is
// another type there (__cdecl against __stdcall), so the type assertions of the Install
// command reject it.
#include <windows.h>
#include <setupapi.h>

#include <type_traits>

typedef VOID (*PlainEntry)(HWND, HINSTANCE, PCSTR, INT);
static_assert(std::is_same<PlainEntry, decltype(&InstallHinfSectionA)>::value,
              "a pointer without WINAPI passes for the entry point");

int main() {
    return 0;
}
