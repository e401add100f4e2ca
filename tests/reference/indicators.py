"""Slow, plain-Python twins of the twelve batch indicators.

Written from the formulas as plain loops over Python floats (IEEE doubles, no fused
multiply-add), in the same operation order, so the module's results can be compared bit for
bit. Window extremes are the plain window fold, re-read at every index: the slow definition
that the module's O(1)-per-index window must reproduce exactly.

Conventions where the formulas leave a choice, shared with the module:
- a sum of a run of values starts from its first value and adds the rest left to right (never
  Python's sum(), whose integer 0 start would turn a sum of -0.0 into +0.0);
- max ignoring NaN keeps the first argument when the two compare equal (0.0 and -0.0), and so
  does the min of the supertrend band rule.
Every function returns lists of floats (the supertrend direction a list of ints).
"""

import math

NAN = float("nan")
INF = float("inf")


def run_sum(xs, first, last):
    """xs[first] + xs[first+1] + ... + xs[last], left to right."""
    s = xs[first]
    for k in range(first + 1, last + 1):
        s = s + xs[k]
    return s


def max_ignoring_nan(a, b):
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return b if b > a else a


def true_ranges(high, low, close):
    n = len(close)
    tr = [NAN] * n
    if n:
        tr[0] = high[0] - low[0]
    for i in range(1, n):
        t = max_ignoring_nan(high[i] - low[i], abs(high[i] - close[i - 1]))
        tr[i] = max_ignoring_nan(t, abs(low[i] - close[i - 1]))
    return tr


def sma(x, p):
    n = len(x)
    out = [NAN] * n
    if n < p:
        return out
    s = run_sum(x, 0, p - 1)
    out[p - 1] = s / p
    for i in range(p, n):
        s = (s - x[i - p]) + x[i]
        out[i] = s / p
    return out


def ema(x, p):
    n = len(x)
    out = [NAN] * n
    if n < p:
        return out
    out[p - 1] = run_sum(x, 0, p - 1) / p
    alpha = 2 / (p + 1)
    for i in range(p, n):
        out[i] = out[i - 1] * (1 - alpha) + x[i] * alpha
    return out


def rsi(x, p):
    n = len(x)
    out = [NAN] * n
    gains = [0.0] * n
    losses = [0.0] * n
    for i in range(1, n):
        d = x[i] - x[i - 1]
        if d > 0:
            gains[i], losses[i] = d, 0.0
        else:
            gains[i], losses[i] = 0.0, -d
    if p >= n:
        return out
    g = run_sum(gains, 1, p) / p
    l = run_sum(losses, 1, p) / p
    for i in range(p, n):
        out[i] = 100.0 if l == 0 else 100 - 100 / (g / l + 1)
        if i + 1 < n:
            g = g * (1 - 1 / p) + gains[i + 1] * (1 / p)
            l = l * (1 - 1 / p) + losses[i + 1] * (1 / p)
    return out


def macd(x, fast, slow, signal):
    n = len(x)
    line, sig, hist = [NAN] * n, [NAN] * n, [NAN] * n
    if n < slow:
        return line, sig, hist
    f, s = ema(x, fast), ema(x, slow)
    for i in range(slow - 1, n):
        if not (math.isnan(f[i]) or math.isnan(s[i])):
            line[i] = f[i] - s[i]
    j = slow - 1 + signal - 1
    if j < n and not any(math.isnan(v) for v in line[slow - 1:j + 1]):
        sig[j] = run_sum(line, slow - 1, j) / signal
        beta = 2 / (signal + 1)
        for i in range(j + 1, n):
            if not math.isnan(line[i]):
                sig[i] = sig[i - 1] * (1 - beta) + line[i] * beta
    for i in range(n):
        if not (math.isnan(line[i]) or math.isnan(sig[i])):
            hist[i] = line[i] - sig[i]
    return line, sig, hist


def window_max(xs, i, p):
    acc = -INF
    for v in xs[i - p + 1:i + 1]:
        if v > acc:
            acc = v
    return acc


def window_min(xs, i, p):
    acc = INF
    for v in xs[i - p + 1:i + 1]:
        if v < acc:
            acc = v
    return acc


def stochastic(high, low, close, k, d):
    n = len(close)
    pk, pd = [NAN] * n, [NAN] * n
    if n < k:
        return pk, pd
    for i in range(k - 1, n):
        hh, ll = window_max(high, i, k), window_min(low, i, k)
        pk[i] = ((close[i] - ll) / (hh - ll)) * 100 if hh - ll > 0 else 50.0
    for i in range(k + d - 2, n):
        window = pk[i - d + 1:i + 1]
        if not any(math.isnan(v) for v in window):
            pd[i] = run_sum(window, 0, d - 1) / d
    return pk, pd


