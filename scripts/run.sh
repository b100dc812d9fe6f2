#!/usr/bin/env bash
# Installs what is missing, builds, lays out a program folder in run/ and starts Hematix.
# When set.ini names no analyser that is attached, the analyser simulator is started on a
# pseudo-terminal and set.ini is pointed at it: choose "Файл" -> "Старт" to receive.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build run
dir=$(scripts/build.sh | tail -n 1)
prog=run
mkdir -p "$prog/DB" "$prog/Temp"
for exe in "$dir"/bin/hematix*; do cp -f "$exe" "$prog/"; done
if [ ! -f "$prog/DB/HEMATIX.dbf" ]; then
  "$prog/hematix-mkdb" "$prog"
fi
# The applications menu's entry for this program folder, with the program's icon beside it.
"$prog/hematix-desktop" "$PWD/$prog" "${XDG_DATA_HOME:-$HOME/.local/share}/applications" >/dev/null \
  || echo "The desktop entry could not be installed; Hematix still runs from $prog/hematix." >&2

port=""
if [ -f "$prog/set.ini" ]; then
  port=$(sed -n 's/^[[:space:]]*[Pp][Oo][Rr][Tt][[:space:]]*=[[:space:]]*//p' "$prog/set.ini" | head -n 1 | tr -d '\r')
fi
sim_pid=""
if [ -z "$port" ] || [ ! -c "$port" ] || [[ "$port" == /dev/pts/* ]]; then
  echo "No analyser attached: starting the analyser simulator on a pseudo-terminal."
  "$prog/hematix-sim" --ini "$prog/set.ini" --count 0 --interval 5000 --timeout 3600 --split random \
    > "$prog/Temp/simulator.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do
    grep -qi '^Port=/dev/' "$prog/set.ini" 2>/dev/null && break
    sleep 0.1
  done
  echo "Simulator on $(grep -i '^Port=' "$prog/set.ini" | cut -d= -f2); log in $prog/Temp/simulator.log"
fi
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true' EXIT

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Hematix under Xvfb (xvfb-run)."
  xvfb-run -a "$prog/hematix"
else
  "$prog/hematix"
fi
