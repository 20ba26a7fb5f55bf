#!/usr/bin/env bash
# The daily loop as real processes: watched screens run after an import, their notification
# seen on a private session bus (and silence without one), alerts, a daily run that syncs
# from the local J-Quants server twice (the second changes nothing and notifies nothing), a
# daily whose sync fails, and the timer's unit files.
set -u
cli="$1"
sample="$2"
server="$3"
tmp="$(mktemp -d)"
server_pid=""
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$tmp"' EXIT
failures=0
fail() {
  failures=$((failures + 1))
  echo "FAIL: $*"
}
have() { command -v "$1" >/dev/null 2>&1; }

export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config"
unset JQUANTS_API_KEY
mkdir -p "$HOME"
docs="$tmp/docs"
db="$("$cli" --documents "$docs" settings | sed -n 's/^db_folder=//p')"
user="$("$cli" --documents "$docs" settings | sed -n 's/^user_folder=//p')"
"$sample" --codes 100 --years 1 --end 20250612 --seed 4 --database "$db" >/dev/null || fail "sample"
run() { "$cli" --documents "$docs" --today 20250616 "$@"; }
run screen-save 大化け --formula "C > 5000000" --universe 1301,1332 --watch >/dev/null ||
  fail "screen-save --watch"
run watch 大化け on >/dev/null || fail "watch on"
run watch nosuch on >/dev/null 2>&1 && fail "watch of a missing screen must fail"
run watch 大化け on --universe ptf7 >/dev/null 2>&1 && fail "watch over a missing portfolio must fail"

day_csv() {  # FILE DATE CLOSE
  printf 'Date,Open,High,Low,Close,Volume\n%s,%s,%s,%s,%s,100\n' "$2" "$3" "$3" "$3" "$3" >"$1"
}

# 1. No session bus: the import succeeds quietly, the history and the report are written.
day_csv "$tmp/1001.csv" 2025-06-13 2000
day_csv "$tmp/1301.csv" 2025-06-13 9000000
DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/no-bus" run import-csv "$tmp/1001.csv" "$tmp/1301.csv" \
  >"$tmp/out" 2>"$tmp/err" || fail "import without a bus exits $?"
grep -q "^lumenpick-cli" "$tmp/err" && fail "an error was printed without a bus: $(cat "$tmp/err")"
grep -q "通知" "$tmp/err" && fail "a notification was claimed without a bus"
[ -s "$user/reports/20250613.html" ] || fail "no report without a bus"
run alerts --date 20250613 >"$tmp/alerts" || fail "alerts"
grep -q "^新規,1301,.*,9000000," "$tmp/alerts" || fail "alerts: $(cat "$tmp/alerts")"

# 2. A private session bus: the notification goes to the freedesktop service, seen by a monitor.
if have dbus-run-session && have dbus-monitor; then
  day_csv "$tmp/1001.csv" 2025-06-16 2010
  day_csv "$tmp/1301.csv" 2025-06-16 100
  day_csv "$tmp/1332.csv" 2025-06-16 9000000
  export cli docs tmp
  dbus-run-session -- bash -c '
    dbus-monitor --session "interface=org.freedesktop.Notifications" >"$tmp/monitor" 2>/dev/null &
    sleep 1
    "$cli" --documents "$docs" --today 20250616 import-csv "$tmp/1001.csv" "$tmp/1301.csv" \
      "$tmp/1332.csv" >/dev/null 2>"$tmp/err2"
    echo $? >"$tmp/rc2"
    sleep 1
    kill %1' 2>/dev/null
  [ "$(cat "$tmp/rc2")" = 0 ] || fail "import on a bus exits $(cat "$tmp/rc2")"
  grep -q "member=Notify" "$tmp/monitor" || fail "no Notify call seen"
  grep -q 'string "LumenPick: 新規 1 銘柄"' "$tmp/monitor" || fail "title: $(cat "$tmp/monitor")"
  grep -q '大化け: 1332 ' "$tmp/monitor" || fail "body names the screen, code and name"
  grep -q 'variant *string "lumenpick"' "$tmp/monitor" ||
    fail "the desktop-entry hint is not the installed lumenpick.desktop"
  run alerts --screen 大化け >"$tmp/alerts" || fail "alerts --screen"
  head -1 "$tmp/alerts" | grep -q "^■大化け,20250616," || fail "heading: $(head -1 "$tmp/alerts")"
  grep -q "^新規,1332," "$tmp/alerts" || fail "新規 1332"
  grep -q "^除外,1301," "$tmp/alerts" || fail "除外 1301"
else
  echo "SKIP: dbus-run-session/dbus-monitor not installed (Debian package dbus)"
fi
run watch >"$tmp/watch" || fail "watch"
grep -q "^大化け,20250616,1,1," "$tmp/watch" || fail "watch list: $(cat "$tmp/watch")"
run alerts --date 2025061 >/dev/null 2>&1
[ $? = 2 ] || fail "alerts with a bad date must exit 2"
run report --date 20250614 >/dev/null 2>"$tmp/err"
[ $? = 2 ] || fail "report on a Saturday must exit 2"
grep -q "20250614 は取引日ではありません" "$tmp/err" || fail "report on a Saturday: $(cat "$tmp/err")"

