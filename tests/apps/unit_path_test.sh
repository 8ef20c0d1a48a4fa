#!/usr/bin/env bash
# Where `make install` puts the user service, for each kind of prefix: where systemd's user
# manager looks (the home folder's own place, /usr, /usr/local), else systemd's folder under the
# prefix; and the service starts the daemon installed under that prefix.
#   unit_path_test.sh BUILD_DIR
set -uo pipefail
build="$1"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
failures=0

# HOME | prefix | where the service lands | the daemon it starts
cases='
/home/ann | /home/ann/.local | /home/ann/.local/share/systemd/user | /home/ann/.local/bin/qxvolumed
/home/ann | /home/ann | /home/ann/.local/share/systemd/user | /home/ann/bin/qxvolumed
/home/ann | /home/ann/.local/ | /home/ann/.local/share/systemd/user | /home/ann/.local/bin/qxvolumed
/home/ann | /home/annex/.local | /home/annex/.local/lib/systemd/user | /home/annex/.local/bin/qxvolumed
/home/ann | /usr | /usr/lib/systemd/user | /usr/bin/qxvolumed
/home/ann | /usr/local | /usr/local/lib/systemd/user | /usr/local/bin/qxvolumed
/home/ann | /opt/qx | /opt/qx/lib/systemd/user | /opt/qx/bin/qxvolumed
/ | /usr/local | /usr/local/lib/systemd/user | /usr/local/bin/qxvolumed
'
while IFS='|' read -r home prefix dir daemon; do
  home="$(echo $home)" prefix="$(echo $prefix)" dir="$(echo $dir)" daemon="$(echo $daemon)"
  [ -n "$prefix" ] || continue
  rm -rf "$stage/root"
  HOME="$home" DESTDIR="$stage/root" cmake --install "$build" --prefix "$prefix" --component unit \
    >"$stage/log" 2>&1 || { cat "$stage/log"; failures=$((failures + 1)); continue; }
  got="$(cd "$stage/root" && find . -name qxvolumed.service | sed 's|^\.||')"
  if [ "$got" != "$dir/qxvolumed.service" ]; then
    echo "FAIL: HOME=$home prefix $prefix: expected $dir/qxvolumed.service, got '$got'"
    failures=$((failures + 1))
  elif ! grep -qx "ExecStart=$daemon" "$stage/root$got"; then
    echo "FAIL: HOME=$home prefix $prefix: $(grep ExecStart "$stage/root$got"), expected $daemon"
    failures=$((failures + 1))
  fi
done <<<"$cases"
# The installed unit with the README's MQTT drop-in (a broker reached, the password a credential)
# stays hardened: systemd's exposure score below 2.
if command -v systemd-analyze >/dev/null; then
  rm -rf "$stage/root"
  DESTDIR="$stage/root" cmake --install "$build" --prefix /usr --component unit >/dev/null 2>&1
  { cat "$stage/root/usr/lib/systemd/user/qxvolumed.service"
    printf '[Service]\nLoadCredential=mqtt-password:%%h/.config/qxvolumed/mqtt-password\n'
    printf 'ExecStart=\nExecStart=/usr/bin/qxvolumed --mqtt mqtt://volume@broker.lan:1883\n'
  } >"$stage/qxvolumed.service"
  score="$(systemd-analyze security --offline=true "$stage/qxvolumed.service" 2>/dev/null |
    sed -n 's/.*Overall exposure level for qxvolumed.service: \([0-9.]*\).*/\1/p')"
  if ! awk -v s="$score" 'BEGIN { exit !(s != "" && s < 2) }'; then
    echo "FAIL: the unit with the MQTT drop-in scores '$score' in systemd-analyze security"
    failures=$((failures + 1))
  fi
fi
[ "$failures" -eq 0 ] && echo "unit path: ok"
exit "$failures"
