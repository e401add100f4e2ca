"""Plain-Python twins of the bar builders and the two array entry points.

Each builder takes records (ts, open, high, low, close, volume, signed) and returns None or
a bar tuple (ts, open, high, low, close, volume). Calendar dates come from the standard
library's proleptic Gregorian `datetime.date`, independent of the native day arithmetic.
"""

import datetime
import math
from collections import deque

from .streaming import max_skip_nan, min_skip_nan

NS_PER_DAY = 86_400_000_000_000
EPOCH_ORDINAL = datetime.date(1970, 1, 1).toordinal()
I64_MIN, I64_MAX = -(2**63), 2**63 - 1

UNIT_NS = {
    "ms": 1_000_000, "millisecond": 1_000_000,
    "s": 1_000_000_000, "sec": 1_000_000_000, "second": 1_000_000_000,
    "m": 60_000_000_000, "min": 60_000_000_000, "minute": 60_000_000_000,
    "h": 3_600_000_000_000, "hour": 3_600_000_000_000,
    "d": NS_PER_DAY, "day": NS_PER_DAY,
    "w": 7 * NS_PER_DAY, "week": 7 * NS_PER_DAY,
}
FLOW = {
    "tick_imbalance": ("tick", "imbalance"), "tick_runs": ("tick", "runs"),
    "volume_imbalance": ("volume", "imbalance"), "volume_runs": ("volume", "runs"),
    "value_imbalance": ("value", "imbalance"), "value_runs": ("value", "runs"),
}


def clamp(ns):
    return min(max(ns, I64_MIN), I64_MAX)


class Partial:
    def __init__(self, r):
        _, self.o, self.h, self.l, self.c, self.v, _ = r

    def merge(self, r):
        _, _, h, lo, c, v, _ = r
        self.h = max_skip_nan(self.h, h)
        self.l = min_skip_nan(self.l, lo)
        self.c = c
        self.v = self.v + v

    def bar(self, ts):
        return (ts, self.o, self.h, self.l, self.c, self.v)


class TimeBars:
    def __init__(self, width, offset):
        self.width, self.offset = width, offset
        self.window, self.partial = None, None

    def end(self, w):
        return clamp((w + 1) * self.width - self.offset)

    def push(self, r):
        w = (r[0] + self.offset) // self.width  # Python's // floors
        if self.window is None:
            self.partial, self.window = Partial(r), w
            return None
        if w == self.window:
            self.partial.merge(r)
            return None
        out = self.partial.bar(self.end(self.window))
        self.partial, self.window = Partial(r), w
        return out

    def flush(self):
        out = self.partial.bar(self.end(self.window)) if self.partial else None
        self.window, self.partial = None, None
        return out

    def next_pending(self):
        return None


