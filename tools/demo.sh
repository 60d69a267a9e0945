#!/usr/bin/env bash
# The demonstration: sets the machine up, builds, makes a Wine prefix with a simulated GRIMLET infection
# (worm services, and a fake worm running as svchost.exe -k netsvcs with threads in memory it allocated)
# and starts the shipped i686 Tidewash.exe in it.
#  - With a display (DISPLAY reachable): the dialog is yours; scan and clean by hand.
#  - Without one: it runs on a private Xvfb display, where this script scans, cleans and saves
#    screenshots of the dialog before and after the clean, plus the logs, into build/demo/output.
# usage: tools/demo.sh [--headless]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
demo=$top/build/demo
out=$demo/output
headless=0
[ "${1:-}" = "--headless" ] && headless=1

say() { echo "demo: $*"; }

"$top/tools/configure.sh" i686-deliver i686

if [ $headless -eq 0 ] && { [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; }; then
  headless=1
fi

export WINEPREFIX=$demo/prefix
if [ $headless -eq 1 ]; then
  unset DISPLAY
  DISPLAY=$("$top/tools/xvfb.sh" start)
  export DISPLAY
fi
source "$top/tools/wine_env.sh"

# --- the prefix ---------------------------------------------------------------------------------------
if [ ! -f "$WINEPREFIX/.tidewash-demo-ready" ]; then
  say "creating the demonstration prefix in $WINEPREFIX (once, about a minute)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
  "$WINESERVER" -w
  # Simplified Chinese that reads well: the dialog fonts resolve to WenQuanYi Micro Hei (a CJK outline
  # font with the metrics of the usual 8-point dialog font), drawn smoothed.
  subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "SimSun" "宋体"; do
    "$WINE64" reg add "$subst" /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  done
  "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v FontSmoothing /d 2 /f >/dev/null 2>&1
  "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v FontSmoothingType /t REG_DWORD /d 1 /f >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$WINEPREFIX/.tidewash-demo-ready"
fi
# The stick and the share the worm's copies wait on (the types are read when the server starts).
make_test_drives
# The log of the program and of its plug-in (the 32-bit registry view, which the i686 program reads):
# file output, every category, every level.
"$WINE32" reg add 'HKLM\SOFTWARE\Quorvel\Skerry' /v DebugLevel /t REG_DWORD /d 805302399 /f >/dev/null 2>&1

# --- the infection ------------------------------------------------------------------------------------
infect=$top/build/i686/bin/grimlet_demo_infection.exe
if [ -f "$infect" ]; then
  say "infecting the prefix with the simulated GRIMLET worm"
  "$WINE32" "$infect" install </dev/null
else
  say "no simulated infection was built (build/i686/bin/grimlet_demo_infection.exe): the scan will find nothing"
fi

dns_status=$WINEPREFIX/drive_c/windows/GrimletDemo/dns.status

# AutoRun on, as Windows leaves it (the clean of an earlier demonstration turned it off), so that the
# list shows its row: no Autorun.inf mapping and XP's NoDriveTypeAutoRun, in the native registry view
# (the 64-bit one, where the shell reads them).
autorun_mapping='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\IniFileMapping\Autorun.inf'
autorun_policy='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\Explorer'
"$WINE64" reg delete "$autorun_mapping" /f >/dev/null 2>&1 || true
"$WINE64" reg add "$autorun_policy" /v NoDriveTypeAutoRun /t REG_DWORD /d 0x91 /f >/dev/null 2>&1

# --- the program --------------------------------------------------------------------------------------
run=$WINEPREFIX/drive_c/Tidewash
mkdir -p "$run"
cp "$top/build/i686-deliver/bin/Tidewash.exe" "$run/"
rm -f "$run"/*.log
cd "$run"

if [ $headless -eq 0 ]; then
  say "starting Tidewash.exe on $DISPLAY: choose 扫描, then 清除"
  set +e
  "$WINE32" Tidewash.exe
  code=$?
  set -e
  say "Tidewash.exe ended with exit code $code; logs in $run"
  "$WINESERVER" -k 2>/dev/null || true  # the simulated worm goes with the prefix's processes
  exit 0
fi

rm -rf "$out"
mkdir -p "$out"
"$WINE32" Tidewash.exe >"$out/wine-output.txt" 2>&1 &
program=$!
# Whatever happens below, nothing of the demonstration stays running.
finish() {
  kill "$program" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
  "$top/tools/xvfb.sh" stop
}
trap finish EXIT

wait_for_window() {  # name, seconds -> window id
  local name=$1 seconds=$2 id=""
  for _ in $(seq 1 $((seconds * 5))); do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$program" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}
geometry() {  # window id -> "x y w h"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "$X $Y $WIDTH $HEIGHT"
}
# A screenshot of the dialog, widened to any message box that sits on it.
shot() {  # file, dialog id, [box id]
  local file=$1 x y w h bx by bw bh
  read -r x y w h <<<"$(geometry "$2")"
  if [ -n "${3:-}" ]; then
    read -r bx by bw bh <<<"$(geometry "$3")"
    local x2=$((x + w > bx + bw ? x + w : bx + bw)) y2=$((y + h > by + bh ? y + h : by + bh))
    x=$((x < bx ? x : bx)); y=$((y < by ? y : by)); w=$((x2 - x)); h=$((y2 - y))
  fi
  sleep 0.5
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$file"
  say "screenshot $out/$file"
}
click() {  # dialog id, x, y inside the dialog
  local x y w h
  read -r x y w h <<<"$(geometry "$1")"
  xdotool mousemove --sync $((x + $2)) $((y + $3)) click 1
}
acknowledge() {  # box id: presses its default button
  local bx by bw bh
  read -r bx by bw bh <<<"$(geometry "$1")"
  xdotool mousemove --sync $((bx + bw / 2)) $((by + bh / 2)) key Return
  for _ in $(seq 1 50); do xdotool getwindowname "$1" >/dev/null 2>&1 || return 0; sleep 0.2; done
  xdotool key Return
}

dialog=$(wait_for_window "Quorvel Tidewash Fix Tool" 120) || { say "the dialog did not appear"; exit 1; }
shot 01-start.png "$dialog"
# Clean by hand, so that the threats can be seen before the clean: the radio button 扫描后手工清除.
click "$dialog" 81 97
shot 02-clean-by-hand-chosen.png "$dialog"
click "$dialog" 419 85   # 扫描
box=$(wait_for_window "GRIMLET专杀工具" 300) || { say "the scan did not finish"; exit 1; }
shot 03-scan-finished.png "$dialog" "$box"
acknowledge "$box"
shot 04-threats-before-clean.png "$dialog"
click "$dialog" 514 313  # 清除 (stays disabled when nothing was found)
# The program's logs stay in its protected copy's folder until it ends: the clean's box tells that it ran.
if box=$(wait_for_window "GRIMLET专杀工具" 600); then
  shot 05-clean-finished.png "$dialog" "$box"
  # The simulated host keeps resolving names: after the clean its calls go on and the worm's hook no
  # longer runs ("calls N hook N last N", the last result no longer the worm's 9003).
  if [ -f "$dns_status" ]; then
    read -r _ calls1 _ hook1 _ _ <"$dns_status"
    sleep 3
    read -r _ calls2 _ hook2 _ last2 <"$dns_status"
    if [ "$calls2" -gt "$calls1" ] && [ "$hook2" = "$hook1" ] && [ "$last2" != 9003 ]; then
      say "the worm's hook no longer runs: the host resolved $((calls2 - calls1)) more names, none reached it"
    else
      say "the worm's hook still runs: calls $calls1 -> $calls2, hook runs $hook1 -> $hook2, last result $last2"
      exit 1
    fi
  fi
  if "$WINE64" reg query "$autorun_mapping" /ve 2>/dev/null | grep -q "@SYS:DoesNotExist"; then
    say "AutoRun is off for good: the Autorun.inf mapping reads @SYS:DoesNotExist"
  else
    say "AutoRun is still on after the clean"
    exit 1
  fi
  for left in drive_e/wrm.dll drive_e/autorun.inf drive_n/wrm.dll drive_n/autorun.inf drive_c/windows/Tasks/At1.job; do
    if [ -e "$WINEPREFIX/$left" ]; then say "the worm's $left is still there after the clean"; exit 1; fi
  done
  say "the worm's copies on E: and N: with their autorun.inf, and its task At1.job, are gone"
  acknowledge "$box"
  shot 06-after-clean.png "$dialog"
else
  say "nothing was found, so there is nothing to clean"
fi
click "$dialog" 525 8    # the close button
set +e
wait "$program"
code=$?
set -e

cp "$run"/*.log "$out/" 2>/dev/null || true
cp "$run"/GRIMLET专杀/log/*.log "$out/" 2>/dev/null || true
say "Tidewash.exe ended with exit code $code"
say "screenshots and logs: $out"
ls -1 "$out"
