#!/usr/bin/env bash
# Runs one Windows program like wine_run.sh, for tests that drive windows and message boxes (without a
# display Wine cannot create them and MessageBoxW returns at once): on the run's display (tools/xvfb.sh,
# or the caller's own), and on a private Xvfb display when there is none, e.g. when run by hand.
# usage: wine_gui_run.sh i686|x86_64 program.exe [args...]
set -euo pipefail
here=$(dirname "$0")
source "$here/wine_env.sh"
if [ -n "${DISPLAY:-}" ]; then
  exec "$here/wine_run.sh" "$@"
fi
# -a picks a free display; a random first number keeps parallel runs from racing for the same one.
exec xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$here/wine_run.sh" "$@"
