#!/bin/sh
# Runs the installer of one Windows build under Wine on a real Windows user interface, registry,
# file system, version resources and INF engine, drives its window with the build's
# qdi_wine_driver.exe, checks the report it shows and, on a screenshot, what it paints. One case
# per run; the Wine prefix is made once under WORK_DIR and reused.
#
#   run_e2e.sh BUILD_DIR WORK_DIR CASE [WINDOWS]
#
# BUILD_DIR is a MinGW-w64 build, 64-bit (run by wine64) or 32-bit (run by scripts/wine32).
# WINDOWS is the Windows the prefix is: win64 (the default), a 64-bit prefix, where a 32-bit
# build is a 32-bit program on 64-bit Windows (IsWow64Process TRUE, its system directory
# syswow64); or win32, for the 32-bit build only, a 32-bit prefix made by the 32-bit Wine, where
# it runs as on 32-bit Windows (IsWow64Process FALSE, its system directory system32). Cases:
# prefix (only makes the Wine prefix), bare, installed, reboot, unversioned, mempak, install,
# uninstall, install-reboot, missing-inf. In a 64-bit prefix the 32-bit build gives the WOW64
# advice and its Install and Uninstall change nothing; in a 32-bit prefix it installs.
# QDI_PAINT_CHECK names the qdi_paint_check program that checks the screenshots; without it they
# are only saved. Wine, the prefix, the display and the driving come from tools/wine/harness.sh.
# Exit code 0 when the case passes, 1 when it fails, 77 when Wine or a display is missing.
set -eu

if [ $# -ne 3 ] && [ $# -ne 4 ]; then
    echo "usage: $0 BUILD_DIR WORK_DIR CASE [win64|win32]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
case_name=$3
windows=${4:-win64}
case $windows in
win64 | win32) ;;
*)
    echo "unknown Windows $windows (win64, win32)" >&2
    exit 2
    ;;
esac
case $case_name in
prefix | bare | installed | reboot | unversioned | mempak | install | uninstall | install-reboot | \
    missing-inf) ;;
*)
    echo "unknown case $case_name (prefix, bare, installed, reboot, unversioned, mempak, install," \
        "uninstall, install-reboot, missing-inf)" >&2
    exit 2
    ;;
esac

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tools/wine/harness.sh"
. "$source_dir/tests/e2e/expected_reports.sh"
run_as_test "$case_name"
picture=$source_dir/res/header.bmp
installer=$build/quorvale-installer.exe
package=$build/package
variants=$build/driver-variants

case_dir=$work/$case_name
rm -rf "$case_dir"
mkdir -p "$case_dir"
# One case at a time per prefix: Wine, the display and the system directories are shared. In a
# 64-bit prefix a 32-bit program's accesses to system32, and so to system32\drivers, go to
# syswow64: there it is a WOW64 process, every report ends with the WOW64 advice
# (expected_reports.sh), and Install and Uninstall change nothing.
set_up_wine_run "$installer" "$windows" "$work/wine-prefix" "$work/e2e.lock"
if [ "$case_name" = prefix ]; then
    echo "PASS [prefix]"
    exit 0
fi
use_driver "$build"
for needed in "$package/zelkqx7.inf" "$package/zelkqx7f.dll" "$package/zelkqx7m.dll" \
    "$package/zelkqx7.sys" "$variants/zelkqx7f-1.2.77.dll" "$variants/zelkqx7f-unversioned.dll" \
    "$variants/zelkqx7m-040904B0.dll"; do
    [ -f "$needed" ] || fail "missing $needed (build $build first)"
