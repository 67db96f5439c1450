#!/usr/bin/env bash
# Builds the two libraries the upload to a mail server needs on Windows, OpenSSL (TLS and the
# certificate check) and libetpan (the IMAP protocol), from Debian's own source packages with the
# MinGW-w64 cross compilers, static, into a folder of their own beside the sets of
# scripts/build-windows-libs.sh: named after this script's hash, the versions and the compiler,
# so a change here rebuilds only these two, and a change there leaves these alone. The last line
# printed is the folder (a second prefix to build against).
#
# Usage: scripts/build-windows-mail-libs.sh   (OMBRIK_WINDOWS_CACHE and OMBRIK_JOBS as for
#                                              scripts/build-windows-libs.sh)
# Needs: mingw-w64, dpkg-dev, perl, make; scripts/install-deps.sh --windows.
set -euo pipefail

# The newest OpenSSL 3.0 of Debian 12 that is served as source (README: "Windows" on versions).
versions=(
  openssl=3.0.20-1~deb12u2
  libetpan=1.9.4-3.1
)
host=x86_64-w64-mingw32
jobs=${OMBRIK_JOBS:-$(nproc)}
cc=$host-gcc-posix
script_hash=$(sha256sum "$0" | cut -c1-12)
compiler=$($cc -dumpfullversion)
key=$(printf '%s\n' "$script_hash" "${versions[@]}" "$compiler" | sha256sum | cut -c1-16)
cache=${OMBRIK_WINDOWS_CACHE:-$HOME/.cache/ombrik/windows}
prefix=$cache/mail-$key
mkdir -p "$cache"

# The same lock as the other sets: one builder at a time per cache.
exec 9>"$cache/.lock"
flock 9
if [ -e "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
for stale in "$cache"/mail-*; do
  [ -e "$stale" ] && [ ! -e "$stale/.complete" ] && rm -rf "$stale"
done
started=$(date +%s)
work=$cache/mail-work-$key
rm -rf "$work"
mkdir -p "$work" "$prefix"
trap 'rm -rf "$work"' EXIT
log() { echo "== $* ($(( $(date +%s) - started )) s)" >&2; }
failed() { tail -n 40 "$work/$1.log" >&2; echo "building $1 failed; its log was $work/$1.log" >&2; exit 1; }

launcher=
command -v ccache >/dev/null 2>&1 && launcher="ccache "
export CC="$launcher$cc" AR=$host-ar RANLIB=$host-ranlib RC=$host-windres WINDRES=$host-windres

# --- sources, from the deb-src entry scripts/build-windows-libs.sh writes. The mirror serves
# libetpan's upstream tarball but not always Debian's patch set: then the tarball alone is
# unpacked, and the one of Debian's two mends that Ombrik's use reaches is made here (a STATUS
# reply without items freed a null list: a server could crash the client). The other is about
# bytes buffered across libetpan's own STARTTLS; Ombrik turns a connection to TLS itself and
# refuses a server that sent anything after its STARTTLS reply.
[ -e /etc/apt/sources.list.d/ombrik-deb-src.sources ] ||
  { echo "no deb-src entry: run scripts/build-windows-libs.sh first" >&2; exit 1; }
log "sources"
for version in "${versions[@]}"; do
  (cd "$work" && apt-get source -qq "$version" >/dev/null 2>&1) ||
    (cd "$work" && apt-get source --download-only -qq "$version" >/dev/null 2>&1) || true
done
bare_libetpan=0
if ! find "$work" -maxdepth 1 -type d -name 'libetpan-*' | grep -q .; then
  bare_libetpan=1
  orig=$(find "$work" -maxdepth 1 -name 'libetpan_*.orig.tar.*' | head -n1)
  [ -n "$orig" ] || { echo "the source of libetpan was not served" >&2; exit 1; }
  tar -C "$work" -xf "$orig"
fi
src() { find "$work" -maxdepth 1 -type d -name "$1-*" | head -n1; }
types=$(src libetpan)/src/low-level/imap/mailimap_types.c
if [ "$bare_libetpan" = 1 ]; then
  perl -0pi -e 's/(\n  clist_foreach\(info->st_info_list, \(clist_func\) mailimap_status_info_free,\n\t\t NULL\);\n  clist_free\(info->st_info_list\);\n)/\n  if (info->st_info_list != NULL) {$1  }\n/' "$types"
  grep -q 'if (info->st_info_list != NULL)' "$types" || { echo "libetpan's STATUS mend did not apply" >&2; exit 1; }
fi
[ -n "$(src openssl)" ] || (cd "$work" && apt-get source "${versions[0]}")  # again, loud

# --- OpenSSL: the two libraries and their headers; no programs, tests or manuals. It reads no
# configuration file on Windows (Ombrik gives it the trusted certificates itself).
log "openssl"
(cd "$(src openssl)" && ./Configure mingw64 no-shared no-tests --prefix="$prefix" --libdir=lib \
  --openssldir="$prefix/ssl" -O2 && make -j"$jobs" build_libs && make install_dev) \
  > "$work/openssl.log" 2>&1 || failed openssl

# --- libetpan: the IMAP client's parser and commands only. Its own TLS is left out (Ombrik
# runs TLS over OpenSSL itself, with its own certificate check), and so are the caches,
# locks, iconv and SASL it can use for other protocols.
log "libetpan"
(cd "$(src libetpan)" && ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
  --disable-dependency-tracking --without-openssl --without-gnutls --without-sasl --without-curl \
  --without-expat --without-zlib --disable-db --disable-lockfile --disable-iconv &&
  make -C include -j"$jobs" && make -C src -j"$jobs" && make -C include install && make -C src install &&
  install -m 644 libetpan-config.h "$prefix/include/libetpan/") \
  > "$work/libetpan.log" 2>&1 || failed libetpan

log "done"
echo "built in $(( $(date +%s) - started )) s: ${versions[*]}, $cc $compiler" > "$prefix/.complete"
cat "$prefix/.complete" >&2
echo "$prefix"
