# The Wine harness: everything that runs a Windows build under Wine, in one place. Sourced by the
# commands scripts/run-installer, scripts/make-guide-screenshots, scripts/wine32 and
# scripts/prepare-wine32, by the runners tests/e2e/run_e2e.sh, tests/e2e/run_release_archive.sh,
# tests/e2e/check_program.sh and tests/conformance/run_conformance.sh, and by bench/measure.
# It finds Wine and the prepared 32-bit Wine, gives every run the same environment, makes a
# 64-bit or a 32-bit Wine prefix and takes its lock, starts a private Xvfb when there is no
# display, starts the installer, drives its window through qdi_wine_driver.exe and ends what a
# run started: a fix to any of them is made here and holds for every launcher.
#
# The launcher sets source_dir (the top of the source tree) before it sources this file, names
# itself with run_as_test or run_as_command, and sets case_dir (the folder of the run's logs and
# files) before set_up_wine_run. A run then goes:
#
#   set_up_wine_run PROGRAM WINDOWS PREFIX [LOCK_FILE]   # Wine, the program's loader, the prefix,
#                                                        # the display; skips where one is missing
#   use_driver BUILD_DIR                                 # the window driver and the menu commands
#   installer=...; start_installer DIR; drive wait ...; expect_report ...; exit_installer
#
# What it sets for the launcher: wine_loader and wine_server (the system's 64-bit Wine), bits (32
# or 64) and loader (what runs the program), windows, prefix_loader, wow64 and system_dir (the
# prefix, see use_windows), driver and the IDM_* command identifiers (use_driver), installer_pid
# and xvfb_pid.
#
# The 32-bit build may meet a machine that executes no 32-bit code (its kernel refuses i386
# binaries and the 32-bit code segment, so Wine's wow64 mode cannot run either), or one that runs
# i386 binaries but holds none of the i386 libraries Wine needs. So it runs under the i386 Wine of
# the system's own release inside a user-mode x86 emulator, served by the system's 64-bit
# wineserver; scripts/prepare-wine32 puts both into wine32_root, and scripts/wine32 runs a
# program with them. Every Wine process that a 32-bit process starts runs under the emulator as
# well: Wine starts a new process by executing the loader named like its own (argv[0]) in the
# folder of its own executable, or that name with 64 appended for a 64-bit program.
# wine32_loader (qdi-wine) runs the loader under the emulator with its own path as the loader's
# argv[0], so a program it runs starts a 32-bit program through qdi-wine again and a 64-bit one
# through qdi-wine64, which runs the system's wine64. Run without it, the loader would start the
# i386 loader itself: on a machine that refuses i386 binaries that fails, and on one that runs
# them the new process lacks the i386 libraries of wine32_root (no FreeType, no X11 driver, so no
# window). Only a 32-bit prefix starts 32-bit processes in numbers (wineboot, services.exe,
# explorer.exe and the rest); in a 64-bit prefix they are 64-bit.
# shellcheck shell=sh disable=SC2034,SC2154

# --- Messages ------------------------------------------------------------------------------------

# run_as_test LABEL: fail prints "FAIL [LABEL]: ..." on stderr and exits 1; skip prints
# "SKIP: ..." and exits 77, CTest's skip code.
run_as_test() {
    failure_label="FAIL [$1]"
    skip_status=77
}

# run_as_command NAME: fail and skip print "NAME: ..." on stderr and exit 1 (a command that
# cannot run here has failed).
run_as_command() {
    failure_label=$1
    skip_status=1
}

# fail MESSAGE...: ends the run as failed.
fail() {
    echo "${failure_label:-FAIL}: $*" >&2
    exit 1
}

# skip MESSAGE...: ends the run as one that this machine cannot make (a tool is missing).
skip() {
    [ "${skip_status:-77}" -eq 77 ] || fail "$@"
    echo "SKIP: $*"
    exit 77
}

# --- Finding Wine --------------------------------------------------------------------------------

# first_executable PATH...: prints the first PATH that is an executable file.
first_executable() {
    for candidate in "$@"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
}

# find_wine: sets wine_loader and wine_server, each empty when not installed. The 64-bit loader
# only: the wrapper would prefer a 32-bit loader when one is installed, which may not run here.
find_wine() {
    wine_loader=$(first_executable /usr/lib/wine/wine64 "$(command -v wine64 || true)")
    wine_server=$(first_executable /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver \
        "$(command -v wineserver || true)")
}

