#!/usr/bin/env bash
# The Windows build, tested under Wine: the unit tests cross-built and run, the CLI against the
# Linux build in all six forms (tests/windows/compare-cli.sh) and in the upload to a mail
# server when the build has it (tests/windows/upload-cli.sh), the window under Xvfb with
# screenshots (tests/windows/window_tour.cpp), and the installer installed silently, its
# programs run, and uninstalled again (OMBRIK_WINDOWS_GUI=0 leaves these two out and builds the
# smaller library set, without wxWidgets).
# Usage: scripts/test-windows.sh [LINUX_BUILD]   (default build; it must hold ombrik-cli and the
# test helpers). Screenshots go to build-windows/screenshots (OMBRIK_SCREENSHOTS to change).
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
build=${OMBRIK_WINDOWS_BUILD:-build-windows}
jobs=${OMBRIK_JOBS:-$(nproc)}
shots=${OMBRIK_SCREENSHOTS:-$build/screenshots}
source tests/windows/wine-env.sh

# The window, its tour and the installer are left out when OMBRIK_WINDOWS_GUI=0.
gui=${OMBRIK_WINDOWS_GUI:-1}
if [ "$gui" = 1 ]; then
  echo "== Windows build (libraries cached), installer and zip"
  OMBRIK_JOBS=$jobs scripts/build-windows.sh --tests
else
  echo "== Windows build of the CLI and the unit tests (libraries cached)"
  prefix=$(OMBRIK_JOBS=$jobs OMBRIK_WINDOWS_LIBS=cli scripts/build-windows-libs.sh | tail -n1)
  # OpenSSL and libetpan (the upload) too, unless OMBRIK_WINDOWS_MAIL=0.
  mail_prefix=
  [ "${OMBRIK_WINDOWS_MAIL:-1}" = 1 ] && mail_prefix=$(OMBRIK_JOBS=$jobs scripts/build-windows-mail-libs.sh | tail -n1)
  launcher=()
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DOMBRIK_WINDOWS_PREFIX="$prefix" \
    -DOMBRIK_WINDOWS_MAIL_PREFIX="$mail_prefix" -DCMAKE_BUILD_TYPE=Release -DOMBRIK_BUILD_GUI=OFF -DOMBRIK_BUILD_TESTS=ON -DOMBRIK_BUILD_BENCH=OFF \
    "${launcher[@]}" >/dev/null
  cmake --build "$build" -j"$jobs"
fi
version=$(sed -n 's/^project(ombrik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=ombrik-$version-windows-x64
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

echo "== unit tests under Wine"
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 900 | tee "$logs/ctest.log"

echo "== the CLI against the Linux build"
tests/windows/compare-cli.sh "$linux_build" "$build" | tee "$logs/compare.log"

echo "== the upload to a mail server against the Linux build"
uploaded=0
if grep -Eq "^LIBETPAN_LIBRARY:FILEPATH=.*etpan[^/]*$" "$build/CMakeCache.txt" && ! grep -q "^LIBETPAN_LIBRARY:FILEPATH=.*NOTFOUND" "$build/CMakeCache.txt"; then
  tests/windows/upload-cli.sh "$linux_build" "$build" | tee "$logs/upload.log"
  uploaded=$(grep -Eo "^windows-upload: [0-9]+ passed" "$logs/upload.log" | grep -Eo "[0-9]+")
else
  echo "SKIP this build has no upload (no OpenSSL and libetpan for Windows: OMBRIK_WINDOWS_MAIL=0 was set)"
fi

if [ "$gui" = 1 ]; then
# A virtual display for the window: Wine draws its own frames in a desktop window of its own.
# A Wine server left from a run without a display (the CLI's) would keep its windows off the
# screen: it goes first, so that the window's processes start on the virtual display.
display_run() {
  wineserver -k 2>/dev/null || true
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96 -nolisten tcp" "$@"
}

echo "== the window under Wine"
mkdir -p "$shots"
tour_work=$(mktemp -d /tmp/ombrik-tour-XXXXXX)
display_run wine explorer /desktop=ombrik,1200x900 "$build/tests/windows/window_tour.exe" \
  "$(echo "Z:$(realpath "$shots")" | tr / '\\')" "$(echo "Z:$tour_work" | tr / '\\')" | tee "$logs/tour.log"
rm -rf "$tour_work"
for shot in main-window file-added completion; do
  [ -s "$shots/windows-$shot.png" ] || { echo "no screenshot windows-$shot.png"; exit 1; }
done
grep -q "^40 files in" "$logs/tour.log" || { echo "the window's conversion did not write the 40 messages"; exit 1; }

echo "== the installer, silently, for this user"
installed="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/Programs/Ombrik"
rm -rf "$installed"
# wine returns when the installer ends (waiting for the wineserver would wait for Wine's own
# desktop processes too, which stay).
display_run wine "dist/$name-setup.exe" /S
for file in ombrik.exe ombrik-cli.exe Uninstall.exe help/index.html; do
  [ -e "$installed/$file" ] || { echo "the installer did not put $file in $installed"; exit 1; }
done
start_menu="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Ombrik.lnk"
[ -e "$start_menu" ] || { echo "no Start-menu entry at $start_menu"; exit 1; }
# The installed command line converts; the installed window starts and shows its main window.
installed_work=$(mktemp -d /tmp/ombrik-installed-XXXXXX)
"$linux_build/tests/windows/make_national_mail" "$installed_work" >/dev/null
wine "$installed/ombrik-cli.exe" --dest "Z:$installed_work" --format eml "Z:$installed_work/Boîte de réception.dbx" \
  | tee "$logs/installed-cli.log"
[ "$(find "$installed_work/ExportDBX" -name '*.eml' | wc -l)" -eq 6 ] || { echo "the installed CLI wrote no EML"; exit 1; }
rm -rf "$installed_work"
cat > "$logs/window.sh" <<EOF
#!/bin/sh
wine "$installed/ombrik.exe" &
program=\$!
# The main window, found by its title within half a minute, then photographed.
found=\$(timeout 60 xdotool search --sync --name '^Ombrik' 2>/dev/null | head -n1)
[ -n "\$found" ] && sleep 2 && import -window root "$shots/windows-installed.png"
kill \$program 2>/dev/null
wineserver -k 2>/dev/null
[ -n "\$found" ]
EOF
chmod +x "$logs/window.sh"
display_run "$logs/window.sh" || { echo "the installed ombrik.exe showed no window"; exit 1; }
# The uninstaller runs on from a copy of itself in the temporary folder: waited for by its result.
wine "$installed/Uninstall.exe" /S
for _ in $(seq 30); do [ -e "$installed/ombrik.exe" ] || break; sleep 1; done
[ ! -e "$installed/ombrik.exe" ] && [ ! -e "$start_menu" ] || { echo "the uninstaller left the program behind"; exit 1; }

fi

count() { grep -Eo "tests passed, 0 tests failed out of [0-9]+" "$logs/ctest.log" | grep -Eo "[0-9]+$"; }
compared=$(grep -Eo "^windows-cli: [0-9]+ passed" "$logs/compare.log" | grep -Eo "[0-9]+")
gui_checks=0
[ "$gui" = 1 ] && gui_checks=3
echo "windows: $(( $(count) + compared + uploaded + gui_checks )) passed, 0 failed"
