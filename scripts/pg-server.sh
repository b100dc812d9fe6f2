#!/usr/bin/env bash
# A PostgreSQL 15 server of our own for the tests of the database store. It listens on a Unix
# socket in its private state folder only (listen_addresses=''), trusts every local user, and
# neither needs nor touches the machine's own clusters, so two builds (build/, build-asan/) can
# each run one. Its state lives in a private folder under /tmp (scripts/private-dir.sh): the
# server refuses to run as root and runs as postgres, which must own its data folder.
#   scripts/pg-server.sh start POINTER NAME   starts it (stopping a leftover one first) and records
#                                             its state folder in POINTER; clients connect with
#                                             host=STATE (the socket's folder), user postgres;
#                                             the server's log is STATE/log
#   scripts/pg-server.sh stop POINTER NAME    stops it and removes its state folder and POINTER
#   scripts/pg-server.sh pause POINTER NAME   stops it at once, as a crash or an outage would,
#                                             keeping its data (tests of a server gone away)
#   scripts/pg-server.sh resume POINTER NAME  starts the paused server again on the same data
# Each test makes a database of its own (CREATE DATABASE with a unique name) and drops it, so tests
# may share the server and run side by side.
set -euo pipefail
action=${1:?start or stop}
pointer=${2:?pointer file}
name=${3:?server name}
privatedir=$(dirname "$0")/private-dir.sh
bin=/usr/lib/postgresql/15/bin

# As postgres when we are root (CI, a root shell); as ourselves otherwise.
as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop() {
  local dir=
  if [ -f "$pointer" ]; then dir=$(cat "$pointer"); fi
  if [ -n "$dir" ] && [ -f "$dir/data/postmaster.pid" ]; then
    # Fast: the tests' sessions are done or abandoned; nothing here needs a clean checkpoint.
    as_postgres "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null 2>&1 || {
      pid=$(head -1 "$dir/data/postmaster.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    }
  fi
  "$privatedir" remove "$pointer"
}

serve() {
  # fsync off: the server and its data live for one test run; a crash loses nothing anyone keeps.
  as_postgres "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 60 \
    -o "-k $dir -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null || {
    echo "pg-server.sh: the server did not start" >&2; cat "$dir/log" >&2; exit 1
  }
}

case "$action" in
  stop) stop; exit 0 ;;
  pause) dir=$(cat "$pointer"); as_postgres "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null; exit 0 ;;
  resume) dir=$(cat "$pointer"); serve; exit 0 ;;
  start) ;;
  *) echo "pg-server.sh: unknown action '$action'" >&2; exit 2 ;;
esac

[ -x "$bin/pg_ctl" ] || { echo "pg-server.sh: PostgreSQL 15 missing (scripts/setup.sh test)" >&2; exit 1; }
stop
dir=$("$privatedir" make "$pointer" "pg-$name")
# The socket's whole path (dir/.s.PGSQL.5432) must stay under the 107 bytes a Unix socket allows.
if [ $((${#dir} + 16)) -ge 107 ]; then
  echo "pg-server.sh: $dir is too long a path for the server's socket" >&2; exit 1
fi
if [ "$(id -u)" -eq 0 ]; then chown postgres: "$dir"; fi
chmod 700 "$dir"

as_postgres "$bin/initdb" -D "$dir/data" -A trust -E UTF8 --locale=C.UTF-8 -U postgres >"$dir/initdb.out" 2>&1 || {
  echo "pg-server.sh: initdb failed" >&2; cat "$dir/initdb.out" >&2; exit 1
}
serve
echo "PostgreSQL server $name on socket folder $dir (log $dir/log)"
