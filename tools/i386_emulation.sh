#!/usr/bin/env bash
# How this machine runs 32-bit x86 programs (Wine's 32-bit loader, the i686 test tier, the deliverables).
#
#   i386_emulation.sh status   prints "natively" or "through <interpreter> (<version>)"
#   i386_emulation.sh on       installs qemu-user-static from bookworm-backports and registers it for
#                              i386 programs (again, when the registered interpreter is not the installed one)
#   i386_emulation.sh off      takes the registration away: 32-bit programs run natively again, where
#                              the kernel can run them
#
# tools/setup.sh calls `on` where this kernel refuses 32-bit programs, and also where it runs them
# natively but TIDEWASH_EMULATE_I386=1 asks for the emulated path (to rehearse it before submitting).
# Debian 12's own qemu-user 7.2 crashes under Wine's thread suspension; qemu 10 from bookworm-backports
# does not, so only that one package comes from backports.
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
interpreter=/usr/bin/qemu-i386-static
stamp=/var/lib/tidewash/qemu-i386.registered
backports=/etc/apt/sources.list.d/tidewash-backports.sources
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

log() { echo "i386_emulation: $*"; }
fail() { echo "i386_emulation: $*" >&2; exit 1; }

registered() { [ -e "$entry" ] && grep -q '^enabled' "$entry"; }
registered_interpreter() { sed -n 's/^interpreter //p' "$entry" 2>/dev/null; }
# Names the installed interpreter's file: an upgrade replaces the file, and an entry registered with
# the F flag keeps the old one open, so a new version needs a new registration.
installed_identity() { echo "$(stat -c '%i %Y' "$interpreter") $("$interpreter" --version | head -n 1)"; }

status() {
  if registered; then
    local with
    with=$(registered_interpreter)
    echo "through $with ($("$with" --version 2>/dev/null | head -n 1 || echo "version unknown"))"
  else
    echo "natively"
  fi
}

install_qemu() {
  if [ ! -f "$backports" ]; then
    log "adding the bookworm-backports suite (only qemu-user-static is taken from it)"
    $sudo_cmd tee "$backports" >/dev/null <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    $sudo_cmd apt-get update -qq >/dev/null
  fi
  local version
  version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
  case "$version" in
    *bpo12*) return 0;;
  esac
  log "installing qemu-user-static from bookworm-backports${version:+ (replacing $version)}"
  # Backports have a low priority, so -t takes just this package (and what it needs) from there.
  if ! env DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
      -t bookworm-backports qemu-user-static >/dev/null; then
    $sudo_cmd apt-get update -qq >/dev/null
    env DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
      -t bookworm-backports qemu-user-static >/dev/null || fail "qemu-user-static could not be installed"
  fi
}

register() {
  [ -e "$binfmt/register" ] || $sudo_cmd mount -t binfmt_misc binfmt_misc "$binfmt" ||
    fail "binfmt_misc cannot be mounted at $binfmt"
  local identity
  identity=$(installed_identity)
  if registered && [ "$(registered_interpreter)" = "$interpreter" ] && [ -f "$stamp" ] &&
     [ "$(cat "$stamp")" = "$identity" ]; then
    return 0
  fi
  if [ -e "$entry" ]; then
    log "registering again: the registered interpreter is not the installed $interpreter"
    echo -1 | $sudo_cmd tee "$entry" >/dev/null
  fi
  log "registering $interpreter for i386 programs"
  # The F flag opens the interpreter at registration, so it works inside chroots and namespaces too.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$interpreter:F" | $sudo_cmd tee "$binfmt/register" >/dev/null
  $sudo_cmd mkdir -p "$(dirname "$stamp")"
  echo "$identity" | $sudo_cmd tee "$stamp" >/dev/null
}

case "${1:-}" in
  status) status;;
  on)
    install_qemu
    register
    log "32-bit programs now run $(status)"
    ;;
  off)
    if [ -e "$entry" ]; then
      echo -1 | $sudo_cmd tee "$entry" >/dev/null
      $sudo_cmd rm -f "$stamp"
    fi
    if "$(dirname "$0")/can_run_i386.sh" >/dev/null 2>&1; then
      log "32-bit programs now run natively"
    else
      log "warning: this kernel cannot run 32-bit programs itself; tools/setup.sh registers the emulator again"
    fi
    ;;
  *) echo "usage: $0 status|on|off" >&2; exit 2;;
esac
