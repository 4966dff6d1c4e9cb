# Shared by the scripts: the repository root, and install-deps when a tool is missing.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ensure_deps() {
  if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v clang++ >/dev/null \
     || [ ! -e /usr/include/CLI/CLI.hpp ] || [ ! -e /usr/include/gtest/gtest.h ] \
     || [ ! -e /usr/include/expat.h ] || [ ! -e /usr/include/ini.h ] || [ ! -e /usr/include/nlohmann/json.hpp ] \
     || ! pkg-config --exists Qt6Widgets 2>/dev/null || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null \
     || ! command -v import >/dev/null || [ ! -e /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ]; then
    "$root/scripts/install-deps"
  fi
}
# What building and checking the Debian package needs besides (scripts/package).
ensure_package_deps() {
  ensure_deps
  if ! command -v dpkg-buildpackage >/dev/null || ! command -v dh >/dev/null \
     || ! command -v lintian >/dev/null || ! command -v appstreamcli >/dev/null \
     || ! command -v man >/dev/null || [ ! -e /usr/share/bash-completion/bash_completion ]; then
    "$root/scripts/install-deps"
  fi
}
jobs() { nproc 2>/dev/null || echo 2; }
