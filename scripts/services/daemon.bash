# What the test services share (sourced by each scripts/services/*.sh; not a
# service itself, so the test command does not start it).

# A loopback port nobody answers on, drawn at random from 20000-59999.
# Ports are probed with bash's /dev/tcp; a port taken between the probe and
# the daemon's bind makes the daemon fail, and its start tries the next one.
pm_free_port() {
  local port tries=0
  while [ $tries -lt 50 ]; do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      printf '%s' "$port"
      return 0
    fi
    tries=$((tries + 1))
  done
  return 1
}

# Ends the daemon whose pid FILE names (TERM, then KILL after 5 s), reaps it
# when this shell started it, and removes the file.
pm_stop_pid_file() {
  local file=$1 pid i
  [ -f "$file" ] || return 0
  pid=$(cat "$file" 2>/dev/null)
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
    # Its exit status is no error.
    wait "$pid" 2>/dev/null || true
  fi
  rm -f "$file"
}
