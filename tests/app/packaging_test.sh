#!/bin/bash
# The files the Debian package adds around the programs: manual pages that render cleanly and
# name every option ombrik-cli knows, a bash completion that offers them, and AppStream data
# that validates. Usage: packaging_test.sh SOURCE_DIR OMBRIK_CLI
set -u
src=$(cd "$1" && pwd)
cli=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

options=$("$cli" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "ombrik-cli --help names no option"

# Manual pages: no roff warnings, and every option of --help in the ombrik-cli page.
for page in "$src"/packaging/man/*.1; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$src/packaging/man/ombrik-cli.1" 2>/dev/null | sed 's/‐/-/g')
for option in $options; do
  grep -q -- "$option" <<<"$rendered" || fail "ombrik-cli.1 does not describe $option"
done

# The manual pages name the version the about box shows.
version=$(grep -o '"Version- [0-9.]*"' "$src/src/app/about_dlg.cpp" | grep -o '[0-9][0-9.]*')
[ -n "$version" ] || fail "no version found in the about box"
for page in "$src"/packaging/man/*.1; do
  grep -q "^\.TH .*\"Ombrik $version\"" "$page" || fail "$(basename "$page") does not say version $version"
done

# Completion: run it as bash would, for a few command lines.
complete_words() {  # the command line's words; prints what the completion offers
  bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _ombrik_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$src/packaging/completion/ombrik-cli" "$@"
}
offered=$(complete_words ombrik-cli --)
for option in $options; do
  grep -qx -- "$option" <<<"$offered" || fail "completion does not offer $option"
done
[ "$(complete_words ombrik-cli --format h)" = "html" ] || fail "completion of --format h"
[ "$(complete_words ombrik-cli --pst-mode "" | tr '\n' ' ')" = "new old separate seprate " ] || fail "completion of --pst-mode"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/Mail"
touch "$work/Mail/Inbox.dbx" "$work/Mail/Sent.DBX" "$work/Mail/notes.txt" "$work/Mail/store.pst"
got=$(cd "$work/Mail" && complete_words ombrik-cli "" | tr '\n' ' ')
[ "$got" = "Inbox.dbx Sent.DBX " ] || fail "folder files offered: '$got'"
got=$(cd "$work/Mail" && complete_words ombrik-cli --check-pst "" | tr '\n' ' ')
[ "$got" = "store.pst " ] || fail "stores offered: '$got'"
got=$(cd "$work" && complete_words ombrik-cli --dest "" | tr '\n' ' ')
[ "$got" = "Mail " ] || fail "folders offered for --dest: '$got'"

# AppStream data, beside the desktop entry.
if command -v appstreamcli >/dev/null 2>&1; then
  appstreamcli validate --no-net "$src/src/app/resources/ombrik.metainfo.xml" >/dev/null ||
    fail "appstreamcli rejects ombrik.metainfo.xml"
else
  echo "note: appstreamcli is not installed; the AppStream data was not validated"
fi
grep -q '<launchable type="desktop-id">ombrik.desktop</launchable>' "$src/src/app/resources/ombrik.metainfo.xml" ||
  fail "the AppStream data does not name the desktop entry"

[ $failures -eq 0 ] && echo "packaging files: all checks passed"
exit $((failures > 0))
