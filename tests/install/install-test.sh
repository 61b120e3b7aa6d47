#!/usr/bin/env bash
# `cmake --install` of a build, twice:
#  - into a temporary prefix: every file lands under it, the installed
#    vornd.conf names its paths, and the installed vornd started from that
#    file, with only its Listen line moved to a free port, serves "/";
#  - with DESTDIR into a staging root for the prefix /usr: every file lands
#    under the staging root, none outside, and vornd.conf names the real
#    paths (/etc/vorn, /var/spool/vorn, ...), not the staging ones.
# The installed vornd is started with -c because this build's compiled-in
# paths belong to the prefix it was configured with, not the temporary one.
#   usage: install-test.sh <build-dir>
# Needs every installed program built (`cmake --build <build-dir>`).
set -euo pipefail

build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/vorn-install-XXXXXX)
# Open as a real prefix is: programs vornd runs as its User (the CGI
# programs) must reach the installed files.
chmod 755 "$tmp"
pid=""

cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "install-test: $*" >&2
  exit 1
}

install_into() {  # install_into <log> <cmake --install arguments...>
  local log=$1
  shift
  if ! cmake --install "$build" "$@" >"$log" 2>&1; then
    cat "$log" >&2
    fail "cmake --install $* failed (is every installed program built?)"
  fi
}

# The files every install has, relative to the prefix or the root.
under_prefix=(sbin/vornd bin/submit bin/enqueue bin/qstatus bin/cancel bin/pwtool sbin/accept sbin/reject sbin/disable
              sbin/qadmin lib/vorn/backend/socket lib/vorn/filter/psconv share/vorn/doc/index.html
              share/vorn/model/vorn-postscript.ppd lib/vorn/cgi-bin/printers.cgi lib/vorn/cgi-bin/classes.cgi
              lib/vorn/cgi-bin/jobs.cgi lib/vorn/cgi-bin/admin.cgi)
dirs_under_prefix=(share/vorn lib/vorn/backend)
under_etc=(vorn/vornd.conf vorn/vornd.conf.default vorn/vorn.types vorn/vorn.convs)
dirs_under_etc=(vorn/ppd vorn/ssl vorn/certs)
dirs_under_var=(spool/vorn spool/vorn/tmp log/vorn)

check_layout() {  # check_layout <prefix> <etc> <var>
  local f
  for f in "${under_prefix[@]}"; do [ -f "$1/$f" ] || fail "missing $1/$f"; done
  for f in "${dirs_under_prefix[@]}"; do [ -d "$1/$f" ] || fail "missing directory $1/$f"; done
  for f in "${under_etc[@]}"; do [ -f "$2/$f" ] || fail "missing $2/$f"; done
  for f in "${dirs_under_etc[@]}"; do [ -d "$2/$f" ] || fail "missing directory $2/$f"; done
  for f in "${dirs_under_var[@]}"; do [ -d "$3/$f" ] || fail "missing directory $3/$f"; done
  [ -x "$1/sbin/vornd" ] || fail "$1/sbin/vornd is not executable"
}

expect_line() {  # expect_line <file> <exact line>
  grep -qxF -- "$2" "$1" || fail "$1 lacks the line \"$2\""
}

# A TCP port on 127.0.0.1 that nothing listens on.
free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  fail "no free port found"
}

# ---- Into a prefix ----
p="$tmp/p"
install_into "$tmp/install-prefix.log" --prefix "$p"
check_layout "$p" "$p/etc" "$p/var"
conf="$p/etc/vorn/vornd.conf"
expect_line "$conf" "Listen 127.0.0.1:631"
expect_line "$conf" "ServerRoot $p/etc/vorn"
expect_line "$conf" "ServerBin $p/lib/vorn"
expect_line "$conf" "DocumentRoot $p/share/vorn/doc"
expect_line "$conf" "RequestRoot $p/var/spool/vorn"
expect_line "$conf" "ErrorLog $p/var/log/vorn/error_log"
expect_line "$conf" "Printcap $p/etc/printcap"

# A second install keeps an edited vornd.conf.
echo "# edited by the administrator" >>"$conf"
install_into "$tmp/install-again.log" --prefix "$p"
expect_line "$conf" "# edited by the administrator"
grep -q "Keeping: $conf" "$tmp/install-again.log" || fail "the second install does not say it kept vornd.conf"

port=$(free_port)
cp "$conf" "$tmp/vornd.conf.before"
sed -i "s/^Listen 127\.0\.0\.1:631\$/Listen 127.0.0.1:$port/" "$conf"
changed=$(diff "$tmp/vornd.conf.before" "$conf" | grep -c '^[<>]' || true)
[ "$changed" -eq 2 ] || fail "moving the port changed $changed lines of vornd.conf, not 1"

"$p/sbin/vornd" -f -c "$conf" >"$tmp/vornd.out" 2>&1 &
pid=$!
served=""
for _ in $(seq 1 300); do
  if curl -sf "http://127.0.0.1:$port/" -o "$tmp/index.html" 2>/dev/null; then
    served=yes
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$served" ]; then
  cat "$tmp/vornd.out" "$p/var/log/vorn/error_log" >&2 2>/dev/null || true
  fail "the installed vornd does not serve http://127.0.0.1:$port/"
fi
cmp -s "$tmp/index.html" "$p/share/vorn/doc/index.html" || fail "/ is not the installed index.html"
# The web interface: the installed printers.cgi, run by the installed vornd.
curl -sf "http://127.0.0.1:$port/printers" -o "$tmp/printers.html" || fail "the installed vornd does not serve /printers"
grep -qF "<h1>Printers</h1>" "$tmp/printers.html" || fail "/printers is not the printers page: $(head -c 300 "$tmp/printers.html")"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "vornd ended with status $status after SIGTERM"
grep -q "Loaded configuration file \"$conf\"" "$p/var/log/vorn/error_log" ||
  fail "no error log in $p/var/log/vorn"

# ---- Into a staging root for /usr ----
stage="$tmp/stage"
outside=(/etc/vorn /var/spool/vorn /var/log/vorn /usr/lib/vorn /usr/share/vorn /usr/sbin/vornd)
absent=()
for f in "${outside[@]}"; do [ -e "$f" ] || absent+=("$f"); done

DESTDIR="$stage" install_into "$tmp/install-stage.log" --prefix /usr
check_layout "$stage/usr" "$stage/etc" "$stage/var"
while read -r f; do
  [ -e "$stage$f" ] || fail "installed $f, not under the staging root"
done <"$build/install_manifest.txt"
for f in "${absent[@]}"; do [ ! -e "$f" ] || fail "the staged install created $f"; done
conf="$stage/etc/vorn/vornd.conf"
if grep -q "$stage" "$conf"; then fail "$conf names the staging root"; fi
expect_line "$conf" "ServerRoot /etc/vorn"
expect_line "$conf" "ServerBin /usr/lib/vorn"
expect_line "$conf" "DocumentRoot /usr/share/vorn/doc"
expect_line "$conf" "RequestRoot /var/spool/vorn"
expect_line "$conf" "ErrorLog /var/log/vorn/error_log"
expect_line "$conf" "Printcap /etc/printcap"

echo "install-test: passed"
