#!/bin/sh
# Runs the conformance program of a Windows build under Wine, in a Wine prefix of its own under
# WORK_DIR (made on first use), on the display given or a private Xvfb.
#
#   run_conformance.sh BUILD_DIR WORK_DIR
#
# BUILD_DIR holds qdi_conformance.exe and its version images. A 32-bit program runs under
# scripts/wine32, as a 32-bit program on 64-bit Windows. Wine, the prefix and the display come
# from tools/wine/harness.sh.
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
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tools/wine/harness.sh"
run_as_test "conformance under Wine, $build"
case_dir=$work

# Windows-1252 as the ANSI code page, as on a U.S. English Windows.
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
program=$build/qdi_conformance.exe
set_up_wine_run "$program" win64 "$work/wine-prefix" "$work/conformance.lock"
cd "$build"
"$loader" "$program"
