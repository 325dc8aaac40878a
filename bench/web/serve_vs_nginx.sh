#!/usr/bin/env bash
# /GetObjects with 10,000 objects: alarm-bridge's HTTP server (the real WebApi over filled
# tables) against nginx serving the same body as a static file, both under the same wrk load in
# the same run (one request per connection); then ours again while 1,000 idle connections are
# held open, silent and with a partial request line.
# Usage: bench/web/serve_vs_nginx.sh [build-folder] [seconds] [rounds]
# The two servers take turns, `rounds` times (default 2), so that a change of the machine's load
# during the run shows as a difference between rounds rather than as a difference between servers.
# Installs wrk and nginx with apt-get when missing; the package's own nginx service is kept
# from starting. Our nginx runs from a temporary folder on a free port and is stopped at exit.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
secs=${2:-20}
rounds=${3:-2}
server_bin="$build/bench/web/web_objects_server"
[[ -x $server_bin ]] || { echo "build $server_bin first (ninja -C $build web_objects_server)"; exit 1; }

install_missing() {
  local need=()
  command -v wrk >/dev/null || need+=(wrk)
  command -v nginx >/dev/null || [[ -x /usr/sbin/nginx ]] || need+=(nginx)
  ((${#need[@]})) || return 0
  local policy=/usr/sbin/policy-rc.d made_policy=0
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod +x "$policy"
    made_policy=1
  fi
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  ((made_policy)) && rm -f "$policy"
  # Should a service have started anyway, stop it; it answers on port 80, not ours.
  if [[ -s /run/nginx.pid ]]; then /usr/sbin/nginx -s quit 2>/dev/null || true; fi
}
install_missing
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

tmp=$(mktemp -d /tmp/ab-serve-XXXXXX)
chmod 755 "$tmp"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Waits up to 120 s for a line starting with $2 in file $1 and prints its second word.
await_word() {
  for _ in $(seq 1200); do
    if grep -q "^$2 " "$1" 2>/dev/null; then
      awk -v k="$2" '$1 == k { print $2; exit }' "$1"
      return 0
    fi
    sleep 0.1
  done
  echo "timed out waiting for '$2' in $1" >&2
  return 1
}

# ---- our server, which also writes the body that nginx serves ----
"$server_bin" --body "$tmp/GetObjects.json" >"$tmp/ours.out" 2>&1 &
pids+=($!)
ours_port=$(await_word "$tmp/ours.out" port)

# ---- nginx ----
nginx_port=$(free_port)
mkdir -p "$tmp/nginx/logs"
cat >"$tmp/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    location = /GetObjects {
      default_type "text/json; charset=utf-8";
      alias $tmp/GetObjects.json;
    }
  }
}
EOF
"$nginx_bin" -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)

for port in "$ours_port" "$nginx_port"; do
  for _ in $(seq 100); do
    curl -sf -o "$tmp/check.json" "http://127.0.0.1:$port/GetObjects" && break
    sleep 0.1
  done
  cmp -s "$tmp/check.json" "$tmp/GetObjects.json" || { echo "port $port: wrong body"; exit 1; }
done
echo "body: $(stat -c %s "$tmp/GetObjects.json") bytes, identical from both servers"

# Runs wrk; prints "requests/s p99-ms errors".
load() {
  wrk -c 4 -t 2 -d "${secs}s" -H 'Connection: close' --latency \
    "http://127.0.0.1:$1/GetObjects" >"$tmp/wrk.out" 2>&1
  awk '
    function ms(v) {
      if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000
      return v }
    $1 == "Requests/sec:" { rps = $2 }
    $1 == "99%" { p99 = ms($2) }
    /Non-2xx|Socket errors/ { err = err $0 "; " }
    END { printf "%.1f %.2f %s\n", rps, p99, (err == "" ? "none" : err) }' "$tmp/wrk.out"
}

# Load on our server while $1 idle connections are held open in mode $2.
with_idle() {
  python3 bench/web/idle_connections.py "$ours_port" "$1" "$2" >"$tmp/idle.out" 2>&1 &
  local holder=$!
  pids+=($holder)
  await_word "$tmp/idle.out" open >/dev/null
  load "$ours_port"
  kill -TERM "$holder"
  wait "$holder" || true
  echo "    idle connections still open after the run: $(await_word "$tmp/idle.out" still-open)"
}

for round in $(seq "$rounds"); do
  read -r n_rps n_p99 n_err < <(load "$nginx_port")
  echo "round $round nginx:        $n_rps req/s, p99 $n_p99 ms, errors: $n_err"
  read -r o_rps o_p99 o_err < <(load "$ours_port")
  echo "round $round alarm-bridge: $o_rps req/s, p99 $o_p99 ms, errors: $o_err"
  awk -v o="$o_rps" -v n="$n_rps" -v op="$o_p99" -v np="$n_p99" -v r="$round" 'BEGIN {
    printf "round %d ratio to nginx: requests/s %.2f (goal >= 0.5), p99 %.2f (goal <= 3)\n",
      r, o / n, op / np }'
done
for mode in silent partial; do
  with_idle 1000 "$mode" >"$tmp/idle_run.out"
  read -r i_rps i_p99 i_err < <(head -1 "$tmp/idle_run.out")
  echo "ours, 1000 idle ($mode): $i_rps req/s, p99 $i_p99 ms, errors: $i_err"
  tail -1 "$tmp/idle_run.out"
  awk -v i="$i_rps" -v o="$o_rps" 'BEGIN {
    printf "    throughput against no idle connections: %.2f (goal >= 0.8)\n", i / o }'
done
