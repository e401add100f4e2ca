"""The streaming `Indicator`: documented examples, bit-exact agreement with a plain-Python
twin and with the batch functions, reset, the Python surface, borrows and huge periods."""

import csv
import inspect
import math
import pathlib
import struct

import numpy as np
import pytest

import _quillon as q
from reference import streaming as ref

I = q.Indicator
DATA = pathlib.Path(__file__).parent / "data" / "reliance_1m.csv"

CONSTRUCTORS = {
    "sma": lambda p: I.sma(p),
    "ema": lambda p: I.ema(p),
    "wilder_ma": lambda p: I.wilder_ma(p),
    "wma": lambda p: I.wma(p),
    "roc": lambda p: I.roc(p),
    "stddev": lambda p: I.stddev(p),
    "rsi": lambda p: I.rsi(p),
    "atr": lambda p: I.atr(p),
    "donchian": lambda p: I.donchian(p),
    "bollinger": lambda p: I.bollinger(p),
    "macd": lambda p: I.macd(max(p // 2, 1), p, max(p // 3, 1)),
}
REFERENCES = {
    "macd": lambda p: ref.Macd(max(p // 2, 1), p, max(p // 3, 1)),
    **{k: v for k, v in ref.KINDS.items() if k != "macd"},
}


def bits(x):
    """Exact identity of a value: floats by their bit pattern (every NaN alike)."""
    if x is None:
        return None
    if isinstance(x, tuple):
        return tuple(bits(v) for v in x)
    assert type(x) is float
    return "nan" if math.isnan(x) else struct.pack("<d", x)


def feed(ind, closes, highs=None, lows=None):
    highs = closes if highs is None else highs
    lows = closes if lows is None else lows
    return [ind.update_bar(0.0, h, lo, c) for h, lo, c in zip(highs, lows, closes)]


def random_bars(rng, n, nan_rate=0.0):
    close = 100.0 + np.cumsum(rng.normal(0.0, 1.0, n))
    high = close + rng.uniform(0.0, 2.0, n)
    low = close - rng.uniform(0.0, 2.0, n)
    if nan_rate:
        for arr in (close, high, low):
            arr[rng.random(n) < nan_rate] = np.nan
    return high, low, close


def nse_bars(rows=1200):
    with DATA.open() as f:
        recs = list(csv.DictReader(f))[:rows]
    return tuple(np.array([float(r[k]) for r in recs]) for k in ("high", "low", "close"))


# ---- documented examples ------------------------------------------------------------------

EXAMPLES = [
    pytest.param(I.wma(3), [1, 2, 3], [None, None, 2.3333333333333335], id="wma-3"),
    pytest.param(I.ema(3), [1, 2, 3, 4], [None, None, 2.0, 3.0], id="ema-3"),
    pytest.param(I.wilder_ma(3), [1, 2, 3, 4], [None, None, 2.0, 2.666666666666667],
                 id="wilder-3"),
    pytest.param(I.roc(2), [10, 11, 12], [None, None, 20.0], id="roc-2"),
    pytest.param(I.roc(2), [0, 5, 7], [None, None, None], id="roc-zero-base-before-value"),
    pytest.param(I.roc(1), [4, 5, 0, 3, 6], [None, 25.0, -100.0, -100.0, 100.0],
                 id="roc-zero-base-repeats-previous"),
    pytest.param(I.roc(1), [1, -0.0, 2], [None, -100.0, -100.0], id="roc-negative-zero-base"),
    pytest.param(I.rsi(2), [10, 11, 10], [None, None, 50.0], id="rsi-2"),
    pytest.param(I.rsi(3), [5, 5, 5, 5, 5], [None, None, None, 100.0, 100.0], id="rsi-flat"),
    pytest.param(I.bollinger(2), [1, 3], [None, (2.0, 4.0, 0.0)], id="bollinger-2"),
    pytest.param(I.bollinger(2, k=-2.0), [1, 3], [None, (2.0, 0.0, 4.0)], id="bollinger-neg-k"),
    pytest.param(I.bollinger(2, k=0.0), [1, 3], [None, (2.0, 2.0, 2.0)], id="bollinger-zero-k"),
    pytest.param(I.macd(fast=1, slow=1, signal=1), [3, 7, 1], [(0.0, 0.0, 0.0)] * 3,
                 id="macd-1-1-1"),
    pytest.param(I.sma(0), [3, -1, 8.5], [3.0, -1.0, 8.5], id="sma-0-reads-as-1"),
    pytest.param(I.sma(1), [3, -1, 8.5], [3.0, -1.0, 8.5], id="sma-1"),
    pytest.param(I.ema(1), [3, -1, 8.5], [3.0, -1.0, 8.5], id="ema-1-follows-close"),
    pytest.param(I.wilder_ma(1), [3, -1, 8.5], [3.0, -1.0, 8.5], id="wilder-1-follows-close"),
    pytest.param(I.stddev(2), [1, 3, 3], [None, 1.0, 0.0], id="stddev-2"),
]


@pytest.mark.parametrize("ind, closes, expected", EXAMPLES)
def test_documented_examples(ind, closes, expected):
    assert feed(ind, [float(c) for c in closes]) == expected


def test_atr_two_bars_and_its_seed_includes_the_first_range():
    ind = I.atr(2)
    assert ind.update_bar(0.0, 10.0, 8.0, 9.0) is None
    assert ind.update_bar(0.0, 11.0, 9.0, 10.0) == 2.0  # (2 + max(2, 2, 0)) / 2


def test_macd_defaults_first_value_on_update_34():
    ind = I.macd()
    out = feed(ind, [100.0 + math.sin(i) for i in range(40)])
    assert out[:33] == [None] * 33
    assert all(isinstance(v, tuple) and len(v) == 3 for v in out[33:])


def test_macd_does_not_compare_its_periods():
    ind = I.macd(26, 12)
    assert ind.kind == "macd"
    assert ind.update_bar(0.0, 0.0, 0.0, 1.0) is None


def test_donchian_reads_only_high_and_low():
    ind = I.donchian(2)
    ind.update_bar(0.0, 5.0, 1.0, 100.0)
    assert ind.update_bar(0.0, 4.0, 2.0, -100.0) == (5.0, 1.0)
    assert ind.update_bar(0.0, 4.0, 2.0, 1e9) == (4.0, 2.0)


def test_donchian_all_nan_window_reports_the_fold_starts():
    ind = I.donchian(2)
    nan = float("nan")
    feed(ind, [1.0, 1.0], highs=[nan, nan], lows=[nan, nan])
    assert ind.value == (-1.7976931348623157e308, 1.7976931348623157e308)


@pytest.mark.parametrize("period", [1, 2, 3])
def test_rsi_is_absent_for_the_first_period_updates(period):
    out = feed(I.rsi(period), [7.0] * (period + 3))
    assert out[:period] == [None] * period
    assert out[period:] == [100.0] * 3


def test_a_nan_in_the_running_sum_stays_until_reset():
    ind = I.sma(2)
    out = feed(ind, [1.0, float("nan"), 2.0, 3.0, 4.0])
    assert out[0] is None and all(math.isnan(v) for v in out[1:])
    ind.reset()
    assert feed(ind, [1.0, 2.0]) == [None, 1.5]


def test_wma_forgets_a_nan_once_it_leaves_the_window():
    out = feed(I.wma(2), [1.0, float("nan"), 2.0, 3.0])
    assert math.isnan(out[1]) and math.isnan(out[2])
    assert out[3] == (2.0 + 2 * 3.0) / 3.0


# ---- agreement with the plain-Python twin -------------------------------------------------

@pytest.mark.parametrize("kind", sorted(CONSTRUCTORS))
@pytest.mark.parametrize("period", [0, 1, 2, 5, 14, 40])
@pytest.mark.parametrize("nan_rate", [0.0, 0.03], ids=["finite", "with-nan"])
def test_every_kind_matches_its_reference_bit_for_bit(rng, kind, period, nan_rate):
    high, low, close = random_bars(rng, 300, nan_rate)
    ours, theirs = CONSTRUCTORS[kind](period), REFERENCES[kind](period)
    for h, lo, c in zip(high, low, close):
        got = ours.update_bar(float(c), float(h), float(lo), float(c))
        assert bits(got) == bits(theirs.update(float(h), float(lo), float(c)))
        assert bits(ours.value) == bits(got)
        assert ours.initialized is (got is not None)


@pytest.mark.parametrize("kind", sorted(CONSTRUCTORS))
def test_every_kind_matches_its_reference_on_real_minute_bars(kind):
    high, low, close = (a.tolist() for a in nse_bars())
    ours, theirs = CONSTRUCTORS[kind](20), REFERENCES[kind](20)
    got = [bits(ours.update_bar(0.0, h, lo, c)) for h, lo, c in zip(high, low, close)]
    want = [bits(theirs.update(h, lo, c)) for h, lo, c in zip(high, low, close)]
    assert got == want


@pytest.mark.parametrize("kind", sorted(CONSTRUCTORS))
def test_infinities_flow_through_like_the_reference(kind):
    inf = float("inf")
    closes = [1.0, 2.0, inf, 3.0, -inf, 4.0, 5.0, 0.0, 6.0, 7.0]
    ours, theirs = CONSTRUCTORS[kind](3), REFERENCES[kind](3)
    for c in closes:
        assert bits(ours.update_bar(0.0, c + 1, c - 1, c)) == bits(theirs.update(c + 1, c - 1, c))


# ---- agreement with the batch functions ---------------------------------------------------

def stream(ind, high, low, close):
    return [ind.update_bar(0.0, float(h), float(lo), float(c)) for h, lo, c in zip(high, low, close)]


def assert_same(stream_vals, batch_vals, start=0):
    for t in range(start, len(batch_vals)):
        b = batch_vals[t]
        if math.isnan(b):
            assert stream_vals[t] is None
        else:
            assert bits(stream_vals[t]) == bits(float(b)), t


@pytest.mark.parametrize("period", [1, 2, 7, 20])
def test_ema_and_rsi_equal_the_batch_values(rng, period):
    high, low, close = random_bars(rng, 400)
    assert_same(stream(I.ema(period), high, low, close), q.ema(close, period))
    assert_same(stream(I.rsi(period), high, low, close), q.rsi(close, period))


@pytest.mark.parametrize("period", [1, 2, 7, 20])
def test_atr_equals_the_batch_values_wherever_the_batch_fills(rng, period):
    high, low, close = random_bars(rng, 400, nan_rate=0.02)
    vals = stream(I.atr(period), high, low, close)
    batch = q.atr(high, low, close, period)
    assert vals[: period - 1] == [None] * (period - 1)
    assert [bits(v) for v in vals[period - 1:]] == [bits(float(b)) for b in batch[period - 1:]]


def test_atr_reports_its_seed_where_a_batch_of_exactly_p_bars_has_none():
    high, low, close = np.array([10.0, 11.0]), np.array([8.0, 9.0]), np.array([9.0, 10.0])
    assert np.isnan(q.atr(high, low, close, 2)).all()
    assert stream(I.atr(2), high, low, close)[-1] == 2.0


@pytest.mark.parametrize("period", [1, 3, 20])
def test_sma_equals_the_batch_on_the_first_window_and_stays_within_rounding(rng, period):
    high, low, close = random_bars(rng, 300)
    vals = stream(I.sma(period), high, low, close)
    batch = q.sma(close, period)
    assert vals[: period - 1] == [None] * (period - 1)
    assert bits(vals[period - 1]) == bits(float(batch[period - 1]))
    # Later values differ only by the order of one add and one subtract.
    np.testing.assert_allclose(vals[period - 1:], batch[period - 1:], rtol=1e-12)


def test_sma_matches_the_batch_exactly_when_no_rounding_occurs():
    closes = np.arange(1.0, 51.0)  # small integers: every sum is exact
    assert_same(stream(I.sma(5), closes, closes, closes), q.sma(closes, 5))


@pytest.mark.parametrize("period, k", [(2, 2.0), (20, 2.0), (5, 1.5)])
def test_bollinger_uses_the_batch_formula_in_middle_upper_lower_order(rng, period, k):
    high, low, close = random_bars(rng, 200)
    vals = stream(I.bollinger(period, k), high, low, close)
    upper, middle, lower = q.bollinger_bands(close, period, k)
    t = period - 1  # first window: the streaming and batch sums agree exactly
    assert bits(vals[t]) == bits((float(middle[t]), float(upper[t]), float(lower[t])))
    got = np.array(vals[t:])
    np.testing.assert_allclose(got, np.column_stack([middle, upper, lower])[t:], rtol=1e-12)


@pytest.mark.parametrize("fast, slow, signal", [(12, 26, 9), (3, 5, 2), (1, 2, 1)])
def test_macd_equals_the_batch_once_the_signal_exists(rng, fast, slow, signal):
    high, low, close = random_bars(rng, 300)
    vals = stream(I.macd(fast, slow, signal), high, low, close)
    line, sig, hist = q.macd(close, fast, slow, signal)
    first = slow + signal - 2
    assert vals[:first] == [None] * first
    for t in range(first, 300):
        assert bits(vals[t]) == bits((float(line[t]), float(sig[t]), float(hist[t])))


@pytest.mark.parametrize("period", [1, 4, 20])
def test_donchian_equals_rolling_max_and_min(rng, period):
    high, low, close = random_bars(rng, 200, nan_rate=0.05)
    vals = stream(I.donchian(period), high, low, close)
    upper, lower = q.rolling_max(high, period), q.rolling_min(low, period)
    for t in range(period - 1, 200):
        u, lo = vals[t]
        assert u == upper[t] if not np.isnan(upper[t]) else u == -1.7976931348623157e308
        assert lo == lower[t] if not np.isnan(lower[t]) else lo == 1.7976931348623157e308


def test_real_minute_bars_agree_with_the_batch_ema_rsi_atr():
    high, low, close = nse_bars()
    assert_same(stream(I.ema(20), high, low, close), q.ema(close, 20))
    assert_same(stream(I.rsi(14), high, low, close), q.rsi(close, 14))
    vals, batch = stream(I.atr(14), high, low, close), q.atr(high, low, close, 14)
    assert_same(vals, batch, start=13)


# ---- state --------------------------------------------------------------------------------

@pytest.mark.parametrize("kind", sorted(CONSTRUCTORS))
def test_reset_returns_to_the_initial_state_from_any_state(rng, kind):
    high, low, close = random_bars(rng, 120, nan_rate=0.02)
    ind = CONSTRUCTORS[kind](9)
    first = [bits(v) for v in stream(ind, high, low, close)]
    for cut in (0, 3, 120):
        ind.reset()
        assert ind.value is None and ind.initialized is False
        stream(ind, high[:cut] + 1.0, low[:cut], close[:cut] * 2.0)
        ind.reset()
        assert [bits(v) for v in stream(ind, high, low, close)] == first
    assert ind.kind == kind


def test_value_is_a_new_object_at_every_read():
    ind = I.bollinger(1)
    ind.update_bar(0.0, 0.0, 0.0, 3.0)
    assert ind.value == ind.value and ind.value is not ind.value


# ---- Python surface -----------------------------------------------------------------------

SIGNATURES = [
    ("sma", "(period)", None),
    ("ema", "(period)", None),
    ("wilder_ma", "(period)", "Wilder-smoothed moving average (alpha = 1/period)."),
    ("wma", "(period)", None),
    ("roc", "(period)", "Rate of change over `period` bars, in percent."),
    ("stddev", "(period)", "Rolling population standard deviation."),
    ("rsi", "(period)", None),
    ("atr", "(period)", None),
    ("donchian", "(period)", "Highest-high / lowest-low channel; value is `(upper, lower)`."),
    ("bollinger", "(period, k=2.0)", "Bollinger bands; value is `(middle, upper, lower)`."),
    ("macd", "(fast=12, slow=26, signal=9)", "MACD; value is `(macd, signal, histogram)`."),
]


@pytest.mark.parametrize("name, signature, doc", SIGNATURES, ids=[s[0] for s in SIGNATURES])
def test_static_constructors_signatures_and_docs(name, signature, doc):
    fn = getattr(I, name)
    assert fn.__text_signature__ == signature
    assert (fn.__doc__ or None) == doc
    ind = fn(3)
    assert type(ind) is I and ind.kind == name and repr(ind) == f"Indicator(kind={name})"
    assert ind.value is None and ind.initialized is False


def test_class_documentation_methods_and_properties():
    assert I.__doc__ == "Streaming indicator with batch-identical values."
    assert I.update_bar.__text_signature__ == "($self, _open, high, low, close)"
    assert I.update_bar.__doc__ == (
        "Feed one bar. Price-series cores consume the close; bar cores (atr,\n"
        "donchian) consume high/low/close. Returns the new value, if warm.")
    assert I.reset.__text_signature__ == "($self)"
    assert I.reset.__doc__ == "Forget all state."
    assert I.value.__doc__ == "Latest value (`None` during warmup)."
    assert I.initialized.__doc__ == "Whether the warmup period has completed."
    assert list(inspect.signature(I.update_bar).parameters) == [
        "self", "_open", "high", "low", "close"]


def test_no_public_constructor_and_fixed_attributes():
    with pytest.raises(TypeError) as info:
        I()
    assert str(info.value) == "No constructor defined"
    ind = I.sma(2)
    with pytest.raises(AttributeError):
        ind.extra = 1
    for prop in ("value", "initialized", "kind"):
        with pytest.raises(AttributeError) as info:
            delattr(ind, prop)
        assert str(info.value) == "can't delete attribute"
        with pytest.raises(AttributeError):
            setattr(ind, prop, 1)


def test_update_bar_converts_an_unused_open_and_names_it():
    ind = I.sma(1)
    with pytest.raises(TypeError) as info:
        ind.update_bar("x", 1.0, 1.0, 1.0)
    assert str(info.value).startswith("argument '_open': ")
    with pytest.raises(TypeError) as info:
        ind.update_bar(1.0, 1.0, 1.0, None)
    assert str(info.value).startswith("argument 'close': ")
    assert ind.value is None  # nothing advanced


class Num:
    def __init__(self, x):
        self.x = x

    def __float__(self):
        return self.x


def test_bar_arguments_take_the_float_protocol_and_keywords():
    ind = I.sma(1)
    assert ind.update_bar(_open=1, high=2, low=0, close=Num(5.5)) == 5.5
    assert ind.update_bar(0, 0, 0, True) == 1.0


@pytest.mark.parametrize("call, exc", [
    (lambda: I.sma(-1), OverflowError),
    (lambda: I.sma(2**64), OverflowError),
    (lambda: I.sma(2.0), TypeError),
    (lambda: I.bollinger(5, k="2"), TypeError),
    (lambda: I.macd(1, 2, 3, 4), TypeError),
    (lambda: I.sma(), TypeError),
    (lambda: I.sma(period=3, size=2), TypeError),
], ids=["negative", "too-large", "float-period", "str-k", "surplus", "missing", "unexpected"])
def test_argument_conversion_failures(call, exc):
    with pytest.raises(exc):
        call()


def test_bollinger_k_through_the_float_protocol():
    ind = I.bollinger(2, k=Num(1.0))
    feed(ind, [1.0, 3.0])
    assert ind.value == (2.0, 3.0, 1.0)


# ---- borrows ------------------------------------------------------------------------------

class CallsBack:
    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 1.0


def test_reentrant_update_from_a_float_conversion_is_refused():
    ind = I.sma(1)
    with pytest.raises(RuntimeError) as info:
        ind.update_bar(CallsBack(lambda: ind.update_bar(0, 0, 0, 0)), 0, 0, 0)
    assert str(info.value) == "Already borrowed"
    assert ind.update_bar(0, 0, 0, 4.0) == 4.0  # the borrow was released


def test_reading_during_an_update_is_refused():
    ind = I.sma(1)
    with pytest.raises(RuntimeError) as info:
        ind.update_bar(CallsBack(lambda: ind.value), 0, 0, 0)
    assert str(info.value) == "Already mutably borrowed"


# ---- huge periods -------------------------------------------------------------------------

@pytest.mark.parametrize("kind", ["sma", "wma", "roc", "stddev", "donchian", "bollinger"])
@pytest.mark.parametrize("period", [2**64 - 1, 2**62, 2**45])
def test_a_window_too_large_for_memory_raises_memory_error(kind, period):
    with pytest.raises(MemoryError) as info:
        CONSTRUCTORS[kind](period)
    assert str(info.value).startswith("memory allocation of ")
    assert str(info.value).endswith(" bytes failed")


def test_memory_error_names_the_bytes_without_wrapping():
    # roc keeps period + 1 closes; at the largest period that count itself overflows 64 bits.
    with pytest.raises(MemoryError) as info:
        I.roc(2**64 - 1)
    assert str(info.value) == f"memory allocation of {2**64 * 8} bytes failed"


@pytest.mark.parametrize("make", [
    lambda: I.ema(2**64 - 1), lambda: I.wilder_ma(2**64 - 1), lambda: I.rsi(2**64 - 1),
    lambda: I.atr(2**64 - 1), lambda: I.macd(2**64 - 1, 2**64 - 1, 2**64 - 1),
], ids=["ema", "wilder_ma", "rsi", "atr", "macd"])
def test_kinds_without_a_window_accept_any_period(make):
    ind = make()
    assert feed(ind, [1.0, 2.0, 3.0]) == [None] * 3


def test_a_large_but_allocatable_window_costs_nothing_until_filled():
    ind = I.sma(2**27)  # 1 GiB of address space, touched only as it fills
    assert feed(ind, [1.0, 2.0]) == [None, None]
