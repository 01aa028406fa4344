#!/bin/sh
# Runs the 64-bit installer under Wine on a real Windows user interface, registry, file system,
# version resources and INF engine, drives its window with qdi_wine_driver.exe and checks the
# report it shows. One case per run; the Wine prefix is made once under WORK_DIR and reused.
#
#   run_e2e.sh WIN64_BUILD_DIR WORK_DIR CASE
#
# Cases: prefix (only makes the Wine prefix), bare, installed, reboot, unversioned, install,
# uninstall, install-reboot.
# Exit code 0 when the case passes, 1 when it fails, 77 when Wine or a display is missing.
set -eu

if [ $# -ne 3 ]; then
    echo "usage: $0 WIN64_BUILD_DIR WORK_DIR CASE" >&2
    exit 2
fi
win64=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
case_name=$3
case $case_name in
prefix | bare | installed | reboot | unversioned | install | uninstall | install-reboot) ;;
*)
    echo "unknown case $case_name (prefix, bare, installed, reboot, unversioned, install," \
        "uninstall, install-reboot)" >&2
    exit 2
    ;;
esac

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL [$case_name]: $*" >&2
    exit 1
}

. "$(dirname "$0")/../../scripts/wine-display.sh"
find_wine
[ -n "$wine_loader" ] || skip "wine64 is not installed"
[ -n "$wine_server" ] || skip "wineserver is not installed"

installer=$win64/quorvale-installer.exe
driver=$win64/qdi_wine_driver.exe
package=$win64/package
variants=$win64/driver-variants

export WINEPREFIX="$work/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER="$wine_loader"
export WINESERVER="$wine_server"

# One case at a time per prefix: Wine, the display and the system directories are shared.
exec 9>"$work/e2e.lock"
if command -v flock >/dev/null 2>&1; then
    flock 9
fi

case_dir=$work/$case_name
rm -rf "$case_dir"
mkdir -p "$case_dir"

xvfb_pid=
installer_pid=
trap end_wine_run EXIT
trap 'exit 1' INT TERM

# A display: the one given, or a private Xvfb on the first free display number.
if [ -z "${DISPLAY:-}" ]; then
    command -v Xvfb >/dev/null 2>&1 || skip "no DISPLAY and Xvfb is not installed"
    start_xvfb "$case_dir/xvfb.log"
    [ -n "$xvfb_pid" ] || fail "could not start Xvfb"
fi

make_wine_prefix "$work/wineboot.log" || fail "wineboot failed"
if [ "$case_name" = prefix ]; then
    echo "PASS [prefix]"
    exit 0
fi
for needed in "$installer" "$driver" "$package/zelkqx7.inf" "$package/zelkqx7f.dll" \
    "$package/zelkqx7m.dll" "$package/zelkqx7.sys" "$variants/zelkqx7f-1.2.77.dll" \
    "$variants/zelkqx7f-unversioned.dll" "$variants/zelkqx7m-040904B0.dll"; do
    [ -f "$needed" ] || fail "missing $needed (build the win64 build first)"
done
system_dir=$WINEPREFIX/drive_c/windows/system32
drivers_dir=$system_dir/drivers
[ -d "$drivers_dir" ] || fail "the prefix has no $drivers_dir"

. "$(dirname "$0")/expected_reports.sh"

remove_driver_files() {
    rm -f "$system_dir/zelkqx7f.dll" "$system_dir/zelkqx7m.dll" "$drivers_dir/zelkqx7.sys"
}
# place_driver_files RUMBLE_FILE [MEMPAK_FILE]: the given files and the package's kernel driver
# file (and mempak file unless given), as an earlier installation would have left them.
place_driver_files() {
    cp "$1" "$system_dir/zelkqx7f.dll"
    cp "${2:-$package/zelkqx7m.dll}" "$system_dir/zelkqx7m.dll"
    cp "$package/zelkqx7.sys" "$drivers_dir/zelkqx7.sys"
}
# stage_package RUMBLE_FILE: the working directory the installer starts in, holding the INF and
# the driver files; it is not the directory of the executable.
stage="$case_dir/stage"
stage_package() {
    mkdir -p "$stage"
    cp "$package/zelkqx7.inf" "$package/zelkqx7m.dll" "$package/zelkqx7.sys" "$stage/"
    cp "$1" "$stage/zelkqx7f.dll"
}

inf_trace=-all,trace+setupapi
# start_installer [WINEDEBUG]: starts the program from the staging directory.
start_installer() {
    mkdir -p "$stage"
    (cd "$stage" && WINEDEBUG=${1:--all} exec timeout -k 5 240 "$wine_loader" "$installer") \
        >"$case_dir/installer.log" 2>&1 &
    installer_pid=$!
}

# drive STEP...: runs qdi_wine_driver.exe with the steps; files the steps name are written in the
# case directory.
drive() {
    "$wine_loader" "$driver" "$@" >>"$case_dir/driver.log" 2>&1 ||
        fail "driving the window failed: $(cat "$case_dir/driver.log")"
}
file_arg() {
    windows_path "$case_dir/$1"
}

# expect_report NAME EXPECTED_TEXT_FILE: reads the report and compares it byte for byte.
expect_report() {
    drive "report:$(file_arg "$1.txt")"
    if ! cmp -s "$case_dir/$1.txt" "$2"; then
        echo "--- expected report ($1)" >&2
        cat -A "$2" >&2
        echo "--- shown report" >&2
        cat -A "$case_dir/$1.txt" >&2
        fail "the report ($1) differs from the expected text"
    fi
    echo "ok: report $1"
}

