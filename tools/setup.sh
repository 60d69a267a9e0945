#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: a second run checks, finds everything in place and returns in seconds.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
third_party="$here/third_party"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

log() { echo "setup: $*"; }
fail() { echo "setup: $*" >&2; exit 1; }

# Runs a step quietly; when it fails, shows what it printed and stops.
run_step() {
  local what=$1; shift
  local out
  out=$(mktemp)
  if ! "$@" >"$out" 2>&1; then
    echo "setup: $what failed; its output:" >&2
    cat "$out" >&2
    rm -f "$out"
    exit 1
  fi
  rm -f "$out"
}

# The package names, the archive's suites and the toolchain versions below are Debian 12's. Elsewhere
# the first failure would be a confusing one, so say so plainly first.
# shellcheck disable=SC1091
os_id=$( . /etc/os-release 2>/dev/null && echo "${ID:-unknown} ${VERSION_ID:-}" ) || os_id="unknown"
if [ "$os_id" != "debian 12" ]; then
  if [ "${TIDEWASH_ANY_OS:-0}" = 1 ]; then
    log "warning: this machine is '$os_id', not Debian 12; going on because TIDEWASH_ANY_OS=1"
  else
    fail "this machine is '$os_id'; the set-up is written for Debian 12 (bookworm). Set TIDEWASH_ANY_OS=1 to try anyway."
  fi
fi

packages=(
  cmake ninja-build make python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 libwine:i386
  7zip osslsigncode openssl
  xvfb x11-utils xdotool imagemagick fonts-wqy-zenhei fonts-wqy-microhei
  googletest dpkg-dev
  clang llvm libclang-rt-14-dev
)

missing=()
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
for p in "${packages[@]}"; do
  name=${p%%:*}
  arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
  if ! dpkg-query -W -f='${Status}' "$name${arch:+:$arch}" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Source entries for `apt-get source` (the LZMA SDK comes from Debian's 7zip source package).
srcfile=/etc/apt/sources.list.d/tidewash-src.sources
need_src=0
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  need_src=1
fi

if [ $need_i386 -eq 1 ] || [ $need_src -eq 1 ] || [ ${#missing[@]} -gt 0 ]; then
  if [ $need_i386 -eq 1 ]; then
    log "adding the i386 architecture"
    $sudo_cmd dpkg --add-architecture i386
  fi
  if [ $need_src -eq 1 ]; then
    log "adding deb-src entries"
    $sudo_cmd tee "$srcfile" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  log "installing: ${missing[*]:-(none)}"
  run_step "apt-get update" $sudo_cmd apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    run_step "installing the packages" env DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq \
      --no-install-recommends "${missing[@]}"
  fi
fi

# 32-bit programs: where this kernel cannot run i386 ELF files, run them through qemu-user (from
# bookworm-backports: Debian 12's own 7.2 crashes under Wine). TIDEWASH_EMULATE_I386=1 takes the emulated
# path on a machine that runs them natively too, to rehearse it; `tools/i386_emulation.sh off` ends that.
# A registration that is already there is kept current: an upgraded emulator is registered again.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || [ "${TIDEWASH_EMULATE_I386:-0}" = 1 ] ||
   ! "$here/tools/can_run_i386.sh" >/dev/null 2>&1; then
  "$here/tools/i386_emulation.sh" on || fail "32-bit programs can neither run natively nor through qemu-user"
fi

# LZMA SDK (the C decoder) from Debian's 7zip source package; never committed.
if [ ! -f "$third_party/lzma-sdk/C/7zDec.c" ]; then
  log "fetching the LZMA SDK from Debian's 7zip source package"
  tmp=$(mktemp -d)
  run_step "apt-get source 7zip (needs the deb-src entry in $srcfile)" \
    sh -c "cd '$tmp' && apt-get source -qq --download-only 7zip"
  run_step "unpacking the 7zip source package" sh -c "cd '$tmp' && dpkg-source -x --skip-patches ./*.dsc src"
  [ -f "$tmp/src/C/7zDec.c" ] || fail "the 7zip source package has no C/7zDec.c; its layout changed"
  mkdir -p "$third_party/lzma-sdk"
  rm -rf "$third_party/lzma-sdk/C"
  cp -r "$tmp/src/C" "$third_party/lzma-sdk/C"
  ls "$tmp"/*.dsc | sed 's#.*/##; s#\.dsc$##' > "$third_party/lzma-sdk/VERSION"
  rm -rf "$tmp"
fi

# GoogleTest sources for the cross builds.
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "setup: googletest sources missing at /usr/src/googletest" >&2
  exit 1
fi
exit 0
