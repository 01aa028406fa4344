// The identifiers of the installer's commands, controls, dialog and resources.
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
