#!/usr/bin/env bash
# The soak, run by hand: the analyser simulator sends to the whole program (grid and record
# panel open) for SECONDS (default 600) with random chunking, repeated frames and EOT+ENQ
# packets; at the end every message must be exactly one row, in order, and the resident
# memory, sampled every 30 s, must have stayed flat. Prints the figures.
#   scripts/soak.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target test_app hematix-sim >&2
HEMATIX_SOAK_SECONDS="$seconds" QT_QPA_PLATFORM=offscreen \
  build/bin/test_app --gtest_filter='AppFixture.SoakManyMessages*'
