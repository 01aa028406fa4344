# Sourced by the Wine end-to-end scripts: the reports the installer shows on a Wine machine,
# which has no USB host controller and so lists no port ("None"), line by line with CR LF.
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
no_drivers_report() {
    port_section
    crlf_lines "Installed Drivers:" "--- no rumble or mempack drivers installed ---" "" "" \
        "Click the <Install> button to install the 1.2.78 drivers."
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

# windows_path PATH: the Windows path of a file of this Linux file system (Wine maps / to Z:).
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}
