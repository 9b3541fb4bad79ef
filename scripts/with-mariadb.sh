#!/usr/bin/env bash
# Runs a command next to a throw-away MariaDB server: a fresh data folder in a temporary
# folder, the server on 127.0.0.1 with a free port, a test user with every right. The
# server's coordinates reach the command as ZERIRE_TEST_MYSQL_*; the server is stopped
# and its folder removed afterwards, also when the command fails.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zerire-mariadb.XXXXXX")
socket="$tmp/mysqld.sock"
user=$(id -un)
server_pid=""

stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    mariadb-admin --no-defaults --socket="$socket" -uroot shutdown >/dev/null 2>&1 \
      || kill "$server_pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap stop_server EXIT

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}
port=$((20000 + RANDOM % 30000))
while port_in_use "$port"; do
  port=$((port + 1))
done

mariadb-install-db --no-defaults --datadir="$tmp/data" --user="$user" \
  --auth-root-authentication-method=normal --skip-test-db >"$tmp/install.log" 2>&1 || {
  cat "$tmp/install.log" >&2
  exit 1
}

mariadbd --no-defaults --datadir="$tmp/data" --socket="$socket" --port="$port" \
  --bind-address=127.0.0.1 --pid-file="$tmp/mysqld.pid" --log-error="$tmp/error.log" \
  --user="$user" --skip-name-resolve --innodb-buffer-pool-size=128M \
  --innodb-flush-log-at-trx-commit=2 --max-connections=500 >"$tmp/server.out" 2>&1 &
server_pid=$!

for _ in $(seq 1 300); do
  if mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then
    break
  fi
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "MariaDB did not start:" >&2
    cat "$tmp/error.log" >&2
    exit 1
  fi
  sleep 0.1
done

mariadb --no-defaults --socket="$socket" -uroot <<'SQL'
CREATE USER 'zerire'@'127.0.0.1' IDENTIFIED BY 'zerire-test';
CREATE USER 'zerire'@'localhost' IDENTIFIED BY 'zerire-test';
GRANT ALL PRIVILEGES ON *.* TO 'zerire'@'127.0.0.1' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'zerire'@'localhost' WITH GRANT OPTION;
CREATE DATABASE zerire_test CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
SQL

echo "MariaDB test server on 127.0.0.1:$port"
export ZERIRE_TEST_MYSQL_HOST=127.0.0.1
export ZERIRE_TEST_MYSQL_PORT=$port
export ZERIRE_TEST_MYSQL_USER=zerire
export ZERIRE_TEST_MYSQL_PASSWORD=zerire-test
export ZERIRE_TEST_MYSQL_DATABASE=zerire_test
export ZERIRE_TEST_REQUIRE_MYSQL=1

status=0
"$@" || status=$?
exit "$status"
