# Loopback port helpers of the benchmark scripts (sourced, not run).

# A TCP port on 127.0.0.1 that was free a moment ago.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null ||
    echo $((20000 + RANDOM % 20000))
}

# Waits up to 10 s until 127.0.0.1:$1 accepts a connection; status 1 if not.
wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
