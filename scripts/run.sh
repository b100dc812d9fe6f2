#!/usr/bin/env bash
# Installs what is missing, builds, lays out a program folder in run/ and starts Hematix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build run
dir=$(scripts/build.sh | tail -n 1)
prog=run
mkdir -p "$prog/DB" "$prog/Temp"
for exe in "$dir"/bin/hematix*; do cp -f "$exe" "$prog/"; done
if [ ! -f "$prog/DB/HEMATIX.dbf" ] && [ -x "$prog/hematix-mkdb" ]; then
  "$prog/hematix-mkdb" "$prog"
fi
if [ -x "$prog/hematix" ]; then
  exec "$prog/hematix"
fi
echo "Program folder laid out in $prog/:"; ls -l "$prog" "$prog/DB"
