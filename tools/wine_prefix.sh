#!/usr/bin/env bash
# start: create the test run's Wine prefix once per build folder and keep one wineserver for the run.
# stop: end that wineserver.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
case "${1:-}" in
  start)
    make_prefix_once
    # Test windows are not handed to a window manager: the bare Xvfb display has none, and Wine would
    # wait two seconds for one whenever a managed window is hidden or destroyed.
    if [ ! -f "$WINEPREFIX/.tidewash-unmanaged" ]; then
      "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
      touch "$WINEPREFIX/.tidewash-unmanaged"
    fi
    make_test_drives_once
    # The server must not hold the test runner's output pipes, or CTest waits for it to exit.
    setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
    # Start Wine's own services now, detached from every pipe: a service started by the first test
    # would inherit that test's output pipe, and CTest would wait for it until the time-out.
    setsid "$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2;;
esac
