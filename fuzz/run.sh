#!/usr/bin/env bash
# Builds the fuzz harnesses (clang, libFuzzer, ASan + UBSan) in build/fuzz and runs each for a
# while from its seed corpus. One line per harness, then "N passed, M failed"; the exit status
# is non-zero when a harness found a crash, a leak, a sanitizer report, a broken invariant or
# a timeout.
#
#   bash fuzz/run.sh                     every harness, 20 s each (the test command's smoke run)
#   bash fuzz/run.sh --seconds 600       a long campaign
#   bash fuzz/run.sh --seconds 300 regex cookies        only these harnesses
#   bash fuzz/run.sh --keep-corpus ...   go on from the corpus the last run grew
#
# The seeds (fuzz/corpus/<harness>/) are copied into build/fuzz/runs/<harness>/corpus, which
# the run grows; the repository is never written. A finding is kept as
# build/fuzz/runs/<harness>/artifacts/crash-... (or leak-, timeout-, oom-); replay it with
#   build/fuzz/fuzz/<harness>_fuzz build/fuzz/runs/<harness>/artifacts/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
keep=0
harnesses=()
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --seconds=*) seconds="${1#*=}"; shift ;;
    --keep-corpus) keep=1; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
[[ "$seconds" =~ ^[0-9]+$ && "$seconds" -ge 1 ]] || { echo "run.sh: --seconds needs a whole number of seconds" >&2; exit 2; }
if ((${#harnesses[@]} == 0)); then
  for f in fuzz/*_fuzz.cpp; do h=$(basename "$f" _fuzz.cpp); harnesses+=("$h"); done
fi

dir=build/fuzz
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_FUZZ=ON >/dev/null
fi
targets=()
for h in "${harnesses[@]}"; do
  [ -f "fuzz/${h}_fuzz.cpp" ] || { echo "run.sh: no harness named $h" >&2; exit 2; }
  targets+=("${h}_fuzz")
done
cmake --build "$dir" -j "${QUORVEL_FUZZ_BUILD_JOBS:-2}" --target "${targets[@]}" >/dev/null

# Leaks count as findings: nothing under the harnesses keeps process-lifetime caches.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

passed=0
failed=0
for h in "${harnesses[@]}"; do
  run="$dir/runs/$h"
  if ((keep == 0)); then rm -rf "$run"; fi
  mkdir -p "$run/corpus" "$run/artifacts"
  rm -f "$run/artifacts"/*
  cp -n fuzz/corpus/"$h"/* "$run/corpus/" 2>/dev/null || true
  dict=()
  [ -f "fuzz/dict/$h.dict" ] && dict=("-dict=fuzz/dict/$h.dict")
  start=$(date +%s)
  rc=0
  "$dir/fuzz/${h}_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
    -print_final_stats=1 -artifact_prefix="$run/artifacts/" "${dict[@]}" "$run/corpus" \
    >"$run/log" 2>&1 || rc=$?
  took=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log" | tail -1)
  cov=$( (grep -o 'cov: [0-9]*' "$run/log" || true) | tail -1 | cut -d' ' -f2)
  found=$(find "$run/artifacts" -type f | head -1)
  if ((rc == 0)) && [ -z "$found" ]; then
    passed=$((passed + 1))
    printf 'PASS %-13s %4ss %9s runs  cov %s\n' "$h" "$took" "${runs:-?}" "${cov:-?}"
  else
    failed=$((failed + 1))
    printf 'FAIL %-13s %4ss exit %s  input %s  log %s\n' "$h" "$took" "$rc" "${found:-none}" \
      "$run/log"
    grep -m3 -E 'ERROR:|invariant failed|SUMMARY:|runtime error' "$run/log" | sed 's/^/     /' || true
  fi
done
echo "$passed passed, $failed failed"
((failed == 0))
