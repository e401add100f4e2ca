"""Bar aggregation against pandas on the same seeded one-minute bars.

`aggregate_bars` time includes the input copies the module makes and the output arrays.
pandas is timed twice: on a prebuilt DataFrame (construction not timed, which favours the
peer) and end to end from the same NumPy arrays to NumPy columns. The line "input copies
alone" times six plain array copies, the floor our conversion cannot go below.
Ratios below 1 mean we are faster. Never asserts; prints one line per case.
"""

import numpy as np
import pandas as pd

import _quillon as q
from common import median_time, report

MINUTE = 60_000_000_000


def minute_bars(n, seed=7):
    rng = np.random.default_rng(seed)
    ts = np.int64(1_600_000_000_000_000_000) + np.arange(n, dtype=np.int64) * MINUTE
    close = 100.0 * np.exp(np.cumsum(rng.normal(0.0, 0.001, n)))
    open_ = np.concatenate(([close[0]], close[:-1]))
    spread = np.abs(rng.normal(0.0, 0.0005, n)) * close
    high = np.maximum(open_, close) + spread
    low = np.minimum(open_, close) - spread
    volume = rng.integers(1, 10_000, n).astype(np.float64)
    return ts, open_, high, low, close, volume


AGG = {"open": "first", "high": "max", "low": "min", "close": "last", "volume": "sum"}


def main():
    rows = []
    for n in (10_000, 1_000_000):
        cols = minute_bars(n)
        ts, o, h, lo, c, v = cols
        df = pd.DataFrame({"open": o, "high": h, "low": lo, "close": c, "volume": v},
                          index=pd.to_datetime(ts, unit="ns"))

        def ours_15m():
            return q.aggregate_bars(*cols, 15, "m")

        def pandas_15m():
            return df.resample("15min", closed="left", label="right").agg(AGG)

        # Same bars either way: the window-end label of pandas is our stamp.
        out, peer = ours_15m(), pandas_15m().dropna()
        assert np.array_equal(out[0], peer.index.asi8)
        for a, name in zip(out[1:], AGG):
            assert np.array_equal(a, peer[name].to_numpy())

        def pandas_15m_from_arrays():
            # What a caller holding NumPy arrays pays end to end: frame, resample, columns out.
            frame = pd.DataFrame({"open": o, "high": h, "low": lo, "close": c, "volume": v},
                                 index=pd.to_datetime(ts, unit="ns"))
            r = frame.resample("15min", closed="left", label="right").agg(AGG).dropna()
            return (r.index.asi8, *(r[k].to_numpy() for k in AGG))

        t_ours = median_time(ours_15m, repeat=7)
        rows.append((f"15-minute bars, n = {n:,}", t_ours, "pandas resample",
                     median_time(pandas_15m, repeat=7), ">= 10x faster (<= 0.10)"))
        rows.append((f"  same, arrays in and out", t_ours, "pandas end to end",
                     median_time(pandas_15m_from_arrays, repeat=7), ""))

        def copy_inputs():
            # The module's own input conversion: six contiguous copies.
            return [a.copy() for a in cols]

        rows.append((f"  (input copies alone)", median_time(copy_inputs, repeat=7), "-", None, ""))

        groups = np.arange(n) // 100

        def ours_ticks():
            return q.aggregate_bars(*cols, 100, "tick")

        def pandas_ticks():
            return df.groupby(groups).agg(AGG)

        rows.append((f"100-bar count bars, n = {n:,}", median_time(ours_ticks, repeat=7),
                     "pandas groupby", median_time(pandas_ticks, repeat=7), ""))

        rows.append((f"renko (brick 0.05), n = {n:,}",
                     median_time(lambda: q.aggregate_bars(*cols, 1, "renko", brick_size=0.05),
                                 repeat=7), "-", None, ""))
    report(rows, "Bar aggregation from one-minute bars")


if __name__ == "__main__":
    main()
