#!/usr/bin/env bash
# Converts the same folder files with the Linux build and with the Windows build (under Wine) in
# all six forms and as a Maildir and compares what they wrote: EML byte for byte, MBOX apart from line ends,
# RTF and HTML byte for byte, MSG and PST through the strict checkers and through readpst /
# pffexport, names (non-ASCII ones included) and modification times alike. The Windows side is
# given its paths with backslashes, with forward slashes, on a drive letter of its own, and
# below a folder whose path is longer than 260 characters.
# Usage: tests/windows/compare-cli.sh LINUX_BUILD WINDOWS_BUILD   (needs wine; ../shared/tools)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
linux_cli=$(realpath "$1/src/cli/ombrik-cli")
windows_cli=$(realpath "$2/src/cli/ombrik-cli.exe")
make_mail=$(realpath "$1/tests/windows/make_national_mail")
tools=$(realpath "$here/../../../shared/tools" 2>/dev/null || true)
samples=$(realpath "$here/../../../shared/samples/dbx" 2>/dev/null || true)
export WINEDEBUG=-all
source "$here/wine-env.sh"

work=$(mktemp -d /tmp/ombrik-compare-XXXXXX)
trap 'rm -rf "$work"; rm -f "$WINEPREFIX/dosdevices/o:"' EXIT
source "$here/checks.sh"
winpath() { echo "Z:$1" | tr '/' '\\'; }  # Wine's Z: drive is the Linux root

# --- the input: the shared samples and the generated national mail, copied so that they are
# reached under every path style.
in=$work/in
mkdir -p "$in"
"$make_mail" "$in" >/dev/null
[ -n "$samples" ] && cp "$samples/Inbox.dbx" "$samples/Outbox.dbx" "$in/"
inputs=()
for f in "$in"/*.dbx; do inputs+=("$(basename "$f")"); done

# A long folder: past the 260 characters Windows once allowed for a whole path.
long=$work/long
while [ ${#long} -lt 280 ]; do long=$long/$(printf 'folder-%s-' "${#long}")xxxxxxxxxxxxxxxxxxxxxxxx; done
mkdir -p "$long"
# A drive letter of its own (O:) for the input folder.
ln -sfn "$in" "$WINEPREFIX/dosdevices/o:"

# run_windows STYLE FORM DEST ARGS...: the Windows CLI with the inputs in the given path style.
run_windows() {
  local style=$1 form=$2 dest=$3
  shift 3
  local args=()
  for name in "${inputs[@]}"; do
    case $style in
      backslash) args+=("$(winpath "$in/$name")") ;;
      forward) args+=("Z:$in/$name") ;;
      drive) args+=("O:\\$name") ;;
    esac
  done
  local store
  case $style in
    forward) store="Z:$in/store" ;;
    drive) store='O:\store' ;;
    *) store=$(winpath "$in/store") ;;
  esac
  wine "$windows_cli" --dest "$dest" --format "$form" "$@" --add-store "$store" "${args[@]}" \
    > "$work/windows-$form.out" 2> "$work/windows-$form.err"
}
run_linux() {
  local form=$1 dest=$2
  shift 2
  local args=()
  for name in "${inputs[@]}"; do args+=("$in/$name"); done
  "$linux_cli" --dest "$dest" --format "$form" "$@" --add-store "$in/store" "${args[@]}" \
    > "$work/linux-$form.out" 2> "$work/linux-$form.err"
}

same_tree() { diff -r "$1" "$2"; }
same_names() { diff <(cd "$1" && find . | sort) <(cd "$2" && find . | sort); }
# The messages' files carry the messages' times; what Ombrik keeps about a destination
# (.ombrik-folders, .ombrik-messages) carries the time it was written, so it is left out.
same_times() {
  diff <(cd "$1" && find . -type f ! -name '.ombrik-*' -printf '%p %T@\n' | sed 's/\.[0-9]*$//' | sort) \
       <(cd "$2" && find . -type f ! -name '.ombrik-*' -printf '%p %T@\n' | sed 's/\.[0-9]*$//' | sort)
}
same_mbox() {
  same_names "$1" "$2" || return 1
  (cd "$1" && find . -type f) | while read -r f; do
    cmp <(tr -d '\r' < "$1/$f") <(tr -d '\r' < "$2/$f") || exit 1
  done
}
windows_line_ends() {  # every "From " separator line of the Windows MBOX files ends in CR LF
  local bad
  bad=$(find "$1" -type f -exec grep -c -a -P '^From .*[^\r]$' {} + | awk -F: '$NF > 0' | head -n 5)
  [ -z "$bad" ] || { echo "separator lines without CR LF: $bad"; return 1; }
}
strict_msg() { find "$1" -name '*.msg' -print0 | xargs -0 -r -n 1 python3 "$tools/msgcheck.py" --strict --quiet; }
strict_pst() { find "$1" -name '*.pst' -print0 | xargs -0 -r -n 1 python3 "$tools/pstcheck.py" --strict --quiet; }
# What readpst and pffexport make of each store: the same messages and fields from both builds.
readers_agree() {
  local l=$work/readers-linux w=$work/readers-windows
  rm -rf "$l" "$w"
  mkdir -p "$l" "$w"
  (cd "$1" && find . -name '*.pst') | while read -r pst; do
    local name
    name=$(echo "$pst" | tr '/ ' '__')
    mkdir -p "$l/$name.readpst" "$w/$name.readpst"
    readpst -q -j 0 -S -o "$l/$name.readpst" "$1/$pst" && readpst -q -j 0 -S -o "$w/$name.readpst" "$2/$pst" || exit 1
    pffexport -q -t "$l/$name.pff" "$1/$pst" >/dev/null && pffexport -q -t "$w/$name.pff" "$2/$pst" >/dev/null || exit 1
  done || return 1
  # The fields must agree; readpst makes up a new MIME boundary on every run.
  find "$l" "$w" -type f -exec sed -i 's/iamunique-[0-9]*/iamunique-N/g' {} +
  diff -r "$l" "$w"
}

