#!/usr/bin/env bash
# Installs what is missing, builds, and runs Ombrik: the desktop window where there is a display,
# else a conversion of the demo folder file with ombrik-cli into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/src/app/ombrik ]; then
  exec build/src/app/ombrik
fi
echo "No display: converting the demo folder file with ombrik-cli instead."
echo "(To see the window without a display: xvfb-run build/src/app/ombrik)"
mkdir -p out
build/demo/ombrik-make-demo out/Demo.dbx
build/src/cli/ombrik-cli --dest out out/Demo.dbx
build/src/cli/ombrik-cli --dest out --format mbox out/Demo.dbx
echo "Converted mail is in out/ExportDBX/"
find out/ExportDBX -maxdepth 2 | sort | head -20
