#!/usr/bin/env bash
# The upload to a mail server from the Windows build (under Wine) against the Linux build's,
# to one Dovecot of the tests on 127.0.0.1, each below a folder prefix of its own: the same
# folders, flags, INTERNALDATEs and bytes; a second run of the Windows build uploads nothing;
# a server whose certificate is not trusted is refused with the Linux build's words. Without
# Dovecot it says so and passes nothing.
# Usage: tests/windows/upload-cli.sh LINUX_BUILD WINDOWS_BUILD   (needs wine, dovecot-imapd)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
linux_cli=$(realpath "$1/src/cli/ombrik-cli")
windows_cli=$(realpath "$2/src/cli/ombrik-cli.exe")
make_mail=$(realpath "$1/tests/windows/make_national_mail")
serve=$(realpath "$1/tests/windows/serve_dovecot")
samples=$(realpath "$here/../../../shared/samples/dbx" 2>/dev/null || true)
source "$here/wine-env.sh"

work=$(mktemp -d /tmp/ombrik-upload-XXXXXX)
mkfifo "$work/stop"
"$serve" "$work/dovecot.env" < "$work/stop" &
server=$!
exec 7> "$work/stop"
trap 'exec 7>&-; wait $server; rm -rf "$work"' EXIT
for _ in $(seq 120); do [ -e "$work/dovecot.env" ] && break; sleep 0.5; done
[ -e "$work/dovecot.env" ] || { echo "FAIL the test server did not start"; exit 1; }
source "$work/dovecot.env"
if [ -n "${skip:-}" ]; then
  echo "SKIP the upload from the Windows build: $skip"
  echo "windows-upload: 0 passed, 0 failed"
  exit 0
fi

source "$here/checks.sh"
winpath() { echo "Z:$1" | tr '/' '\\'; }

in=$work/in
mkdir -p "$in"
"$make_mail" "$in" >/dev/null
[ -n "$samples" ] && cp "$samples/Inbox.dbx" "$in/"
linux_inputs=(--add-store "$in/store")
windows_inputs=(--add-store "$(winpath "$in/store")")
for f in "$in"/*.dbx; do linux_inputs+=("$f"); windows_inputs+=("$(winpath "$f")"); done
url="imaps://$user@127.0.0.1:$port"

upload_linux() {  # upload_linux PREFIX [--imap-ca-file FILE]
  local prefix=$1
  shift
  "$linux_cli" --format imap --imap-url "$url/$prefix" --imap-password-file "$password_file" "$@" \
    "${linux_inputs[@]}" > "$work/linux.out" 2> "$work/linux.err"
}
upload_windows() {
  local prefix=$1
  shift
  wine "$windows_cli" --format imap --imap-url "$url/$prefix" --imap-password-file "$(winpath "$password_file")" "$@" \
    "${windows_inputs[@]}" > "$work/windows.out" 2> "$work/windows.err"
}
# The account as Python's imaplib reads it (a failure to read it fails the check at hand),
# the lines of one prefix with the prefix taken off.
dump_of() {  # a failure of the read shows as a line no other dump has
  python3 "$here/../imap/imap_dump.py" 127.0.0.1 "$port" "$user" "$password" "$ca_file" > "$work/account" ||
    { echo "FAIL the account cannot be read back"; return 1; }
  grep -E "^(folder|message) $1(/|\.|\$| )" "$work/account" | sed -E "s/^(folder|message) $1/\1 PREFIX/"
}

echo "== Linux $linux_cli against Windows $windows_cli, Dovecot on port $port"
upload_linux Linux --imap-ca-file "$ca_file"
linux_status=$?
upload_windows Windows --imap-ca-file "$(winpath "$ca_file")"
windows_status=$?
check "upload: exit status $windows_status as on Linux ($linux_status)" test "$windows_status" = "$linux_status"
dump_of Linux > "$work/linux.dump"
dump_of Windows > "$work/windows.dump"
check "upload: messages arrived" grep -q '^message ' "$work/windows.dump"
check "upload: the same folders, flags, dates and bytes as from Linux" diff "$work/linux.dump" "$work/windows.dump"

upload_windows Windows --imap-ca-file "$(winpath "$ca_file")"
check "upload again: exit status 0" test $? = 0
dump_of Windows > "$work/windows-again.dump"
check "upload again: nothing uploaded twice" diff "$work/windows.dump" "$work/windows-again.dump"
check "upload again: says the messages are already on the server" grep -q "already on the server" "$work/windows.out"

upload_linux Untrusted
linux_status=$?
upload_windows Untrusted
windows_status=$?
check "untrusted certificate: refused (status $windows_status, Linux $linux_status)" \
  test "$windows_status" = "$linux_status" -a "$windows_status" != 0
check "untrusted certificate: the same words as on Linux" \
  diff <(tr -d '\r' < "$work/linux.err" | grep -i "not trusted") <(tr -d '\r' < "$work/windows.err" | grep -i "not trusted")
dump_of Untrusted > "$work/untrusted.dump"
check "untrusted certificate: nothing arrived" test ! -s "$work/untrusted.dump"

echo "windows-upload: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
