# The reference server as an operator deploys it, for the deployment test and the server
# benchmark (sourced): a PostgreSQL cluster of its own (Debian's binaries, run as an
# unprivileged user since initdb refuses root), nginx with a private prefix, and `dorvex server`
# instances, all on loopback ports in one temporary folder. deploy_cleanup stops all of them.
#   deploy_init               make $work; call deploy_cleanup from the caller's EXIT trap
#   deploy_need_tools         exit 77 (skip) when nginx or PostgreSQL is missing; exit 1 under CI
#   pg_start                  start the cluster; sets $pg_url (postgresql://dorvex@127.0.0.1:PORT)
#   pg_create NAME            create a database; prints its URI
#   server_start VAR ARGS...  start `$dorvex server ARGS` on a free port; VAR_pid, VAR_port
#   server_stop VAR           stop it; fail unless it stopped cleanly
#   nginx_start NAME=PORT[,PORT...]...  one proxy per upstream group; sets nginx_port_NAME

deploy_pids=()
pg_pid=""
nginx_pid=""

deploy_init() {
  work=$(mktemp -d)
  chmod 755 "$work"  # the unprivileged database and proxy workers come in here
}

deploy_cleanup() {
  local pid
  for pid in "${deploy_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  if [ -n "$nginx_pid" ]; then kill -QUIT "$nginx_pid" 2>/dev/null || true; fi
  if [ -n "$pg_pid" ]; then kill -INT "$pg_pid" 2>/dev/null || true; fi
  for pid in "${deploy_pids[@]}" $nginx_pid $pg_pid; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  [ -n "${work:-}" ] && rm -rf "$work"
}

deploy_fail() { echo "FAIL: $*" >&2; exit 1; }

