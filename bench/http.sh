#!/usr/bin/env bash
# HTTP throughput of vornd beside nginx: both serve the same static file on
# loopback ports, and wrk (10 s, 2 threads, 8 then 64 connections) measures
# requests per second against each, then against IPP POSTs to vornd
# (VORN-Get-Printers, and Get-Printer-Attributes with five requested
# attributes and its 99th latency percentile). Prints the figures and the
# ratios to nginx's static rate (aims: static at least 1.0, Get-Printer-
# Attributes at least 0.8 with p99 under 20 ms); no pass or fail on them.
#   bash bench/http.sh [build-dir]     (default build/release, made by `make build`)
# Builds nothing. Installs wrk and nginx when missing (apt-get, through sudo
# when not root). Everything runs under a temporary directory that is removed
# at the end, with the two servers.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$here/$build" ;; esac
vornd="${VORND:-$build/scheduler/vornd}"  # VORND: another build of it to compare
duration=${DURATION:-10}  # DURATION: seconds per wrk run

if [ ! -x "$vornd" ]; then
  echo "bench/http.sh: $vornd is missing: build it first with \`make build\`" >&2
  exit 1
fi

install_missing() {
  local want=()
  command -v wrk >/dev/null 2>&1 || want+=(wrk)
  command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || want+=(nginx-light)
  [ ${#want[@]} -eq 0 ] && return 0
  echo "bench/http.sh: installing ${want[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  if ! $sudo apt-get install -y -qq --no-install-recommends "${want[@]}"; then
    # Releases without nginx-light have the plain package.
    want=("${want[@]/nginx-light/nginx}")
    $sudo apt-get install -y -qq --no-install-recommends "${want[@]}"
  fi
}
install_missing
wrk=$(command -v wrk)
nginx=$(command -v nginx 2>/dev/null || echo /usr/sbin/nginx)

work=$(mktemp -d /tmp/vorn-http-bench-XXXXXX)
chmod 0755 "$work"  # nginx's worker may run as another user
vornd_pid=""
nginx_pid=""
cleanup() {
  [ -n "$vornd_pid" ] && kill "$vornd_pid" 2>/dev/null && wait "$vornd_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

. "$here/bench/ports.bash"

# The static file both servers send: a page of 1 KiB.
mkdir -p "$work/doc"
# Cut in the shell: `head -c` closing a pipe made its writer die of SIGPIPE
# now and then, which with pipefail ended the whole run without a word.
page="<html><head><title>vorn bench</title></head><body>"$'\n'
for i in $(seq 24); do page+="<p>line $i of the page both servers send</p>"$'\n'; done
printf '%s' "${page:0:1000}" >"$work/doc/bench.html"
echo "</body></html>" >>"$work/doc/bench.html"

# vornd in a root of its own, with its default listen queue (the system's
# largest) and one printer for the IPP requests.
vport=$(free_port)
vroot="$work/vornd"
mkdir -p "$vroot"/{logs,spool/tmp,ssl,bin,data}
cp "$here/data/vorn.types" "$vroot/"
cat >"$vroot/vornd.conf" <<CONF
ServerRoot $vroot
RequestRoot $vroot/spool
TempDir $vroot/spool/tmp
DocumentRoot $work/doc
ServerBin $vroot/bin
DataDir $vroot/data
ErrorLog logs/error_log
AccessLog logs/access_log
PageLog logs/page_log
ServerName localhost
User $(id -un)
Group $(id -gn)
Printcap $vroot/printcap
LogLevel warn
MaxClients 256
MaxClientsPerHost 256
Listen 127.0.0.1:$vport
# Every resource open to the benchmark client on this host.
<Location />
Order deny,allow
</Location>
CONF
cat >"$vroot/printers.conf" <<CONF
<Printer bench>
Info Bench printer
DeviceURI socket://127.0.0.1:9
State Idle
Accepting Yes
</Printer>
CONF
"$vornd" -f -c "$vroot/vornd.conf" >"$vroot/stdout" 2>&1 &
vornd_pid=$!

# nginx with one worker, logging each request as vornd does.
nport=$(free_port)
nroot="$work/nginx"
mkdir -p "$nroot/logs" "$nroot/tmp"
cat >"$nroot/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $nroot/nginx.pid;
error_log $nroot/logs/error.log warn;
events { worker_connections 1024; }
http {
  access_log $nroot/logs/access.log;
  client_body_temp_path $nroot/tmp/body;
  proxy_temp_path $nroot/tmp/proxy;
  fastcgi_temp_path $nroot/tmp/fastcgi;
  uwsgi_temp_path $nroot/tmp/uwsgi;
  scgi_temp_path $nroot/tmp/scgi;
  types { text/html html; }
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$nport;
    root $work/doc;
  }
}
CONF
"$nginx" -p "$nroot" -c "$nroot/nginx.conf" >"$nroot/stdout" 2>&1 &
nginx_pid=$!

if ! wait_port "$vport"; then
  echo "bench/http.sh: vornd did not start:" >&2
  cat "$vroot/stdout" "$vroot/logs/error_log" >&2 2>/dev/null || true
  exit 1
fi
if ! wait_port "$nport"; then
  echo "bench/http.sh: nginx did not start:" >&2
  cat "$nroot/stdout" "$nroot/logs/error.log" >&2 2>/dev/null || true
  exit 1
fi

# Runs wrk with `$connections` connections; prints "requests/s|errors|non-2xx|p99".
measure() {
  local out
  out=$(timeout $((duration + 20)) "$wrk" -t2 -c"$connections" -d"${duration}s" "$@" 2>&1) || true
  local rps errors non2xx p99
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  errors=$(awk -F'Socket errors: ' '/Socket errors:/ {print $2}' <<<"$out")
  non2xx=$(awk '/Non-2xx or 3xx responses:/ {print $NF}' <<<"$out")
  p99=$(awk '/^latency_p99_ms/ {print $2}' <<<"$out")
  echo "${rps:-0}|${errors:-connect 0, read 0, write 0, timeout 0}|${non2xx:-0}|${p99:--}"
}

report() {
  IFS='|' read -r rps errors non2xx p99 <<<"$2"
  printf '%-36s %12s req/s   p99 %6s ms   socket errors: %s   non-2xx: %s\n' "$1" "$rps" "$p99" "$errors" "$non2xx"
}

ratio() {
  awk -v what="$1" -v v="${2%%|*}" -v n="${3%%|*}" -v aim="$4" 'BEGIN {
    if (n > 0) printf "%s/nginx static ratio: %.2f (aim: at least %s)\n", what, v / n, aim
    else printf "%s/nginx static ratio: n/a (nginx answered nothing)\n", what
  }'
}

echo "wrk: ${duration} s, 2 threads; static file of $(wc -c <"$work/doc/bench.html") bytes"
for connections in 8 64; do
  echo "-- $connections connections"
  static_nginx=$(measure "http://127.0.0.1:$nport/bench.html")
  report "nginx static file" "$static_nginx"
  static_vornd=$(measure "http://127.0.0.1:$vport/bench.html")
  report "vornd static file" "$static_vornd"
  ipp_vornd=$(measure -s "$here/bench/http/ipp_post.lua" "http://127.0.0.1:$vport/")
  report "vornd IPP VORN-Get-Printers" "$ipp_vornd"
  attrs_vornd=$(measure -s "$here/bench/http/ipp_printer_attrs.lua" "http://127.0.0.1:$vport/")
  report "vornd IPP Get-Printer-Attributes (5)" "$attrs_vornd"
  ratio "vornd static" "$static_vornd" "$static_nginx" 1.0
  ratio "vornd Get-Printer-Attributes" "$attrs_vornd" "$static_nginx" 0.8
done
