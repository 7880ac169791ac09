#!/usr/bin/env bash
# Runs a Windows executable under 64-bit Wine, headless, for ctest and the build scripts:
#   WINEPREFIX=<dir> cmake/WineRun.sh program.exe [args...]
# The prefix is created on first use under a lock, so parallel test runs share one prefix.
# The exit code is the program's.
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono/Gecko install prompts, no display needed.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
wine=${MRV_WINE:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      # wineboot returns before the registry is flushed; wait for the server to finish.
      wineserver=$(dirname "$wine")/wineserver
      [ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo true)
      "$wineserver" -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# A program that failed to build would only give Wine's cryptic c0000135; say what is missing.
if [ $# -gt 0 ] && [[ "$1" == */* ]] && [ ! -f "$1" ]; then
  echo "WineRun: program not built: $1" >&2
  exit 1
fi

exec "$wine" "$@"
