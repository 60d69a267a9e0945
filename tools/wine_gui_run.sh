#!/usr/bin/env bash
# Runs one Windows program like wine_run.sh, on a private virtual X display: programs under test may
# show windows and message boxes (without a display Wine cannot create them and MessageBoxW returns at
# once), and the test finds and answers them itself.
# usage: wine_gui_run.sh i686|x86_64 program.exe [args...]
set -euo pipefail
here=$(dirname "$0")
# -a picks a free display; a random first number keeps parallel tests from racing for the same one.
exec xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$here/wine_run.sh" "$@"
