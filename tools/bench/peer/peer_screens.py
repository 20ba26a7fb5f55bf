#!/usr/bin/python3
"""The two full-market screens as a pandas user would write them, over the database's files.

usage: peer_screens.py DB gc|rsi [OUT]
gc:  a 25/50-day average golden cross within the last 10 traded days
rsi: RSI(14) <= 30 (plain sums of the last 14 changes of the close)
Traded days are the series lines with volume > 0; prices are split-adjusted by the correction
files; the stocks are those that traded on the newest day of the reference code 1001.
"""
import glob
import os
import sys

import numpy as np
import pandas as pd


def main():
    db, which = sys.argv[1], sys.argv[2]
    frames = []
    for path in glob.glob(os.path.join(db, "[0-9]" * 4, "data_m", "*.csv")):
        code = os.path.basename(path)[:-4]
        f = pd.read_csv(path, header=None, skiprows=1, usecols=[0, 4, 5], names=["d", "c", "v"],
                        encoding="cp932")
        f["code"] = code
        frames.append(f)
    bars = pd.concat(frames, ignore_index=True)
    latest = bars.loc[bars.code == "1001", "d"].max()
    corr = []
    for path in glob.glob(os.path.join(db, "[0-9]" * 4, "data_mh", "*.csv")):
        f = pd.read_csv(path, header=None, skiprows=1, names=["d", "num", "den"], encoding="cp932")
        f["code"] = os.path.basename(path)[:-4]
        corr.append(f)
    corr = pd.concat(corr, ignore_index=True) if corr else pd.DataFrame(columns=["d", "num", "den", "code"])
    corr = corr[corr.d <= latest]

    listed = bars.loc[bars.d == latest, "code"]  # the newest day's stocks, traded or not
    bars = bars[(bars.v > 0) & (bars.d <= latest) & bars.code.isin(listed)]
    bars = bars.sort_values(["code", "d"], ascending=[True, False])  # newest first
    need = 60 if which == "gc" else 15
    bars = bars.groupby("code").head(need)
    sizes = bars.groupby("code")["d"].transform("size")
    bars = bars[sizes == need].copy()
    # Split adjustment: every correction dated after a day multiplies that day's price.
    if len(corr):
        m = bars.reset_index().merge(corr, on="code")
        m = m[m.d_x < m.d_y]
        factor = (m.num / m.den).groupby(m["index"]).prod()
        adjusted = (bars.loc[factor.index, "c"] * factor).to_numpy()
        # Adjusted prices are kept to 15 significant digits, as the database's readers keep them.
        bars.loc[factor.index, "c"] = np.char.mod("%.15g", adjusted).astype(float)
    codes_all = bars.code.to_numpy()[::need]
    c = bars.c.to_numpy().reshape(-1, need)  # one row per stock, newest first

    def ma(k, n):
        # Summed newest first, one value after another, as the screen itself sums.
        return np.cumsum(c[:, k:k + n], axis=1)[:, -1] / n

    if which == "gc":
        hit = np.zeros(len(c), dtype=bool)
        for k in range(10):
            hit |= (ma(k, 25) > ma(k, 50)) & (ma(k + 1, 25) <= ma(k + 1, 50))
    else:
        ch = c[:, :-1] - c[:, 1:]
        up = np.cumsum(np.where(ch > 0, ch, 0.0), axis=1)[:, -1]
        down = np.cumsum(np.where(ch < 0, -ch, 0.0), axis=1)[:, -1]
        total = up + down
        with np.errstate(divide="ignore", invalid="ignore"):
            hit = (total > 0) & (100 * up / total <= 30)
    codes = sorted(codes_all[hit])
    print(len(codes))
    if len(sys.argv) > 3:
        with open(sys.argv[3], "w") as out:
            out.write("".join(c + "\n" for c in codes))


main()
