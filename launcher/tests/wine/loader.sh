# use_wine_loader FOLDER: makes `wine` and `wineboot` run the Wine loader that fits the launcher
# build under test, as VELMOOR_WINE_ARCH says: win32 (the default), the i686 build under the
# 32-bit loader in a 32-bit prefix; win64, the x86_64 build under the 64-bit loader in a 64-bit
# prefix, for hosts that cannot run i386 code. /usr/bin/wine (and wineboot through it) takes the
# 32-bit loader whenever it is installed, even where the kernel cannot run it, so for win64
# FOLDER gets commands of both names that start the 64-bit loader, and goes first on PATH.
# Sourced by the Wine tests and the demonstration.
use_wine_loader() {
    case "${VELMOOR_WINE_ARCH:-win32}" in
    win32) export WINEARCH=win32 ;;
    win64)
        # Scripts, not links: the loader finds its own parts by the name it was started under.
        mkdir -p "$1"
        for name in wine wine-stable; do
            printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$1/$name" && chmod +x "$1/$name"
        done
        export WINEARCH=win64 PATH="$1:$PATH"
        ;;
    *) echo "VELMOOR_WINE_ARCH must be win32 or win64, not '$VELMOOR_WINE_ARCH'" >&2 && return 1 ;;
    esac
}
