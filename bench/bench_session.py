"""A Python strategy loop driving KernelSession.step once per bar, against backtrader's and
backtesting.py's per-bar cost for the same strategy (enter long every 500 bars, exit 250
bars later, no orders) on a shorter slice.

The peers are far slower per bar, so they run on a slice and every line compares the cost
per bar. The first line isolates what one `step` call costs on a bar where nothing happens:
the same loop with and without the call, divided by the number of bars (target < 300 ns).
Never asserts; prints one line per case.
"""

import warnings

import numpy as np
import pandas as pd

import _quillon as q
from common import median_time, report

N = 1_000_000
PEER_BARS = 20_000
ENTRY_EVERY, HOLD = 500, 250

rng = np.random.default_rng(7)
close = 100.0 * np.exp(np.cumsum(rng.normal(0.0, 0.001, N)))
open_ = np.empty(N)
open_[0] = close[0]
open_[1:] = close[:-1]
high = np.maximum(open_, close) * (1.0 + np.abs(rng.normal(0.0, 0.0005, N)))
low = np.minimum(open_, close) * (1.0 - np.abs(rng.normal(0.0, 0.0005, N)))
volume = rng.uniform(1e3, 1e4, N)
ts = (1_600_000_000 + 60 * np.arange(N, dtype=np.int64)) * 10**9
IDX = list(range(N))
TS, O, H, L, C, V = (a.tolist() for a in (ts, open_, high, low, close, volume))
ENTRY = [i % ENTRY_EVERY == 0 for i in range(N)]
EXIT = [i % ENTRY_EVERY == HOLD for i in range(N)]


def ours_strategy(n):
    def run():
        s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
        step = s.step
        for i, t, o, h, l, c, v, e, x in zip(IDX[:n], TS, O, H, L, C, V, ENTRY, EXIT):
            step(i, t, o, h, l, c, v, e, x)
        return s.finish()
    return run


def ours_quiet():
    s = q.KernelSession()
    step = s.step
    for i, t, o, h, l, c, v in zip(IDX, TS, O, H, L, C, V):
        step(i, t, o, h, l, c, v)
    return s


def bare_loop():
    # The same iteration and unpacking, without the call.
    for i, t, o, h, l, c, v in zip(IDX, TS, O, H, L, C, V):
        pass


def frame(n):
    return pd.DataFrame({"Open": open_[:n], "High": high[:n], "Low": low[:n], "Close": close[:n],
                         "Volume": volume[:n]}, index=pd.to_datetime(ts[:n]))


def backtrader_run(n):
    import backtrader as bt

    class Periodic(bt.Strategy):
        def next(self):
            i = len(self) - 1
            if i % ENTRY_EVERY == 0 and not self.position:
                self.buy(size=100)
            elif i % ENTRY_EVERY == HOLD and self.position:
                self.close()

    data = frame(n).rename(columns=str.lower)

    def run():
        cerebro = bt.Cerebro(stdstats=False)
        cerebro.adddata(bt.feeds.PandasData(dataname=data))
        cerebro.addstrategy(Periodic)
        cerebro.broker.setcash(100000.0)
        return cerebro.run()
    return run


def backtesting_run(n):
    from backtesting import Backtest, Strategy

    class Periodic(Strategy):
        def init(self):
            pass

        def next(self):
            i = len(self.data) - 1
            if i % ENTRY_EVERY == 0 and not self.position:
                self.buy()
            elif i % ENTRY_EVERY == HOLD and self.position:
                self.position.close()

    data = frame(n)

    def run():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return Backtest(data, Periodic, cash=1e9, commission=0.0,
                            finalize_trades=True).run()
    return run


def main():
    rows = []
    t_step = median_time(ours_quiet, repeat=5, warmup=1)
    t_loop = median_time(bare_loop, repeat=5, warmup=1)
    rows.append((f"quiet loop, {N:,} bars", t_step, "bare loop", t_loop, ""))
    t_ours = median_time(ours_strategy(N), repeat=3, warmup=1)
    assert len(ours_strategy(N)().trades()) == N // ENTRY_EVERY
    rows.append((f"strategy loop, {N:,} bars", t_ours, "-", None, ""))
    per_bar = t_ours / N
    t_bt = median_time(backtrader_run(PEER_BARS), repeat=3, warmup=1) / PEER_BARS
    rows.append((f"per bar x 1,000 (peer {PEER_BARS:,} bars)", per_bar * 1e3, "backtrader",
                 t_bt * 1e3, "per-bar ratio"))
    t_btpy = median_time(backtesting_run(PEER_BARS), repeat=3, warmup=1) / PEER_BARS
    rows.append((f"per bar x 1,000 (peer {PEER_BARS:,} bars)", per_bar * 1e3, "backtesting.py",
                 t_btpy * 1e3, "per-bar ratio"))
    report(rows, "KernelSession driven from Python, one step call per bar")
    print(f"one step call on a quiet bar: {(t_step - t_loop) / N * 1e9:.0f} ns "
          f"(target < 300 ns)")
    print(f"per bar: ours {per_bar * 1e9:.0f} ns, backtrader {t_bt * 1e9:.0f} ns "
          f"({t_bt / per_bar:.0f}x), backtesting.py {t_btpy * 1e9:.0f} ns "
          f"({t_btpy / per_bar:.0f}x)")


if __name__ == "__main__":
    main()
