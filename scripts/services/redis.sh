# A private Redis for the farm tests of the HTTP service.
#
# Sourced by the test runner, which calls start_redis before the tests and
# stop_redis after them. Everything lives under "$BUILD_DIR/services/redis":
# configuration, the pid file and the log. The server listens on a free
# loopback port only, keeps nothing on disk and needs no password (nothing
# but this machine can reach it).
#
# Exports for the tests:
#   PRESSMARK_TEST_REDIS   redis://127.0.0.1:<port>/0 of this server

source "$(dirname "${BASH_SOURCE[0]}")/daemon.bash"

_redis_dir() {
  printf '%s/services/redis' "${BUILD_DIR:-$PWD/build}"
}

_redis_log() {
  printf 'redis service: %s\n' "$*" >&2
}

_redis_running() {
  local dir pid
  dir=$(_redis_dir)
  [ -f "$dir/redis.pid" ] || return 1
  pid=$(cat "$dir/redis.pid" 2>/dev/null)
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

start_redis() {
  local dir port attempt i
  dir=$(_redis_dir)
  if _redis_running; then
    export PRESSMARK_TEST_REDIS="redis://127.0.0.1:$(cat "$dir/port")/0"
    return 0
  fi
  # redis-tools installs the server program as redis-check-rdb, which
  # serves when started under the name redis-server.
  if [ ! -x /usr/bin/redis-check-rdb ]; then
    _redis_log "redis-tools is not installed (see scripts/packages/service.txt)"
    return 1
  fi
  rm -rf "$dir"
  mkdir -p "$dir" || return 1
  chmod 700 "$dir"
  for attempt in 1 2 3 4 5; do
    port=$(pm_free_port) || break
    cat >"$dir/redis.conf" <<CONF
bind 127.0.0.1
protected-mode yes
port $port
dir $dir
save ""
appendonly no
daemonize no
logfile $dir/redis.log
CONF
    printf '%s' "$port" >"$dir/port"
    # In the foreground it stays this shell's child, so its pid is the one recorded.
    (exec -a redis-server /usr/bin/redis-check-rdb "$dir/redis.conf") </dev/null >>"$dir/redis.out" 2>&1 &
    printf '%s' "$!" >"$dir/redis.pid"
    for i in $(seq 1 50); do
      _redis_running || break
      if [ "$(redis-cli -h 127.0.0.1 -p "$port" ping 2>/dev/null)" = "PONG" ]; then
        export PRESSMARK_TEST_REDIS="redis://127.0.0.1:$port/0"
        return 0
      fi
      sleep 0.1
    done
    _redis_log "redis did not answer on port $port (attempt $attempt)"
    stop_redis
    mkdir -p "$dir"
  done
  _redis_log "redis could not be started; see $dir"
  return 1
}

stop_redis() {
  pm_stop_pid_file "$(_redis_dir)/redis.pid"
  unset PRESSMARK_TEST_REDIS
  return 0
}
