#!/usr/bin/env bash
# Builds the libraries the Windows programs link statically (zlib, libffi, pcre2, libpng, GLib,
# GMime, wxWidgets for MSW) from Debian's own source packages, with the MinGW-w64 cross compilers
# of the POSIX thread model, into a cache folder outside the checkout. The folder is named after
# this script's hash, the pinned versions and the compiler's version, so a machine builds each
# set once; the last line printed is the folder (the prefix to build against).
#
# Usage: scripts/build-windows-libs.sh        (OMBRIK_WINDOWS_CACHE: where the sets are kept,
#                                             default ~/.cache/ombrik/windows; OMBRIK_JOBS;
#                                             OMBRIK_WINDOWS_LIBS=cli: the set without libpng and
#                                             wxWidgets, all the CLI and the unit tests need)
# Needs: mingw-w64, meson, ninja-build, autoconf, automake, libtool, gtk-doc-tools, dpkg-dev,
# libz-mingw-w64-dev, wine (one probe of GMime's runs under it); scripts/install-deps.sh --windows.
set -euo pipefail

# Debian 12's main suite serves these sources; the security suite's newer ones are not served
# as sources here, so the versions are named (README: "Windows" says why that is acceptable).
versions=(
  libffi=3.4.4-1
  pcre2=10.42-1
  libpng1.6=1.6.39-2+deb12u5
  glib2.0=2.74.6-2+deb12u9
  gmime=3.2.13+dfsg-2
  wxwidgets3.2=3.2.2+dfsg-2
)
# wxWidgets is most of a cold build's time; the command line and its tests do without it.
libs_set=${OMBRIK_WINDOWS_LIBS:-full}
case "$libs_set" in
  full) ;;
  cli) versions=("${versions[@]:0:2}" "${versions[@]:3:2}") ;;  # no libpng, no wxWidgets
  *) echo "OMBRIK_WINDOWS_LIBS is full or cli, not $libs_set" >&2; exit 2 ;;
esac
host=x86_64-w64-mingw32
jobs=${OMBRIK_JOBS:-$(nproc)}
cc=$host-gcc-posix
cxx=$host-g++-posix
script_hash=$(sha256sum "$0" | cut -c1-12)
compiler=$($cc -dumpfullversion)
key=$(printf '%s\n' "$script_hash" "$libs_set" "${versions[@]}" "$compiler" | sha256sum | cut -c1-16)
cache=${OMBRIK_WINDOWS_CACHE:-$HOME/.cache/ombrik/windows}
prefix=$cache/libs-$key
mkdir -p "$cache"