pg_bin=""
deploy_need_tools() {
  local dir
  for dir in /usr/lib/postgresql/*/bin; do [ -x "$dir/initdb" ] && pg_bin=$dir; done
  if [ -z "$pg_bin" ] && command -v initdb >/dev/null 2>&1; then pg_bin=$(dirname "$(command -v initdb)"); fi
  local missing=""
  command -v nginx >/dev/null 2>&1 || missing="nginx"
  [ -n "$pg_bin" ] || missing="$missing postgresql"
  command -v curl >/dev/null 2>&1 || missing="$missing curl"
  [ -z "$missing" ] && return 0
  # build.sh installs them: under CI their absence is a fault, not a reason to skip.
  if [ "${CI:-}" = true ]; then deploy_fail "missing:$missing (build.sh installs them)"; fi
  echo "SKIP: missing:$missing (apt-get install nginx postgresql)" >&2
  exit 77
}

# A loopback port nothing listens on now (the caller retries when it is taken meanwhile).
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return; fi
  done
  deploy_fail "no free loopback port"
}

# Waits up to 10 s for CHECK to pass while PID runs; when it does not, stops PID with SIGNAL.
await_ready() {  # await_ready PID SIGNAL CHECK...
  local pid=$1 signal=$2
  shift 2
  for _ in $(seq 100); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "-$signal" "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 1
}

# Becomes the command, run as the unprivileged user when this is root (call it in a subshell
# or in the background, where its process id is the command's).
as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"
  else
    exec "$@"
  fi
}

pg_start() {
  mkdir -p "$work/pg"
  [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$work/pg"
  (as_user "$pg_bin/initdb" -D "$work/pg/data" -U dorvex --auth=trust -E UTF8 --locale=C --no-sync) \
    > "$work/pg/initdb.log" 2>&1 || { cat "$work/pg/initdb.log" >&2; deploy_fail "initdb"; }
  local port
  for _ in 1 2 3; do
    port=$(free_port)
    as_user "$pg_bin/postgres" -D "$work/pg/data" -k "$work/pg" -h 127.0.0.1 -p "$port" \
      -c max_connections=200 -c shared_buffers=64MB ${DEPLOY_PG_OPTIONS:-} > "$work/pg/server.log" 2>&1 &
    pg_pid=$!
    if await_ready "$pg_pid" INT "$pg_bin/pg_isready" -q -h 127.0.0.1 -p "$port"; then
      pg_url="postgresql://dorvex@127.0.0.1:$port"
      return
    fi
    pg_pid=""  # the port was taken meanwhile, most likely: another one
  done
  cat "$work/pg/server.log" >&2
  deploy_fail "PostgreSQL did not start"
}

pg_create() {
  "$pg_bin/psql" -q -X -d "$pg_url/postgres" -c "CREATE DATABASE $1" >&2 || deploy_fail "CREATE DATABASE $1"
  echo "$pg_url/$1"
}

server_start() {
  local var=$1; shift
  local log
  log=$(mktemp "$work/server-XXXXXX")
  "$dorvex" server --listen 127.0.0.1:0 "$@" > "$log" 2>&1 &
  local pid=$!
  deploy_pids+=("$pid")
  for _ in $(seq 100); do
    grep -q '^listening on' "$log" && break
    kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; deploy_fail "dorvex server $*"; }
    sleep 0.1
  done
  local port
  port=$(sed -n 's|^listening on http://127.0.0.1:\([0-9]*\)/$|\1|p' "$log")
  [ -n "$port" ] || { cat "$log" >&2; deploy_fail "dorvex server did not start"; }
  printf -v "${var}_pid" '%s' "$pid"
  printf -v "${var}_port" '%s' "$port"
  printf -v "${var}_log" '%s' "$log"
}

# Stops a server as SIGTERM does and fails unless it stopped cleanly (under the sanitizers, a
# leak or a fault found on the way out is a failure too).
server_stop() {
  local pid_var="${1}_pid" log_var="${1}_log" rc=0
  kill -TERM "${!pid_var}"
  wait "${!pid_var}" || rc=$?
  [ $rc -eq 0 ] || { cat "${!log_var}" >&2; deploy_fail "dorvex server ($1) stopped with status $rc"; }
}

nginx_listening() {  # nginx_listening GROUP...: whether every group's port takes connections
  local group var
  for group in "$@"; do
    var="nginx_port_${group%%=*}"
    (exec 3<>"/dev/tcp/127.0.0.1/${!var}") 2>/dev/null || return 1
  done
}

# nginx as Debian installs it, with its default upstream settings (HTTP/1.0 to the server, a
# new connection per request); only the body size is raised to take a 1 MiB part in base64.
nginx_start() {
  local dir=$work/nginx conf servers="" group name ports port
  mkdir -p "$dir"
  for _ in 1 2 3; do
    servers=""
    for group in "$@"; do
      name=${group%%=*}
      ports=${group#*=}
      port=$(free_port)
      printf -v "nginx_port_$name" '%s' "$port"
      servers+="  upstream $name {"
      for p in ${ports//,/ }; do servers+=" server 127.0.0.1:$p;"; done
      servers+=" }
  server { listen 127.0.0.1:$port; location / { proxy_pass http://$name; } }
"
    done
    conf=$dir/nginx.conf
    {
      [ "$(id -u)" -eq 0 ] && echo "user nobody nogroup;"
      cat <<EOF
worker_processes 2;
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 512; }
http {
  access_log off;
  client_max_body_size 8m;
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
$servers}
EOF
    } > "$conf"
    nginx -p "$dir" -e "$dir/error.log" -c "$conf" > "$dir/stdout.log" 2>&1 &
    nginx_pid=$!
    await_ready "$nginx_pid" QUIT nginx_listening "$@" && return
    nginx_pid=""
  done
  cat "$dir/error.log" >&2
  deploy_fail "nginx did not start"
}

# Request bodies and replies.
upload_body() {  # upload_body OPERATOR NAME TOTAL THIS FILE: a BatchUpload part of FILE's bytes
  printf '<Request method="BatchUpload" operator="%s"><BatchUpload total="%s" this="%s" name="%s" pages="1" encoding="base64" dvdprefix="" overwrite="1" refname="" pageindex="0" parentname="">' "$1" "$3" "$4" "$2"
  base64 -w0 "$5"
  printf '</BatchUpload></Request>'
}
post() {  # post URL COOKIE BODYFILE: the reply ("" when the transfer failed)
  local cookie=()
  [ -n "$2" ] && cookie=(--cookie "SessionID=$2")
  curl -sS --max-time 60 "${cookie[@]}" -H 'Content-Type: text/xml' --data-binary @"$3" "$1" || true
}
err_code() { sed -n 's|.*<ErrCode>\([^<]*\)</ErrCode>.*|\1|p' <<< "$1"; }
# The stored bytes of a one-file document, through the plain download, into FILE.
fetch() {  # fetch BASEURL NAME FILE
  curl -sS --fail --max-time 60 -o "$3" --get --data-urlencode "enc_inno=$("$dorvex" encrypt "$2")" \
    --data-urlencode part=1 "$1" || return 1
}
