#!/usr/bin/env bash
# `make deb` as CI checks it: CPack's three packages from this build, each holding what it
# should (and not its neighbours' files), the libraries' shlibs and the version dependencies
# between them, and lintian without errors. Nothing is installed on this machine.
#   package_test.sh BUILD_DIR
set -uo pipefail
build="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v lintian >/dev/null || { echo "lintian is not installed (package lintian)"; exit 77; }

(cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; fail "cpack"; }
version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"

# package | a path it holds (extended regex on the listing) | "!" when it must not hold it
table='
libqx1    | usr/lib/(.*/)?libqx-udps\.so\.1( .*)?$       |
libqx1    | usr/lib/(.*/)?libqx-mastervol\.so\.1\.0\.0$ |
libqx1    | usr/lib/(.*/)?libqx-core\.so\.1( .*)?$       |
libqx1    | usr/lib/(.*/)?libqx-ui\.so\.1( .*)?$         |
libqx1    | usr/lib/(.*/)?libqx-audio\.so\.1( .*)?$      |
libqx1    | usr/lib/(.*/)?libqx-udps-design\.so\.1( .*)?$ |
libqx1    | usr/lib/(.*/)?libqx-signed\.so\.1( .*)?$     |
libqx1    | usr/lib/(.*/)?libqx-framework\.             | !
libqx1    | usr/lib/(.*/)?libqx-platform\.              | !
libqx1    | usr/share/doc/libqx1/copyright$            |
libqx1    | \.so( .*)?$                                | !
libqx1    | usr/include/                               | !
libqx-dev | usr/include/qx/udp_link/QxUDPS\.h$         |
libqx-dev | usr/include/qx/master_volume/QxMasterVol\.h$ |
libqx-dev | usr/include/qx/Version\.h$                 |
libqx-dev | usr/lib/(.*/)?pkgconfig/qx-udps\.pc$       |
libqx-dev | usr/lib/(.*/)?pkgconfig/qx-mastervol\.pc$  |
libqx-dev | usr/lib/(.*/)?cmake/Qx/QxConfig\.cmake$    |
libqx-dev | usr/share/doc/qx/examples/udp-echo/        |
libqx-dev | usr/lib/(.*/)?libqx-udps\.so -> libqx-udps\.so\.1$ |
libqx-dev | usr/lib/(.*/)?libqx-core\.so -> libqx-core\.so\.1$ |
libqx-dev | usr/lib/(.*/)?libqx-udps-design\.so( .*)?$ | !
libqx-dev | \.so\.1\.0\.0$                             | !
qxvolumed | usr/bin/qxvolumed$                         |
qxvolumed | usr/bin/qxdesign$                          |
qxvolumed | usr/share/man/man1/qxvolumed\.1\.gz$       |
qxvolumed | usr/share/man/man1/qxudp\.1\.gz$           |
qxvolumed | usr/lib/systemd/user/qxvolumed\.service$   |
qxvolumed | usr/lib/(.*/)?libqx                        | !
'
failures=0
while IFS='|' read -r pkg path not; do
  pkg="$(echo $pkg)" path="$(echo $path)" not="$(echo $not)"
  [ -n "$pkg" ] || continue
  deb="$(ls "$out/${pkg}_${version}_"*.deb 2>/dev/null)"
  [ -f "$deb" ] || fail "no package $pkg"
  [ -f "$out/$pkg.list" ] || dpkg-deb --contents "$deb" | sed 's/.* \.\///' >"$out/$pkg.list"
  if grep -Eq "$path" "$out/$pkg.list"; then found=yes; else found=no; fi
  if [ "$found" = yes ] && [ "$not" = "!" ]; then
    echo "FAIL: $pkg holds $path: $(grep -E "$path" "$out/$pkg.list" | head -3)"
    failures=$((failures + 1))
  elif [ "$found" = no ] && [ "$not" != "!" ]; then
    echo "FAIL: $pkg lacks $path"
    failures=$((failures + 1))
  fi
done <<<"$table"

deb() { ls "$out/${1}_${version}_"*.deb; }
dpkg-deb --fsys-tarfile "$(deb qxvolumed)" | tar -xO ./usr/lib/systemd/user/qxvolumed.service |
  grep -qx 'ExecStart=/usr/bin/qxvolumed' || fail "the packaged service does not start /usr/bin/qxvolumed"
dpkg-deb --ctrl-tarfile "$(deb libqx1)" | tar -xO ./shlibs | grep -qx "libqx-udps 1 libqx1 (>= $version)" ||
  fail "libqx1 has no shlibs entry for libqx-udps"
for pkg in libqx-dev qxvolumed; do
  dpkg-deb -f "$(deb "$pkg")" Depends | grep -q "libqx1 (= $version)" || fail "$pkg does not depend on libqx1 $version"
done
dpkg-deb -f "$(deb qxvolumed)" Depends | grep -q "libmosquitto1" || fail "qxvolumed does not depend on libmosquitto1"

lintian --fail-on error "$out"/*.deb >"$out/lintian.log" 2>&1 ||
  { cat "$out/lintian.log"; fail "lintian reports errors"; }
cat "$out/lintian.log"
ls -l "$out"/*.deb | awk '{print $5, $9}' | sed "s|$out/||"
[ "$failures" -eq 0 ] || exit 1
echo "packages: ok"
