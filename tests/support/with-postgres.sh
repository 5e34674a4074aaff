#!/usr/bin/env bash
# with-postgres.sh CMD [ARG...]: runs CMD beside a throw-away PostgreSQL server and removes the
# server afterwards, whatever CMD did.
#
# The cluster lives in a fresh temporary folder and listens only on a Unix socket there (no TCP
# port). Password authentication (scram-sha-256) is on; CMD gets
#   ZANST_TEST_PG_URL  postgresql://zanst@/postgres?host=<socket folder>&port=<port>  (no password)
#   PGPASSFILE         a password file that libpq reads, as the tool relies on.
# The server refuses to run as root, so under root it runs as the "postgres" user (or "nobody").
# If the server cannot be started this script fails: the tests that need it must not be skipped.
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 CMD [ARG...]" >&2
  exit 2
fi

bindir=""
if command -v pg_config > /dev/null 2>&1 && [ -x "$(pg_config --bindir)/initdb" ]; then
  bindir="$(pg_config --bindir)"
fi
if [ -z "$bindir" ]; then
  bindir="$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -n 1 || true)"
fi
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ] || [ ! -x "$bindir/pg_ctl" ]; then
  echo "with-postgres.sh: PostgreSQL server programs not found (Debian package postgresql)" >&2
  exit 1
fi

root="$(mktemp -d /tmp/zanst-pg.XXXXXX)"
chmod 0755 "$root"
data="$root/data"
socket="$root/socket"
port=5432
password="$(head -c 18 /dev/urandom | base64 | tr -d '/+=')"
mkdir -p "$socket"
printf '%s\n' "$password" > "$root/pwfile"

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  user=postgres
  id -u "$user" > /dev/null 2>&1 || user=nobody
  chown -R "$user" "$root"
  as_server=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups --)
fi

cleanup() {
  "${as_server[@]}" "$bindir/pg_ctl" -D "$data" -m immediate -w stop > /dev/null 2>&1 || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! "${as_server[@]}" "$bindir/initdb" -D "$data" -U zanst --pwfile="$root/pwfile" \
    --auth-local=scram-sha-256 --auth-host=scram-sha-256 -E UTF8 --no-sync > "$root/initdb.log" 2>&1; then
  echo "with-postgres.sh: initdb failed:" >&2
  cat "$root/initdb.log" >&2
  exit 1
fi
rm -f "$root/pwfile"

if ! "${as_server[@]}" "$bindir/pg_ctl" -D "$data" -l "$root/server.log" -w -t 60 \
    -o "-k $socket -c listen_addresses='' -p $port -c fsync=off -c max_connections=60" start > /dev/null; then
  echo "with-postgres.sh: the server did not start:" >&2
  cat "$root/server.log" >&2 || true
  exit 1
fi

# The password file belongs to whoever runs CMD; libpq ignores one that others can read.
pgpass="$(mktemp /tmp/zanst-pgpass.XXXXXX)"
chmod 0600 "$pgpass"
printf '%s:%s:*:zanst:%s\n' "$socket" "$port" "$password" > "$pgpass"
trap 'rm -f "$pgpass"; cleanup' EXIT

export PGPASSFILE="$pgpass"
export ZANST_TEST_PG_URL="postgresql://zanst@/postgres?host=$socket&port=$port"
unset PGPASSWORD PGHOST PGPORT PGUSER PGDATABASE || true

set +e
"$@"
status=$?
set -e
exit "$status"
