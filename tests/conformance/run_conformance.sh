#!/bin/sh
# Runs the conformance program of a Windows build under Wine, in a Wine prefix of its own under
# WORK_DIR (made on first use), on the display given or a private Xvfb.
#
#   run_conformance.sh BUILD_DIR WORK_DIR
#
# BUILD_DIR holds qdi_conformance.exe and its version images. A 32-bit program runs under
# scripts/wine32, as a 32-bit program on 64-bit Windows.
# Exit code 0 when every check passes or is a known Wine difference, 1 when one fails, 77 when
# Wine, a display or the 32-bit runtime is missing.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR WORK_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)

skip() {
    echo "SKIP: $*"
    exit 77
}

. "$(dirname "$0")/../../scripts/wine-display.sh"
find_wine
[ -n "$wine_loader" ] || skip "wine64 is not installed"
[ -n "$wine_server" ] || skip "wineserver is not installed"
program=$build/qdi_conformance.exe
[ -f "$program" ] || {
    echo "missing $program (build the Windows build first)" >&2
    exit 1
}
# The program's bitness, from the machine field of its PE header, chooses the loader.
choose_loader "$(cd "$(dirname "$0")/../../scripts" && pwd)" "$(program_machine "$program")" ||
    skip "the 32-bit Wine is not prepared in $wine32_root (scripts/prepare-wine32)"

# Windows-1252 as the ANSI code page, as on a U.S. English Windows.
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
use_wine_prefix "$work/wine-prefix" "$work/conformance.lock"

xvfb_pid=
cleanup() {
    "$wine_server" -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if [ -z "${DISPLAY:-}" ]; then
    command -v Xvfb >/dev/null 2>&1 || skip "no DISPLAY and Xvfb is not installed"
    start_xvfb "$work/xvfb.log"
    [ -n "$xvfb_pid" ] || skip "could not start Xvfb"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine_loader" wineboot.exe -i >"$work/wineboot.log" 2>&1 || {
        echo "wineboot failed (see $work/wineboot.log)" >&2
        exit 1
    }
    "$wine_server" -w
fi
[ "$loader" = "$wine_loader" ] || wine32_prefix "$WINEPREFIX"
cd "$build"
"$loader" "$program"
