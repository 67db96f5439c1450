#!/usr/bin/env bash
# Installs the Debian 12 packages Ombrik needs to build, run and test; skips apt when all are there.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config libgmime-3.0-dev libwxgtk3.2-dev libmimalloc-dev libetpan-dev libssl-dev libsecret-1-dev libgtk-3-dev
  # tests, fuzzing and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # the desktop program: its artwork (drawn at build time), its package, its tests on a virtual display
  xvfb xauth imagemagick fonts-dejavu-core dpkg-dev
  # the desktop tests' window manager and real key presses; manual pages and AppStream data checked
  openbox xdotool x11-utils man-db appstream
  # independent readers our output is checked against, and the peer extractor we measure against
  pff-tools pst-utils libolecf-utils python3 python3-olefile undbx nodejs
  # the HTML form's pages opened in a real browser; signatures of signed mail checked
  chromium openssl
  # the mail server the upload tests run (as an ordinary process), and the peer it is measured against;
  # a keyring of the tests' own for the password the upload dialog may keep
  dovecot-imapd isync dbus gnome-keyring
  # many stores at once: the batch test and benchmark run GNU parallel
  parallel
)
# With --windows, also what the Windows build needs: MinGW-w64 cross compilers, the build tools
# of the libraries' sources, Wine to run the Windows programs and tests, NSIS for the installer
# and zip for the portable one.
if [ "${1:-}" = "--windows" ]; then
  packages+=(mingw-w64 libz-mingw-w64-dev meson ninja-build autoconf automake libtool gtk-doc-tools perl wine nsis zip)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian ships npm apart from nodejs (other builds of nodejs bring their own).
if ! command -v npm >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends npm ||
    echo "note: npm not installed; the tests that need npm readers are skipped"
fi

cd "$(dirname "$0")/.."
# Independent readers from the npm registry, for tests only; tests that need them skip when absent.
npm_root="${OMBRIK_NPM_DIR:-$HOME/.cache/ombrik/npm}"
for lock in tests/npm/*/package-lock.json; do
  [ -e "$lock" ] || continue
  set_dir=$(dirname "$lock")
  target="$npm_root/$(basename "$set_dir")"
  mkdir -p "$target"
  cp "$set_dir/package.json" "$lock" "$target/"
  if command -v npm >/dev/null 2>&1; then
    (cd "$target" && npm ci --no-audit --no-fund --silent) ||
      echo "note: npm readers of $set_dir not installed; the tests that need them are skipped"
  fi
done