# One builder at a time per cache: a second run waits, then finds the set made.
exec 9>"$cache/.lock"
flock 9
if [ -e "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

# What an interrupted build of any set left behind goes first.
for stale in "$cache"/libs-* "$cache"/build-*; do
  [ -e "$stale" ] && [ ! -e "$stale/.complete" ] && rm -rf "$stale"
done
started=$(date +%s)
# A work folder of a fixed name, so that ccache finds what an interrupted build compiled.
work=$cache/build-$key
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
log() { echo "== $* ($(( $(date +%s) - started )) s)" >&2; }
failed() { tail -n 40 "$work/$1.log" >&2; echo "building $1 failed; its log was $work/$1.log" >&2; exit 1; }

# ccache speeds up a rebuild of the set after a change to this script.
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(ccache)
export CC="${launcher[*]} $cc" CXX="${launcher[*]} $cxx"
export AR=$host-ar RANLIB=$host-ranlib STRIP=$host-strip WINDRES=$host-windres
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=
export PKG_CONFIG="pkg-config --static"
export CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
export CFLAGS="-O2" CXXFLAGS="-O2"
autotools=(--host=$host --prefix="$prefix" --disable-shared --enable-static --disable-dependency-tracking)

# --- sources: a deb-src entry for the main suite, then apt-get source (patches applied).
sources_list=/etc/apt/sources.list.d/ombrik-deb-src.sources
if [ ! -e "$sources_list" ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  # The stanza of the main archive (not the security archive) with Types: deb-src.
  awk -v RS= -v ORS='\n\n' '/debian-security/ { next } { sub(/Types: deb/, "Types: deb-src"); print }' \
    /etc/apt/sources.list.d/debian.sources | "${sudo_cmd[@]}" tee "$sources_list" >/dev/null
  "${sudo_cmd[@]}" apt-get update -qq
fi
log "sources"
(cd "$work" && apt-get source -qq "${versions[@]}" >/dev/null 2>&1) ||
  (cd "$work" && apt-get source "${versions[@]}")  # again, loud, to show why
src() { find "$work" -maxdepth 1 -type d -name "$1-*" | head -n1; }

# --- zlib: Debian's MinGW build; only the static archive, so nothing asks for zlib1.dll.
cp /usr/$host/include/zlib.h /usr/$host/include/zconf.h "$prefix/include/"
cp /usr/$host/lib/libz.a "$prefix/lib/"
zlib_version=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)
cat > "$prefix/lib/pkgconfig/zlib.pc" <<EOF
prefix=$prefix
Name: zlib
Description: zlib compression library (Debian's libz-mingw-w64-dev $zlib_version)
Version: ${zlib_version%%+*}
Libs: -L\${prefix}/lib -lz
Cflags: -I\${prefix}/include
EOF

# --- libintl: GLib wants gettext; Ombrik ships no translations of GLib's messages, so a stand-in
# that returns every message untranslated is all it needs. The format_arg attributes keep GLib's
# -Werror=format-nonliteral content.
cat > "$prefix/include/libintl.h" <<'EOF'
#ifndef OMBRIK_LIBINTL_H
#define OMBRIK_LIBINTL_H
#include <locale.h>
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729
#endif
#ifdef __cplusplus
extern "C" {
#endif
char *gettext(const char *msgid) __attribute__((format_arg(1)));
char *dgettext(const char *domain, const char *msgid) __attribute__((format_arg(2)));
char *dcgettext(const char *domain, const char *msgid, int category) __attribute__((format_arg(2)));
char *ngettext(const char *msgid, const char *plural, unsigned long n)
    __attribute__((format_arg(1))) __attribute__((format_arg(2)));
char *dngettext(const char *domain, const char *msgid, const char *plural, unsigned long n)
    __attribute__((format_arg(2))) __attribute__((format_arg(3)));
char *dcngettext(const char *domain, const char *msgid, const char *plural, unsigned long n, int category)
    __attribute__((format_arg(2))) __attribute__((format_arg(3)));
char *textdomain(const char *domain);
char *bindtextdomain(const char *domain, const char *dirname);
char *bind_textdomain_codeset(const char *domain, const char *codeset);
#ifdef __cplusplus
}
#endif
#endif
EOF
cat > "$work/libintl.c" <<'EOF'
#include <libintl.h>
#define UNTRANSLATED(text) ((char *)(text))
char *gettext(const char *msgid) { return UNTRANSLATED(msgid); }
char *dgettext(const char *d, const char *msgid) { (void)d; return UNTRANSLATED(msgid); }
char *dcgettext(const char *d, const char *msgid, int c) { (void)d; (void)c; return UNTRANSLATED(msgid); }
char *ngettext(const char *one, const char *many, unsigned long n) { return UNTRANSLATED(n == 1 ? one : many); }
char *dngettext(const char *d, const char *one, const char *many, unsigned long n) {
  (void)d; return UNTRANSLATED(n == 1 ? one : many);
}
char *dcngettext(const char *d, const char *one, const char *many, unsigned long n, int c) {
  (void)d; (void)c; return UNTRANSLATED(n == 1 ? one : many);
}
char *textdomain(const char *domain) { return UNTRANSLATED(domain != 0 ? domain : "messages"); }
char *bindtextdomain(const char *d, const char *dir) { (void)d; return UNTRANSLATED(dir); }
char *bind_textdomain_codeset(const char *d, const char *codeset) { (void)d; return UNTRANSLATED(codeset); }
EOF
$cc -O2 -c "$work/libintl.c" -I"$prefix/include" -o "$work/libintl.o"
$AR rcs "$prefix/lib/libintl.a" "$work/libintl.o"

# --- iconv: GLib compiles its own Windows iconv (win_iconv, over the system's code pages) into
# libglib-2.0.a. GMime and Ombrik call it through this header.
cat > "$prefix/include/iconv.h" <<'EOF'
#ifndef OMBRIK_ICONV_H
#define OMBRIK_ICONV_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef void *iconv_t;
iconv_t iconv_open(const char *tocode, const char *fromcode);
int iconv_close(iconv_t cd);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);
#ifdef __cplusplus
}
#endif
#endif
EOF

# --- libffi, pcre2 (8-bit code units only: all GLib uses), libpng.
log "libffi"
(cd "$(src libffi)" && ./configure "${autotools[@]}" --disable-docs --disable-multi-os-directory &&
  make -j"$jobs" && make install) > "$work/libffi.log" 2>&1 || failed libffi
log "pcre2"
(cd "$(src pcre2)" && ./configure "${autotools[@]}" --disable-pcre2grep-libz --disable-pcre2grep-libbz2 \
  --enable-pcre2-8 --disable-pcre2-16 --disable-pcre2-32 &&
  make -j"$jobs" libpcre2-8.la &&
  make install-libLTLIBRARIES install-includeHEADERS install-nodist_includeHEADERS install-pkgconfigDATA) \
  > "$work/pcre2.log" 2>&1 || failed pcre2
if [ "$libs_set" = full ]; then
log "libpng"
(cd "$(src libpng1.6)" && ./configure "${autotools[@]}" &&
  make -j"$jobs" libpng16.la &&
  make install-libLTLIBRARIES install-pkgincludeHEADERS install-nodist_pkgincludeHEADERS \
    install-pkgconfigDATA install-binSCRIPTS install-data-hook install-exec-hook) \
  > "$work/libpng.log" 2>&1 || failed libpng
