#!/bin/sh
# Starts or stops the Wine prefix of the Windows tests.
#   wine_prefix.sh start   create $WINEPREFIX on first use, start a wineserver
#   wine_prefix.sh stop    stop that wineserver and every Wine process in it
# Every Wine call is bounded in time; nothing needs a display.
set -eu
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
unset DISPLAY WAYLAND_DISPLAY

case "${1:-}" in
start)
  mkdir -p "$WINEPREFIX"
  log="$WINEPREFIX/../wineboot.log"
  # A server of our own, detached from the caller's output (ctest waits for
  # every process that holds its pipes). It lingers at most 300 s after the
  # last Wine program ends, should the stop never come.
  wineserver -p300 </dev/null >/dev/null 2>&1 || true  # one may run already
  # The first Wine program of a server starts Wine's own services, which
  # live as long as the server and keep the output they were given: start
  # them here, with output to the log, not in a test whose output ctest reads.
  start=$(date +%s)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 180 wineboot -i </dev/null >"$log" 2>&1 || {
      echo "wineboot -i failed:"; cat "$log"; exit 1; }
    echo "prefix created in $(( $(date +%s) - start )) s: $WINEPREFIX"
  else
    timeout 60 wineboot </dev/null >"$log" 2>&1 || {
      echo "wineboot failed:"; cat "$log"; exit 1; }
    echo "prefix started in $(( $(date +%s) - start )) s: $WINEPREFIX"
  fi
  # Windows without a display: Wine's null graphics driver. The desktop
  # picks its driver when it starts, so a server that started without it
  # is restarted.
  if ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
    timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      </dev/null >>"$log" 2>&1 || { echo "setting the null driver failed:"; cat "$log"; exit 1; }
    timeout 30 wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
    wineserver -p300 </dev/null >/dev/null 2>&1 || true
    timeout 60 wineboot </dev/null >>"$log" 2>&1 || { echo "wineboot failed:"; cat "$log"; exit 1; }
  fi
  ;;
stop)
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop" >&2
  exit 2
  ;;
esac
