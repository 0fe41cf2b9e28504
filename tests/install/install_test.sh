#!/usr/bin/env bash
# Installs the build into a staging folder, builds a tiny host against the installed header
# through pkg-config and lets it load the installed plug-in; runs the installed tznhost, which
# must find the plug-in in the installation's library folder; then builds the .deb, checks its
# declared dependencies, unpacks it into a staging root and runs its tznhost the same way.
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d /tmp/tzninstall.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A host configuration and the version question, against the tznhost under $1.
check_host() {
  local bin=$1 what=$2 out
  mkdir -p "$work/run-$what"
  printf '[Host]\nSide=station\nStationCode=12\nDataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n' \
    >"$work/run-$what/host.ini"
  out=$(cd "$work/run-$what" && TZN_ROOT="$work/run-$what" "$bin/tznhost" --config host.ini \
    --headless version menu 2>&1) || fail "$what: tznhost did not load its plug-in: $out"
  grep -q '^8\.01 ' <<<"$out" || fail "$what: no version from the plug-in: $out"
  grep -q 'Получить почту' <<<"$out" || fail "$what: no menu commands: $out"
  echo "ok: $what tznhost finds and loads its plug-in"
}

# 1. cmake --install into a prefix of its own.
stage=$work/stage
cmake --install "$build" --prefix "$stage" >/dev/null
# shellcheck disable=SC2016 # the literal ${prefix} of the .pc file
libdir=$(sed -n 's/^libdir=${prefix}\///p' "$build/tznmail.pc")
for f in bin/tznhost bin/tznmail "$libdir/libtznmail.so" include/tznmail/host.h \
         "$libdir/pkgconfig/tznmail.pc"; do
  [ -f "$stage/$f" ] || fail "cmake --install did not put $f in place"
done
echo "ok: installed tree complete ($libdir)"

# 2. A host author's build: only pkg-config's answer, no path into the source tree.
export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig
[ "$(pkg-config --modversion tznmail)" = "8.01" ] || fail "pkg-config version"
plugin=$(pkg-config --variable=plugin tznmail)
# shellcheck disable=SC2046
g++ -o "$work/tiny_host" "$src/tests/install/tiny_host.cpp" $(pkg-config --cflags --libs tznmail) \
  || fail "the tiny host does not build against the installed header"
[ "$("$work/tiny_host" "$plugin")" = "8.01" ] || fail "the tiny host cannot use $plugin"
echo "ok: tiny host built with pkg-config loads $plugin"
check_host "$stage/bin" installed

# 3. The .deb: built by CPack, dependencies declared, unpacked into a staging root.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) \
  || { cat "$work/cpack.log" >&2; fail "cpack could not build the .deb"; }
deb=$(ls "$work"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libssl3 qt6-qpa-plugins; do
  grep -q "$p" <<<"$depends" || fail "the .deb does not depend on $p: $depends"
done
echo "ok: $(basename "$deb") depends on: $depends"
dpkg-deb -x "$deb" "$work/root"
[ -f "$work/root/usr/include/tznmail/host.h" ] || fail "the .deb has no header"
check_host "$work/root/usr/bin" packaged
echo "install test: every check passed"
