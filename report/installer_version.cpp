// The installer's version text, the reference of every driver version comparison and the number
// the header, the About box and the advice line show: the project's version, as the build makes
// it into installer_version.h.
#include "installer_version.h"
#include "report/report.h"

const char kInstallerVersion[] = QDI_INSTALLER_VERSION_TEXT;
