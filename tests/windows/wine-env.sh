# Sourced by the Windows test scripts: a Wine prefix of the tests' own (made once, kept in the
# cache), quiet, with no desktop integration or menus written to the user's desktop.
export WINEPREFIX=${OMBRIK_WINEPREFIX:-$HOME/.cache/ombrik/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
