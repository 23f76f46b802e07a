# Shared by the HTTP and install tests: check counting, temporary work
# directories, and a lighttpd on 127.0.0.1 that runs script companions as CGI
# the way the README tells a user to configure it.
# shellcheck shell=bash
set -euo pipefail

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() {
  failed=$((failed + 1))
  echo "FAIL: $*"
}
# check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then ok; else bad "$what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
skip() {
  echo "SKIPPED: $*"
  exit 77
}

work=$(mktemp -d)
server_pid=
cleanup() {
  stop_server
  rm -rf "$work"
}
trap cleanup EXIT

lighttpd_bin() { command -v lighttpd || { [ -x /usr/sbin/lighttpd ] && echo /usr/sbin/lighttpd; }; }

# start_server DOCROOT: runs lighttpd in the foreground of a background job
# on a free port (another one is tried when the port is taken) and sets
# $base_url.
start_server() {
  local root=$1 bin port _try _
  bin=$(lighttpd_bin)
  for _try in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    cat >"$work/lighttpd.conf" <<CONF
server.document-root = "$root"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/lighttpd-error.log"
server.modules = ("mod_cgi")
mimetype.assign = ("" => "application/octet-stream")
# A script companion runs by its own #! line.
cgi.assign = (".cgi" => "")
# Pass the script's answer on as it comes, unbuffered; the script answers
# ranges itself.
server.stream-response-body = 2
\$HTTP["url"] =~ "\.cgi$" { server.range-requests = "disable" }
CONF
    "$bin" -D -f "$work/lighttpd.conf" >"$work/lighttpd.out" 2>&1 &
    server_pid=$!
    base_url="http://127.0.0.1:$port"
    for _ in $(seq 50); do
      if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
      # Answered, and by our server: it is still running, so the port is its.
      if curl -s -o /dev/null "$base_url/" 2>/dev/null && kill -0 "$server_pid" 2>/dev/null; then return 0; fi
      sleep 0.1
    done
    stop_server
  done
  echo "lighttpd did not start:"
  cat "$work/lighttpd.out" "$work/lighttpd-error.log" 2>/dev/null || true
  return 1
}

stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}

# url_path PATH: PATH percent-encoded for a URL, "/" kept.
url_path() {
  local LC_ALL=C s=$1 out='' c
  while [ -n "$s" ]; do
    c=${s:0:1}
    s=${s:1}
    case $c in
      [A-Za-z0-9/._~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s' "$out"
}

# bytes FILE FIRST LAST: the bytes FIRST to LAST (inclusive) of FILE.
bytes() { tail -c +"$(($2 + 1))" -- "$1" | head -c "$(($3 - $2 + 1))"; }
