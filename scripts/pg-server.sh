#!/usr/bin/env bash
# A PostgreSQL 15 server of our own for the tests of the database store. It listens on a Unix
# socket in its private state folder and, with TLS, on 127.0.0.1 at a free port; it trusts every
# local user, and neither needs nor touches the machine's own clusters, so two builds (build/,
# build-asan/) can each run one. Its state lives in a private folder under /tmp
# (scripts/private-dir.sh): the server refuses to run as root and runs as postgres, which must own
# its data folder.
# TLS: at start a certificate authority of its own is made (openssl) and signs the server's
# certificate for "localhost", both in STATE/tls; STATE/tcp says port=PORT and ca=CA_FILE, for
# postgresql://localhost:PORT/...?sslmode=verify-full&sslrootcert=CA_FILE.
#   scripts/pg-server.sh start POINTER NAME   starts it (stopping a leftover one first) and records
#                                             its state folder in POINTER; clients connect with
#                                             host=STATE (the socket's folder), user postgres, or
#                                             over TLS as STATE/tcp says; the server's log is
#                                             STATE/log
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

# Starts the server on port (its TCP port, and the name of its socket); false when it did not.
start_on() {
  local port=$1
  # fsync off: the server and its data live for one test run; a crash loses nothing anyone keeps.
  # HEMATIX_PG_DURABLE=1 (benchmarks of durable commits) keeps the server's own durability.
  local options="-k $dir -p $port -c listen_addresses=127.0.0.1"
  [ "${HEMATIX_PG_DURABLE:-}" = 1 ] || options+=" -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
  options+=" -c ssl=on -c ssl_cert_file=$dir/tls/server.crt -c ssl_key_file=$dir/tls/server.key"
  as_postgres "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 60 -o "$options" start >/dev/null 2>&1 || return 1
  # Clients name the socket folder alone, so they look for the default port's socket.
  [ "$port" = 5432 ] || ln -sfn ".s.PGSQL.$port" "$dir/.s.PGSQL.5432"
}

serve() {
  local port
  port=$(sed -n 's/^port=//p' "$dir/tcp")
  start_on "$port" || { echo "pg-server.sh: the server did not start" >&2; cat "$dir/log" >&2; exit 1; }
}

# A certificate authority of this server's own, and the server's certificate for "localhost"
# signed by it; the key readable by the server's user alone, as the server demands.
make_tls() {
  local tls=$dir/tls
  mkdir -p "$tls"
  local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${ec[@]}" -days 30 -subj "/CN=Hematix test CA $name" \
    -keyout "$tls/ca.key" -out "$tls/ca.crt" 2>>"$dir/tls.out"
  openssl req "${ec[@]}" -subj "/CN=localhost" -keyout "$tls/server.key" -out "$tls/server.csr" 2>>"$dir/tls.out"
  printf 'subjectAltName=DNS:localhost\n' >"$tls/server.ext"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -extfile "$tls/server.ext" -out "$tls/server.crt" 2>>"$dir/tls.out"
  chmod 600 "$tls/server.key" "$tls/ca.key"
  if [ "$(id -u)" -eq 0 ]; then chown -R postgres: "$tls"; fi
}

case "$action" in
  stop) stop; exit 0 ;;
  pause) dir=$(cat "$pointer"); as_postgres "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null; exit 0 ;;
  resume) dir=$(cat "$pointer"); serve; exit 0 ;;
  start) ;;
  *) echo "pg-server.sh: unknown action '$action'" >&2; exit 2 ;;
esac

[ -x "$bin/pg_ctl" ] || { echo "pg-server.sh: PostgreSQL 15 missing (scripts/setup.sh test)" >&2; exit 1; }
command -v openssl >/dev/null || { echo "pg-server.sh: openssl missing (scripts/setup.sh test)" >&2; exit 1; }
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
make_tls || { echo "pg-server.sh: the certificates were not made" >&2; cat "$dir/tls.out" >&2; exit 1; }
# A free port: one nothing answers on, and another when the server cannot bind it after all.
started=
for _ in 1 2 3 4 5 6 7 8; do
  port=$((20000 + RANDOM % 40000))
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
  if start_on "$port"; then started=$port; break; fi
done
[ -n "$started" ] || { echo "pg-server.sh: the server did not start" >&2; cat "$dir/log" >&2; exit 1; }
printf 'port=%s\nca=%s\n' "$started" "$dir/tls/ca.crt" >"$dir/tcp"
echo "PostgreSQL server $name on socket folder $dir and 127.0.0.1:$started with TLS (log $dir/log)"
