"""Streaming indicators fed one bar per Python call, against talipp's incremental
indicators fed the same closes one `add` at a time.

Both sides pay the Python loop; the ratio is the per-update cost. Ratios below 1 mean we
are faster. Never asserts; prints one line per case.
"""

import numpy as np
from talipp.indicators import BB, EMA, MACD, RSI, SMA

import _quillon as q
from common import median_time, report

N = 100_000
rng = np.random.default_rng(11)
CLOSES = (100.0 * np.exp(np.cumsum(rng.normal(0.0, 0.001, N)))).tolist()


def ours(make):
    def run():
        ind = make()
        update = ind.update_bar
        for c in CLOSES:
            update(c, c, c, c)
        return ind
    return run


def theirs(make):
    def run():
        ind = make()
        add = ind.add
        for c in CLOSES:
            add(c)
        return ind
    return run


CASES = [
    ("ema(20)", lambda: q.Indicator.ema(20), "talipp EMA", lambda: EMA(20), "per-update ratio"),
    ("sma(20)", lambda: q.Indicator.sma(20), "talipp SMA", lambda: SMA(20), ""),
    ("rsi(14)", lambda: q.Indicator.rsi(14), "talipp RSI", lambda: RSI(14), ""),
    ("bollinger(20, 2)", lambda: q.Indicator.bollinger(20, 2.0), "talipp BB",
     lambda: BB(20, 2.0), ""),
    ("macd(12, 26, 9)", lambda: q.Indicator.macd(12, 26, 9), "talipp MACD",
     lambda: MACD(12, 26, 9), ""),
]


def main():
    # Same smoothing on both sides: the last EMA values agree.
    a, b = ours(CASES[0][1])().value, theirs(CASES[0][3])()[-1]
    assert abs(a - b) <= 1e-9 * abs(b), (a, b)

    rows = []
    for name, mine, peer, other, target in CASES:
        t_ours = median_time(ours(mine), repeat=5, warmup=1)
        t_peer = median_time(theirs(other), repeat=3, warmup=1)
        rows.append((f"{name} x {N:,} updates", t_ours, peer, t_peer, target))
    report(rows, "Streaming indicators, one Python call per bar")
    t = rows[0][1] / N
    print(f"Indicator.ema(20).update_bar: {t * 1e9:.0f} ns per update including the Python loop")


if __name__ == "__main__":
    main()