done
drivers_dir=$system_dir/drivers
[ -d "$drivers_dir" ] || fail "the prefix has no $drivers_dir"

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
# expect_no_64_bit_driver_files WHAT: none of the three driver files in the 64-bit system
# directory either.
expect_no_64_bit_driver_files() {
    native=$WINEPREFIX/drive_c/windows/system32
    for file in "$native/zelkqx7f.dll" "$native/zelkqx7m.dll" "$native/drivers/zelkqx7.sys"; do
        [ ! -e "$file" ] || fail "$1 left $file"
    done
}
# place_driver_files RUMBLE_FILE [MEMPAK_FILE]: the given files and the package's kernel driver
# file (and mempak file unless given), as an earlier installation would have left them.
place_driver_files() {
    cp "$1" "$system_dir/zelkqx7f.dll"
    cp "${2:-$package/zelkqx7m.dll}" "$system_dir/zelkqx7m.dll"
    cp "$package/zelkqx7.sys" "$drivers_dir/zelkqx7.sys"
}
# stage_package RUMBLE_FILE: the working directory the installer starts in (stage), holding the
# INF and the driver files with RUMBLE_FILE as the rumble file; it is not the directory of the
# executable.
stage="$case_dir/stage"
mkdir -p "$stage"
stage_package() {
    stage_sample_package "$build" "$stage"
    cp "$1" "$stage/zelkqx7f.dll"
}
inf_trace=-all,trace+setupapi
file_arg() {
    windows_path "$case_dir/$1"
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

# expect_no_inf_runs: the setupapi trace of the installer shows no INF section run.
expect_no_inf_runs() {
    runs=$(grep -c 'InstallHinfSection' "$case_dir/installer.log" || true)
    [ "$runs" -eq 0 ] || fail "expected no INF section run, the trace shows:
$(grep 'InstallHinfSection' "$case_dir/installer.log")"
    echo "ok: no INF section ran"
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

about_box_opens() {
    drive "$@" "about:$(file_arg about.txt)" escape
    expect_file_text about.txt "Quorvale Driver Installer - ver 1.2.78"
}

expected=$case_dir/expected
remove_driver_files
case $case_name in
bare)
    # Started in the package's folder, with no driver installed.
    stage_package "$package/zelkqx7f.dll"
    no_drivers_report "$(advice "$install_advice")" >"$expected-bare"
    start_installer "$stage"
    drive wait "title:$(file_arg title.txt)"
    expect_file_text title.txt "Quorvale Driver Installer"
    expect_report bare "$expected-bare"
    screenshot bare
    about_box_opens "alt:?"
    echo "ok: Alt+? opens the About box, Escape closes it"
    about_box_opens "alt:/"
    echo "ok: Alt+/ opens the About box, Escape closes it"
    about_box_opens "post:$IDM_ABOUT"
    echo "ok: the Help menu's About opens the About box"
    expect_report bare-after-about "$expected-bare"
    exit_installer
    ;;
installed)
    place_driver_files "$package/zelkqx7f.dll"
    driver_report 1.2.78 1.2.78 "$(advice "$installed_advice")" >"$expected-installed"
    start_installer "$stage"
    drive wait
    expect_report installed "$expected-installed"
    screenshot installed
    # Closing the window from its system menu ends the program just like Exit.
    exit_installer close
    ;;
reboot)
    place_driver_files "$variants/zelkqx7f-1.2.77.dll"
    driver_report 1.2.77 1.2.78 "$(advice "$reboot_advice")" >"$expected-reboot"
    start_installer "$stage"
    drive wait
    expect_report reboot "$expected-reboot"
    screenshot reboot
    exit_installer
    ;;
unversioned)
    # A file without version resource, and one whose strings are in another block than
    # 040904E4, both read as 1.0.1.
    place_driver_files "$variants/zelkqx7f-unversioned.dll" "$variants/zelkqx7m-040904B0.dll"
    driver_report 1.0.1 1.0.1 "$(advice "$reboot_advice")" >"$expected-unversioned"
    start_installer "$stage"
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
    "$prefix_loader" reg.exe add "$clsid" /f "/reg:$bits" >"$case_dir/reg.log" 2>&1 ||
        fail "cannot register the memory-pack component: $(cat "$case_dir/reg.log")"
    place_driver_files "$package/zelkqx7f.dll"
    driver_report 1.2.78 1.2.78 "$(advice "$installed_advice")" >"$expected-mempak"
    start_installer "$stage"
    drive wait
    expect_report mempak "$expected-mempak"
    screenshot mempak
    exit_installer
    "$prefix_loader" reg.exe delete "$clsid" /f "/reg:$bits" >>"$case_dir/reg.log" 2>&1 ||
        fail "cannot remove the memory-pack component's key"
    ;;
