#!/bin/sh
# Takes the documentation's screenshots of the desktop program under a virtual display, at the
# normal font scale and at 1.5 (names ending in -x1.5).
# Usage: tests/app/take-screenshots.sh BUILD_DIR [OUTPUT_DIR]   (needs xvfb-run, ImageMagick;
# openbox, when installed, draws the window frames)
set -eu
build=$1
out=${2:-$(dirname "$0")/../../docs/screenshots}
# A short, readable place for the sample folder files, since their paths show in the pictures.
work=/tmp/ombrik-demo
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cat > "$work/session.sh" <<SESSION
#!/bin/sh
if command -v openbox >/dev/null 2>&1; then openbox & wm=\$!; sleep 1; fi
"$build/tests/app/screenshot_tour" "$out" "$work/ann" && \
  GDK_DPI_SCALE=1.5 "$build/tests/app/screenshot_tour" "$out" "$work/ann15" -x1.5
status=\$?
[ -n "\${wm:-}" ] && kill \$wm
exit \$status
SESSION
chmod +x "$work/session.sh"
xvfb-run -a -s "-screen 0 1024x900x24 -dpi 96" "$work/session.sh"
ls -l "$out"
