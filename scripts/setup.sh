#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests or the program needs and the
# machine lacks. Usage: scripts/setup.sh [build|test|run]...
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
            libbenchmark-dev libsqlite3-dev fonts-liberation2 fonts-dejavu-core)
# Independent readers and renderers that the tests check our files against.
test_pkgs=(locales-all python3 python3-dbfread gdal-bin inkscape ghostscript xvfb xauth trayer xdotool imagemagick)
test_pkgs+=(cups printer-driver-cups-pdf poppler-utils)  # a PDF print queue for the printing tests; pdftoppm reads what it printed
build_pkgs+=(libcups2-dev)  # printing asks the print service whether it took a job
build_pkgs+=(qt6-charts-dev libqt6opengl6-dev libxlsxwriter-dev)  # a patient's history as charts; workbooks for export
test_pkgs+=(python3-openpyxl libreoffice-calc-nogui)  # exported workbooks read back by readers of their own
test_pkgs+=(openbox x11-utils desktop-file-utils)  # windows under a real window manager (openbox, xprop, xwininfo); desktop entry check
build_pkgs+=(libpq-dev)  # the results in PostgreSQL, through libpq
build_pkgs+=(libssl-dev)  # the audit trail's SHA-256 (OpenSSL's, with the processor's SHA instructions)
test_pkgs+=(postgresql)  # a private server for the database store's tests (scripts/pg-server.sh)
test_pkgs+=(openssl)  # that server's own certificate authority, for the tests over TLS
test_pkgs+=(tzdata)  # zones with half-hour offsets and summer time for the entries' times
run_pkgs=(xvfb xauth)

want=("${build_pkgs[@]}")
for group in "$@"; do
  case "$group" in
    build) ;;
    test) want+=("${test_pkgs[@]}") ;;
    run) want+=("${run_pkgs[@]}") ;;
    *) echo "setup.sh: unknown group '$group' (build, test or run)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
