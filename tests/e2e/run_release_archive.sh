#!/bin/sh
# Runs a release archive the way a user does: checks its checksum file, unpacks it into an empty
# folder, checks that it holds the program of its build and README.txt at its top and the sample
# driver package in sample-driver-package, and nothing else, and runs the program under Wine:
# started at the top, where there is no driver package, it says so and Install places nothing;
# copied into sample-driver-package and started there, Install places the package's three files
# and shows them installed.
#
#   run_release_archive.sh ARCHIVE DRIVER_BUILD_DIR WORK_DIR [WINDOWS]
#
# ARCHIVE is quorvale-installer-<version>-win32.zip or -win64.zip in its build directory;
# DRIVER_BUILD_DIR gives the driver program qdi_wine_driver.exe, of the prefix's bitness; the Wine
# prefix is the one of the end-to-end tests under WORK_DIR. WINDOWS is what the prefix is, as for
# run_e2e.sh: win64 (the default) or win32, where the 32-bit program runs as on 32-bit Windows.
# In a 64-bit prefix a 32-bit program is a 32-bit program on 64-bit Windows: it gives the WOW64
# advice in both places and Install places nothing.
# Exit code 0 when it passes, 1 when it fails, 77 when Wine, a display or the prepared 32-bit Wine
# (scripts/prepare-wine32) are missing.
set -eu

