"""run_single_backtest against vectorbt's Portfolio.from_signals and backtesting.py.

Same data and settings for all: long only, all available cash per entry, a fixed 2 % stop
and 3 % target checked against each bar's high and low, a flat 0.1 % fee per fill, fills
at the close. Our time is end to end: argument conversion (validation; the arrays are read
in place when no argument can run Python code), the run, the 34 metrics and the result
object with its curves. vectorbt is timed
after its JIT warm-up, once for the simulation alone and once with the equity, drawdown
and return series materialised. backtesting.py runs an event loop in Python, so it gets a
10,000-bar slice and the comparison is per bar. Peak extra memory is measured in a fresh
process (high-water mark of the resident set around one call). Never asserts.
"""

import os

os.environ.setdefault("TQDM_DISABLE", "1")  # backtesting.py's progress bar

import subprocess
import sys
import textwrap
import warnings

import numpy as np

import _quillon as q
from common import median_time, report

N = 1_000_000
SLICE = 10_000
STOP, TARGET, FEES, CASH = 0.02, 0.03, 0.001, 100_000.0


def make_bars(n, seed=7):
    rng = np.random.default_rng(seed)
    close = 100.0 * np.exp(np.cumsum(rng.normal(0.0, 0.001, n)))
    open_ = np.r_[close[0], close[:-1]] * np.exp(rng.normal(0.0, 0.0002, n))
    high = np.maximum(open_, close) * (1.0 + np.abs(rng.normal(0.0, 0.0005, n)))
    low = np.minimum(open_, close) * (1.0 - np.abs(rng.normal(0.0, 0.0005, n)))
    volume = rng.uniform(1e3, 1e5, n)
    ts = (1_600_000_000 + 60 * np.arange(n, dtype=np.int64)) * 1_000_000_000
    entries = rng.random(n) < 0.01
    exits = rng.random(n) < 0.01
    return ts, open_, high, low, close, volume, entries, exits


def config():
    c = q.BacktestConfig(initial_capital=CASH, fees=FEES)
    c.set_fixed_stop(STOP)
    c.set_fixed_target(TARGET)
    return c


def ours(bars):
    return q.run_single_backtest(*bars, config=config())


def vectorbt_runs(bars):
    import pandas as pd
    import vectorbt as vbt

    ts, o, h, l, c, v, e, x = bars
    index = pd.to_datetime(ts)
    close, open_, high, low = (pd.Series(a, index=index) for a in (c, o, h, l))
    entries, exits = pd.Series(e, index=index), pd.Series(x, index=index)

    def simulate():
        return vbt.Portfolio.from_signals(
            close, entries, exits, open=open_, high=high, low=low, sl_stop=STOP, tp_stop=TARGET,
            fees=FEES, init_cash=CASH, size=np.inf, direction="longonly", freq="1min")

    def with_series():
        pf = simulate()
        return pf.value(), pf.drawdown(), pf.returns(), pf.trades.records

    return simulate, with_series


def backtesting_run(bars):
    import pandas as pd
    from backtesting import Backtest, Strategy

    ts, o, h, l, c, v, e, x = bars
    frame = pd.DataFrame({"Open": o, "High": h, "Low": l, "Close": c, "Volume": v},
                         index=pd.to_datetime(ts))
    signals = {"entries": e, "exits": x}

    class Signals(Strategy):
        def init(self):
            self.entry = self.I(lambda: signals["entries"], name="entry")
            self.exit = self.I(lambda: signals["exits"], name="exit")

        def next(self):
            price = self.data.Close[-1]
            if not self.position and self.entry[-1]:
                self.buy(sl=price * (1 - STOP), tp=price * (1 + TARGET))
            elif self.position and self.exit[-1] and not self.entry[-1]:
                self.position.close()

    bt = Backtest(frame, Signals, cash=CASH, commission=FEES, trade_on_close=True,
                  finalize_trades=True)
    return lambda: bt.run()


PEAK_SCRIPT = textwrap.dedent("""
    import sys
    sys.path.insert(0, {bench!r})
    import numpy as np
    import bench_backtest as b

    def hwm():
        for line in open("/proc/self/status"):
            if line.startswith("VmHWM"):
                return int(line.split()[1]) * 1024
    bars = b.make_bars(b.N)
    for a in bars:
        a[...] = a  # touch every page
    size = sum(a.nbytes for a in bars)
    before = hwm()
    r = b.ours(bars)
    print(size, hwm() - before)
""")


def peak_memory():
    out = subprocess.run([sys.executable, "-c", PEAK_SCRIPT.format(bench=os.getcwd())],
                         capture_output=True, text=True, check=True).stdout.split()
    return int(out[0]), int(out[1])


def main():
    warnings.filterwarnings("ignore")
    bars = make_bars(N)
    rows = []
    t_ours = median_time(lambda: ours(bars), repeat=9)
    r = ours(bars)
    print(f"ours: {t_ours * 1e9 / N:.1f} ns per bar end to end over {N:,} bars; "
          f"{r.metrics.total_trades} trades")
    try:
        simulate, with_series = vectorbt_runs(bars)
        small = make_bars(1000)
        vectorbt_runs(small)[1]()  # JIT warm-up
        t_sim = median_time(simulate, repeat=5, warmup=1)
        t_all = median_time(with_series, repeat=3, warmup=1)
        rows.append(("run_single_backtest 1M", t_ours, "vbt from_signals", t_sim, ">= 3x faster"))
        rows.append(("run_single_backtest 1M", t_ours, "vbt +value/dd/ret", t_all, ">= 3x faster"))
        print(f"vectorbt trades: {simulate().trades.count()}")
    except ImportError as e:
        print(f"vectorbt not available: {e}")
    try:
        sl = tuple(a[:SLICE].copy() for a in bars)
        t_bt = median_time(backtesting_run(sl), repeat=3, warmup=1)
        t_ours_sl = median_time(lambda: ours(sl), repeat=15)
        rows.append(("run_single_backtest 10k", t_ours_sl, "backtesting.py", t_bt, "per bar"))
        print(f"backtesting.py: {t_bt * 1e9 / SLICE:,.0f} ns per bar; "
              f"ours {t_ours_sl * 1e9 / SLICE:.1f} ns per bar on the same slice "
              f"({t_bt / t_ours_sl:,.0f} x faster); ours at 1M: {t_ours * 1e9 / N:.1f} ns per bar")
    except ImportError as e:
        print(f"backtesting.py not available: {e}")
    report(rows, "Single-instrument backtest, 1,000,000 bars (10,000 for backtesting.py)")
    size, extra = peak_memory()
    print(f"\npeak extra memory of one call: {extra / 2**20:.1f} MiB = {extra / size:.2f} x the "
          f"input arrays ({size / 2**20:.1f} MiB); target <= 3 x")
    print(f"per bar: {t_ours * 1e9 / N:.1f} ns end to end; target < 25 ns")


if __name__ == "__main__":
    main()
