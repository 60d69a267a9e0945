#!/usr/bin/env bash
# start: make sure one Xvfb display serves the Wine prefix named by WINEPREFIX (so that dialogs really
# draw, and GUI tests and screenshots have a screen); prints the display. stop: end that Xvfb.
# The display and the server's pid are kept in "$WINEPREFIX.display"; wine_env.sh picks the display up.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix whose display this is}"
state="${WINEPREFIX%/}.display"

alive() {
  [ -f "$state" ] || return 1
  local display pid
  read -r display pid <"$state" || return 1
  kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X${display#:}" ]
}

case "${1:-}" in
  start)
    if alive; then
      cut -d' ' -f1 "$state"
      exit 0
    fi
    for n in $(seq 90 190); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
      # Detached from the caller's pipes, so that a CTest run does not wait for the server.
      setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset </dev/null >/dev/null 2>&1 &
      pid=$!
      for _ in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      if kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
        mkdir -p "$(dirname "$state")"
        echo ":$n $pid" >"$state"
        echo ":$n"
        exit 0
      fi
    done
    echo "xvfb.sh: no free display could be started" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state" ]; then
      read -r _ pid <"$state" || true
      [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
      rm -f "$state"
    fi
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2;;
esac