if [ $# -ne 3 ] && [ $# -ne 4 ]; then
    echo "usage: $0 ARCHIVE DRIVER_BUILD_DIR WORK_DIR [win64|win32]" >&2
    exit 2
fi
archive=$1
driver_build=$(cd "$2" && pwd)
mkdir -p "$3"
work=$(cd "$3" && pwd)
windows=${4:-win64}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tools/wine/harness.sh"
. "$source_dir/tests/e2e/expected_reports.sh"
run_as_test "$(basename "$archive")"

name=$(basename "$archive" .zip)
case $name in
quorvale-installer-*-win32) bits=32 ;;
quorvale-installer-*-win64) bits=64 ;;
*) fail "not a release archive name: $name.zip" ;;
esac
version=${name#quorvale-installer-}
version=${version%-win??}
[ -f "$archive" ] || fail "missing $archive (build the release target first)"
archive=$(cd "$(dirname "$archive")" && pwd)/$name.zip

case_dir=$work/release-win$bits
folder=$case_dir/unpacked
rm -rf "$case_dir"
mkdir -p "$folder"
(cd "$folder" && cmake -E tar xf "$archive") ||
    fail "cannot unpack $archive"

[ -f "$archive.sha256" ] || fail "missing the checksum file $archive.sha256"
[ "$(cut -d ' ' -f 1 "$archive.sha256")" = "$(sha256sum "$archive" | cut -d ' ' -f 1)" ] ||
    fail "$name.zip.sha256 does not hold the archive's checksum"
echo "ok: the checksum file beside the archive holds its SHA-256"

sample=sample-driver-package
files=$(cd "$folder" && find . -mindepth 1 | sed 's#^\./##' | LC_ALL=C sort | tr '\n' ' ')
[ "$files" = "README.txt quorvale-installer.exe $sample $sample/zelkqx7.inf $sample/zelkqx7.sys \
$sample/zelkqx7f.dll $sample/zelkqx7m.dll " ] || fail "the archive holds: $files"
echo "ok: the archive holds the program and README.txt, and the sample package in $sample"

# The PE machine field says the program's bitness.
program=$folder/quorvale-installer.exe
[ "$(program_bits "$program")" = $bits ] || fail "the program is not a $bits-bit program"
grep -q "holds the $bits-bit build" "$folder/README.txt" ||
    fail "README.txt does not name the $bits-bit build"
for said in "holds the installer alone" "folder that holds zelkqx7.inf" "$sample" \
    "install no working driver" "Press Uninstall first" "$name.zip.sha256" \
    "administrator rights" "not signed"; do
    grep -qF "$said" "$folder/README.txt" || fail "README.txt does not say \"$said\""
done
[ "$(sed -n 4p "$folder/README.txt")" = "$(printf 'What this archive is\r')" ] ||
    fail "README.txt does not open with what the archive is"
[ "$(grep -c "$(printf '\r')\$" "$folder/README.txt")" -eq "$(wc -l <"$folder/README.txt")" ] ||
    fail "README.txt has lines without CR LF"
echo "ok: a $bits-bit program and its README.txt"

# One run at a time per prefix, shared with the end-to-end cases. A 32-bit program in a 64-bit
# prefix is a 32-bit program on 64-bit Windows (WOW64): it gives the WOW64 advice and installs
# nothing. Where Install would put the files: such a program's system directory is redirected to
# syswow64; no build may put them in either.
set_up_wine_run "$program" "$windows" "$work/wine-prefix" "$work/e2e.lock"
use_driver "$driver_build"
installer=quorvale-installer.exe
mkdir -p "$system_dir/drivers"
installed_files="$system_dir/zelkqx7f.dll $system_dir/zelkqx7m.dll $system_dir/drivers/zelkqx7.sys"
every_place=
for dir in system32 syswow64; do
    every_place="$every_place $WINEPREFIX/drive_c/windows/$dir/zelkqx7f.dll"
    every_place="$every_place $WINEPREFIX/drive_c/windows/$dir/zelkqx7m.dll"
    every_place="$every_place $WINEPREFIX/drive_c/windows/$dir/drivers/zelkqx7.sys"
done
remove_driver_files() {
    # shellcheck disable=SC2086
    rm -f $every_place
}
# expect_nothing_placed WHAT: no driver file in either system directory.
expect_nothing_placed() {
    for file in $every_place; do
        [ ! -e "$file" ] || fail "$1 placed $file"
    done
}
remove_driver_files

# start_in DIR: starts the program that lies in DIR, from DIR, and waits for its window.
start_in() {
    start_installer "$1"
    drive wait
}

# At the top of the archive there is no driver package: Install changes nothing.
start_in "$folder"
no_drivers_report "$(advice "$missing_package_advice")" >"$case_dir/top.expected"
cp "$case_dir/top.expected" "$case_dir/top-after-install.expected"
expect_report top "$case_dir/top.expected"
drive "click:$IDM_INSTALL"
expect_report top-after-install "$case_dir/top-after-install.expected"
expect_nothing_placed "Install at the top of the archive"
echo "ok: started at the archive's top, the program asks for the package and Install places nothing"
exit_installer

# In the sample package's folder Install installs it (a 32-bit program on 64-bit Windows still
# changes nothing).
cp "$folder/quorvale-installer.exe" "$folder/$sample/"
start_in "$folder/$sample"
no_drivers_report "$(advice "$install_advice")" >"$case_dir/sample.expected"
expect_report sample "$case_dir/sample.expected"
grep -q "$version" "$case_dir/sample.txt" ||
    fail "the program's version is not the archive's $version"
drive "click:$IDM_INSTALL"
if [ $wow64 -eq 1 ]; then
    cp "$case_dir/sample.expected" "$case_dir/sample-after-install.expected"
    expect_report sample-after-install "$case_dir/sample-after-install.expected"
    expect_nothing_placed "Install of a 32-bit program on 64-bit Windows"
    echo "ok: as a 32-bit program on 64-bit Windows, Install places nothing"
else
    driver_report 1.2.78 1.2.78 "$installed_advice" >"$case_dir/sample-after-install.expected"
    expect_report sample-after-install "$case_dir/sample-after-install.expected"
    for file in $installed_files; do
        [ -f "$file" ] || fail "Install did not place $file"
    done
    echo "ok: Install placed the package's files in $system_dir"
fi
exit_installer
remove_driver_files
echo "PASS [$name.zip]"
