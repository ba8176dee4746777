# use_wine_loader FOLDER: `wine` and `wineboot` run the loader VELMOOR_WINE_ARCH names, win32
# (default) or win64. /usr/bin/wine takes the 32-bit loader whenever it is installed, even where
# the kernel cannot run it, so for win64 FOLDER gets commands that start the 64-bit one.
use_wine_loader() {
    case "${VELMOOR_WINE_ARCH:-win32}" in
    win32) export WINEARCH=win32 ;;
    *)
        # Scripts, not links: the loader finds its own parts by the name it was started under.
        mkdir -p "$1"
        for name in wine wine-stable; do
            printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$1/$name" && chmod +x "$1/$name"
        done
        export WINEARCH=win64 PATH="$1:$PATH"
        ;;
    esac
}
