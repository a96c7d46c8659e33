#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under wine in PREFIX.
#
# Wine's background services (services.exe, explorer.exe, ...) are started by the first wine
# process of a server and keep its standard streams open; started from a test, they would hold
# CTest's pipes until they exit. So the server is made persistent and the services are started
# here first, with their streams pointing nowhere, under a lock (tests run in parallel).
# Stop them with: WINEPREFIX=PREFIX wineserver -k
set -eu
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM [ARGS...]" >&2; exit 64; }
prefix=$1
shift

find_tool() {  # find_tool NAME... : first one in PATH or in Debian's wine folder
    for name in "$@"; do
        if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
        if [ -x "/usr/lib/wine/$name" ]; then echo "/usr/lib/wine/$name"; return 0; fi
    done
    echo "wine-run.sh: none of $* found (install wine64)" >&2
    exit 127
}
wine=${KESTREL_WINE:-$(find_tool wine64 wine)}
wineserver=${KESTREL_WINESERVER:-$(find_tool wineserver64 wineserver)}

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No "install Mono/Gecko?" questions when the prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$prefix"
# Whatever is started inside keeps running: it must not inherit the lock's descriptor.
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
        "$wineserver" -w 9>&-
    fi
    # Exit status 2: a server already runs for this prefix, with its services.
    if "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.lock"

exec "$wine" "$@"
