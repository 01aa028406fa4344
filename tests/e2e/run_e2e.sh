#!/bin/sh
# Runs the installer of one Windows build under Wine on a real Windows user interface, registry,
# file system, version resources and INF engine, drives its window with the build's
# qdi_wine_driver.exe, checks the report it shows and, on a screenshot, what it paints. One case
# per run; the Wine prefix is made once under WORK_DIR and reused.
#
#   run_e2e.sh BUILD_DIR WORK_DIR CASE
#
# BUILD_DIR is a MinGW-w64 build, 64-bit (run by wine64) or 32-bit (run by scripts/wine32 as a
# 32-bit program on 64-bit Windows: its system directory is syswow64). Cases: prefix (only makes
# the Wine prefix), bare, installed, reboot, unversioned, mempak, install, uninstall,
# install-reboot, missing-inf. QDI_PAINT_CHECK names the qdi_paint_check program that checks the
# screenshots; without it they are only saved.
# Exit code 0 when the case passes, 1 when it fails, 77 when Wine or a display is missing.
set -eu

if [ $# -ne 3 ]; then
    echo "usage: $0 BUILD_DIR WORK_DIR CASE" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
case_name=$3
case $case_name in
prefix | bare | installed | reboot | unversioned | mempak | install | uninstall | install-reboot | \
    missing-inf) ;;
*)
    echo "unknown case $case_name (prefix, bare, installed, reboot, unversioned, mempak, install," \
        "uninstall, install-reboot, missing-inf)" >&2
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

scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
picture=$(cd "$(dirname "$0")/../../res" && pwd)/header.bmp
. "$scripts/wine-display.sh"
find_wine
[ -n "$wine_loader" ] || skip "wine64 is not installed"
[ -n "$wine_server" ] || skip "wineserver is not installed"

installer=$build/quorvale-installer.exe
[ -f "$installer" ] || fail "missing $installer (build $build first)"
# The build's bitness, from the machine field of the program's PE header; loader runs its
# programs.
machine=$(program_machine "$installer")
case $machine in
8664) bits=64 ;;
014c) bits=32 ;;
*) fail "$installer is neither an x86_64 nor an i386 program (machine $machine)" ;;
esac
choose_loader "$scripts" "$machine" ||
    skip "the 32-bit Wine is not prepared in $wine32_root (scripts/prepare-wine32)"

driver=$build/qdi_wine_driver.exe
package=$build/package
variants=$build/driver-variants

# One case at a time per prefix: Wine, the display and the system directories are shared.
use_wine_prefix "$work/wine-prefix" "$work/e2e.lock"

case_dir=$work/$case_name
rm -rf "$case_dir"
mkdir -p "$case_dir"

xvfb_pid=
installer_pid=
trap end_wine_run EXIT
trap 'exit 1' INT TERM

# A display: the one given, or a private Xvfb on the first free display number.
need_display "$case_dir/xvfb.log"

make_wine_prefix "$work/wineboot.log" || fail "wineboot failed"
[ "$bits" -eq 64 ] || wine32_prefix "$WINEPREFIX"
if [ "$case_name" = prefix ]; then
    echo "PASS [prefix]"
    exit 0
fi
for needed in "$installer" "$driver" "$package/zelkqx7.inf" "$package/zelkqx7f.dll" \
    "$package/zelkqx7m.dll" "$package/zelkqx7.sys" "$variants/zelkqx7f-1.2.77.dll" \
    "$variants/zelkqx7f-unversioned.dll" "$variants/zelkqx7m-040904B0.dll"; do
    [ -f "$needed" ] || fail "missing $needed (build $build first)"
done
# Where the program sees its system directory: a 32-bit program's accesses to system32, and so
# to system32\drivers, go to syswow64.
if [ "$bits" -eq 64 ]; then
    system_dir=$WINEPREFIX/drive_c/windows/system32
else
    system_dir=$WINEPREFIX/drive_c/windows/syswow64
    mkdir -p "$system_dir/drivers"
fi
drivers_dir=$system_dir/drivers
[ -d "$drivers_dir" ] || fail "the prefix has no $drivers_dir"

. "$(dirname "$0")/expected_reports.sh"

