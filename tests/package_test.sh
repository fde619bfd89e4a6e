#!/usr/bin/env bash
# Installs the built programs into a temporary prefix and checks them and their
# manual pages, then builds the Debian packages (programs, library, development
# files, Python module) and checks them (with lintian when it is installed: no
# errors allowed); with RAWFRAMES_DPKG_TEST=1 (and as root) it also installs
# them with dpkg -i, runs what they hold, and removes them.
#
#   package_test.sh BUILD_DIR PROGRAM...
set -euo pipefail
build=$(cd "$1" && pwd)
shift
programs=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for p in "${programs[@]}"; do
  "$tmp/prefix/bin/$p" --version | grep -q "^$p (rawframes) " || fail "$p --version"
  page=$tmp/prefix/share/man/man1/$p.1.gz
  [ -f "$page" ] || fail "no manual page for $p"
  if ! command -v man >/dev/null; then
    echo "man is not installed (apt-get install man-db): manual pages not rendered"
    continue
  fi
  text=$(MANWIDTH=80 man -l -P cat "$page" 2>"$tmp/man.err") || fail "man -l $page"
  [ ! -s "$tmp/man.err" ] || fail "man -l $page warned: $(cat "$tmp/man.err")"
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -q "^$section" <<<"$text" || fail "$p manual page has no $section section"
  done
done
echo "installed into a prefix: ${#programs[@]} programs and their manual pages"

(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null)
deb=$(ls "$tmp"/pkg/rawframes_*.deb)
contents=$(dpkg-deb --contents "$deb")
for p in "${programs[@]}"; do
  for f in ./usr/bin/$p ./usr/share/man/man1/$p.1.gz; do
    grep -q " $f\$" <<<"$contents" || fail "$f missing from $(basename "$deb")"
  done
done
dpkg-deb -x "$deb" "$tmp/unpacked"
for p in "${programs[@]}"; do
  file "$tmp/unpacked/usr/bin/$p" | grep -q ", stripped" || fail "$p is not stripped in the package"
done
# Every package: its copyright file and changelog, and no lintian error.
debs=("$tmp"/pkg/*.deb)
for d in "${debs[@]}"; do
  name=$(dpkg-deb --field "$d" Package)
  listing=$(dpkg-deb --contents "$d")  # whole, not cut short by grep -q under pipefail
  for f in ./usr/share/doc/$name/copyright ./usr/share/doc/$name/changelog.gz; do
    grep -q " $f\$" <<<"$listing" || fail "$f missing from $(basename "$d")"
  done
  echo "built $(basename "$d")"
  if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 "$d" >"$tmp/lintian.txt" 2>&1 || true
    grep -v "root privileges" "$tmp/lintian.txt" || true
    ! grep -q "^E: " "$tmp/lintian.txt" || fail "lintian found errors in $(basename "$d")"
  fi
done
command -v lintian >/dev/null && echo "lintian: no errors in ${#debs[@]} packages" ||
  echo "lintian is not installed (apt-get install lintian): packages not linted"

if [ "${RAWFRAMES_DPKG_TEST:-0}" = 1 ] && [ "$(id -u)" = 0 ]; then
  names=()
  for d in "${debs[@]}"; do names+=("$(dpkg-deb --field "$d" Package)"); done
  dpkg -i "${debs[@]}" >/dev/null
  trap 'dpkg -r "${names[@]}" >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT
  for p in "${programs[@]}"; do
    "/usr/bin/$p" --version | grep -q "^$p (rawframes) " || fail "installed $p"
    [ "$(man -w "$p")" = "/usr/share/man/man1/$p.1" ] || [ "$(man -w "$p")" = "/usr/share/man/man1/$p.1.gz" ] ||
      fail "man -w $p: $(man -w "$p")"
  done
  if [[ " ${names[*]} " == *" python3-rawframes "* ]]; then
    (cd / && /usr/bin/python3 -c "import rawframes; print('python3 -c \"import rawframes\":', rawframes.__version__)") ||
      fail "the installed Python module does not import"
  fi
  cc -std=c11 -Wall -Werror "$(dirname "$0")/../librawframes/example.c" $(pkg-config --cflags --libs rawframes) \
    -o "$tmp/example" && "$tmp/example" >/dev/null || fail "the example against the installed library"
  dpkg -r "${names[@]}" >/dev/null
  [ ! -e /usr/bin/dovrak ] || fail "dpkg -r left /usr/bin/dovrak"
  echo "dpkg -i installed ${names[*]}; the programs, the module and the example ran; dpkg -r removed them"
else
  echo "dpkg -i step skipped: set RAWFRAMES_DPKG_TEST=1 and run as root to install the packages"
fi