fi

# --- GLib with meson: the libraries only (no tools, fuzzers or helpers). Without a way to run
# Windows programs meson takes the answers from [properties]: the checks of a C library's printf
# (MinGW's msvcrt printf is not C99, so GLib uses its own), how va_lists copy, the stack's
# direction.
log "glib"
cat > "$work/cross.ini" <<EOF
[binaries]
c = [$(printf "'%s', " "${launcher[@]}")'$cc']
cpp = [$(printf "'%s', " "${launcher[@]}")'$cxx']
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
pkgconfig = 'pkg-config'

[properties]
have_c99_vsnprintf = false
have_c99_snprintf = false
have_unix98_printf = false
va_val_copy = true
growing_stack = false
have_strlcpy = false
have_proc_self_cmdline = false

[built-in options]
c_args = ['-I$prefix/include']
c_link_args = ['-L$prefix/lib']
pkg_config_path = '$prefix/lib/pkgconfig'

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF
(cd "$(src glib2.0)" && meson setup _build --cross-file "$work/cross.ini" --prefix="$prefix" \
  --buildtype=release -Ddefault_library=static -Dtests=false -Dinstalled_tests=false -Dnls=disabled \
  -Dman=false -Dgtk_doc=false -Dlibelf=disabled -Dsysprof=disabled -Dglib_debug=disabled \
  -Dxattr=false -Dlibmount=disabled -Dselinux=disabled --wrap-mode=nodownload &&
  ninja -C _build -j"$jobs" glib/libglib-2.0.a gobject/libgobject-2.0.a gio/libgio-2.0.a gmodule/libgmodule-2.0.a \
    gthread/libgthread-2.0.a &&
  meson install -C _build --no-rebuild --tags devel --quiet) > "$work/glib.log" 2>&1 || failed glib

# --- GMime: the MIME parser, without crypto (Ombrik signs and encrypts nothing).
log "gmime"
gmime_src=$(src gmime)
# GMime's configure asks which charset names the system's iconv prefers by running a probe;
# it is run here, under Wine, against GLib's iconv.
$cc -O2 -o "$work/iconv-detect.exe" "$gmime_src/iconv-detect.c" -I"$prefix/include" -static \
  $($PKG_CONFIG --libs glib-2.0)
(cd "$gmime_src" && WINEDEBUG=-all wine "$work/iconv-detect.exe" >/dev/null 2>&1) || true
[ -s "$gmime_src/iconv-detect.h" ] || { echo "GMime's iconv probe did not run under Wine" >&2; exit 1; }
# Its iconv is GLib's, found through LIBS; the charset probe's answer is in iconv-detect.h.
(cd "$gmime_src" && NOCONFIGURE=1 ./autogen.sh &&
  LIBS="$($PKG_CONFIG --libs glib-2.0)" ac_cv_have_iconv_detect_h=yes ./configure "${autotools[@]}" \
    --disable-crypto --enable-introspection=no --enable-vala=no --without-libidn &&
  make -C util -j"$jobs" && make -C gmime -j"$jobs" &&
  make -C gmime install && make install-pkgconfigDATA) > "$work/gmime.log" 2>&1 || failed gmime

# --- wxWidgets for MSW: the window's controls and dialogs; image support only for PNG (the
# artwork), none of the optional libraries Ombrik has no use for.
if [ "$libs_set" = full ]; then
log "wxwidgets"
(cd "$(src wxwidgets3.2)" && mkdir -p build-msw && cd build-msw &&
  ../configure --host=$host --prefix="$prefix" --with-msw --disable-shared --disable-debug_flag \
    --with-libpng=sys --with-zlib=sys --without-libjpeg --without-libtiff --without-expat \
    --without-liblzma --without-regex --without-opengl --without-libcurl --without-nanosvg \
    --disable-webview --disable-mediactrl --disable-stc --disable-ribbon --disable-propgrid \
    --disable-aui --disable-richtext --disable-xrc --disable-sockets --disable-ipc \
    --disable-protocols --disable-url --disable-fs_inet --disable-webrequest --disable-debugreport \
    --disable-secretstore --disable-sound --disable-joystick --disable-svg \
    --disable-printarch --disable-postscript --disable-help --disable-mshtmlhelp --disable-htmlhelp \
    --disable-precomp-headers --disable-fswatcher --disable-arttango --disable-uiactionsim \
    --disable-tests &&
  make -j"$jobs" && make install) > "$work/wxwidgets.log" 2>&1 || failed wxwidgets
fi

log "done"
echo "built in $(( $(date +%s) - started )) s: ${versions[*]}, zlib $zlib_version, $cc $compiler" \
  > "$prefix/.complete"
cat "$prefix/.complete" >&2
echo "$prefix"
