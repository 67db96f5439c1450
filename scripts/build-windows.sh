#!/usr/bin/env bash
# Builds Ombrik for Windows (64-bit) on Debian in one command: the libraries (once per machine,
# cached; scripts/build-windows-libs.sh, scripts/build-windows-mail-libs.sh), ombrik.exe and ombrik-cli.exe cross-built with
# MinGW-w64, then an NSIS installer and a portable zip in dist/.
#
# Usage: scripts/build-windows.sh [--tests]
#   --tests   also builds the unit tests for Windows (run under Wine by scripts/test-windows.sh)
# Environment: OMBRIK_WINDOWS_BUILD (build folder, default build-windows), OMBRIK_JOBS, and the
# library folders above when they were built elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
tests=OFF
[ "${1:-}" = "--tests" ] && tests=ON
jobs=${OMBRIK_JOBS:-$(nproc)}
build=${OMBRIK_WINDOWS_BUILD:-build-windows}

scripts/install-deps.sh --windows
# Sets built elsewhere may be named instead (OMBRIK_WINDOWS_PREFIX, OMBRIK_WINDOWS_MAIL_PREFIX).
prefix=${OMBRIK_WINDOWS_PREFIX:-$(OMBRIK_JOBS=$jobs scripts/build-windows-libs.sh | tail -n1)}
mail_prefix=${OMBRIK_WINDOWS_MAIL_PREFIX:-$(OMBRIK_JOBS=$jobs scripts/build-windows-mail-libs.sh | tail -n1)}
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DOMBRIK_WINDOWS_PREFIX="$prefix" \
  -DOMBRIK_WINDOWS_MAIL_PREFIX="$mail_prefix" -DCMAKE_BUILD_TYPE=Release -DOMBRIK_BUILD_TESTS=$tests -DOMBRIK_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs"

version=$(sed -n 's/^project(ombrik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=ombrik-$version-windows-x64
stage=$build/stage/$name
rm -rf "$stage"
mkdir -p "$stage" dist
for program in "$build/src/app/ombrik.exe" "$build/src/cli/ombrik-cli.exe"; do
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$program")" "$program"
done
cp -r "$build/src/app/help" "$stage/help"
cp "$build/src/app/ombrik.ico" "$stage/"
# A short note for the portable folder, in Windows line ends so Notepad of any age shows it.
sed 's/$/\r/' > "$stage/README.txt" <<EOF
Ombrik $version for Windows (64-bit)

ombrik.exe       the window: add .dbx files, choose a destination and a form, Convert Messages
ombrik-cli.exe   the same conversion on the command line: ombrik-cli --help
help\\index.html  the help pages

Nothing else is needed: both programs use only what Windows itself brings.
The window remembers its choices in the registry (HKEY_CURRENT_USER\\Software\\Corvanti\\ombrik).
EOF

# The installer: per user, no administrator rights (packaging/windows/ombrik.nsi).
makensis -V2 -DVERSION="$version" -DSTAGE="$(realpath "$stage")" -DOUTFILE="$(realpath dist)/$name-setup.exe" \
  packaging/windows/ombrik.nsi
# The portable zip: the same files in one folder, run from anywhere.
rm -f "dist/$name-portable.zip"
(cd "$build/stage" && zip -qr "$OLDPWD/dist/$name-portable.zip" "$name")
ls -l "dist/$name-setup.exe" "dist/$name-portable.zip"