# 3. daily: a failed sync exits 1 and runs nothing.
before="$(cat "$user/watch/大化け.csv" | md5sum)"
run daily --host local --base http://127.0.0.1:9/ >/dev/null 2>&1
[ $? = 1 ] || fail "daily with a failing sync must exit 1"
[ "$(cat "$user/watch/大化け.csv" | md5sum)" = "$before" ] || fail "a failed daily changed the history"
grep -q "^status=failed" "$user/watch/last_update.txt" || fail "a failed daily left no record"
grep -q "^reason=.*接続できません" "$user/watch/last_update.txt" ||
  fail "the record's reason: $(cat "$user/watch/last_update.txt")"
report="$(run report --date 20250616)" || fail "report after a failed daily"
grep -q "前回の自動更新: 失敗 (" "$report" || fail "the report does not say the update failed"

# 4. daily from the local J-Quants server, twice: one new day, then nothing new.
docs2="$tmp/docs2"
db2="$("$cli" --documents "$docs2" settings | sed -n 's/^db_folder=//p')"
user2="$("$cli" --documents "$docs2" settings | sed -n 's/^user_folder=//p')"
"$sample" --codes 100 --years 1 --end 20250612 --seed 4 --database "$db2" >/dev/null
"$sample" --codes 100 --years 1 --end 20250613 --seed 4 --database "$tmp/src" >/dev/null
"$server" --api jquants --root "$tmp/src" --api-key k --port 0 >"$tmp/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q "127.0.0.1:" "$tmp/server.out" && break; sleep 0.1; done
port="$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/server.out" | head -1)"
export JQUANTS_API_KEY=k
daily() {
  "$cli" --documents "$docs2" --today 20250613 daily --plan none --base "http://127.0.0.1:$port/v2"
}
"$cli" --documents "$docs2" screen-save 上抜け --formula "C > MA(C,5)" --watch >/dev/null
daily >"$tmp/d1" 2>"$tmp/d1err" || fail "first daily exits $?: $(tail -3 "$tmp/d1err")"
grep -q "^report=.*20250613.html" "$tmp/d1" || fail "first daily wrote no report: $(cat "$tmp/d1")"
grep -q "^20250613" <(iconv -f CP932 -t UTF-8 "$user2/watch/上抜け.csv") || fail "no block 20250613"
sum1="$(md5sum <"$user2/watch/上抜け.csv")"
daily >"$tmp/d2" 2>"$tmp/d2err" || fail "second daily exits $?"
grep -q "^new=0" "$tmp/d2" || fail "second daily found new entrants: $(cat "$tmp/d2")"
grep -q "通知" "$tmp/d2err" && fail "second daily notified"
[ "$(md5sum <"$user2/watch/上抜け.csv")" = "$sum1" ] || fail "second daily changed the history"

# A daily killed after the prices were committed, before the screens: the next one runs the
# screens on every day the killed one left out.
kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null
"$sample" --codes 100 --years 1 --end 20250617 --seed 4 --database "$tmp/src2" >/dev/null
"$server" --api jquants --root "$tmp/src2" --api-key k --port 0 >"$tmp/server2.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q "127.0.0.1:" "$tmp/server2.out" && break; sleep 0.1; done
port="$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/server2.out" | head -1)"
daily2() {
  "$cli" --documents "$docs2" --today 20250617 daily --plan none --base "http://127.0.0.1:$port/v2"
}
LUMENPICK_TEST_KILL_AFTER_SYNC=1 daily2 >/dev/null 2>&1
[ $? = 137 ] || fail "the hook did not kill daily after its sync"
[ "$(md5sum <"$user2/watch/上抜け.csv")" = "$sum1" ] || fail "the killed daily wrote history"
daily2 >"$tmp/d3" 2>"$tmp/d3err" || fail "daily after a kill exits $?: $(tail -3 "$tmp/d3err")"
blocks="$(iconv -f CP932 -t UTF-8 "$user2/watch/上抜け.csv" | tr -d '\r' | grep -E '^2025[0-9]{4}$' | tr '\n' ' ')"
case "$blocks" in *"20250613 20250616 20250617 ") ;; *) fail "history after the rerun: $blocks" ;; esac
unset JQUANTS_API_KEY

# 5. schedule: a bad time is refused, the units name this program and the documents given.
run schedule --at 7:30 >/dev/null 2>&1
[ $? = 2 ] || fail "schedule --at 7:30 must exit 2"
units="$XDG_CONFIG_HOME/systemd/user"
[ -e "$units/lumenpick-daily.timer" ] && fail "a refused time wrote units"
run schedule --at 07:30 >"$tmp/s" 2>&1 || fail "schedule --at exits $?"
grep -q "^ExecStart=\"$(readlink -f "$cli")\" --documents \"$docs\" daily$" \
  "$units/lumenpick-daily.service" || fail "ExecStart: $(grep ExecStart "$units/lumenpick-daily.service")"
grep -q "^OnCalendar=Mon..Fri \*-\*-\* 07:30:00$" "$units/lumenpick-daily.timer" || fail "OnCalendar"
run schedule | grep -q "平日 07:30" || fail "schedule shows the time"
run schedule --off >/dev/null || fail "schedule --off"
[ -e "$units/lumenpick-daily.timer" ] && fail "schedule --off left the timer"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"
