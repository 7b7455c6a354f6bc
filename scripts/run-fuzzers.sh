#!/bin/bash
# Builds the fuzz targets (tests/fuzz) with clang in build-fuzz and runs each
# for SECONDS (default 60) from a copy of its seed corpus, so that nothing
# is written into the repository. Prints per target the executions, the
# coverage (cov: and ft: of libFuzzer's last status line) and the findings;
# a finding's input and log stay in build-fuzz/fuzz-runs/<target>/. Fails
# when any target finds a crash, a leak, a timeout or an out-of-memory.
#
#   scripts/run-fuzzers.sh [SECONDS] [TARGET...]     (TARGET: e.g. format)
#
# CC and CXX choose the compilers (default clang-14, clang++-14); JOBS the
# build's parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
case $seconds in
'' | *[!0-9]*)
  echo "usage: $0 [SECONDS] [TARGET...]" >&2
  exit 2
  ;;
esac

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DVANTLOW_FUZZ=ON -DVANTLOW_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="${CC:-clang-14}" -DCMAKE_CXX_COMPILER="${CXX:-clang++-14}" >/dev/null
cmake --build "$build" --target vantlow_fuzzers -j "${JOBS:-2}"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in tests/fuzz/*_fuzz.cc; do
    name=$(basename "$source" .cc)
    targets+=("${name%_fuzz}")
  done
fi

# Leaks are findings; the rest of the caller's settings (CI's) is kept.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1"

failed=0
summary=()
for target in "${targets[@]}"; do
  exe="$build/tests/fuzz/${target}_fuzz"
  seeds="tests/fuzz/corpus/$target"
  if [ ! -x "$exe" ]; then
    echo "no fuzz target $target" >&2
    exit 2
  fi
  work="$build/fuzz-runs/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  [ -d "$seeds" ] && cp -R "$seeds/." "$work/corpus/"
  echo "== $target: ${seconds} s" >&2
  status=0
  # No reader needs a single block anywhere near 256 MiB: one that asks for
  # it is a finding (out-of-memory), not just a slow input.
  "$exe" "$work/corpus" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$work/findings/" \
    >"$work/log" 2>&1 || status=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  coverage=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -n 1 || true)
  # libFuzzer names what it keeps after the finding: crash-, leak-,
  # timeout-, oom-; a slow-unit- input is reported but is no failure.
  kinds=$(find "$work/findings" -type f -printf '%f\n' | sed 's/-[0-9a-f]*$//' | sort |
    uniq -c | awk '{printf "%s%s %s", sep, $1, $2; sep=", "}')
  findings=$(find "$work/findings" -type f ! -name 'slow-unit-*' | wc -l)
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    failed=1
    result="FAILED (exit $status${kinds:+; $kinds})"
    echo "---- $target: the end of its log ($work/log)" >&2
    tail -n 60 "$work/log" >&2
  else
    result="no findings${kinds:+ ($kinds)}"
  fi
  summary+=("$(printf '%-14s executions %-10s %-20s %s' "$target" "${executions:-?}" \
    "${coverage:-cov: ?}" "$result")")
done

echo
echo "Fuzzing, ${seconds} s per target:"
printf '  %s\n' "${summary[@]}"
exit "$failed"
