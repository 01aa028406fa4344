# Sourced by the Wine end-to-end scripts and scripts/make-guide-screenshots: the reports the
# installer shows on a Wine machine, which has no USB host controller and so lists no port
# ("None"), line by line with CR LF. The advice function reads wow64 (tools/wine/harness.sh).
# shellcheck shell=sh disable=SC2034

# crlf_lines LINE...: the lines as the installer writes them, each ending in CR LF.
crlf_lines() {
    for line in "$@"; do
        printf '%s\r\n' "$line"
    done
}
rule=---------------------------------------------------------------------
port_section() {
    crlf_lines "<< USB ports with Quorvales configured >>" "$rule" "None" "" ""
}
# no_drivers_report [ADVICE]: no driver file and no running driver; the Install advice unless
# another is given.
no_drivers_report() {
    port_section
    crlf_lines "Installed Drivers:" "--- no rumble or mempack drivers installed ---" "" "" \
        "${1:-$install_advice}"
}
# driver_report RUMBLE_VERSION MEMPAK_VERSION ADVICE: all three files present, the kernel driver
# file at 1.2.78.
driver_report() {
    port_section
    crlf_lines "Installed Drivers:" "ver $1 - Rumble Driver File" "ver $2 - Mempak Driver File" \
        "ver 1.2.78 - Quorvale Driver File" "" "" "$3"
}
installed_advice="The 1.2.78 drivers are successfully installed."
reboot_advice="Some files were in use during the install.  You will need to reboot your\
 computer to complete the 1.2.78 driver installation."
install_advice="Click the <Install> button to install the 1.2.78 drivers."
# The advice of a folder without the driver package, and of a 32-bit program on 64-bit Windows,
# which replaces every other.
missing_package_advice="The driver package is not in this folder: put zelkqx7.inf and its files\
 here, then click <Install>."
wow64_advice="This 32-bit installer cannot install drivers on 64-bit Windows. Use the 64-bit\
 installer of version 1.2.78."

# advice ADVICE: the advice the program shows where the flags choose ADVICE: the WOW64 advice
# when wow64 is 1 (the program is a 32-bit program on 64-bit Windows), else ADVICE.
advice() {
    if [ "${wow64:-0}" -eq 1 ]; then
        printf '%s' "$wow64_advice"
    else
        printf '%s' "$1"
    fi
}
