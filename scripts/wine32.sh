# Sourced by scripts/wine32, scripts/prepare-wine32 and the end-to-end scripts under tests/e2e:
# where the 32-bit Wine lives and how a Wine prefix is made ready for 32-bit programs. This
# machine may execute no 32-bit code, so the i386 Wine of the system's release runs under a
# user-mode x86 emulator, served by the system's 64-bit wineserver; scripts/prepare-wine32 puts
# both into wine32_root.
#
# Every Wine process that a 32-bit process starts runs under the emulator as well: Wine starts a
# new process by executing the loader named like its own (argv[0]) in the folder of its own
# executable, or that name with 64 appended for a 64-bit program. wine32_loader (qdi-wine) runs
# the loader under the emulator with its own path as the loader's argv[0], so a program it runs
# starts a 32-bit program through qdi-wine again and a 64-bit one through qdi-wine64, which runs
# the system's wine64. Run without it, the loader would start the i386 loader itself: on a
# machine that refuses i386 binaries that fails, and on one that runs them the new process lacks
# the i386 libraries of wine32_root (no FreeType, no X11 driver, so no window). Only a 32-bit
# prefix starts 32-bit processes in numbers (wineboot, services.exe, explorer.exe and the rest);
# in a 64-bit prefix they are 64-bit.
# shellcheck shell=sh disable=SC2034

# The folder, a cache outside the work tree so that a fresh clone finds it prepared.
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
# The i386 Wine's loader folder, the script in it that runs the loader under the emulator, and
# its 64-bit twin, which runs the system's wine64.
wine32_bin_dir=$wine32_root/i386/usr/lib/wine
wine32_loader=$wine32_bin_dir/qdi-wine

# wine32_stamp: the line a folder prepared for the installed Wine release holds in .prepared.
wine32_stamp() {
    echo "wine $(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)," \
        "qemu $wine32_qemu_suite, revision $wine32_revision"
}

# wine32_ready: true when scripts/prepare-wine32 has completed wine32_root for the installed Wine
# release and this revision of the scripts.
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
