# A private CUPS scheduler for the printer-switching tests.
#
# Sourced by the test runner, which calls start_cups before the tests and
# stop_cups after them. Everything lives under "$BUILD_DIR/services/cups":
# configuration, spool, cache, logs, state and the files the queues print
# to. The scheduler listens on a free loopback port only and never touches
# the machine's own CUPS configuration or default printer.
#
# Exports for the tests:
#   CUPS_SERVER            127.0.0.1:<port> of this scheduler
#   PRESSMARK_TEST_CUPS    1 while the scheduler runs
#   PRESSMARK_TEST_CUPS_DIR  the folder above (queue output is in out/)
#
# Queues:
#   Pressmark_PS      generic PostScript, prints to out/ps-queue.prn;
#                     description "Pressmark PostScript File"; server default
#   Pressmark_PDF     cups-pdf, when its backend can run here (as root);
#                     for switching only: cups-pdf writes where its own
#                     configuration says, outside the build tree
#   Pressmark_Office  generic PostScript to out/office.prn, description
#                     "Pressmark Office Printer 2nd Floor"

source "$(dirname "${BASH_SOURCE[0]}")/daemon.bash"

_cups_dir() {
  printf '%s/services/cups' "${BUILD_DIR:-$PWD/build}"
}

_cups_log() {
  printf 'cups service: %s\n' "$*" >&2
}

# True while the scheduler recorded in the pid file is alive.
_cups_running() {
  local dir pid
  dir=$(_cups_dir)
  [ -f "$dir/cupsd.pid" ] || return 1
  pid=$(cat "$dir/cupsd.pid" 2>/dev/null)
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

_cups_write_config() {
  local dir=$1 port=$2 user group sysgroup
  if [ "$(id -u)" -eq 0 ]; then
    # cupsd as root runs filters as an unprivileged user and refuses root.
    if id lp >/dev/null 2>&1; then user=lp; else user=nobody; fi
    group=$(id -gn "$user")
    sysgroup=root
  else
    # Not root: cupsd runs everything as the calling user.
    user=$(id -un)
    group=$(id -gn)
    sysgroup=$group
  fi
  cat >"$dir/conf/cups-files.conf" <<EOF
ServerRoot $dir/conf
ServerBin /usr/lib/cups
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/state/printcap
FileDevice Yes
Sandboxing Relaxed
User $user
Group $group
SystemGroup $sysgroup
EOF
  cat >"$dir/conf/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
ServerName 127.0.0.1
LogLevel warn
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
DefaultEncryption Never
IdleExitTimeout 0
<Location />
  Order allow,deny
  Allow 127.0.0.1
</Location>
<Location /admin>
  Order allow,deny
  Allow 127.0.0.1
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    Order allow,deny
    Allow 127.0.0.1
  </Limit>
</Policy>
EOF
}

_cups_add_queues() {
  local dir=$1
  # lpadmin warns that PPD drivers are deprecated; the warnings go to the log.
  _cups_add_queues_logged "$dir" 2>>"$dir/log/lpadmin.log"
}

_cups_add_queues_logged() {
  local dir=$1
  lpadmin -p Pressmark_PS -E -v "file:$dir/out/ps-queue.prn" \
    -m drv:///sample.drv/generic.ppd -D "Pressmark PostScript File" || return 1
  lpadmin -p Pressmark_Office -E -v "file:$dir/out/office.prn" \
    -m drv:///sample.drv/generic.ppd -D "Pressmark Office Printer 2nd Floor" || return 1
  if [ -x /usr/lib/cups/backend/cups-pdf ] && [ -f /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd ]; then
    lpadmin -p Pressmark_PDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd \
      -D "Pressmark PDF" || _cups_log "the cups-pdf queue could not be added; going on without it"
  fi
  lpadmin -d Pressmark_PS || return 1
}

start_cups() {
  local dir port attempt i answer
  dir=$(_cups_dir)
  if _cups_running; then
    port=$(cat "$dir/port")
    export CUPS_SERVER="127.0.0.1:$port" PRESSMARK_TEST_CUPS=1 PRESSMARK_TEST_CUPS_DIR="$dir"
    return 0
  fi
  if ! command -v cupsd >/dev/null 2>&1 && [ ! -x /usr/sbin/cupsd ]; then
    _cups_log "cupsd is not installed (see scripts/packages/cups.txt)"
    return 1
  fi
  rm -rf "$dir"
  mkdir -p "$dir"/conf/ppd "$dir"/spool "$dir"/tmp "$dir"/cache "$dir"/state "$dir"/log "$dir"/out || return 1
  if [ "$(id -u)" -eq 0 ]; then
    # Filters run as lp and must reach the spool and temporary folders;
    # cupsd opens file: devices itself.
    chmod 0755 "$dir" "$dir"/spool "$dir"/state
    chmod 1777 "$dir"/tmp
    chmod 0777 "$dir"/out
  fi

  for attempt in 1 2 3 4 5; do
    port=$(pm_free_port) || { _cups_log "no free loopback port"; return 1; }
    _cups_write_config "$dir" "$port"
    printf '%s' "$port" >"$dir/port"
    # Foreground mode keeps cupsd our child, so its pid is the one recorded
    # and stop_cups can end exactly this process.
    /usr/sbin/cupsd -f -c "$dir/conf/cupsd.conf" -s "$dir/conf/cups-files.conf" \
      </dev/null >>"$dir/log/cupsd.out" 2>&1 &
    printf '%s' "$!" >"$dir/cupsd.pid"
    for i in $(seq 1 100); do
      if ! _cups_running; then break; fi
      answer=$(CUPS_SERVER="127.0.0.1:$port" lpstat -r 2>/dev/null || true)
      if [ "$answer" = "scheduler is running" ]; then
        export CUPS_SERVER="127.0.0.1:$port" PRESSMARK_TEST_CUPS=1 PRESSMARK_TEST_CUPS_DIR="$dir"
        if ! _cups_add_queues "$dir"; then
          _cups_log "adding the test queues failed; see $dir/log/error_log"
          stop_cups
          return 1
        fi
        return 0
      fi
      sleep 0.1
    done
    _cups_log "cupsd did not answer on port $port (attempt $attempt)"
    stop_cups
    mkdir -p "$dir/log"
  done
  _cups_log "cupsd could not be started; see $dir/log"
  return 1
}

stop_cups() {
  pm_stop_pid_file "$(_cups_dir)/cupsd.pid"
  unset CUPS_SERVER PRESSMARK_TEST_CUPS PRESSMARK_TEST_CUPS_DIR
  return 0
}
