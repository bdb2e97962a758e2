#!/usr/bin/env bash
# Runs one fuzzer for a bounded time: first every kept regression input once, then
# fuzzing from the seed corpus and a working corpus in the build folder (the only folder
# libFuzzer adds inputs to). A finding is saved under WORK/artifacts and fails the run.
#
#   fuzz/run-fuzzer.sh build/fuzz/bin/replace_all_fuzzer replace_all 20 build/fuzz
set -uo pipefail
bin=$1 name=$2 seconds=$3 work=$4
src=$(cd "$(dirname "$0")" && pwd)
seeds=$src/seeds/$name
regress=$src/regress/$name
corpus=$work/corpus/$name
artifacts=$work/artifacts
mkdir -p "$corpus" "$artifacts"

dirs=("$corpus")
[[ -d $seeds ]] && dirs+=("$seeds")
if [[ -d $regress ]] && compgen -G "$regress/*" >/dev/null; then
  echo "== $name: replaying $(ls "$regress" | wc -l) regression inputs"
  "$bin" -runs=1 "$regress"/* 2>&1 | tail -n 3 || { echo "== $name: a regression input fails"; exit 1; }
  dirs+=("$regress")
fi

log=$work/$name.log
"$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$artifacts/$name-" "${dirs[@]}" >"$log" 2>&1
status=$?
runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
corpus_size=$(ls "$corpus" | wc -l)
echo "== $name: ${seconds}s, ${runs:-?} executions, ${cov:-cov: ?}, corpus $corpus_size, exit $status"
if ((status != 0)); then
  grep -E 'ERROR|SUMMARY|differs|Test unit written|^[A-Za-z].*: ' "$log" | head -n 20
fi
exit $status
