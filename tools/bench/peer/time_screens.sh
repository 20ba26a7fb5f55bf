#!/bin/bash
# Times the peer comparison's two screens as whole lumenpick-cli processes, with and without
# DAYS() >= 61 in front: the median of 5 warm runs each, and the count kept.
# usage: tools/bench/peer/time_screens.sh CLI [CLI OPTIONS...]   (after run_peer.py made the market)
# e.g.   tools/bench/peer/time_screens.sh build/bin/lumenpick-cli --threads 1
set -euo pipefail
cli=$1
shift
docs=$(dirname "$0")/../../../build/peer/docs
[ -d "$docs" ] || { echo "no market in $docs: run tools/bench/peer/run_peer.py build first" >&2; exit 1; }
for f in "MAX(CROSS(MA(C,25),MA(C,50)),10) = 1" "RSI(14) <= 30" \
         "DAYS() >= 61 AND MAX(CROSS(MA(C,25),MA(C,50)),10) = 1" "DAYS() >= 61 AND RSI(14) <= 30"; do
  times=()
  for i in 0 1 2 3 4 5; do
    start=$(date +%s.%N)
    out=$("$cli" --documents "$docs" "$@" screen --formula "$f")
    end=$(date +%s.%N)
    kept=${out%%$'\n'*}
    if [ "$i" -gt 0 ]; then times+=("$(echo "$end - $start" | bc)"); fi
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
  printf '%s | %s | %.3f s\n' "$f" "$kept" "$median"
done
