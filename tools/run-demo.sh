#!/usr/bin/env bash
# Starts LumenPick on the sample market: a scratch documents folder, the sample market's
# packed files served by the local price server on port 8080, and the main window.
set -euo pipefail
build="${1:-build}"
bin="$build/bin"
demo="$(cd "$build" && pwd)/demo"
docs="$demo/documents"
mkdir -p "$docs"

if [ ! -f "$demo/packed/.stamp" ]; then
  echo "Generating the sample market (4000 codes, 3 years) into $demo ..."
  "$bin/lumenpick-sample-market" --packed "$demo/packed" --seed 1
  touch "$demo/packed/.stamp"
fi

if [ ! -x "$bin/lumenpick" ]; then
  # No window yet: show the database through the CLI instead.
  if [ ! -f "$demo/database.stamp" ]; then
    "$bin/lumenpick-sample-market" --database "$docs/nordhaven/lumenpick/kabuka_db" --seed 1
    touch "$demo/database.stamp"
  fi
  echo "latest trading date: $("$bin/lumenpick-cli" latest-date --documents "$docs")"
  end=$("$bin/lumenpick-cli" latest-date --documents "$docs")
  "$bin/lumenpick-cli" series 1301 --end "$end" --days 10 --documents "$docs"
  exit 0
fi

server_pid=""
if [ -x "$bin/lumenpick-price-server" ]; then
  "$bin/lumenpick-price-server" --root "$demo/packed" --port 8080 &
  server_pid=$!
  trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true' EXIT
  echo "Local price server on http://localhost:8080/html/kabuka_db/ (choose \"local　host\")."
fi

echo "Documents folder of the demo: $docs"
LUMENPICK_DOCUMENTS="$docs" "$bin/lumenpick"