# expect_no_driver_files WHAT: none of the three driver files is where the program looks.
expect_no_driver_files() {
    for file in "$system_dir/zelkqx7f.dll" "$system_dir/zelkqx7m.dll" \
        "$drivers_dir/zelkqx7.sys"; do
        [ ! -e "$file" ] || fail "$1 left $file"
    done
}
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
    (cd "$stage" && WINEDEBUG=${1:--all} exec timeout -k 5 240 "$loader" "$installer") \
        >"$case_dir/installer.log" 2>&1 &
    installer_pid=$!
}

# drive STEP...: runs qdi_wine_driver.exe with the steps; files the steps name are written in the
# case directory.
drive() {
    "$loader" "$driver" "$@" >>"$case_dir/driver.log" 2>&1 ||
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

# screenshot NAME: saves the display as NAME.png and, with QDI_PAINT_CHECK, checks what the
# window painted there. Painting reaches the display a moment after the window's state changes,
# so a failed check is repeated a few times before it counts. Without ImageMagick the painting
# cannot be checked, and the case fails rather than pass unchecked.
screenshot() {
    for tool in import convert; do
        command -v $tool >/dev/null 2>&1 ||
            fail "ImageMagick's $tool is missing, so the painting cannot be checked" \
                "(scripts/install-packages installs it)"
    done
    if [ -z "${QDI_PAINT_CHECK:-}" ]; then
        import -window root "$case_dir/$1.png" || fail "no screenshot taken"
        echo "screenshot: $case_dir/$1.png (painting not checked: QDI_PAINT_CHECK is not set)"
        return
    fi
    [ -f "$work/picture.ppm" ] || convert "$picture" "$work/picture.ppm" ||
        fail "cannot convert $picture"
    tries=0
    while :; do
        drive "layout:$(file_arg "$1.layout")"
        import -window root "$case_dir/$1.png" || fail "no screenshot taken"
        convert "$case_dir/$1.png" "$case_dir/$1.ppm" || fail "cannot convert the screenshot"
        if "$QDI_PAINT_CHECK" "$case_dir/$1.ppm" "$work/picture.ppm" "$case_dir/$1.layout" \
            >"$case_dir/$1.paint.txt" 2>&1; then
            break
        fi
        tries=$((tries + 1))
        [ $tries -lt 5 ] || fail "the window's painting ($case_dir/$1.png):
$(cat "$case_dir/$1.paint.txt")"
        sleep 1
    done
    rm -f "$case_dir/$1.ppm"
    cat "$case_dir/$1.paint.txt"
    echo "screenshot: $case_dir/$1.png"
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
mempak)
    # The memory-pack component registered, in the registry view the program reads (the 32-bit
    # one for the 32-bit build): with no adapter of the rumble driver listed, the report reads
    # as without it.
    clsid='HKCR\CLSID\{4E2A9D13-C605-11d3-9A41-0C5F7B2E8D60}'
    "$wine_loader" reg.exe add "$clsid" /f "/reg:$bits" >"$case_dir/reg.log" 2>&1 ||
        fail "cannot register the memory-pack component: $(cat "$case_dir/reg.log")"
    place_driver_files "$package/zelkqx7f.dll"
    driver_report 1.2.78 1.2.78 "$installed_advice" >"$expected-mempak"
    start_installer
    drive wait
    expect_report mempak "$expected-mempak"
    screenshot mempak
    exit_installer
    "$wine_loader" reg.exe delete "$clsid" /f "/reg:$bits" >>"$case_dir/reg.log" 2>&1 ||
        fail "cannot remove the memory-pack component's key"
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
    expect_no_driver_files Uninstall
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
missing-inf)
    # Install from a directory without the INF: nothing is installed, the report says so and the
    # program goes on.
    stage_package "$package/zelkqx7f.dll"
    rm "$stage/zelkqx7.inf"
    no_drivers_report >"$expected-after"
    start_installer
    drive wait click:32771
    expect_report after-install "$expected-after"
    expect_no_driver_files "Install without an INF"
    screenshot after-install
    exit_installer
    ;;
esac
remove_driver_files
echo "PASS [$case_name]"
