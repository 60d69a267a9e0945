#!/usr/bin/env bash
# Runs one Windows program like wine_run.sh, but in a Wine session that has no display at all: a prefix
# of its own beside the run's prefix ("<prefix>-headless"), whose wineserver and desktop never saw an X
# display, as on a machine where nobody is logged on to a screen. The run's prefix cannot serve: its
# desktop lives on the run's Xvfb display, and every process of that session reaches it.
# The program's own wineserver is ended afterwards. Tests that use it take a resource lock of their own.
# usage: wine_headless_run.sh i686|x86_64 program.exe [args...]
set -euo pipefail
here=$(dirname "$0")
: "${WINEPREFIX:?WINEPREFIX must name the prefix of this test run}"
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="${WINEPREFIX%/}-headless"
source "$here/wine_env.sh"
(
  flock 9
  make_prefix_once
  make_test_drives_once
) 9>"$WINEPREFIX.lock"
status=0
"$here/wine_run.sh" "$@" || status=$?
"$WINESERVER" -k 2>/dev/null || true
exit $status
