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

reg_add() {
  timeout 60 wine reg add "$@" /f </dev/null >>"$log" 2>&1 ||
    { echo "wine reg add $* failed:"; cat "$log"; exit 1; }
}

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
  # Once per prefix: the fonts of the window's pictures (scripts/test-windows
  # takes them under Xvfb): the Song face for 宋体 and SimSun, Arial's
  # metrics, and Chinese characters in an Arial text drawn from the Song
  # face, as Windows links them. Then windows without a display: Wine's
  # null graphics driver; the desktop picks its driver when it starts, so
  # the server is restarted.
  if ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
    subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
    link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    song='AR PL UMing CN'
    reg_add "$subst" /v 宋体 /d "$song"
    reg_add "$subst" /v SimSun /d "$song"
    reg_add "$subst" /v Arial /d 'Liberation Sans'
    reg_add "$link" /v Arial /t REG_MULTI_SZ /d "uming.ttc,$song"
    reg_add "$link" /v 'Liberation Sans' /t REG_MULTI_SZ /d "uming.ttc,$song"
    reg_add 'HKCU\Software\Wine\Drivers' /v Graphics /d null
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
