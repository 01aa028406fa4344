// The About box: names the product and the installer version in its text line and ends on OK
// or Escape.
#include "app/main_window.h"
#include "platform/text.h"

namespace {

const int kAboutLineRoom = 100;
// The product name, its subtitle and the version text: Quorvale Driver Installer - ver 1.2.78.
const char kAboutLine[] = "%s %s - %s";

} // namespace

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        char line[kAboutLineRoom] = "";
        text_append_format(line, sizeof line, kAboutLine, kProductName, kProductSubtitle,
                           app.version_text);
        SetDlgItemTextA(dialog, kAboutTextId, line);
        return 1;
    }
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wparam));
        return 1;
    }
    return 0;
}
