#!/usr/bin/env bash
# Runs every benchmark of the given programs once and briefly, each family at
# its first (smallest) size, so that a benchmark that crashes or reports an
# error fails the test suite. Timings are not judged here.
set -u
status=0
for prog in "$@"; do
  name=$(basename "$prog")
  if ! names=$("$prog" --benchmark_list_tests 2>/dev/null) || [ -z "$names" ]; then
    echo "FAIL: $name lists no benchmarks"; status=1; continue
  fi
  filter=$(printf '%s\n' "$names" | awk -F/ '!seen[$1]++' |
           sed 's/[][().*+?^$|{}\\]/\\&/g; s/.*/^&$/' | paste -sd'|')
  start=$SECONDS
  out=$("$prog" --benchmark_min_time=0.001 --benchmark_filter="$filter" 2>&1)
  rc=$?
  if [ $rc != 0 ] || grep -q "ERROR OCCURRED" <<<"$out"; then
    echo "FAIL: $name (exit status $rc)"; printf '%s\n' "$out" | tail -40; status=1
  else
    echo "ok: $name, $(grep -c '^BM_' <<<"$out") benchmarks, $((SECONDS - start)) s"
  fi
done
exit $status
