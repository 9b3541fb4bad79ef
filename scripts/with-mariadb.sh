#!/usr/bin/env bash
# Runs a command next to a throw-away MariaDB server: a fresh data folder in a temporary
# folder, the server on 127.0.0.1 with a free port, a test user with every right. The
# server's coordinates reach the command as ZERIRE_TEST_MYSQL_*; the server is stopped
# and its folder removed afterwards, also when the command fails.
#
# The command may also run servers of its own, to stop and start them at will (what a
# program does while its server is away, without disturbing the tests that share the
# first one). ZERIRE_TEST_MYSQL_SERVER names this script; called as
#   "$ZERIRE_TEST_MYSQL_SERVER" start NAME    (prints the server's port)
#   "$ZERIRE_TEST_MYSQL_SERVER" stop NAME
# it starts or stops the server NAME: the first start gives it a fresh data folder, a free
# port and the same test user; later starts use that folder and port again. Every such
# server is stopped and removed with the first one.
set -euo pipefail

user=$(id -un)

# Waits until the server on `socket` answers; false when its process `pid` died first.
wait_for_server() {
  local socket=$1 pid=$2 log=$3
  for _ in $(seq 1 300); do
    if mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "MariaDB did not start:" >&2
      cat "$log" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "MariaDB did not answer in time" >&2
  return 1
}

# Starts a server on the data folder `dir`/data, listening on `port` and `dir`/mysqld.sock.
start_server() {
  local dir=$1 port=$2
  mkdir -p "$dir/tmp"
  # Without native asynchronous I/O: its rings count against the locked-memory limit, which
  # several servers at once (other test runs, a test's own servers) exhaust.
  mariadbd --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" --port="$port" \
    --tmpdir="$dir/tmp" --innodb-use-native-aio=0 \
    --bind-address=127.0.0.1 --pid-file="$dir/mysqld.pid" --log-error="$dir/error.log" \
    --user="$user" --skip-name-resolve --innodb-buffer-pool-size=128M \
    --innodb-flush-log-at-trx-commit=2 --max-connections=500 \
    >"$dir/server.out" 2>&1 </dev/null &
  echo $! >"$dir/server.pid"
  wait_for_server "$dir/mysqld.sock" "$(cat "$dir/server.pid")" "$dir/error.log"
}

# Stops the server of `dir`, if it runs.
stop_server() {
  local dir=$1 pid
  [ -f "$dir/server.pid" ] || return 0
  pid=$(cat "$dir/server.pid")
  if kill -0 "$pid" 2>/dev/null; then
    mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot shutdown >/dev/null 2>&1 \
      || kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/server.pid"
}

create_test_user() {
  mariadb --no-defaults --socket="$1/mysqld.sock" -uroot <<'SQL'
CREATE USER 'zerire'@'127.0.0.1' IDENTIFIED BY 'zerire-test';
CREATE USER 'zerire'@'localhost' IDENTIFIED BY 'zerire-test';
GRANT ALL PRIVILEGES ON *.* TO 'zerire'@'127.0.0.1' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'zerire'@'localhost' WITH GRANT OPTION;
CREATE DATABASE zerire_test CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
SQL
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Reserves a free port for the server of `dir` (written to `dir`/port) and prints it. The
# ports lie below the system's range for outgoing connections and for listeners on port 0
# (the tests' fake servers), so that no connection takes the port of a server that is
# stopped for a while; ports reserved by the other servers of this run are skipped, also
# while those are stopped.
reserve_port() {
  local dir=$1 root=$2 lowest port
  lowest=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
  [ "$lowest" -gt 11000 ] 2>/dev/null || lowest=32768
  (
    flock 9
    port=$((10000 + RANDOM % (lowest - 10000)))
    while port_in_use "$port" || cat "$root"/main/port "$root"/servers/*/port 2>/dev/null \
        | grep -qx "$port"; do
      port=$((port + 1))
      [ "$port" -lt "$lowest" ] || port=10000
    done
    echo "$port" >"$dir/port"
    echo "$port"
  ) 9>"$root/ports.lock"
}

# Starts the server of `dir` for the first time; a port that another program took after it
# was reserved is given up for another.
first_start() {
  local dir=$1 root=$2
  for _ in 1 2 3 4 5; do
    if start_server "$dir" "$(reserve_port "$dir" "$root")"; then
      return 0
    fi
    grep -q "Address already in use" "$dir/error.log" 2>/dev/null || return 1
    rm -f "$dir/error.log"
  done
  return 1
}

# --- a further server of the command: start NAME, stop NAME -------------------------------
if [ "${1:-}" = "start" ] || [ "${1:-}" = "stop" ]; then
  if [ $# -ne 2 ] || [ -z "${ZERIRE_TEST_MYSQL_DIR:-}" ] || [[ ! "$2" =~ ^[A-Za-z0-9_-]+$ ]]; then
    echo "usage (inside $0 only): $0 start|stop NAME" >&2
    exit 2
  fi
  dir="$ZERIRE_TEST_MYSQL_DIR/servers/$2"
  if [ "$1" = "stop" ]; then
    stop_server "$dir"
    exit 0
  fi
  if [ ! -d "$dir/data" ]; then
    mkdir -p "$dir"
    cp -a "$ZERIRE_TEST_MYSQL_DIR/template" "$dir/data"
    first_start "$dir" "$ZERIRE_TEST_MYSQL_DIR" >&2
    create_test_user "$dir"
    cat "$dir/port"
    exit 0
  fi
  port=$(cat "$dir/port")
  if [ -f "$dir/server.pid" ] && kill -0 "$(cat "$dir/server.pid")" 2>/dev/null; then
    echo "$port"
    exit 0
  fi
  start_server "$dir" "$port" >&2
  echo "$port"
  exit 0
fi

# --- the throw-away server and the command ------------------------------------------------
if [ $# -eq 0 ]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zerire-mariadb.XXXXXX")

stop_all() {
  for dir in "$tmp"/servers/* "$tmp/main"; do
    [ -d "$dir" ] && stop_server "$dir"
  done
  rm -rf "$tmp"
}
trap stop_all EXIT

# One fresh installation, copied for the first server and for each further one. Temporary
# files stay in the folder: servers of other runs use the same names in the shared one.
mkdir -p "$tmp/install-tmp"
mariadb-install-db --no-defaults --datadir="$tmp/template" --user="$user" \
  --tmpdir="$tmp/install-tmp" --innodb-use-native-aio=0 \
  --auth-root-authentication-method=normal --skip-test-db >"$tmp/install.log" 2>&1 || {
  cat "$tmp/install.log" >&2
  exit 1
}
mkdir -p "$tmp/main" "$tmp/servers"
cp -a "$tmp/template" "$tmp/main/data"

first_start "$tmp/main" "$tmp"
port=$(cat "$tmp/main/port")
create_test_user "$tmp/main"

echo "MariaDB test server on 127.0.0.1:$port"
export ZERIRE_TEST_MYSQL_HOST=127.0.0.1
export ZERIRE_TEST_MYSQL_PORT=$port
export ZERIRE_TEST_MYSQL_USER=zerire
export ZERIRE_TEST_MYSQL_PASSWORD=zerire-test
export ZERIRE_TEST_MYSQL_DATABASE=zerire_test
export ZERIRE_TEST_REQUIRE_MYSQL=1
export ZERIRE_TEST_MYSQL_DIR=$tmp
ZERIRE_TEST_MYSQL_SERVER=$(readlink -f "$0")
export ZERIRE_TEST_MYSQL_SERVER

status=0
"$@" || status=$?
exit "$status"
