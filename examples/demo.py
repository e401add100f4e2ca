"""Technical indicators on real NSE daily bars bundled with Quillon.

Run with `make demo`. Prints the latest readings of every batch indicator for a few
large-cap stocks, and a simple trend/momentum read-out built from them.
"""

import sys

import numpy as np

import quillon as ql
from quillon.datasets import available, load_daily

SYMBOLS = ["RELIANCE", "INFY", "HDFCBANK", "TATASTEEL"]


def fmt(x, width=9, decimals=2):
    return f"{'-':>{width}}" if not np.isfinite(x) else f"{x:>{width}.{decimals}f}"


def date_of(ns):
    return str(np.datetime64(int(ns) + ql.IST_OFFSET_NS, "ns").astype("datetime64[D]"))


def analyse(symbol):
    bars = load_daily(symbol)
    t, h, l, c, v = (bars[k] for k in ("timestamps", "high", "low", "close", "volume"))
    sma20, sma50 = ql.sma(c, 20), ql.sma(c, 50)
    ema20 = ql.ema(c, 20)
    rsi14 = ql.rsi(c, 14)
    macd_line, macd_signal, macd_hist = ql.macd(c)
    k, d = ql.stochastic(h, l, c)
    atr14 = ql.atr(h, l, c, 14)
    upper, middle, lower = ql.bollinger_bands(c, 20, 2.0)
    adx14 = ql.adx(h, l, c, 14)
    vwap = ql.vwap(h, l, c, v)
    st_line, st_dir = ql.supertrend(h, l, c, 10, 3.0)
    hh52, ll52 = ql.rolling_max(h, 252), ql.rolling_min(l, 252)

    print(f"\n{symbol}: {len(c)} daily bars, {date_of(t[0])} to {date_of(t[-1])}")
    print(f"{'date':>10} {'close':>9} {'SMA20':>9} {'SMA50':>9} {'EMA20':>9} {'RSI14':>7} "
          f"{'MACD':>8} {'%K':>7} {'ATR14':>8} {'BB up':>9} {'BB low':>9} {'ADX':>6} {'trend':>6}")
    for i in range(len(c) - 8, len(c)):
        print(f"{date_of(t[i]):>10} {fmt(c[i])} {fmt(sma20[i])} {fmt(sma50[i])} {fmt(ema20[i])} "
              f"{fmt(rsi14[i], 7)} {fmt(macd_line[i], 8)} {fmt(k[i], 7)} {fmt(atr14[i], 8)} "
              f"{fmt(upper[i])} {fmt(lower[i])} {fmt(adx14[i], 6)} "
              f"{'up' if st_dir[i] == 1 else 'down':>6}")

    last = len(c) - 1
    cross = np.flatnonzero(np.diff(np.sign(sma20 - sma50)) != 0)
    crossings = cross[np.isfinite(sma50[cross])] if len(cross) else cross
    side = "above" if c[last] > sma50[last] else "below"
    print(f"  close {c[last]:.2f} is {side} the 50-day average; "
          f"supertrend says {'up' if st_dir[last] == 1 else 'down'} (line {st_line[last]:.2f}); "
          f"RSI {rsi14[last]:.1f}; ADX {adx14[last]:.1f} "
          f"({'trending' if adx14[last] > 25 else 'no clear trend'})")
    print(f"  52-week range {ll52[last]:.2f} - {hh52[last]:.2f}; ATR is "
          f"{100 * atr14[last] / c[last]:.2f}% of price; VWAP since {date_of(t[0])}: "
          f"{vwap[last]:.2f}; SMA20/SMA50 crossed {len(crossings)} times; "
          f"MACD histogram {macd_hist[last]:+.2f}, signal {macd_signal[last]:.2f}")


def main():
    print(f"Quillon {ql.__version__} - batch indicators on bundled NSE daily bars "
          f"({', '.join(available())})")
    for symbol in SYMBOLS:
        analyse(symbol)
    return 0


if __name__ == "__main__":
    sys.exit(main())
