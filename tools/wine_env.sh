# Sourced by the Wine scripts: the environment every Wine command of the project runs with.
export WINEDEBUG=-all
# No Mono or Gecko installer can be fetched here; do not ask for them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Where 32-bit programs run through qemu-user, a smaller guest address space spares Wine's slow probe of
# the upper 2 GiB (about 50 s per process otherwise). Ignored where 32-bit programs run natively.
export QEMU_RESERVED_VA=0x81000000
: "${WINEPREFIX:?WINEPREFIX must name the prefix of this test run}"
case "$WINEPREFIX" in "$HOME/.wine"|"$HOME/.wine/") echo "refusing to use the user's own Wine prefix" >&2; exit 2;; esac
export WINEPREFIX
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
# Creates $WINEPREFIX once (a prefix marked ready is kept) and waits until its first boot has settled.
make_prefix_once() {
  if [ ! -f "$WINEPREFIX/.tidewash-ready" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$WINEPREFIX/.tidewash-ready"
  fi
  make_test_drives
}
# The drives the worm spreads over, for the tests: E:, F: and G: removable ("floppy"), N: a network
# drive, each a folder of the prefix (drive_e ...). Wine reads the types when its server starts, so they
# are written while none runs and the server that wrote them has ended before the run's server starts.
make_test_drives() {
  [ -f "$WINEPREFIX/.tidewash-drives" ] && return 0
  local letter type
  for letter in e f g n; do
    mkdir -p "$WINEPREFIX/drive_$letter"
    ln -sfn "../drive_$letter" "$WINEPREFIX/dosdevices/$letter:"
    type=floppy
    [ "$letter" = n ] && type=network
    "$WINE64" reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d "$type" /f </dev/null >/dev/null 2>&1
  done
  # A server left running by an interrupted run would never end by itself.
  timeout 60 "$WINESERVER" -w || "$WINESERVER" -k
  touch "$WINEPREFIX/.tidewash-drives"
}
# Unix path -> the Windows path Wine gives it on drive Z:
to_windows_path() {
  local p=$1
  p=${p//\//\\}
  printf 'Z:%s\n' "$p"
}
# The prefix's own Xvfb display (tools/xvfb.sh), unless the caller brings a display of its own.
if [ -z "${DISPLAY:-}" ] && [ -f "${WINEPREFIX%/}.display" ]; then
  read -r _tw_display _tw_xvfb_pid <"${WINEPREFIX%/}.display" || true
  if [ -n "${_tw_xvfb_pid:-}" ] && kill -0 "$_tw_xvfb_pid" 2>/dev/null; then
    export DISPLAY=$_tw_display
  fi
  unset _tw_display _tw_xvfb_pid
fi
