#!/usr/bin/env bash
# package_test.sh <build-folder> <version>: builds the .deb with CPack, checks its file list and
# control data, unpacks it into a scratch root and runs the packaged binaries from there, and
# checks that `cmake --install` into another scratch root gives the same files.
set -euo pipefail
build=$(realpath "$1")
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) \
  || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'alarm-bridge_*.deb' | head -n 1)
[[ -n "$deb" ]] || fail "no package in $work/out"

dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|; s|/$||' | sort >"$work/files"
for f in /usr/bin/alarm-bridge /usr/bin/msgserver-sim /etc/alarm-bridge/setup.ini \
    /usr/lib/systemd/system/alarm-bridge.service /usr/share/doc/alarm-bridge/README.md \
    /usr/share/doc/alarm-bridge/setup.ini.example /usr/share/doc/alarm-bridge/DATASET.md \
    /usr/share/doc/alarm-bridge/OPERATIONS.md \
    /usr/share/doc/alarm-bridge/PERFORMANCE.md /usr/share/doc/alarm-bridge/RELIABILITY.md; do
  grep -qx "$f" "$work/files" || { cat "$work/files"; fail "missing $f"; }
done
# Nothing outside the places a Debian package may use.
if grep -vE '^/$|^/(usr|etc)(/|$)' "$work/files"; then fail "files outside /usr and /etc"; fi
# The configuration holds passwords: not world-readable.
perm=$(dpkg-deb -c "$deb" | awk '$NF=="./etc/alarm-bridge/setup.ini"{print $1}')
[[ "$perm" == "-rw-r-----" ]] || fail "setup.ini has mode $perm"

[[ "$(dpkg-deb -f "$deb" Package)" == alarm-bridge ]] || fail "package name"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for d in adduser libc6 libssl3 zlib1g; do
  [[ "$depends" == *"$d"* ]] || fail "Depends lacks $d: $depends"
done
mkdir -p "$work/control"
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/alarm-bridge/setup.ini "$work/control/conffiles" || fail "setup.ini is not a conffile"
for s in postinst prerm postrm; do
  [[ -x "$work/control/$s" ]] || fail "$s missing or not executable"
  sh -n "$work/control/$s" || fail "$s has a syntax error"
done

# Unpacked into a scratch root, the binaries run and the unit points at them.
root="$work/root"
dpkg-deb -x "$deb" "$root"
out=$("$root/usr/bin/alarm-bridge" --version) || fail "alarm-bridge --version failed"
[[ "$out" == "alarm-bridge $version" ]] || fail "version text '$out'"
"$root/usr/bin/msgserver-sim" --help >/dev/null || fail "msgserver-sim --help failed"
unit="$root/usr/lib/systemd/system/alarm-bridge.service"
grep -qx 'ExecStart=/usr/bin/alarm-bridge --headless' "$unit" || fail "ExecStart in the unit"
grep -qx 'WorkingDirectory=/var/lib/alarm-bridge' "$unit" || fail "WorkingDirectory in the unit"
grep -qx 'User=alarm-bridge' "$unit" || fail "User in the unit"
grep -qx 'Restart=on-failure' "$unit" || fail "Restart in the unit"
grep -qx 'KillSignal=SIGTERM' "$unit" || fail "KillSignal in the unit"

# The packaged example configuration, used as it is, gives the defaults: no status line about it.
mkdir -p "$work/run"
cp "$root/etc/alarm-bridge/setup.ini" "$work/run/setup.ini"
(cd "$work/run" && exec "$root/usr/bin/alarm-bridge" --headless >"$work/run.out" 2>&1) &
pid=$!
sleep 2
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[[ $status -eq 0 ]] || { cat "$work/run.out"; fail "alarm-bridge exited $status on SIGTERM"; }
if grep -q 'setup.ini' "$work/run.out"; then cat "$work/run.out"; fail "example setup.ini rejected"; fi

# The packaged simulator and driver work together from the scratch root: the driver links,
# loads the built-in demo set and serves it.
http_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/pair"
(exec "$root/usr/bin/msgserver-sim" --port 0 --event-every 0 </dev/null >"$work/sim.out" 2>&1) &
sim=$!
for _ in $(seq 100); do
  udp_port=$(sed -n 's/.*UDP port \([0-9]*\).*/\1/p' "$work/sim.out" | head -n 1)
  [[ -n "$udp_port" ]] && break
  sleep 0.1
done
[[ -n "$udp_port" ]] || { kill "$sim"; cat "$work/sim.out"; fail "simulator did not start"; }
printf '[ServerHost]\nAddress=127.0.0.1\nPort=%s\n[main]\nPort=%s\n' "$udp_port" "$http_port" \
  >"$work/pair/setup.ini"
(cd "$work/pair" && exec "$root/usr/bin/alarm-bridge" --headless >"$work/pair.out" 2>&1) &
bridge=$!
objects=""
for _ in $(seq 300); do
  objects=$(curl -s -m 5 "http://127.0.0.1:$http_port/GetObjects" | jq length 2>/dev/null) && \
    [[ -n "$objects" ]] && break
  sleep 0.1
done
kill -TERM "$bridge" "$sim"
wait "$bridge" "$sim" || true
[[ "$objects" =~ ^[0-9]+$ && "$objects" -gt 0 ]] || {
  cat "$work/pair.out" "$work/sim.out"; fail "the packaged pair served no objects"; }

# cmake --install lays out the same files as the package.
DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 \
  || { cat "$work/install.log"; fail "cmake --install failed"; }
(cd "$work/destdir" && find . -mindepth 1 | sed 's|^\./|/|' | sort) >"$work/installed"
grep -v '^/$' "$work/files" | diff - "$work/installed" || fail "cmake --install differs from the package"
echo "package_test: $(basename "$deb"): $(wc -l <"$work/files") entries, $objects objects served, all checks passed"
