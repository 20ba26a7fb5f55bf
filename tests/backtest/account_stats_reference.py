#!/usr/bin/env python3
# The numbers of AccountRun.SingleStockStatisticsMatchAnIndependentComputation
# (tests/backtest/account_test.cpp), computed apart from the C++ code: the same 80 bars, its own
# simple simulation of the run (bought whenever flat at the open, whole 100-share units, sold
# at the close of the 5th day or the last day, no costs), then the statistics following empyrical's
# (Quantopian) definitions: sharpe_ratio = mean(r)/std(r, ddof=1)*sqrt(252);
# sortino_ratio = mean(r)*252 / (sqrt(mean(min(r,0)^2))*sqrt(252)); max_drawdown =
# min(V/cummax(V)-1); annual_return = (V_end/V_0)^(252/len(r))-1; and the profit factor as
# gross gains / gross losses of the trades in yen (backtesting.py sums their % returns instead).
import math
N=80
bars=[]
for t in range(N):
    c=round(1000+100*math.sin(t/5)+3*t)
    o=round(c-5*math.cos(t))
    bars.append((o,max(o,c)+8,min(o,c)-8,c))
cap=1_000_000.0; hold=5; lot=100
cash=cap; pos=None; vals=[]; trades=[]
for d in range(N):
    # entries: signal every day before -> enter at open when flat
    if d>0 and pos is None and d<=N-1:
        o=bars[d][0]
        units=math.floor(cash/(o*lot))
        sh=units*lot
        cash-=sh*o
        pos=(d,sh,o)
    if pos is not None:
        e,sh,o=pos
        if d==N-1 or d-e+1>=hold:
            cash+=sh*bars[d][3]
            trades.append(sh*(bars[d][3]-o))
            pos=None
    v=cash+(pos[1]*bars[d][3] if pos else 0)
    vals.append(v)
r=[vals[i]/vals[i-1]-1 for i in range(1,N)]
n=len(r); m=sum(r)/n
sd=math.sqrt(sum((x-m)**2 for x in r)/(n-1))
dd=math.sqrt(sum(min(x,0)**2 for x in r)/n)
sharpe=m/sd*math.sqrt(252)
sortino=m*252/(dd*math.sqrt(252))
peak=0; mdd=0
for v in vals:
    peak=max(peak,v); mdd=min(mdd,v/peak-1)
cagr=(vals[-1]/vals[0])**(252/n)-1
gains=sum(x for x in trades if x>0); losses=-sum(x for x in trades if x<0)
print("trades", len(trades), trades)
print("total %.10f"%((vals[-1]/cap-1)*100))
print("cagr %.10f"%(cagr*100))
print("sharpe %.12f"%sharpe)
print("sortino %.12f"%sortino)
print("mdd %.12f"%(mdd*100))
print("pf %.12f"%(gains/losses))
print("calmar %.12f"%(cagr/-mdd))
