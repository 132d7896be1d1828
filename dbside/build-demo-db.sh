#!/usr/bin/env bash
# Builds the demo database file with the embedded Firebird engine: schema,
# seeded stock rows, change triggers. The UDR module the database calls is
# built by the build (target vexa_notify_udr) into <build>/firebird/udr, the
# folder the build's engine configuration names.
#
#   dbside/build-demo-db.sh [--build DIR] [--output FILE] [--rows N] [--system]
#     --build DIR    the build directory (default: ./build)
#     --output FILE  the database file (default: DIR/bin/Data/KWV_DEMO.GDB, where
#                    churnmill looks when the registry names none)
#     --rows N       seeded rows (default 300)
#     --system       for a Firebird server (root only): also install the module
#                    into the server's UDR folder and give the database file to
#                    the server's account (firebird)
# An existing file at the output path is replaced.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=build
output=
rows=300
system=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --output) output=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    --system) system=1; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "build-demo-db: unknown argument: $1" >&2; exit 2 ;;
  esac
done
case "$rows" in ''|*[!0-9]*) echo "build-demo-db: --rows needs a number" >&2; exit 2 ;; esac

build=$(cd "$build" && pwd)
conf="$build/firebird"
module="$conf/udr/libvexa_notify.so"
if [ ! -f "$conf/plugins.conf" ] || [ ! -f "$module" ]; then
  echo "build-demo-db: $module is missing; build the target vexa_notify_udr first" >&2
  exit 1
fi
[ -n "$output" ] || output="$build/bin/Data/KWV_DEMO.GDB"
mkdir -p "$(dirname "$output")"
output="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"

isql=$(command -v isql-fb || command -v isql || true)
if [ -z "$isql" ]; then
  echo "build-demo-db: isql-fb not found (Debian package firebird3.0-utils)" >&2
  exit 1
fi

if [ "$system" = 1 ]; then
  plugins=$(dirname "$(readlink -f /usr/lib/*/firebird/3.0/plugins/libudr_engine.so | head -n1)")
  install -d "$plugins/udr"
  install -m 0644 "$module" "$plugins/udr/libvexa_notify.so"
  echo "installed $plugins/udr/libvexa_notify.so"
fi

export FIREBIRD="$conf"
# Creating the procedures loads the module into isql. A module built with
# AddressSanitizer needs its runtime loaded first.
asan=$(ldd "$module" 2>/dev/null | awk '/libasan/ { print $3; exit }')
if [ -n "$asan" ]; then
  export LD_PRELOAD="$asan${LD_PRELOAD:+:$LD_PRELOAD}"
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi
rm -f "$output"

# Seeded rows: prices and changes drawn by a fixed linear congruential
# sequence, so every build gives the same table.
seed_block="SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 0;
  DECLARE R BIGINT = 12345;
  DECLARE SYM VARCHAR(4);
  DECLARE J INTEGER;
  DECLARE P NUMERIC(15,2);
  DECLARE NC NUMERIC(15,2);
BEGIN
  WHILE (I < $rows) DO
  BEGIN
    SYM = '';
    J = 0;
    WHILE (J < 3) DO
    BEGIN
      R = MOD(R * 1103515245 + 12345, 2147483648);
      SYM = SYM || ASCII_CHAR(65 + MOD(R / 65536, 26));
      J = J + 1;
    END
    R = MOD(R * 1103515245 + 12345, 2147483648);
    P = (MOD(R / 65536, 10700) + 300) / 100.00;
    R = MOD(R * 1103515245 + 12345, 2147483648);
    NC = (MOD(R / 65536, 214) - 107) / 100.00;
    IF (NC = 0) THEN NC = 0.01;
    R = MOD(R * 1103515245 + 12345, 2147483648);
    INSERT INTO DEMOTABLE (STOCKSYMBOL, PRICE, NETCHANGE, OPENPRICE, HIGHPRICE, LOWPRICE, TICK, VOLUME)
      VALUES (:SYM, :P, :NC, :P, :P, :P, IIF(:NC >= 0, 'U', 'D'), (MOD(:R / 65536, 135) + 1) * 1000);
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;"

{
  echo "SET BAIL ON;"
  echo "CREATE DATABASE '$output' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE;"
  cat "$here/DemoSchema.sql"
  echo "$seed_block"
  cat "$here/DemoTriggers.sql"
} | "$isql" -q -b -sql_dialect 3

# The server opens the file as its own account.
if [ "$system" = 1 ] && id firebird >/dev/null 2>&1; then
  chown firebird:firebird "$output"
  chmod 0660 "$output"
fi

echo "built $output ($rows rows in DEMOTABLE)"
