# Sourced by the set-up, test and demo scripts: PowerShell for the Wine prefix (tests/winps).
#   wine_engine_folder     prints the folder of the published engine for the current sources
#   wine_engine_build      publishes it there unless it is there already (needs NuGet once)
#   wine_engine_install    makes the session's prefix (wine_session_start) a Windows with that
#                          PowerShell: Windows 10, real shell folders, the engine at the system
#                          path, a test CA for the HTTPS servers trusted; exports
#                          ORVAN_TEST_CERT_DIR (cert.pem and key.pem of that CA)
# The published engine is about 120 MB; it is kept below build/engine/, or below
# $ORVAN_ENGINE_CACHE when set (a cache shared by several work trees), in a folder named by the
# digest of the project files, so a change to them publishes anew and nothing else does.
ORVAN_ENGINE_SOURCE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

wine_engine_folder() {
  local key
  key=$(cat "$ORVAN_ENGINE_SOURCE/tests/winps/powershell.csproj" "$ORVAN_ENGINE_SOURCE/tests/winps/Program.cs" |
    sha256sum | cut -c1-16)
  echo "${ORVAN_ENGINE_CACHE:-$ORVAN_ENGINE_SOURCE/build/engine}/$key"
}

wine_engine_build() {
  local out
  out=$(wine_engine_folder)
  [ -f "$out/powershell.exe" ] && [ -d "$out/Modules" ] && return 0
  local work="$out.work"
  rm -rf "$work" "$out"
  mkdir -p "$work"
  cp "$ORVAN_ENGINE_SOURCE/tests/winps/powershell.csproj" "$ORVAN_ENGINE_SOURCE/tests/winps/Program.cs" "$work/"
  # Built in a copy, so that no bin/ or obj/ lands in the sources.
  if ! DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 dotnet publish "$work/powershell.csproj" -c Release \
    -o "$work/publish" >"$work/publish.log" 2>&1; then
    tail -n 30 "$work/publish.log" >&2
    echo "publishing the PowerShell engine failed, see $work/publish.log" >&2
    return 1
  fi
  mv "$work/publish" "$out"
  rm -rf "$work"
}

# The PowerShell engine run by start-hidden.exe (tests/e2e_win) as the installer runs it.
wine_engine_run() {
  local start=${ORVAN_START_HIDDEN:-$ORVAN_ENGINE_SOURCE/build/windows-e2e/e2e/start-hidden.exe}
  wine64 "$start" 'C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe' -NoProfile -NonInteractive "$@" </dev/null
}

wine_engine_install() {
  local engine
  engine=$(wine_engine_folder)
  [ -f "$engine/powershell.exe" ] || { echo "no PowerShell engine in $engine (scripts/setup)" >&2; return 1; }
  wine64 winecfg /v win10 >/dev/null 2>&1 </dev/null
  # .NET maps the code it generates twice, writable and executable apart (W^X); under Wine 8
  # that ends PowerShell now and then with "Internal CLR error (0x80131506)" in a finalizer of
  # dynamic methods (seen in runs of a 128-part installation, and never with it off). The
  # prefix's environment turns it off for every process, whoever starts it.
  wine64 reg add 'HKCU\Environment' /v DOTNET_EnableWriteXorExecute /d 0 /f >/dev/null 2>&1 </dev/null
  # Wine links Desktop, Documents and the like to the Linux home: a shortcut saved there would
  # land outside the prefix, with a .desktop file of Wine's beside it.
  local profile link
  profile="$WINEPREFIX/drive_c/users/$(id -un)"
  for link in "$profile"/*; do
    [ -L "$link" ] && rm "$link" && mkdir "$link"
  done
  # Where Windows keeps Windows PowerShell, and where the installer starts it from; Wine's own
  # stub there makes way. Hard links: the cache stays the only copy.
  local system="$WINEPREFIX/drive_c/windows/system32/WindowsPowerShell/v1.0"
  rm -rf "$system"
  mkdir -p "$system"
  cp -al "$engine/." "$system/" 2>/dev/null || cp -r "$engine/." "$system/"
  # One CA for the session's HTTPS servers, trusted by the prefix as by a Windows machine.
  export ORVAN_TEST_CERT_DIR="$WINEPREFIX/orvan-ca"
  mkdir -p "$ORVAN_TEST_CERT_DIR"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
    -keyout "$ORVAN_TEST_CERT_DIR/key.pem" -out "$ORVAN_TEST_CERT_DIR/cert.pem" >/dev/null 2>&1 || return 1
  local answer
  answer=$(wine_engine_run -Command "\$store = [Security.Cryptography.X509Certificates.X509Store]::new('Root', 'LocalMachine')
\$store.Open('ReadWrite')
\$store.Add([Security.Cryptography.X509Certificates.X509Certificate2]::new('Z:${ORVAN_TEST_CERT_DIR//\//\\}\\cert.pem'))
\$store.Close()
'trusted'" 2>/dev/null | tr -d '\r')
  [ "$answer" = trusted ] || { echo "the PowerShell engine did not run under Wine: $answer" >&2; return 1; }
}
