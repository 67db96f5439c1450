#!/usr/bin/env bash
# Installs what is missing, builds, and runs Ombrik: the desktop window where there is a display,
# else a conversion of the demo folder file with ombrik-cli into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Only what is run below; the test suite is scripts/test.sh's.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build build -j"$(nproc)" --target ombrik
  exec build/src/app/ombrik
fi
cmake --build build -j"$(nproc)" --target ombrik-cli ombrik-make-demo
echo "No display: converting the demo folder file with ombrik-cli instead."
echo "(To see the window without a display: cmake --build build --target ombrik && xvfb-run build/src/app/ombrik)"
mkdir -p out
build/demo/ombrik-make-demo out/Demo.dbx
# The demo's last message has a subject stored as 8-bit Russian text, as Outlook Express kept it
# on a Russian system: name its code page, as such a user would (or their locale does).
for format in eml mbox html; do
  build/src/cli/ombrik-cli --dest out --format "$format" --codepage windows-1251 out/Demo.dbx
done
echo "Converted mail is in out/ExportDBX/"
find out/ExportDBX -maxdepth 2 | sort | head -20
echo "Open an .html file in a browser, the .eml files in any mail program, Demo.mbox with mutt -f."
