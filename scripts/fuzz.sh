#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer + UndefinedBehaviorSanitizer) into
# build-fuzz/ and runs each for the given seconds (default 300), one at a time, seeded from the
# program's own writers, the test data and the kept regression inputs.
#   scripts/fuzz.sh [seconds-per-target] [target ...]      e.g. scripts/fuzz.sh 600 report-file
# Corpora grow in build-fuzz/corpus/<target>/, crashing inputs land in build-fuzz/findings/<target>/
# and the log of each run in build-fuzz/logs/<target>.log. A finding, once mended, is copied to
# the target's regression folder (see fuzz/entries/FuzzEntries.cpp) so the ordinary tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
secs=${1:-300}
shift || true
all=(capture-import sql-text table-file page-image report-file layout-text settings-ini audit-files index-cache)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

if ! command -v clang++-14 >/dev/null || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get install -y clang-14 libclang-rt-14-dev >&2
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DHEMATIX_FUZZ=ON -DHEMATIX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target $(printf 'fuzz_%s ' "${targets[@]//-/_}") >&2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${targets[@]}"; do
  bin=build-fuzz/bin/fuzz_${t//-/_}
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus" "build-fuzz/findings/$t" build-fuzz/logs
  HEMATIX_FUZZ_WRITE_SEEDS="$corpus" "$bin" 2>/dev/null
  # Test data of the repository and every input a fuzzer found before.
  case $t in
    page-image) cp tests/platform/data/*.emf "$corpus"/ ;;
    layout-text) cp report/layouts/*.layout "$corpus"/ ;;
  esac
  dir=$(sed -n "s|.*{\"$t\", \"\([^\"]*\)\".*|\1|p" fuzz/entries/FuzzEntries.cpp)
  [ -d "$dir" ] && cp "$dir"/* "$corpus"/ 2>/dev/null || true
  # Binary files are mutated at full length from the start; texts stay short, layouts as long as
  # the built-in ones.
  case $t in
    page-image|report-file|table-file) extra=(-max_len=65536 -len_control=0) ;;
    layout-text) extra=(-max_len=131072) ;;
    *) extra=(-max_len=16384) ;;
  esac
  [ -f "fuzz/dict/$t.dict" ] && extra+=(-dict="$root/fuzz/dict/$t.dict")
  echo "== $t: $secs s" >&2
  # With -jobs the run's own output goes to fuzz-0.log in the working folder: build-fuzz/logs.
  rm -f build-fuzz/logs/fuzz-0.log
  if (cd build-fuzz/logs && "$root/$bin" "$root/$corpus" -max_total_time="$secs" -jobs=1 -workers=1 -timeout=10 \
        -rss_limit_mb=2048 "${extra[@]}" -print_final_stats=1 -artifact_prefix="$root/build-fuzz/findings/$t/" \
        >"$t.log" 2>&1); then
    :
  else
    status=1
  fi
  if [ -f build-fuzz/logs/fuzz-0.log ]; then cat build-fuzz/logs/fuzz-0.log >>"build-fuzz/logs/$t.log"; rm -f build-fuzz/logs/fuzz-0.log; fi
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "build-fuzz/logs/$t.log" | tail -1 | awk '{print $2}')
  findings=$(ls "build-fuzz/findings/$t" | wc -l)
  echo "$t: ${execs:-?} executions in $secs s, $findings findings (build-fuzz/findings/$t)"
done
exit $status