class CalendarBars:
    def __init__(self, step, unit, offset):
        self.step, self.unit, self.offset = step, unit, offset
        self.bucket, self.partial = None, None

    def index(self, ts):
        day = (ts + self.offset) // NS_PER_DAY
        date = datetime.date.fromordinal(EPOCH_ORDINAL + day)
        return date.year * 12 + date.month - 1 if self.unit == "month" else date.year

    def end(self, bucket):
        nxt = (bucket + 1) * self.step
        year, month = (nxt // 12, nxt % 12 + 1) if self.unit == "month" else (nxt, 1)
        days = datetime.date(year, month, 1).toordinal() - EPOCH_ORDINAL
        return clamp(days * NS_PER_DAY - self.offset)

    def push(self, r):
        b = self.index(r[0]) // self.step
        if self.bucket is not None and b == self.bucket:
            self.partial.merge(r)
            return None
        out = self.partial.bar(self.end(self.bucket)) if self.bucket is not None else None
        self.partial, self.bucket = Partial(r), b
        return out

    def flush(self):
        out = self.partial.bar(self.end(self.bucket)) if self.partial else None
        self.bucket, self.partial = None, None
        return out

    def next_pending(self):
        return None


class CountBars:
    def __init__(self, kind, step):
        self.kind, self.step = kind, step
        self.ticks, self.acc, self.last_ts, self.partial = 0, 0.0, 0, None

    def push(self, r):
        if self.partial is None:
            self.partial = Partial(r)
        else:
            self.partial.merge(r)
        self.ticks += 1
        self.last_ts = r[0]
        if self.kind == "tick":
            done = self.ticks >= self.step
        else:
            self.acc = self.acc + (r[5] if self.kind == "volume" else r[5] * r[4])
            done = self.acc >= float(self.step)
        if not done:
            return None
        self.ticks, self.acc = 0, 0.0
        out, self.partial = self.partial.bar(self.last_ts), None
        return out

    def flush(self):
        self.ticks, self.acc = 0, 0.0
        out = self.partial.bar(self.last_ts) if self.partial else None
        self.partial = None
        return out

    def next_pending(self):
        return None


class FlowBars:
    def __init__(self, magnitude, rule, step):
        self.magnitude, self.rule, self.threshold = magnitude, rule, float(step)
        self.partial, self.buy, self.sell = None, 0.0, 0.0
        self.prev_close, self.prev_sign, self.last_ts = None, 1.0, 0

    def push(self, r):
        ts, _, _, _, close, volume, s = r
        if s != 0:
            d = s if math.isnan(s) else (1.0 if s > 0 else -1.0)
        else:
            if self.prev_close is None:
                d = 1.0
            elif close > self.prev_close:
                d = 1.0
            elif close < self.prev_close:
                d = -1.0
            else:
                d = self.prev_sign
            self.prev_sign = d
        self.prev_close, self.last_ts = close, ts
        m = {"tick": 1.0, "volume": volume, "value": volume * close}[self.magnitude]
        if d >= 0:
            self.buy = self.buy + m
        else:
            self.sell = self.sell + m
        if self.partial is None:
            self.partial = Partial(r)
        else:
            self.partial.merge(r)
        if self.rule == "runs":
            stat = max_skip_nan(self.buy, self.sell)
        else:
            stat = abs(self.buy - self.sell)
        if self.threshold <= stat:
            self.buy = self.sell = 0.0
            out, self.partial = self.partial.bar(ts), None
            return out
        return None

    def flush(self):
        self.buy = self.sell = 0.0
        out = self.partial.bar(self.last_ts) if self.partial else None
        self.partial = None
        return out

    def next_pending(self):
        return None


class RenkoBars:
    MAX = 10_000

    def __init__(self, brick):
        self.brick, self.anchor, self.pending = brick, None, deque()

    def push(self, r):
        ts, close, volume = r[0], r[4], r[5]
        if self.anchor is None:
            # A NaN close does not anchor the builder (it would never move again).
            if not math.isnan(close):
                self.anchor = math.floor(close / self.brick) * self.brick if math.isfinite(
                    close) else close
            return None
        q = abs(close - self.anchor) / self.brick
        if math.isnan(q):
            k = 0
        elif math.isinf(q):
            k = 2**64 - 1
        else:
            k = min(math.floor(q), 2**64 - 1)
        if k == 0:
            return None
        m = min(k, self.MAX)
        up = close > self.anchor
        o = self.anchor
        for j in range(m):
            c = o + self.brick if up else o - self.brick
            self.pending.append((ts, o, max(o, c), min(o, c), c, volume if j == m - 1 else 0.0))
            o = c
        if k > self.MAX:
            self.anchor = math.floor(close / self.brick) * self.brick if math.isfinite(
                close) else close
        else:
            self.anchor = o
        return self.next_pending()

    def next_pending(self):
        return self.pending.popleft() if self.pending else None

    def flush(self):
        return self.next_pending()


def make_builder(step, unit, tz_offset_ns=0, brick_size=0.0):
    if unit in UNIT_NS:
        return TimeBars(step * UNIT_NS[unit], tz_offset_ns)
    if unit in ("month", "y", "year"):
        return CalendarBars(step, "month" if unit == "month" else "year", tz_offset_ns)
    if unit in ("tick", "volume", "value"):
        return CountBars(unit, step)
    if unit in FLOW:
        return FlowBars(*FLOW[unit], step)
    if unit == "renko":
        return RenkoBars(brick_size if brick_size > 0 else float(step))
    raise ValueError(unit)


def _run(builder, records):
    out = []
    for r in records:
        bar = builder.push(r)
        if bar is not None:
            out.append(bar)
        while (bar := builder.next_pending()) is not None:
            out.append(bar)
    bar = builder.flush()
    if bar is not None:
        out.append(bar)
    return out


def aggregate_bars(ts, o, h, lo, c, v, step, unit, tz_offset_ns=0, brick_size=0.0):
    records = [(int(ts[i]), float(o[i]), float(h[i]), float(lo[i]), float(c[i]), float(v[i]), 0.0)
               for i in range(len(ts))]
    return _run(make_builder(step, unit, tz_offset_ns, brick_size), records)


def bars_from_ticks(ts, ltp, buy, sell, step, unit, tz_offset_ns=0, brick_size=0.0):
    records = []
    for i in range(len(ts)):
        p = float(ltp[i])
        if not p > 0:
            continue
        b, s = abs(float(buy[i])), abs(float(sell[i]))
        records.append((int(ts[i]), p, p, p, p, b + s, b - s))
    return _run(make_builder(step, unit, tz_offset_ns, brick_size), records)
