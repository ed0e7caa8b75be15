# Sourced by the test and demo scripts: a throw-away Wine prefix and an Xvfb display of its own.
# wine_session_start exports WINEPREFIX, DISPLAY and WINEDEBUG; wine_session_stop ends both and
# removes the prefix.

wine_session_start() {
  export WINEDEBUG=-all
  WINEPREFIX=$(mktemp -d /tmp/orvan-wine.XXXXXX)
  export WINEPREFIX
  if [ -z "${ORVAN_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    ORVAN_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
  fi
  # One server for the whole session, so every test's Wine process starts fast. The helper
  # processes Wine starts with the prefix (services, explorer) must come up here, with their
  # output going nowhere: started later by a test, they would inherit its pipes and keep them open.
  wineserver -p >/dev/null 2>&1
  # No Mono or Gecko installer dialogs while the prefix is made. Later every program needs
  # mscoree, which Wine consults for each .NET assembly (the PowerShell engine is one), and no
  # program needs winemenubuilder, which would put a .desktop file beside each saved .lnk.
  WINEDLLOVERRIDES="mscoree,mshtml=" wine64 wineboot -i >/dev/null 2>&1 </dev/null
  export WINEDLLOVERRIDES="mshtml=;winemenubuilder.exe=d"
  # The window's faces are Windows fonts this machine lacks; Wine would fall back to a face of
  # other widths. Liberation Mono has Courier New's metrics and Liberation Sans those of Arial,
  # the nearest to Segoe UI, so texts measure and line up as they do on Windows.
  wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' /f \
    >/dev/null 2>&1 </dev/null
  wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Segoe UI' /d 'Liberation Sans' /f \
    >/dev/null 2>&1 </dev/null
  # The desktop process, too: Wine starts it with a session's first window and ends it some 20 s
  # after the last process using it has gone. Started by a test, it would inherit that test's
  # output and CTest would wait for it. The keeper (built with the windows preset) holds the
  # desktop for the whole session; without it, Wine's explorer stands in for a first test run.
  local keeper=${ORVAN_DESKTOP_KEEPER:-build/windows/wine-desktop-keeper.exe}
  [ -f "$keeper" ] || keeper=build/windows-e2e/wine-desktop-keeper.exe
  if [ -f "$keeper" ]; then
    wine64 "$keeper" >/dev/null 2>&1 </dev/null &
  else
    wine64 explorer.exe /desktop >/dev/null 2>&1 </dev/null &
  fi
  local pid
  for i in $(seq 1 50); do
    for pid in $(pgrep -u "$(id -u)" -f 'explorer.exe /desktop'); do
      tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && return 0
    done
    sleep 0.1
  done
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${ORVAN_XVFB_PID:-}" ]; then
    kill "$ORVAN_XVFB_PID" 2>/dev/null || true
    wait "$ORVAN_XVFB_PID" 2>/dev/null || true
    unset ORVAN_XVFB_PID
  fi
  [ -n "${WINEPREFIX:-}" ] && case "$WINEPREFIX" in /tmp/orvan-wine.*) rm -rf "$WINEPREFIX" ;; esac
  unset WINEPREFIX ORVAN_TEST_CERT_DIR
}
