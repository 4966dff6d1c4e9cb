#!/usr/bin/env bash
# The Debian package as built by scripts/package, checked without installing it: its
# control data (version, dependencies found by dpkg-shlibdeps, the template a conffile),
# every file it should hold and nothing else, the programs run from the package unpacked
# into a folder of the test's own (varnel-cli scanning simulated controllers on the
# loopback adapter), the AppStream metadata, the desktop entry, the manual pages, the
# completion, and lintian without errors.
#   deb_test.sh DEB
set -uo pipefail
deb="$(realpath "$1")"
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
sim=""
cleanup() {
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

version="$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' "$root_dir/CMakeLists.txt")"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "varnel_${version}_${arch}.deb" ] || fail "the package is named $(basename "$deb")"

# --- control data -------------------------------------------------------------------
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = varnel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends="$(field Depends)"
names="$(sed 's/, /\n/g' <<<"$depends" | awk '{print $1}')"
for library in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libexpat1 libinih1 zlib1g libstdc++6; do
  grep -qxF "$library" <<<"$names" || fail "Depends lacks $library: $depends"
done
grep -q '\${' <<<"$depends" && fail "Depends holds an unresolved variable: $depends"
dpkg-deb --info "$deb" conffiles | grep -qx /etc/varnel/varnel.ini || fail "the template is no conffile"
pass "control: varnel $version $arch, Depends: $depends"

# --- contents -----------------------------------------------------------------------
contents="$(dpkg-deb --contents "$deb")"
paths="$(awk '{print $6}' <<<"$contents" | sed 's|^\./|/|; s|/$||' | grep -v '^$' | sort)"
expected=(
  /usr/bin/varnel /usr/bin/varnel-cli /usr/bin/varnel-sim /usr/bin/varnel.ini
  /etc/varnel/varnel.ini
  /usr/share/applications/varnel.desktop
  /usr/share/metainfo/example.morvane.varnel.metainfo.xml
  /usr/share/man/man1/varnel.1.gz /usr/share/man/man1/varnel-cli.1.gz /usr/share/man/man1/varnel-sim.1.gz
  /usr/share/bash-completion/completions/varnel-cli
  /usr/share/doc/varnel/copyright /usr/share/doc/varnel/changelog.gz
  /usr/share/lintian/overrides/varnel
  /usr/share/icons/hicolor/scalable/apps/varnel.svg
)
for size in 16 22 24 32 48 64 96 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/varnel.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$paths" || fail "the package lacks $path"
done
# Nothing beyond them but their folders: no libraries, headers or build leftovers.
files="$(awk '$1 !~ /^d/ {print $6}' <<<"$contents" | sed 's|^\./|/|' | sort)"
extra="$(comm -23 <(echo "$files") <(printf '%s\n' "${expected[@]}" | sort))"
[ -z "$extra" ] || fail "the package holds more: $extra"
grep -qE '^-rwxr-xr-x root/root .* \./usr/bin/varnel-cli$' <<<"$contents" \
  || fail "varnel-cli is not an executable of root"
grep -qE '^lrwxrwxrwx .* \./usr/bin/varnel\.ini -> /etc/varnel/varnel\.ini$' <<<"$contents" \
  || fail "/usr/bin/varnel.ini does not lead to /etc/varnel/varnel.ini"
pass "contents: ${#expected[@]} files where they belong"

# --- the programs, unpacked ---------------------------------------------------------
root="$work/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
out="$("$bin/varnel-cli" --version 2>&1)"
[ "$out" = "varnel-cli $version" ] || fail "varnel-cli --version says: $out"
out="$("$bin/varnel-sim" --help 2>&1)" || fail "varnel-sim --help failed: $out"
grep -q '^Usage: varnel-sim ' <<<"$out" || fail "varnel-sim --help shows no usage: $out"
out="$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$bin/varnel" --version 2>&1)"
[ "$out" = "Varnel $version" ] || fail "varnel --version says: $out"
out="$("$bin/varnel-cli" tabs --template "$root/etc/varnel/varnel.ini" 2>&1)"
grep -q '^Process ' <<<"$out" || fail "the packaged template has no tab Process: $out"
pass "varnel-cli --version, varnel-sim --help, varnel --version (offscreen), the template's tabs"

# A scan on the loopback adapter finds the packaged simulator's controllers.
"$bin/varnel-sim" --controllers 2 --base-nad 10 --port 0 >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 1 50); do
  [ "$(grep -c '^NAD ' "$work/sim.out")" -ge 2 ] && break
  sleep 0.1
done
port="$(sed -n 's/^NAD 10 at 127\.0\.0\.10:\([0-9]*\)$/\1/p' "$work/sim.out")"
if [ -z "$port" ]; then
  fail "varnel-sim did not start: $(cat "$work/sim.out")"
else
  out="$("$bin/varnel-cli" scan --adapter lo --port "$port" --json 2>&1)"
  grep -q '"nad":10' <<<"$out" && grep -q '"nad":11' <<<"$out" \
    || fail "varnel-cli scan --adapter lo did not find NADs 10 and 11: $out"
  pass "varnel-cli scan --adapter lo finds the simulated controllers"
fi

# --- metadata, desktop entry, manual pages, completion ------------------------------
metainfo="$root/usr/share/metainfo/example.morvane.varnel.metainfo.xml"
out="$(appstreamcli validate --no-net "$metainfo" 2>&1)" || fail "appstreamcli validate: $out"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the AppStream releases lack $version"
out="$(desktop-file-validate "$root/usr/share/applications/varnel.desktop" 2>&1)" \
  || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
pass "appstreamcli validate and desktop-file-validate"
if command -v man >/dev/null; then
  for program in varnel varnel-cli varnel-sim; do
    out="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$program.1.gz" 2>&1)"
    grep -q "^NAME" <<<"$out" && grep -q "^EXIT STATUS" <<<"$out" || fail "man $program: $out"
  done
  pass "the manual pages render"
fi
out="$(bash -c 'source "$1"; complete -p varnel-cli' _ \
  "$root/usr/share/bash-completion/completions/varnel-cli" 2>&1)"
[ "$out" = "complete -F _varnel_cli varnel-cli" ] || fail "the completion does not load: $out"
pass "the completion loads"

# --- lintian ------------------------------------------------------------------------
if command -v lintian >/dev/null; then
  # Warnings are shown; an error fails. lintian complains of being run as root, which CI is.
  out="$(lintian --fail-on error --display-info "$deb" 2>&1)" || fail "lintian: $out"
  out="$(grep -v '^running with root privileges' <<<"$out")"
  [ -z "$out" ] && pass "lintian: nothing to say" || echo "lintian says: $out"
else
  fail "lintian is not installed (scripts/install-deps)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "PASS: $(basename "$deb")"
