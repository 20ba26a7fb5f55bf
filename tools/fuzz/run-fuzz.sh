#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (with address and undefined-behaviour
# sanitizers) and runs each for a bounded time.
# Usage: run-fuzz.sh OUT_DIR [SECONDS] [TARGETS] (TARGETS: names such as "formula", default all)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$(cd "$here/../.." && pwd)"
out="${1:?usage: run-fuzz.sh OUT_DIR [SECONDS]}"
seconds="${2:-30}"
targets="${3:-field_reader unpack formula}"
mkdir -p "$out"
cxx="${CLANGXX:-clang++}"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -I"$src/src")
core=("$src"/src/common/*.cpp "$src"/src/pricedb/formats.cpp
      "$src"/src/pricedb/unpack.cpp "$src"/src/pricedb/series.cpp "$src"/src/pricedb/market_store.cpp
      "$src"/src/screening/formula/lexer.cpp "$src"/src/screening/formula/parser.cpp
      "$src"/src/screening/formula/evaluator.cpp "$src"/src/pricedb/fins_store.cpp
      "$src"/src/screening/formula/chart_functions.cpp "$src"/src/chart/line.cpp
      "$src"/src/chart/macd.cpp "$src"/src/chart/stochastics.cpp "$src"/src/chart/rci.cpp
      "$src"/src/chart/ichimoku.cpp
      "$src"/src/pricedb/fundamentals.cpp "$src"/src/pricedb/jquants_json.cpp -lcurl -lsimdjson)

for target in $targets; do
  bin="$out/${target}_fuzz"
  if [ ! -x "$bin" ] || [ -n "$(find "$src/src" "$here" -newer "$bin" -name '*.[ch]*' | head -1)" ]; then
    "$cxx" "${flags[@]}" "$here/${target}_fuzz.cpp" "${core[@]}" -o "$bin"
  fi
  corpus="$out/${target}_corpus"
  mkdir -p "$corpus"
  seeds="$here/seeds"
  [ -d "$here/seeds_$target" ] && seeds="$here/seeds_$target"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $target for ${seconds}s"
  (cd "$out" && "$bin" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
      -timeout=10 -print_final_stats=1 "$corpus")
done
echo "fuzzing finished without findings"
