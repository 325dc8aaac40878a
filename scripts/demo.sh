#!/usr/bin/env bash
# The demo: alarm-bridge against the message-server simulator with its built-in data set, in
# demo-run/. Prints the addresses and ready-to-paste requests, then runs until Ctrl-C, which
# stops both programs. Lines typed here go to the simulator as commands (try: help).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

echo "== building alarm-bridge and msgserver-sim"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target alarm-bridge msgserver-sim >/dev/null
bridge_bin=$root/build/app/alarm-bridge
sim_bin=$root/build/tools/msgserver/msgserver-sim
data=tools/msgserver/demo/demo.json  # relative, for shorter lines: the simulator starts here

run=$root/demo-run
mkdir -p "$run"
rm -f "$run/sim.in"
mkfifo "$run/sim.in"

# The usual ports when they are free, other free ones otherwise.
read -r udp_port http_port < <(python3 - <<'EOF'
import socket

def free(kind, port):
    s = socket.socket(socket.AF_INET, kind)
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port

print(free(socket.SOCK_DGRAM, 12543), free(socket.SOCK_STREAM, 8090))
EOF
)
user=demo
password=demo-spi
# setup.ini is in the console's code page, as on its Windows home.
iconv -f UTF-8 -t CP1251 >"$run/setup.ini" <<EOF
[ServerHost]
Address=127.0.0.1
Port=$udp_port

[main]
IP=127.0.0.1
Port=$http_port
UserName=$user
Password=$password
companyName=ООО «Демо-Сервис»
companyPhone=+7 343 000-00-00
companyAddress=г. Екатеринбург, ул. Ленина, д. 1
EOF

sim_pid=
bridge_pid=
tail_pid=
stopping=
stop_all() {
  [[ -n $stopping ]] && return
  stopping=1
  # The driver first, so that it says goodbye to a server that still listens.
  if [[ -n $bridge_pid ]] && kill -0 "$bridge_pid" 2>/dev/null; then
    kill -TERM "$bridge_pid" 2>/dev/null || true
    wait "$bridge_pid" 2>/dev/null || true
  fi
  if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  # tail ends by itself once the simulator has gone, after showing its last lines.
  [[ -n $tail_pid ]] && { wait "$tail_pid" 2>/dev/null || true; }
  exec 3>&- || true
  rm -f "$run/sim.in"
}
trap 'stop_all; echo; echo "== demo stopped"; exit 0' INT TERM
trap stop_all EXIT

# Opened both ways so that neither side waits for the other; lines typed here go through it.
# Both programs run in sessions of their own, so that Ctrl-C reaches only this script, which
# then stops them in order.
exec 3<>"$run/sim.in"
setsid "$sim_bin" --port "$udp_port" --data "$data" <&3 >"$run/msgserver-sim.log" 2>&1 &
sim_pid=$!

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  mode=(); mode_text="with its window"
else
  mode=(--headless); mode_text="headless"
fi
(cd "$run" && exec setsid "$bridge_bin" "${mode[@]}" </dev/null >"$run/alarm-bridge.log" 2>&1) &
bridge_pid=$!

echo "== waiting for alarm-bridge ($mode_text) to link to the simulator and answer HTTP"
base=http://127.0.0.1:$http_port
ready=
for _ in $(seq 1 120); do
  if ! kill -0 "$sim_pid" 2>/dev/null || ! kill -0 "$bridge_pid" 2>/dev/null; then
    break
  fi
  if curl -s -o /dev/null -m 2 "$base/GetObjects"; then
    ready=1
    break
  fi
  sleep 0.5
done
if [[ -z $ready ]]; then
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: msgserver-sim ended early." >&2
  elif ! kill -0 "$bridge_pid" 2>/dev/null; then
    echo "demo: alarm-bridge ended early." >&2
  else
    echo "demo: alarm-bridge did not answer on $base within 60 s." >&2
  fi
  echo "  simulator log:    demo-run/msgserver-sim.log" >&2
  echo "  alarm-bridge log: demo-run/alarm-bridge.log (and demo-run/logs/)" >&2
  tail -n 5 "$run/msgserver-sim.log" "$run/alarm-bridge.log" >&2 || true
  exit 1
fi

picture=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["pictures"][0]["id"])' "$data")
soap='<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/" xmlns:ns="urn://alarm-bridge/services/spi/types/1.1"><soapenv:Header/><soapenv:Body><ns:GetCurrentStateReq><Obj id="101"/><Obj id="102"/></ns:GetCurrentStateReq></soapenv:Body></soapenv:Envelope>'
cat <<EOF

alarm-bridge is up ($mode_text), linked to msgserver-sim on UDP port $udp_port.
  Safe City:  $base/GetObjects   $base/GetEvents   $base/GetPicture&n=$picture
  SPI (SOAP): $base/spi   user $user, password $password
  Folder:     demo-run/ (setup.ini, logs/, alarm-bridge.log, msgserver-sim.log)

Try, in another terminal:
  curl -s $base/GetObjects | jq '.[0]'
  curl -s -d '{"inc_counter":"0"}' $base/GetEvents
  curl -s -o plan.png '$base/GetPicture&n=$picture'
  curl -s -u $user:$password -d '$soap' $base/spi

Type simulator commands here (help, event, change 101 name=..., status); Ctrl-C stops both.
What the simulator sees:
EOF
tail -n +1 -f --pid="$sim_pid" "$run/msgserver-sim.log" &
tail_pid=$!

# Forward typed lines to the simulator; without a terminal just wait for Ctrl-C.
if [[ -t 0 ]]; then
  while IFS= read -r line; do
    printf '%s\n' "$line" >&3
    kill -0 "$sim_pid" 2>/dev/null || break
  done
fi
wait -n "$sim_pid" "$bridge_pid" || true
echo "demo: a program ended on its own; see demo-run/msgserver-sim.log and demo-run/alarm-bridge.log" >&2
exit 1
