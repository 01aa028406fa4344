# Sourced by scripts/run-installer, scripts/make-guide-screenshots and the end-to-end scripts
# under tests/e2e: finds Wine's 64-bit loader and its server, starts a private Xvfb when there is
# no display, makes a Wine prefix and ends what a run started.
# shellcheck shell=sh disable=SC2034

# find_wine: sets wine_loader and wine_server, each empty when not installed. The 64-bit loader
# only: this machine runs no 32-bit code, and the wrapper would prefer a 32-bit loader when one
# is installed.
find_wine() {
    wine_loader=$(first_executable /usr/lib/wine/wine64 "$(command -v wine64 || true)")
    wine_server=$(first_executable /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver \
        "$(command -v wineserver || true)")
}

# first_executable PATH...: prints the first PATH that is an executable file.
first_executable() {
    for candidate in "$@"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
}

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

# make_wine_prefix LOG_FILE [LOADER]: makes the Wine prefix that WINEPREFIX names unless it is
# there, with the wineboot that LOADER (the 64-bit loader unless given) runs: scripts/wine32 with
# WINEARCH=win32 makes a 32-bit prefix. Fails when wineboot fails.
make_wine_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "making the Wine prefix $WINEPREFIX"
        "${2:-$wine_loader}" wineboot.exe -i >"$1" 2>&1 || return 1
        "$wine_server" -w
    fi
}

# end_wine_run: for an EXIT trap: ends the program started in the background (installer_pid),
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

# program_machine FILE: prints the machine field of FILE's PE header in hex: 8664 for an x86-64
# program, 014c for an i386 one.
program_machine() {
    pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' '
}

# choose_loader SCRIPTS_DIR MACHINE: sets loader to what runs a program of that PE machine: the
# 64-bit loader, or SCRIPTS_DIR/wine32 for an i386 program. The 64-bit loader and server serve
# both (the 32-bit Wine starts 64-bit programs such as explorer.exe through them). False when
# the 32-bit Wine is not prepared.
choose_loader() {
    loader=$wine_loader
    [ "$2" = 014c ] || return 0
    . "$1/wine32.sh"
    wine32_ready || return 1
    loader=$1/wine32
}

# use_wine_prefix PREFIX LOCK_FILE: exports what every run here gives Wine (the prefix, no debug
# output, no prompts for Mono and Gecko, the 64-bit loader and server), then waits for and holds
# LOCK_FILE on descriptor 9 for the rest of the run, so that runs sharing a prefix take turns.
use_wine_prefix() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINELOADER="$wine_loader"
    export WINESERVER="$wine_server"
    exec 9>"$2"
    if command -v flock >/dev/null 2>&1; then
        flock 9
    fi
}

# need_display LOG_FILE: the display given, or a private Xvfb (logging to LOG_FILE) when none is.
# Calls the caller's skip when Xvfb is not installed and its fail when Xvfb does not start.
need_display() {
    [ -z "${DISPLAY:-}" ] || return 0
    command -v Xvfb >/dev/null 2>&1 || skip "no DISPLAY and Xvfb is not installed"
    start_xvfb "$1"
    [ -n "$xvfb_pid" ] || fail "could not start Xvfb"
}
