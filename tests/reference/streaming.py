"""Plain-Python twins of the streaming indicators, one class per kind.

Written as literal loops over Python lists (append at the back, drop from the front once
the window exceeds its size), in the same arithmetic order as the native cores, so values
compare bit for bit. `update(high, low, close)` returns None or a float / tuple.
"""

import math

LOWEST = -1.7976931348623157e308
HIGHEST = 1.7976931348623157e308


def max_skip_nan(a, b):
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return a if a > b else b


def min_skip_nan(a, b):
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return a if a < b else b


def left_sum(values):
    s = 0.0
    for v in values:
        s = s + v
    return s


def _p(period):
    return 1 if period == 0 else period


class Sma:
    def __init__(self, period):
        self.p = _p(period)
        self.window, self.s, self.value = [], 0.0, None

    def update(self, high, low, close):
        self.window.append(close)
        self.s = self.s + close
        if len(self.window) == self.p + 1:
            self.s = self.s - self.window.pop(0)
        if len(self.window) == self.p:
            self.value = self.s / float(self.p)
        return self.value


class Ema:
    """Also the wilder_ma (alpha = 1/p) and each average of macd."""

    def __init__(self, period, alpha=None):
        self.p = _p(period)
        self.alpha = 2.0 / (float(self.p) + 1.0) if alpha is None else alpha(self.p)
        self.window, self.s, self.value = [], 0.0, None

    def update(self, high, low, close):
        if self.value is None:
            self.window.append(close)
            self.s = self.s + close
            if len(self.window) == self.p:
                self.value = self.s / float(self.p)
        else:
            self.value = (1.0 - self.alpha) * self.value + close * self.alpha
        return self.value


def WilderMa(period):
    return Ema(period, alpha=lambda p: 1.0 / float(p))


class Wma:
    def __init__(self, period):
        self.p = _p(period)
        self.window, self.value = [], None

    def update(self, high, low, close):
        self.window.append(close)
        if len(self.window) == self.p + 1:
            self.window.pop(0)
        if len(self.window) == self.p:
            n = 0.0
            for i, x in enumerate(self.window):
                n = n + float(i + 1) * x
            d = float(self.p * (self.p + 1)) * 0.5
            self.value = n / d
        return self.value


class Roc:
    def __init__(self, period):
        self.p = _p(period)
        self.window, self.value = [], None

    def update(self, high, low, close):
        self.window.append(close)
        if len(self.window) == self.p + 2:
            self.window.pop(0)
        if len(self.window) == self.p + 1:
            b = self.window[0]
            if b != 0.0:
                self.value = ((close - b) / b) * 100.0
        return self.value


class Stddev:
    def __init__(self, period, k=None):
        self.p = _p(period)
        self.k = k
        self.window, self.s, self.value = [], 0.0, None

    def update(self, high, low, close):
        self.window.append(close)
        self.s = self.s + close
        if len(self.window) == self.p + 1:
            self.s = self.s - self.window.pop(0)
        if len(self.window) == self.p:
            p = float(self.p)
            m = self.s / p
            v = 0.0
            for x in self.window:
                v = v + (x - m) * (x - m)
            sd = math.sqrt(v / p)
            if self.k is None:
                self.value = sd
            else:
                w = sd * self.k
                self.value = (m, m + w, m - w)
        return self.value


def Bollinger(period, k=2.0):
    return Stddev(period, k)


class Rsi:
    def __init__(self, period):
        self.p = _p(period)
        self.prev = None
        self.gains, self.losses = [], []
        self.g = self.l = None
        self.value = None

    def update(self, high, low, close):
        c0, self.prev = self.prev, close
        if c0 is None:
            return None
        d = close - c0
        gain, loss = (d, 0.0) if d > 0 else (0.0, -d)
        if self.g is not None:
            h = 1.0 / float(self.p)
            self.g = (1.0 - h) * self.g + gain * h
            self.l = (1.0 - h) * self.l + loss * h
        else:
            self.gains.append(gain)
            self.losses.append(loss)
            if len(self.gains) < self.p:
                return None
            self.g = left_sum(self.gains) / float(self.p)
            self.l = left_sum(self.losses) / float(self.p)
        self.value = 100.0 if self.l == 0 else 100.0 - 100.0 / (self.g / self.l + 1.0)
        return self.value


class Atr:
    def __init__(self, period):
        self.p = _p(period)
        self.prev = None
        self.seed = []
        self.value = None

    def update(self, high, low, close):
        if self.prev is None:
            tr = high - low
        else:
            tr = max_skip_nan(high - low, abs(high - self.prev))
            tr = max_skip_nan(tr, abs(low - self.prev))
        self.prev = close
        p = float(self.p)
        if self.value is not None:
            self.value = (1.0 - 1.0 / p) * self.value + tr * (1.0 / p)
        else:
            self.seed.append(tr)
            if len(self.seed) == self.p:
                self.value = left_sum(self.seed) / p
        return self.value


class Donchian:
    def __init__(self, period):
        self.p = _p(period)
        self.highs, self.lows, self.value = [], [], None

    def update(self, high, low, close):
        self.highs.append(high)
        self.lows.append(low)
        if len(self.highs) == self.p + 1:
            self.highs.pop(0)
            self.lows.pop(0)
        if len(self.highs) == self.p:
            upper, lower = LOWEST, HIGHEST
            for h in self.highs:
                upper = max_skip_nan(upper, h)
            for lo in self.lows:
                lower = min_skip_nan(lower, lo)
            self.value = (upper, lower)
        return self.value


class Macd:
    def __init__(self, fast=12, slow=26, signal=9):
        self.fast, self.slow, self.signal = Ema(fast), Ema(slow), Ema(signal)
        self.value = None

    def update(self, high, low, close):
        f = self.fast.update(high, low, close)
        s = self.slow.update(high, low, close)
        if f is not None and s is not None:
            line = f - s
            sig = self.signal.update(0.0, 0.0, line)
            if sig is not None:
                self.value = (line, sig, line - sig)
        return self.value


KINDS = {
    "sma": Sma,
    "ema": Ema,
    "wilder_ma": WilderMa,
    "wma": Wma,
    "roc": Roc,
    "stddev": Stddev,
    "rsi": Rsi,
    "atr": Atr,
    "donchian": Donchian,
    "bollinger": Bollinger,
    "macd": Macd,
}
