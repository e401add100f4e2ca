"""Batch indicators against TA-Lib on the same 1,000,000-element float64 inputs.

Our time includes the input copy the module makes and the output allocation. Ratios
below 1 mean we are faster. Never asserts: numbers go to bench/README.md.
"""

import numpy as np
import talib

import _quillon as q
from common import median_time, report

N = 1_000_000
rng = np.random.default_rng(42)
close = 100.0 * np.exp(np.cumsum(rng.normal(0.0, 0.01, N)))
spread = np.abs(rng.normal(0.0, 0.005, N)) * close
high, low = close + spread, close - spread
volume = rng.uniform(1e3, 1e5, N)

CASES = [
    ("sma(20)", lambda: q.sma(close, 20), "SMA", lambda: talib.SMA(close, 20)),
    ("ema(20)", lambda: q.ema(close, 20), "EMA", lambda: talib.EMA(close, 20)),
    ("rsi(14)", lambda: q.rsi(close, 14), "RSI", lambda: talib.RSI(close, 14)),
    ("macd(12,26,9)", lambda: q.macd(close), "MACD", lambda: talib.MACD(close, 12, 26, 9)),
    ("stochastic(14,3)", lambda: q.stochastic(high, low, close, 14, 3), "STOCHF",
     lambda: talib.STOCHF(high, low, close, 14, 3, 0)),
    ("atr(14)", lambda: q.atr(high, low, close, 14), "ATR", lambda: talib.ATR(high, low, close, 14)),
    ("bollinger_bands(20,2)", lambda: q.bollinger_bands(close, 20, 2.0), "BBANDS",
     lambda: talib.BBANDS(close, 20, 2.0, 2.0, 0)),
    ("adx(14)", lambda: q.adx(high, low, close, 14), "ADX", lambda: talib.ADX(high, low, close, 14)),
    ("rolling_min(20)", lambda: q.rolling_min(close, 20), "MIN", lambda: talib.MIN(close, 20)),
    ("rolling_max(20)", lambda: q.rolling_max(close, 20), "MAX", lambda: talib.MAX(close, 20)),
    ("rolling_min(500)", lambda: q.rolling_min(close, 500), "MIN", lambda: talib.MIN(close, 500)),
    ("rolling_max(500)", lambda: q.rolling_max(close, 500), "MAX", lambda: talib.MAX(close, 500)),
    ("vwap", lambda: q.vwap(high, low, close, volume), "numpy cumsum",
     lambda: np.cumsum((high + low + close) / 3 * volume) / np.cumsum(volume)),
    ("supertrend(10,3)", lambda: q.supertrend(high, low, close, 10, 3.0), "-", None),
]


def main():
    # Sanity: where the formulas coincide, the peer agrees with us.
    np.testing.assert_allclose(q.sma(close, 20)[19:], talib.SMA(close, 20)[19:], rtol=1e-9)
    np.testing.assert_array_equal(q.rolling_max(close, 500)[499:], talib.MAX(close, 500)[499:])

    rows, ours_by_name = [], {}
    for name, ours, peer, theirs in CASES:
        t_ours = median_time(ours)
        t_peer = median_time(theirs) if theirs else None
        ours_by_name[name] = t_ours
        target = "<= 1.30" if peer in ("SMA", "EMA", "RSI", "MACD", "STOCHF", "ATR", "BBANDS",
                                        "ADX", "MIN", "MAX") else ""
        if name.endswith("(500)"):
            target = "< 1.00"
        rows.append((name, t_ours, peer, t_peer, target))
    report(rows, f"Batch indicators, n = {N:,}")
    for kind in ("min", "max"):
        r = ours_by_name[f"rolling_{kind}(500)"] / ours_by_name[f"rolling_{kind}(20)"]
        print(f"rolling_{kind}: our period 500 / our period 20 = {r:.2f}  (target <= 1.20)")


if __name__ == "__main__":
    main()
