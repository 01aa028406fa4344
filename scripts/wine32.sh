# Sourced by scripts/wine32, scripts/prepare-wine32 and tests/e2e/run_e2e.sh: where the 32-bit
# Wine lives and how a Wine prefix is made ready for 32-bit programs. This machine executes no
# 32-bit code, so the i386 Wine of the system's release runs under a user-mode x86 emulator, served
# by the system's 64-bit wineserver; scripts/prepare-wine32 puts both into wine32_root.
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

# wine32_ready: true when scripts/prepare-wine32 has completed wine32_root.
wine32_ready() {
    [ -f "$wine32_root/.prepared" ] && [ -x "$wine32_root/qemu-i386" ]
}

# wine32_prefix PREFIX: gives a prefix made by the 64-bit wineboot the 32-bit system directory
# (syswow64) that the 32-bit wineboot would have filled: links to the i386 Wine's DLLs and
# programs. Files already there are kept.
wine32_prefix() {
    syswow64=$1/drive_c/windows/syswow64
    mkdir -p "$syswow64"
    for file in "$wine32_root/i386/usr/lib/i386-linux-gnu/wine/i386-windows/"* \
        "$wine32_root/i386/usr/i686-w64-mingw32/lib/zlib1.dll"; do
        [ -e "$syswow64/${file##*/}" ] || ln -s "$file" "$syswow64/${file##*/}"
    done
}
