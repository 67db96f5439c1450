#!/bin/sh
# Runs a command on the current X display with a window manager beside it, as on a desktop:
# focus, activation and window frames only behave as users see them when one runs.
# Without openbox the command runs alone and the tests that need a window manager skip.
if command -v openbox >/dev/null 2>&1; then
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  # Wait until it has taken the screen over.
  tries=0
  while [ $tries -lt 50 ] && ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do
    sleep 0.1
    tries=$((tries + 1))
  done
  OMBRIK_WINDOW_MANAGER=openbox
  export OMBRIK_WINDOW_MANAGER
fi
"$@"
status=$?
if [ -n "${wm:-}" ]; then kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; fi
exit $status