# need_wine: find_wine, skipping the run when the loader or the server is missing.
need_wine() {
    find_wine
    [ -n "$wine_loader" ] || skip "wine64 is not installed (scripts/install-packages)"
    [ -n "$wine_server" ] || skip "wineserver is not installed (scripts/install-packages)"
}

# --- The 32-bit Wine -----------------------------------------------------------------------------

# Its folder: a cache outside the work tree, so that a fresh clone finds it prepared.
if [ -n "${QDI_WINE32_ROOT:-}" ]; then
    wine32_root=$QDI_WINE32_ROOT
elif [ "$(id -u)" -eq 0 ]; then
    wine32_root=/var/cache/quorvale-installer/wine32
else
    wine32_root=${XDG_CACHE_HOME:-$HOME/.cache}/quorvale-installer/wine32
fi
# The Debian release whose i386 Wine matches the system's, and the one whose qemu-i386 runs it.
wine32_wine_suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
wine32_qemu_suite=trixie
# The revision of what scripts/prepare-wine32 adds to the unpacked packages: a change to it makes
# the next run prepare the folder anew. 2: the builtin zlib1.dll and the loader pair.
wine32_revision=2
# The i386 Wine's loader folder, and the script in it that runs the loader under the emulator
# (its 64-bit twin qdi-wine64 beside it runs the system's wine64).
wine32_bin_dir=$wine32_root/i386/usr/lib/wine
wine32_loader=$wine32_bin_dir/qdi-wine

# wine32_stamp: the line a folder prepared for the installed Wine release holds in .prepared.
wine32_stamp() {
    echo "wine $(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)," \
        "qemu $wine32_qemu_suite, revision $wine32_revision"
}

# wine32_ready: true when scripts/prepare-wine32 has completed wine32_root for the installed Wine
# release and this revision of the harness.
wine32_ready() {
    [ -f "$wine32_root/.prepared" ] && [ -x "$wine32_root/qemu-i386" ] &&
        [ -x "$wine32_loader" ] && [ "$(cat "$wine32_root/.prepared")" = "$(wine32_stamp)" ]
}

# wine32_prefix PREFIX: gives a 64-bit prefix made by the 64-bit wineboot the 32-bit system
# directory (syswow64) that the 32-bit wineboot would have filled: links to the i386 Wine's DLLs
# and programs (zlib1.dll among them). Files already there are kept; a link left dangling by a
# 32-bit Wine prepared elsewhere is replaced. A 32-bit prefix needs nothing of this: its own
# wineboot fills its system32.
wine32_prefix() {
    syswow64=$1/drive_c/windows/syswow64
    mkdir -p "$syswow64"
    for file in "$wine32_root/i386/usr/lib/i386-linux-gnu/wine/i386-windows/"*; do
        [ -e "$syswow64/${file##*/}" ] || ln -sf "$file" "$syswow64/${file##*/}"
    done
}

# --- The program and its prefix ------------------------------------------------------------------

# program_bits FILE: prints 64 for an x86-64 program and 32 for an i386 one, read from the machine
# field of its PE header; fails for any other file.
program_bits() {
    pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' ')
    case $machine in
    8664) echo 64 ;;
    014c) echo 32 ;;
    *) fail "$1 is neither an x86_64 nor an i386 program (machine $machine)" ;;
    esac
}

# use_program FILE: sets bits from FILE's header and loader to what runs it: the 64-bit loader,
# or scripts/wine32 for an i386 program (the 64-bit loader and server serve both). Fails when FILE
# is missing, skips when the 32-bit Wine is not prepared.
use_program() {
    [ -f "$1" ] || fail "missing $1 (build it first)"
    bits=$(program_bits "$1")
    loader=$wine_loader
    [ "$bits" -eq 32 ] || return 0
    wine32_ready || skip "the 32-bit Wine is not prepared in $wine32_root (scripts/prepare-wine32)"
    loader=$source_dir/scripts/wine32
}

# use_wine_prefix PREFIX [LOCK_FILE]: exports what every run gives Wine (the prefix, no debug
# output, no prompts for Mono and Gecko, the 64-bit loader and server); with LOCK_FILE, waits for
# and holds it on descriptor 9 for the rest of the run, so that runs sharing a prefix take turns.
use_wine_prefix() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINELOADER="$wine_loader"
    export WINESERVER="$wine_server"
    [ $# -gt 1 ] || return 0
    exec 9>"$2"
    if command -v flock >/dev/null 2>&1; then
        flock 9
    fi
}