# expect_inf_runs SECTION: the setupapi trace of the installer shows the section run with the
# command line "SECTION 128 .\zelkqx7.inf", once through InstallHinfSection (which Wine hands
# on to the wide entry) and once through InstallHinfSectionW, and no other command line.
expect_inf_runs() {
    log=$case_dir/installer.log
    all=$(grep -c 'InstallHinfSectionW .*cmdline' "$log" || true)
    good=$(grep -cF "cmdline L\"$1 128 .\\\\zelkqx7.inf\"" "$log" || true)
    [ "$all" -eq 2 ] && [ "$good" -eq 2 ] ||
        fail "expected two runs of '$1 128 .\\zelkqx7.inf', the trace shows $good of $all:
$(grep 'InstallHinfSectionW' "$log")"
    echo "ok: $1 ran through both INF entry points"
}

expect_file_text() {
    [ "$(cat "$case_dir/$1")" = "$2" ] || fail "$1 reads '$(cat "$case_dir/$1")', not '$2'"
}

screenshot() {
    if command -v import >/dev/null 2>&1; then
        import -window root "$case_dir/$1.png" 2>/dev/null ||
            echo "note: no screenshot taken" >&2
        echo "screenshot: $case_dir/$1.png"
    fi
}

# exit_installer [STEP]: presses Exit (or takes the driver's STEP, such as close) and checks that
# the program ended with exit code 0.
exit_installer() {
    drive "${1:-click:105}" closed
    status=0
    wait "$installer_pid" || status=$?
    installer_pid=
    [ "$status" -eq 0 ] || fail "the installer exited with code $status"
    echo "ok: exit code 0"
}

about_box_opens() {
    drive "$@" "about:$(file_arg about.txt)" escape
    expect_file_text about.txt "Quorvale Driver Installer - ver 1.2.78"
}

expected=$case_dir/expected
remove_driver_files
case $case_name in
bare)
    no_drivers_report >"$expected-bare"
    start_installer
    drive wait "title:$(file_arg title.txt)"
    expect_file_text title.txt "Quorvale Driver Installer"
    expect_report bare "$expected-bare"
    screenshot bare
    about_box_opens "alt:?"
    echo "ok: Alt+? opens the About box, Escape closes it"
    about_box_opens "alt:/"
    echo "ok: Alt+/ opens the About box, Escape closes it"
    about_box_opens post:104
    echo "ok: the Help menu's About opens the About box"
    expect_report bare-after-about "$expected-bare"
    exit_installer
    ;;
installed)
    place_driver_files "$package/zelkqx7f.dll"
    driver_report 1.2.78 1.2.78 "$installed_advice" >"$expected-installed"
    start_installer
    drive wait
    expect_report installed "$expected-installed"
    screenshot installed
    # Closing the window from its system menu ends the program just like Exit.
    exit_installer close
    ;;
reboot)
    place_driver_files "$variants/zelkqx7f-1.2.77.dll"
    driver_report 1.2.77 1.2.78 "$reboot_advice" >"$expected-reboot"
    start_installer
    drive wait
    expect_report reboot "$expected-reboot"
    screenshot reboot
    exit_installer
    ;;
unversioned)
    # A file without version resource, and one whose strings are in another block than
    # 040904E4, both read as 1.0.1.
    place_driver_files "$variants/zelkqx7f-unversioned.dll" "$variants/zelkqx7m-040904B0.dll"
    driver_report 1.0.1 1.0.1 "$reboot_advice" >"$expected-unversioned"
    start_installer
    drive wait
    expect_report unversioned "$expected-unversioned"
    screenshot unversioned
    exit_installer
    ;;
install)
    stage_package "$package/zelkqx7f.dll"
    no_drivers_report >"$expected-before"
    driver_report 1.2.78 1.2.78 "$installed_advice" >"$expected-after"
    start_installer "$inf_trace"
    drive wait
    expect_report before-install "$expected-before"
    drive click:32771
    expect_report after-install "$expected-after"
    expect_inf_runs DefaultInstall
    for file in "$system_dir/zelkqx7f.dll" "$system_dir/zelkqx7m.dll" \
        "$drivers_dir/zelkqx7.sys"; do
        [ -f "$file" ] || fail "Install did not copy $file"
    done
    screenshot after-install
    exit_installer
    ;;
uninstall)
    place_driver_files "$package/zelkqx7f.dll"
    stage_package "$package/zelkqx7f.dll"
    driver_report 1.2.78 1.2.78 "$installed_advice" >"$expected-before"
    no_drivers_report >"$expected-after"
    start_installer "$inf_trace"
    drive wait
    expect_report before-uninstall "$expected-before"
    drive click:32773
    expect_report after-uninstall "$expected-after"
    expect_inf_runs DefaultUninstall
    for file in "$system_dir/zelkqx7f.dll" "$system_dir/zelkqx7m.dll" \
        "$drivers_dir/zelkqx7.sys"; do
        [ ! -e "$file" ] || fail "Uninstall left $file"
    done
    screenshot after-uninstall
    exit_installer
    ;;
install-reboot)
    stage_package "$variants/zelkqx7f-1.2.77.dll"
    driver_report 1.2.77 1.2.78 "$reboot_advice" >"$expected-after"
    start_installer
    drive wait click:32771
    expect_report after-install "$expected-after"
    screenshot after-install
    exit_installer
    ;;
esac
remove_driver_files
echo "PASS [$case_name]"
