#!/bin/sh
# Checks the shipped executable as a file: a window program (GUI subsystem, no console) that
# imports only DLLs of Windows itself, carrying its version resource and its manifest.
#
#   check_program.sh EXE OBJDUMP WINDRES
#
# Exit code 0 when it passes, 1 when it fails, 77 when the MinGW-w64 tools are missing.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 EXE OBJDUMP WINDRES" >&2
    exit 2
fi
program=$1
objdump=$2
windres=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tools/wine/harness.sh"
run_as_test "$program"
command -v "$objdump" >/dev/null 2>&1 || skip "no $objdump"
command -v "$windres" >/dev/null 2>&1 || skip "no $windres"
[ -f "$program" ] || fail "missing $program (build the win64 build first)"

headers=$("$objdump" -p "$program")
echo "$headers" | grep -q 'Subsystem[[:space:]]*00000002' ||
    fail "$program is not a window (GUI subsystem) program"
echo "ok: GUI subsystem"

# The DLLs that come with every Windows the program supports.
windows_dlls="advapi32.dll cfgmgr32.dll gdi32.dll kernel32.dll msvcrt.dll setupapi.dll
user32.dll version.dll"
imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found in $program"
for dll in $imports; do
    case " $(echo $windows_dlls) " in
    *" $dll "*) ;;
    *) fail "$program imports $dll, which is not part of Windows" ;;
    esac
done
echo "ok: imports only" $imports

resources=$("$windres" -i "$program" -O rc 2>/dev/null) || fail "cannot read the resources"
echo "$resources" | grep -q 'FILEVERSION 1, 2, 78, 0' || fail "no FILEVERSION 1,2,78,0"
echo "$resources" | grep -q 'BLOCK "040904E4"' || fail "no 040904E4 string block"
echo "$resources" | grep -q 'VALUE "FileVersion", "1.2.78"' || fail "no FileVersion 1.2.78"
echo "$resources" | grep -q 'VALUE "ProductVersion", "1.2.78"' || fail "no ProductVersion 1.2.78"
echo "$resources" | grep -q 'requireAdministrator' || fail "the manifest does not ask for admin"
echo "ok: version resource and manifest"
