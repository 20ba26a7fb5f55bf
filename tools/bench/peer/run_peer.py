#!/usr/bin/python3
"""The comparison a user would make: the same two full-market screens as whole processes,
lumenpick-cli against DuckDB SQL and a pandas script over the same files, in alternating runs.

usage: run_peer.py BUILD_DIR [RUNS]   (after setup.sh BUILD_DIR; RUNS default 5)
Prints a Markdown table of medians, the floor (reading the files the screens need, one
process per screen) and the ratios; exits 1 when any peer's count differs from lumenpick-cli's.
"""
import glob
import os
import statistics
import subprocess
import sys
import time

build = os.path.abspath(sys.argv[1])
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
here = os.path.dirname(os.path.abspath(__file__))
docs = os.path.join(build, "peer", "docs")
db = os.path.join(docs, "nordhaven", "lumenpick", "kabuka_db")
cli = os.path.join(build, "bin", "lumenpick-cli")

if not os.path.isdir(db):
    subprocess.run([os.path.join(build, "bin", "lumenpick-sample-market"), "--codes", "4000",
                    "--years", "3", "--end", "20261204", "--seed", "1", "--database", db],
                   check=True, stdout=subprocess.DEVNULL)

SCREENS = {
    "gc": "MAX(CROSS(MA(C,25),MA(C,50)),10) = 1",
    "rsi": "RSI(14) <= 30",
}


def lumenpick(which, threads=None):
    extra = ["--threads", str(threads)] if threads else []
    out = subprocess.run([cli, "--documents", docs] + extra + ["screen", "--formula", SCREENS[which]],
                         check=True, capture_output=True, text=True).stdout
    return int(out.splitlines()[0].split()[1].split("/")[0])


def lumenpick_one_thread(which):
    return lumenpick(which, 1)


def duckdb(which):
    out = subprocess.run(["node", os.path.join(build, "peer", "peer_screens.mjs"), db, which],
                         check=True, capture_output=True, text=True).stdout
    return int(out.split()[0])


def pandas(which):
    out = subprocess.run(["/usr/bin/python3", os.path.join(here, "peer_screens.py"), db, which],
                         check=True, capture_output=True, text=True).stdout
    return int(out.split()[0])


# The floor: one process reading every file the screens need, nothing parsed: the series and
# correction files of the years that hold the last 100 trading days (the longer screen looks
# back 61 traded days; 100 leave room for stocks with gaps) and the newest day file.
all_years = sorted(y for y in os.listdir(db) if y.isdigit())
with open(os.path.join(db, all_years[-1], "data_m", "1001.csv"), "rb") as f:
    newest_days = max(0, sum(1 for line in f if line.strip()) - 1)
years = all_years[-1:] if newest_days >= 100 else all_years[-2:]
needed = []
for y in years:
    needed += glob.glob(os.path.join(db, y, "data_m", "*.csv"))
    needed += glob.glob(os.path.join(db, y, "data_mh", "*.csv"))
needed.append(sorted(glob.glob(os.path.join(db, all_years[-1], "data_d", "*.csv")))[-1])


def floor(_which):
    subprocess.run(["cat"] + needed, check=True, stdout=subprocess.DEVNULL)
    return None


tools = {"lumenpick-cli": lumenpick, "lumenpick-cli --threads 1": lumenpick_one_thread,
         "DuckDB": duckdb, "pandas": pandas, "floor (raw read)": floor}
times = {t: {s: [] for s in SCREENS} for t in tools}
counts = {t: {} for t in tools}
for _ in range(runs):
    for which in SCREENS:
        for name, fn in tools.items():
            start = time.perf_counter()
            n = fn(which)
            times[name][which].append(time.perf_counter() - start)
            if n is not None:
                counts[name][which] = n

med = {t: sum(statistics.median(v) for v in times[t].values()) for t in tools}
print(f"{runs} alternating runs; median seconds per screen; the two screens summed; floor: "
      f"{len(needed)} files of {', '.join(years)}\n")
print("| tool | golden cross 25/50 in 10 days | RSI(14) <= 30 | both | x lumenpick-cli |")
print("|---|---|---|---|---|")
for t in tools:
    gc = statistics.median(times[t]["gc"])
    rsi = statistics.median(times[t]["rsi"])
    c = counts[t]
    label = lambda w: f"{statistics.median(times[t][w]):.3f} s" + (f" ({c[w]} kept)" if w in c else "")
    print(f"| {t} | {label('gc')} | {label('rsi')} | {med[t]:.3f} s | {med[t] / med['lumenpick-cli']:.2f} |")
ok = all(counts[t] == counts["lumenpick-cli"]
         for t in ("lumenpick-cli --threads 1", "DuckDB", "pandas"))
print(f"\ncounts equal: {'yes' if ok else 'NO'}; DuckDB / lumenpick-cli = "
      f"{med['DuckDB'] / med['lumenpick-cli']:.1f}x, pandas / lumenpick-cli = "
      f"{med['pandas'] / med['lumenpick-cli']:.1f}x, lumenpick-cli / floor = "
      f"{med['lumenpick-cli'] / med['floor (raw read)']:.2f}x")
sys.exit(0 if ok else 1)
