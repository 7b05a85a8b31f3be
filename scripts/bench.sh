#!/bin/sh
# Benchmark (README, "Performance"): builds everything, creates a fresh Wine prefix under
# build/bench and runs the benchmark in it. Figures go to the terminal, to
# build/bench/results.txt and to build/bench/results.json. Missed targets are reported,
# never a failure; only a benchmark that cannot run fails.
#   sh scripts/bench.sh [--quick] [--only wine|floor|steps|users|repair|files|ini|thread|process|first|long-run]
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null

out=$PWD/build/bench
export WINEPREFIX="$out/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
# A server started before wineboot has settled can hang for minutes.
wineserver -w

# A run that hangs (Wine's COM has deadlocked under other load) ends as a failure instead.
# The benchmark itself fails only when its long run (--only long-run) hung.
limit=1800
case " $* " in *" --quick "*) limit=600 ;; esac
rm -f "$out/status"
{ code=0; timeout "$limit" wine build/bin/benchmark.exe "$@" --json "Z:$out/results.json" || code=$?; echo $code >"$out/status"; } |
  tr -d '\r' | tee "$out/results.txt"
wineserver -k >/dev/null 2>&1 || true
exit "$(cat "$out/status")"