echo "== Linux $linux_cli against Windows $windows_cli (wine $(wine --version 2>/dev/null))"
for form in eml mbox msg rtf html pst; do
  for style in backslash forward drive long; do
    # Each run writes into a fresh destination; the long one below the long folder.
    if [ "$style" = long ]; then base=$long/$form; else base=$work/out/$style/$form; fi
    mkdir -p "$base/linux" "$base/windows"
    extra=()
    [ "$form" = pst ] && extra=(--pst-mode separate)
    run_linux "$form" "$base/linux" "${extra[@]}"
    linux_status=$?
    if [ "$style" = long ]; then
      run_windows backslash "$form" "$(winpath "$base/windows")" "${extra[@]}"
    else
      run_windows "$style" "$form" "$(winpath "$base/windows")" "${extra[@]}"
    fi
    windows_status=$?
    L=$base/linux/ExportDBX
    W=$base/windows/ExportDBX
    check "$form/$style: exit status $windows_status as on Linux ($linux_status)" test "$windows_status" = "$linux_status"
    # The closing line (the lines before it name the folder files, in each system's own paths).
    check "$form/$style: the same summary" diff <(tr -d '\r' < "$work/linux-$form.out" | tail -n 1) \
      <(tr -d '\r' < "$work/windows-$form.out" | tail -n 1)
    case $form in
      eml | rtf | html)
        check "$form/$style: the same files, byte for byte" same_tree "$L" "$W"
        check "$form/$style: the same modification times" same_times "$L" "$W" ;;
      mbox)
        check "mbox/$style: the same mailboxes apart from line ends" same_mbox "$L" "$W"
        check "mbox/$style: CR LF line ends on Windows" windows_line_ends "$W" ;;
      msg)
        check "msg/$style: the same file names" same_names "$L" "$W"
        check "msg/$style: the same files, byte for byte" same_tree "$L" "$W"
        [ -n "$tools" ] && check "msg/$style: the Windows files pass msgcheck --strict" strict_msg "$W" ;;
      pst)
        check "pst/$style: the same stores" same_names "$L" "$W"
        [ -n "$tools" ] && check "pst/$style: the Windows stores pass pstcheck --strict" strict_pst "$W"
        check "pst/$style: readpst and pffexport read the same fields from both" readers_agree "$L" "$W" ;;
    esac
  done
done
# Maildir, once: the same messages in the same folders, each name with ';' where Linux has ':'
# (Windows names cannot hold one), its flags after ";2,", the same bytes.
maildir_listing() {  # per message file: its path with the info delimiter made ':', and its digest
  (cd "$1" && find . -type f -path '*/cur/*' | sort | while read -r f; do
    echo "$(echo "$f" | sed -e "s/$2/:2,/" -e "s|/cur/[0-9]*\.|/cur/TIME.|") $(sha256sum < "$f" | cut -c1-64)"
  done)
}
maildir_names() {
  local colons flagged
  colons=$(find "$1" -name '*:*' | head -n 3)
  flagged=$(find "$1" -path '*/cur/*' -name '*;2,*S*' | wc -l)
  [ -z "$colons" ] && [ "$flagged" -gt 0 ] || { echo "names with ':': $colons; read ones with ;2,..S: $flagged"; return 1; }
}
base=$work/out/maildir
mkdir -p "$base/linux" "$base/windows"
run_linux maildir "$base/linux"
linux_status=$?
run_windows backslash maildir "$(winpath "$base/windows")"
windows_status=$?
check "maildir: exit status $windows_status as on Linux ($linux_status)" test "$windows_status" = "$linux_status"
check "maildir: no ':' in a Windows name, the flags after ';2,'" maildir_names "$base/windows"
check "maildir: the same messages, names and bytes, ';' for ':'" \
  diff <(maildir_listing "$base/linux" ':2,') <(maildir_listing "$base/windows" ';2,')

echo "windows-cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
