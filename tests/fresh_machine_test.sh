#!/usr/bin/env bash
# The README's quick start as a new user meets it: a fresh minimal Debian 12
# root made with debootstrap from the Debian mirror this machine's apt sources
# name, a clean clone of this repository in it, and the quick start's commands
# run there exactly as the README writes them. Both must succeed, and the
# demonstration's picture must exist. The root is unmounted and removed on every
# way out. Needs root; skips, saying why, where debootstrap or the mirror
# cannot be had.
#   fresh_machine_test.sh [SOURCE_DIR]   (default: this script's repository)
set -euo pipefail
source=$(cd "${1:-$(dirname "$0")/..}" && pwd)
suite=bookworm
skip() {
  echo "fresh-machine quick start: skipped: $*"
  exit 0
}

# The first Debian archive (not the security one) that the apt sources give
# for the suite, in the one-line or the deb822 form.
debian_mirror() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -r "$f" ] || continue
    awk -v suite="$suite" '$1 == "deb" {
        for (i = 2; i <= NF; ++i) if ($i !~ /^\[/) break
        if ($(i + 1) == suite && $i !~ /security/) { print $i; exit }
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -r "$f" ] || continue
    # Stanzas are separated by blank lines; keep the URIs of one whose Suites
    # holds the suite itself.
    awk -v suite="$suite" 'BEGIN { RS = ""; FS = "\n" } {
        uri = ""; ok = 0; enabled = 1
        for (i = 1; i <= NF; ++i) {
          if ($i ~ /^URIs:/) { split($i, u, /[ \t]+/); uri = u[2] }
          if ($i ~ /^Suites:/) { n = split($i, s, /[ \t]+/); for (k = 2; k <= n; ++k) if (s[k] == suite) ok = 1 }
          if ($i ~ /^Enabled:[ \t]*no/) enabled = 0
        }
        if (ok && enabled && uri != "" && uri !~ /security/) { print uri; exit }
      }' "$f"
  done
}

[ "$(id -u)" = 0 ] || skip "it needs root for debootstrap and chroot"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
mirror=$(debian_mirror | head -n 1)
[ -n "$mirror" ] || skip "the apt sources name no Debian mirror for $suite"

start=$SECONDS
root=$(mktemp -d /var/tmp/rawframes-fresh.XXXXXX)
cleanup() {
  local status=$? pid
  # Whatever still runs inside the root (a hung test, say) is stopped first,
  # so that nothing holds the mounts.
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -9 "$pid" 2>/dev/null
  done
  for m in dev/pts proc; do
    if mountpoint -q "$root/$m"; then umount "$root/$m" || umount -l "$root/$m"; fi
  done
  rm -rf --one-file-system "$root"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "fresh-machine quick start: debootstrap --variant=minbase $suite from $mirror"
if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" > "$root.log" 2>&1; then
  tail -n 5 "$root.log"
  rm -f "$root.log"
  skip "debootstrap could not make a $suite root from $mirror"
fi
rm -f "$root.log"
echo "root made in $((SECONDS - start)) s"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mkdir -p "$root/dev/pts"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"

# A clean clone of what is committed, where a new user would have it.
git clone -q "$source" "$root/root/rawframes"

# The quick start's commands: the indented lines of the README's section.
commands=$(awk '/^## Quick start/ { on = 1; next } /^## / { on = 0 }
  on && /^    [^ ]/ { sub(/^    /, ""); print }' "$root/root/rawframes/README.md")
[ -n "$commands" ] || { echo "the README has no quick-start commands"; exit 1; }
echo "running, as the README writes them:"
printf '    %s\n' "$commands"
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -euo pipefail -c "cd /root/rawframes
$commands"
picture=$root/root/rawframes/demo/frame0.ppm
[ -s "$picture" ] || { echo "the demonstration left no picture demo/frame0.ppm"; exit 1; }
echo "fresh-machine quick start: both commands succeeded and demo/frame0.ppm exists" \
  "($((SECONDS - start)) s in all)"