# use_windows WINDOWS: the Windows the prefix is, for the program of use_program. win64: a 64-bit
# prefix, where a 32-bit program is a WOW64 process (wow64=1, its system directory syswow64);
# win32: a 32-bit prefix made by the 32-bit Wine (WINEARCH=win32), for a 32-bit program only.
# Sets windows, prefix_loader (what runs the prefix's own programs: wineboot, reg), wow64 and
# system_dir (the system directory as the program sees it).
use_windows() {
    windows=$1
    prefix_loader=$wine_loader
    wow64=0
    system_dir=$WINEPREFIX/drive_c/windows/system32
    case $windows in
    win64)
        [ "$bits" -eq 64 ] || wow64=1
        [ "$wow64" -eq 0 ] || system_dir=$WINEPREFIX/drive_c/windows/syswow64
        ;;
    win32)
        [ "$bits" -eq 32 ] || fail "a 64-bit program does not run on 32-bit Windows"
        export WINEARCH=win32
        prefix_loader=$loader
        ;;
    *) fail "unknown Windows $windows (win64, win32)" ;;
    esac
}

# make_wine_prefix LOG_FILE: makes the prefix with prefix_loader's wineboot unless it is there
# (fails when wineboot does), checks that a win32 prefix is a 32-bit one, and gives a WOW64
# program's prefix its syswow64 (wine32_prefix) with a drivers folder.
make_wine_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "making the Wine prefix $WINEPREFIX"
        "$prefix_loader" wineboot.exe -i >"$1" 2>&1 || fail "wineboot failed (see $1)"
        "$wine_server" -w
    fi
    if [ "$windows" = win32 ]; then
        # What a 32-bit wineboot makes: its registry says so, and there is no syswow64.
        grep -q '^#arch=win32' "$WINEPREFIX/system.reg" &&
            [ ! -e "$WINEPREFIX/drive_c/windows/syswow64" ] ||
            fail "$WINEPREFIX is not a 32-bit prefix"
    elif [ "$wow64" -eq 1 ]; then
        wine32_prefix "$WINEPREFIX"
        mkdir -p "$system_dir/drivers"
    fi
}

# --- The display and the end of a run ------------------------------------------------------------

# start_xvfb LOG_FILE: starts Xvfb on the first free display number from 90 and exports DISPLAY;
# sets xvfb_pid, left empty when no Xvfb could be started.
start_xvfb() {
    xvfb_pid=
    number=90
    while [ $number -lt 200 ] && [ -z "$xvfb_pid" ]; do
        if [ ! -e "/tmp/.X$number-lock" ] && [ ! -e "/tmp/.X11-unix/X$number" ]; then
            Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$1" 2>&1 &
            candidate_pid=$!
            tries=0
            while [ $tries -lt 50 ] && kill -0 $candidate_pid 2>/dev/null &&
                [ ! -e "/tmp/.X11-unix/X$number" ]; do
                sleep 0.1
                tries=$((tries + 1))
            done
            if kill -0 $candidate_pid 2>/dev/null && [ -e "/tmp/.X11-unix/X$number" ]; then
                xvfb_pid=$candidate_pid
                export DISPLAY=":$number"
            else
                kill $candidate_pid 2>/dev/null || true
            fi
        fi
        number=$((number + 1))
    done
}

# need_display LOG_FILE: the display given, or a private Xvfb (logging to LOG_FILE) when none is;
# skips when Xvfb is not installed and fails when it does not start.
need_display() {
    [ -z "${DISPLAY:-}" ] || return 0
    command -v Xvfb >/dev/null 2>&1 || skip "no DISPLAY and Xvfb is not installed"
    start_xvfb "$1"
    [ -n "$xvfb_pid" ] || fail "could not start Xvfb"
}

# begin_wine_run: from here on, however the script ends, end_wine_run ends what the run started.
begin_wine_run() {
    xvfb_pid=
    installer_pid=
    trap end_wine_run EXIT
    trap 'exit 1' INT TERM
}

# end_wine_run: for the EXIT trap: ends the program started in the background (installer_pid),
# Wine's server and the private Xvfb (xvfb_pid), those of them that are running.
end_wine_run() {
    if [ -n "${installer_pid:-}" ] && kill -0 "$installer_pid" 2>/dev/null; then
        kill "$installer_pid" 2>/dev/null || true
    fi
    "$wine_server" -k 2>/dev/null || true
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}

