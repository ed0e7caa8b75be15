# nginx serving a folder over TLS on loopback, for the demo; the same configuration the tests use.
# Source this file, then:
#   https_server_start DIR PORT   serves DIR/www on 127.0.0.1:PORT; DIR/cert.pem is the CA to trust
#   https_server_stop DIR
#   https_server_certificate DIR  makes DIR/cert.pem (and its key) ahead of the first start; in a
#                                 Wine session with the engine, the session CA (ORVAN_TEST_CERT_DIR)
HTTPS_SERVER_TEMPLATE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tests/support/nginx.conf.in"

https_server_certificate() {
  local dir=$1
  mkdir -p "$dir"
  [ -f "$dir/cert.pem" ] && return 0
  if [ -n "${ORVAN_TEST_CERT_DIR:-}" ]; then
    cp "$ORVAN_TEST_CERT_DIR/cert.pem" "$ORVAN_TEST_CERT_DIR/key.pem" "$dir/"
    return
  fi
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" >"$dir/openssl.log" 2>&1
}

https_server_start() {
  local dir=$1 port=$2
  mkdir -p "$dir/www" "$dir/tmp"
  chmod 755 "$dir"
  https_server_certificate "$dir" || return 1
  sed -e "s|@DIR@|$dir|g" -e "s|@ROOT@|$dir/www|g" -e "s|@PORT@|$port|g" -e "s|@EXTRA@||" \
    "$HTTPS_SERVER_TEMPLATE" >"$dir/nginx.conf"
  /usr/sbin/nginx -p "$dir/" -c "$dir/nginx.conf" -e "$dir/error.log" &
  echo $! >"$dir/server.pid"
  local i
  for i in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || { cat "$dir/error.log" >&2; return 1; }
    sleep 0.1
  done
  echo "nginx does not accept connections on port $port" >&2
  https_server_stop "$dir"
  return 1
}

https_server_stop() {
  local dir=$1 pid
  [ -f "$dir/server.pid" ] || return 0
  pid=$(cat "$dir/server.pid")
  kill "$pid" 2>/dev/null && while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  rm -f "$dir/server.pid"
}
