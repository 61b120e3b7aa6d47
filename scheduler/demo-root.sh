#!/usr/bin/env bash
# `make run`: creates, on the first run, a self-contained server root under
# build/run (configuration, logs, spool, documents) and starts the scheduler
# in the foreground with it, listening on 127.0.0.1:8631 as the current user.
#   usage: demo-root.sh <build-dir>
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/release}" && pwd)
run="$top/build/run"
conf="$run/vornd.conf"
port=8631
vornd="$build/scheduler/vornd"

if [ ! -x "$vornd" ]; then
  echo "make run: $vornd is not built" >&2
  exit 1
fi

if [ ! -f "$conf" ]; then
  mkdir -p "$run"/logs "$run"/spool/tmp "$run"/doc "$run"/ssl "$run"/certs "$run"/ppd
  cat > "$conf" <<CONF
# vornd.conf of \`make run\`: everything the scheduler reads and writes stays
# under $run. Edit freely; delete this file to start afresh.
ServerRoot $run
RequestRoot $run/spool
TempDir $run/spool/tmp
DocumentRoot $run/doc
ServerBin $build
DataDir $top/data
ErrorLog logs/error_log
AccessLog logs/access_log
PageLog logs/page_log
Printcap $run/printcap
LogLevel info
ServerName localhost
User $(id -un)
Group $(id -gn)
FileDevice Yes
Listen 127.0.0.1:$port
# Every resource is open; /admin asks for a password of a system group
# member (or root's local certificate), and so do the configuration files.
<Location />
Order deny,allow
</Location>
<Location /admin>
AuthType Basic
AuthClass System
</Location>
CONF
  cat > "$run/doc/index.html" <<'HTML'
<!DOCTYPE html>
<html><head><title>Vorn</title></head>
<body>
<h1>Vorn</h1>
<p>This is the print scheduler started by <code>make run</code>.
Its configuration, logs and spool are under <code>build/run/</code>.</p>
</body></html>
HTML
  # Ready demo printers: a raw queue and a PostScript one, whose jobs land in
  # files under $run.
  cat > "$run/printers.conf" <<PRINTERS
# Printer configuration file written by make run
<DefaultPrinter demo>
Info Demo printer of make run
Location build/run
DeviceURI file:$run/demo-output.prn
State Idle
Accepting Yes
</Printer>
<Printer demo-ps>
Info PostScript demo printer of make run
Location build/run
DeviceURI file:$run/demo-ps-output.ps
State Idle
Accepting Yes
</Printer>
PRINTERS
  # Its jobs go through psconv with the demo PostScript model.
  cp "$top/data/model/vorn-postscript.ppd" "$run/ppd/demo-ps.ppd"
  echo "make run: created the server root $run"
fi

# The type and conversion rules are read from the server root; link the
# current ones from the source tree so the demo follows them.
for rules in "$top"/data/*.types "$top"/data/*.convs; do
  [ -e "$rules" ] && ln -sf "$rules" "$run/"
done

echo "make run: starting $vornd -f -c $conf"
echo "make run: listening on 127.0.0.1:$port; logs in $run/logs; stop with Ctrl-C"
exec "$vornd" -f -c "$conf"