def atr(high, low, close, p):
    n = len(close)
    out = [NAN] * n
    if p >= n:
        return out
    tr = true_ranges(high, low, close)
    out[p - 1] = run_sum(tr, 0, p - 1) / p
    for i in range(p, n):
        out[i] = out[i - 1] * (1 - 1 / p) + tr[i] * (1 / p)
    return out


def bollinger_bands(x, p, std_dev):
    n = len(x)
    upper, lower = [NAN] * n, [NAN] * n
    if n < p:
        return upper, [NAN] * n, lower
    middle = sma(x, p)
    for i in range(p - 1, n):
        m = middle[i]
        if math.isnan(m):
            continue
        squares = [(x[j] - m) * (x[j] - m) for j in range(i - p + 1, i + 1)]
        v = run_sum(squares, 0, p - 1) / p
        w = math.sqrt(v) * std_dev
        upper[i], lower[i] = m + w, m - w
    return upper, middle, lower


def adx(high, low, close, p):
    n = len(close)
    out = [NAN] * n
    if n < 2 * p:
        return out
    plus, minus = [0.0] * n, [0.0] * n
    tr = true_ranges(high, low, close)
    tr[0] = 0.0
    for i in range(1, n):
        up, down = high[i] - high[i - 1], low[i - 1] - low[i]
        plus[i] = up if (up > 0 and up > down) else 0.0
        minus[i] = down if (down > up and down > 0) else 0.0
    sums = []
    for series in (plus, minus, tr):
        s = [0.0] * n
        s[p] = run_sum(series, 1, p)
        for i in range(p + 1, n):
            s[i] = (s[i - 1] - s[i - 1] / p) + series[i]
        sums.append(s)
    sp, sm, st = sums
    dx = [0.0] * n
    for i in range(p, n):
        if st[i] > 0:
            pdi = (sp[i] * 100) / st[i]
            mdi = (sm[i] * 100) / st[i]
            if pdi + mdi > 0:
                dx[i] = (abs(pdi - mdi) * 100) / (pdi + mdi)
    out[2 * p - 1] = run_sum(dx, p, 2 * p - 1) / p
    for i in range(2 * p, n):
        out[i] = (out[i - 1] * (p - 1) + dx[i]) / p
    return out


def vwap(high, low, close, volume):
    n = len(close)
    out = [NAN] * n
    v = pv = 0.0
    for i in range(n):
        v = v + volume[i]
        pv = ((high[i] + low[i] + close[i]) / 3) * volume[i] + pv
        out[i] = pv / v if v > 0 else NAN
    return out


def supertrend(high, low, close, p, multiplier):
    n = len(close)
    line, direction = [NAN] * n, [0] * n
    if p >= n:
        return line, direction
    a = atr(high, low, close, p)
    bu, bl = [NAN] * n, [NAN] * n
    for i in range(p - 1, n):
        if not math.isnan(a[i]):
            mid = (high[i] + low[i]) * 0.5
            bu[i] = mid + a[i] * multiplier
            bl[i] = mid - a[i] * multiplier
    fu, fl = [NAN] * n, [NAN] * n
    fu[p - 1], fl[p - 1] = bu[p - 1], bl[p - 1]
    for i in range(p, n):
        fu[i] = bu[i]
        if not (math.isnan(bu[i]) or math.isnan(fu[i - 1])) and close[i - 1] <= fu[i - 1]:
            fu[i] = fu[i - 1] if fu[i - 1] < bu[i] else bu[i]
        fl[i] = bl[i]
        if not (math.isnan(bl[i]) or math.isnan(fl[i - 1])) and close[i - 1] >= fl[i - 1]:
            fl[i] = fl[i - 1] if fl[i - 1] > bl[i] else bl[i]
    if fu[p - 1] >= close[p - 1]:
        d, line[p - 1] = -1, fu[p - 1]
    else:
        d, line[p - 1] = 1, fl[p - 1]
    direction[p - 1] = d
    for i in range(p, n):
        if d == 1:
            line[i] = fl[i]
            if close[i] < fl[i]:
                d, line[i] = -1, fu[i]
        else:
            line[i] = fu[i]
            if close[i] > fu[i]:
                d, line[i] = 1, fl[i]
        direction[i] = d
    return line, direction


def rolling_min(x, p):
    out = [NAN] * len(x)
    for i in range(p - 1, len(x)):
        v = window_min(x, i, p)
        out[i] = NAN if v == INF else v
    return out


def rolling_max(x, p):
    out = [NAN] * len(x)
    for i in range(p - 1, len(x)):
        v = window_max(x, i, p)
        out[i] = NAN if v == -INF else v
    return out
