#!/usr/bin/env bash
# Starts LumenPick on the sample market: a scratch documents folder, the sample market's
# packed files served by the local price server on port 8080, and the main window.
set -euo pipefail
build="${1:-build}"
bin="$(cd "$build" && pwd)/bin"
demo="$(cd "$build" && pwd)/demo"
docs="$demo/documents"
port=8080
mkdir -p "$docs"

stamp="$demo/packed/.stamp-$(date +%Y%m%d)"
if [ ! -f "$stamp" ]; then
  echo "Generating the sample market (4000 codes, 3 years up to today) into $demo/packed ..."
  rm -rf "$demo/packed"
  "$bin/lumenpick-sample-market" --packed "$demo/packed" --seed 1
  touch "$stamp"
fi

# The sample market's results summaries go straight into the demo database (the packed
# download carries prices only), so 予想PER, PBR and 利回り show from the first screen on.
demo_db="$docs/nordhaven/lumenpick/kabuka_db"
if [ ! -f "$demo_db/fins/.stamp-$(date +%Y%m%d)" ]; then
  "$bin/lumenpick-sample-market" --fins "$demo_db" --seed 1 >/dev/null
  touch "$demo_db/fins/.stamp-$(date +%Y%m%d)"
fi

"$bin/lumenpick-price-server" --root "$demo/packed" --port "$port" &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$server_pid" 2>/dev/null; then
  echo "The local price server could not listen on port $port (is another one running?)." >&2
  exit 1
fi
echo "Local price server: http://localhost:$port/html/kabuka_db/ (the \"local　host\" download host)."
echo "Documents folder of the demo: $docs"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No screen to show the window on: do the same work through the CLI, showing each command.
  echo "There is no display to open the window on, so here is the same database work with lumenpick-cli (docs/cli.md lists every command):"
  cli() {
    echo "\$ build/bin/lumenpick-cli $* --documents $docs" >&2
    "$bin/lumenpick-cli" "$@" --documents "$docs"
  }
  cli download current --host local
  end=$(cli latest-date)
  echo "latest trading date: $end"
  cli series 1301 --end "$end" --days 10
  exit 0
fi

LUMENPICK_DOCUMENTS="$docs" "$bin/lumenpick"