install)
    stage_package "$package/zelkqx7f.dll"
    no_drivers_report "$(advice "$install_advice")" >"$expected-before"
    driver_report 1.2.78 1.2.78 "$installed_advice" >"$expected-after"
    # A 32-bit program on 64-bit Windows installs nothing: the report stays as it was.
    [ "$wow64" -eq 0 ] || cp "$expected-before" "$expected-after"
    start_installer "$stage" "$inf_trace"
    drive wait
    expect_report before-install "$expected-before"
    drive "click:$IDM_INSTALL"
    expect_report after-install "$expected-after"
    if [ "$wow64" -eq 1 ]; then
        expect_no_inf_runs
        expect_no_driver_files "Install of a 32-bit program on 64-bit Windows"
        expect_no_64_bit_driver_files "Install of a 32-bit program on 64-bit Windows"
    else
        expect_inf_runs DefaultInstall
        for file in "$system_dir/zelkqx7f.dll" "$system_dir/zelkqx7m.dll" \
            "$drivers_dir/zelkqx7.sys"; do
            [ -f "$file" ] || fail "Install did not copy $file"
        done
    fi
    screenshot after-install
    exit_installer
    ;;
uninstall)
    place_driver_files "$package/zelkqx7f.dll"
    stage_package "$package/zelkqx7f.dll"
    driver_report 1.2.78 1.2.78 "$(advice "$installed_advice")" >"$expected-before"
    no_drivers_report >"$expected-after"
    # A 32-bit program on 64-bit Windows deletes nothing: the report stays as it was.
    [ "$wow64" -eq 0 ] || cp "$expected-before" "$expected-after"
    start_installer "$stage" "$inf_trace"
    drive wait
    expect_report before-uninstall "$expected-before"
    drive "click:$IDM_UNINSTALL"
    expect_report after-uninstall "$expected-after"
    if [ "$wow64" -eq 1 ]; then
        expect_no_inf_runs
        for file in "$system_dir/zelkqx7f.dll" "$system_dir/zelkqx7m.dll" \
            "$drivers_dir/zelkqx7.sys"; do
            [ -f "$file" ] || fail "Uninstall of a 32-bit program on 64-bit Windows deleted $file"
        done
    else
        expect_inf_runs DefaultUninstall
        expect_no_driver_files Uninstall
    fi
    screenshot after-uninstall
    exit_installer
    ;;
install-reboot)
    stage_package "$variants/zelkqx7f-1.2.77.dll"
    driver_report 1.2.77 1.2.78 "$reboot_advice" >"$expected-after"
    [ "$wow64" -eq 0 ] || no_drivers_report "$wow64_advice" >"$expected-after"
    start_installer "$stage"
    drive wait "click:$IDM_INSTALL"
    expect_report after-install "$expected-after"
    [ "$wow64" -eq 0 ] || expect_no_driver_files "Install of a 32-bit program on 64-bit Windows"
    screenshot after-install
    exit_installer
    ;;
missing-inf)
    # Install from a directory without the INF: the advice asks for the package, nothing is
    # installed and the program goes on.
    stage_package "$package/zelkqx7f.dll"
    rm "$stage/zelkqx7.inf"
    no_drivers_report "$(advice "$missing_package_advice")" >"$expected-before"
    start_installer "$stage" "$inf_trace"
    drive wait
    expect_report before-install "$expected-before"
    drive "click:$IDM_INSTALL"
    expect_report after-install "$expected-before"
    expect_no_inf_runs
    expect_no_driver_files "Install without an INF"
    screenshot after-install
    exit_installer
    ;;
esac
remove_driver_files
echo "PASS [$case_name]"