# set_up_wine_run PROGRAM WINDOWS PREFIX [LOCK_FILE]: all a run needs before PROGRAM starts, in
# order: Wine, PROGRAM's loader, the prefix's environment and lock, the Windows it is, the clean-up
# trap, a display (Xvfb's log in case_dir) and the prefix itself (wineboot's log beside it).
set_up_wine_run() {
    need_wine
    use_program "$1"
    use_wine_prefix "$3" ${4:+"$4"}
    use_windows "$2"
    begin_wine_run
    need_display "$case_dir/xvfb.log"
    make_wine_prefix "$(dirname "$3")/wineboot.log"
}

# --- The installer and its window ----------------------------------------------------------------

# windows_path PATH: the Windows path of a file of this Linux file system (Wine maps / to Z:).
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}

# resource_id NAME: prints the value that res/resource.h defines for NAME; fails when it defines
# none.
resource_id() {
    [ -f "$source_dir/res/resource.h" ] || fail "missing $source_dir/res/resource.h"
    value=$(awk -v name="$1" '$1 == "#define" && $2 == name { print $3; exit }' \
        "$source_dir/res/resource.h")
    [ -n "$value" ] || fail "res/resource.h defines no $1"
    echo "$value"
}

# use_driver BUILD_DIR: drive runs BUILD_DIR's qdi_wine_driver.exe (of the program's bitness);
# sets IDM_INSTALL, IDM_UNINSTALL, IDM_ABOUT and IDM_EXIT, the menu commands it presses.
use_driver() {
    driver=$1/qdi_wine_driver.exe
    [ -f "$driver" ] || fail "missing $driver (build $1 first)"
    IDM_INSTALL=$(resource_id IDM_INSTALL)
    IDM_UNINSTALL=$(resource_id IDM_UNINSTALL)
    IDM_ABOUT=$(resource_id IDM_ABOUT)
    IDM_EXIT=$(resource_id IDM_EXIT)
}

# stage_sample_package BUILD_DIR DIR: copies BUILD_DIR's sample driver package (the INF and its
# three files) into DIR, made when missing.
stage_sample_package() {
    mkdir -p "$2"
    cp "$1/package/zelkqx7.inf" "$1/package/zelkqx7f.dll" "$1/package/zelkqx7m.dll" \
        "$1/package/zelkqx7.sys" "$2/"
}

# start_installer DIR [WINEDEBUG]: starts installer (a path, or a file name in DIR) from DIR in
# the background, its output in case_dir/installer.log, ended after 240 s at the latest; sets
# installer_pid.
start_installer() {
    (cd "$1" && WINEDEBUG=${2:--all} exec timeout -k 5 240 "$loader" "$installer") \
        >"$case_dir/installer.log" 2>&1 &
    installer_pid=$!
}

# drive STEP...: runs the driver with the steps (tests/e2e/wine_driver.cpp lists them), logging
# to case_dir/driver.log; fails with that log and the end of the program's output when a step
# fails.
drive() {
    "$loader" "$driver" "$@" >>"$case_dir/driver.log" 2>&1 ||
        fail "driving the window failed: $(cat "$case_dir/driver.log")
the end of the program's output: $(tail -n 40 "$case_dir/installer.log" 2>/dev/null)"
}

# read_report NAME: writes the report the window shows to case_dir/NAME.txt.
read_report() {
    drive "report:$(windows_path "$case_dir/$1.txt")"
}

# expect_report NAME EXPECTED_FILE: reads the report into NAME.txt and fails unless it equals
# EXPECTED_FILE byte for byte.
expect_report() {
    read_report "$1"
    if ! cmp -s "$case_dir/$1.txt" "$2"; then
        echo "--- expected report ($1)" >&2
        cat -A "$2" >&2
        echo "--- shown report" >&2
        cat -A "$case_dir/$1.txt" >&2
        fail "the report ($1) differs from the expected text"
    fi
    echo "ok: report $1"
}

# exit_installer [STEP]: presses Exit (or takes the driver's STEP, such as close), waits for the
# window to go and fails unless the program ended with exit code 0.
exit_installer() {
    drive "${1:-click:$IDM_EXIT}" closed
    status=0
    wait "$installer_pid" || status=$?
    installer_pid=
    [ "$status" -eq 0 ] || fail "the installer exited with code $status"
    echo "ok: exit code 0"
}

# --- Building ------------------------------------------------------------------------------------

# build_windows PRESET BUILD_DIR: configures BUILD_DIR with the CMake preset (win32 or win64)
# unless it is configured, then builds it.
build_windows() {
    if [ ! -f "$2/build.ninja" ]; then
        (cd "$source_dir" && cmake --preset "$1" -B "$2" >/dev/null)
    fi
    cmake --build "$2" -j 2
}
