# PostgreSQL for the data tests: a private cluster under
# "$BUILD_DIR/services/postgres", listening on the loopback address only,
# with a test database, a password user and an ODBC DSN in a private
# ODBCINI. Exports PRESSMARK_TEST_PG_DSN, PRESSMARK_TEST_PG_USER,
# PRESSMARK_TEST_PG_PASSWORD and ODBCINI. Source this file, then call
# start_postgres / stop_postgres (both may be called more than once).

_pg_base() { printf '%s\n' "${BUILD_DIR:?BUILD_DIR must be set}/services/postgres"; }

_pg_bindir() {
  local d
  d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -n "$d" ] && [ -x "$d/initdb" ] && printf '%s\n' "$d"
}

# Runs a command as the cluster's owner: initdb and the server refuse root.
_pg_as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

_pg_odbc_driver() {
  local f
  for f in /usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so /usr/lib/aarch64-linux-gnu/odbc/psqlodbcw.so /usr/lib/odbc/psqlodbcw.so; do
    [ -f "$f" ] && { printf '%s\n' "$f"; return 0; }
  done
  printf '%s\n' "PostgreSQL Unicode"
}

_pg_export() {
  local base port
  base=$(_pg_base)
  port=$(cat "$base/port")
  export ODBCINI="$base/odbc.ini"
  export PRESSMARK_TEST_PG_DSN=pressmark_pg
  export PRESSMARK_TEST_PG_USER=pressmark
  PRESSMARK_TEST_PG_PASSWORD=$(cat "$base/password")
  export PRESSMARK_TEST_PG_PASSWORD
  export PRESSMARK_TEST_PG_PORT="$port"
}

# As root, lets the postgres user pass through (search only, no reading)
# the folders above the cluster that it could not otherwise reach, so a
# build tree under a private home folder still works.
_pg_grant_path() {
  local d=$1
  while [ "$d" != "/" ] && [ -n "$d" ]; do
    if ! runuser -u postgres -- test -x "$d" 2>/dev/null; then
      command -v setfacl >/dev/null 2>&1 || return 1
      setfacl -m u:postgres:x "$d" || return 1
    fi
    d=$(dirname "$d")
  done
}

_pg_free_port() {
  local p
  for p in $(seq 55432 55532); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      printf '%s\n' "$p"
      return 0
    fi
  done
  return 1
}

# Never fails the caller: when the cluster cannot be made or started (no
# PostgreSQL, a build tree the postgres user cannot reach), it says why and
# the PostgreSQL tests skip.
start_postgres() {
  if ! _pg_start; then
    echo "start_postgres: PostgreSQL is not available; its tests will be skipped" >&2
    stop_postgres
    return 0
  fi
}

_pg_start() {
  local base bin port
  base=$(_pg_base) || return 1
  bin=$(_pg_bindir) || { echo "start_postgres: PostgreSQL is not installed" >&2; return 1; }
  mkdir -p "$base" || return 1
  if [ -f "$base/data/postmaster.pid" ] && _pg_as_owner "$bin/pg_ctl" -D "$base/data" status >/dev/null 2>&1; then
    _pg_export
    return 0
  fi
  if [ ! -f "$base/data/PG_VERSION" ]; then
    rm -rf "$base/data"
    head -c 18 /dev/urandom | base64 | tr -d '/+=' > "$base/password"
    chmod 600 "$base/password"
    mkdir -p "$base/data" "$base/sock"
    if [ "$(id -u)" = 0 ]; then
      chown postgres "$base/data" "$base/sock"
      _pg_grant_path "$base"
      if ! runuser -u postgres -- test -w "$base/data"; then
        echo "start_postgres: the postgres user cannot reach $base" >&2
        return 1
      fi
      cp "$base/password" "$base/pwfile" && chown postgres "$base/pwfile"
    else
      cp "$base/password" "$base/pwfile"
    fi
    if ! _pg_as_owner "$bin/initdb" -D "$base/data" -U pressmark --pwfile="$base/pwfile" \
        --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$base/initdb.log" 2>&1; then
      echo "start_postgres: initdb failed (see $base/initdb.log)" >&2
      rm -f "$base/pwfile"
      return 1
    fi
    rm -f "$base/pwfile"
  fi
  port=$(_pg_free_port) || { echo "start_postgres: no free loopback port" >&2; return 1; }
  printf '%s\n' "$port" > "$base/port"
  : > "$base/server.log"
  if [ "$(id -u)" = 0 ]; then chown postgres "$base/server.log"; fi
  if ! _pg_as_owner timeout 90 "$bin/pg_ctl" -D "$base/data" -l "$base/server.log" -w -t 60 \
      -o "-p $port -k $base/sock -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" start >/dev/null; then
    echo "start_postgres: the server did not start (see $base/server.log)" >&2
    return 1
  fi
  PGPASSWORD=$(cat "$base/password") timeout 60 "$bin/psql" -h 127.0.0.1 -p "$port" -U pressmark -d postgres -qAt \
    -c "SELECT 1 FROM pg_database WHERE datname = 'pressmark_test'" | grep -q 1 ||
    PGPASSWORD=$(cat "$base/password") timeout 60 "$bin/psql" -h 127.0.0.1 -p "$port" -U pressmark -d postgres -q \
      -c "CREATE DATABASE pressmark_test ENCODING 'UTF8' TEMPLATE template0" >/dev/null || return 1
  cat > "$base/odbc.ini" <<INI
[pressmark_pg]
Description = Pressmark test database
Driver = $(_pg_odbc_driver)
Servername = 127.0.0.1
Port = $port
Database = pressmark_test
SSLmode = disable
INI
  _pg_export
}

stop_postgres() {
  local base bin
  base=$(_pg_base) || return 0
  bin=$(_pg_bindir) || return 0
  if [ -f "$base/data/postmaster.pid" ]; then
    _pg_as_owner timeout 90 "$bin/pg_ctl" -D "$base/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
  fi
  unset PRESSMARK_TEST_PG_DSN PRESSMARK_TEST_PG_USER PRESSMARK_TEST_PG_PASSWORD PRESSMARK_TEST_PG_PORT
  if [ "${ODBCINI:-}" = "$base/odbc.ini" ]; then unset ODBCINI; fi
  return 0
}
