// The identifiers of the installer's commands, controls, dialog and resources, the one place that
// gives their numbers: res/installer.rc, the program, its tests and the end-to-end driver take
// them from here, and the scripts read these #define lines by name. Menu items, accelerators and
// buttons share the command identifiers; the menu and its accelerator table share 109.
#pragma once

#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_INSTALL 32771
#define IDM_UNINSTALL 32773
#define IDC_REPORT_EDIT 200
#define IDC_ABOUT_TEXT 1000
#define IDD_ABOUT 103
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109
#define IDI_INSTALLER 107
#define IDB_HEADER 129

// The About box's icon control.
#define IDC_ABOUT_ICON 2
