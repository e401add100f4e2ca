"""Batch indicators: exact values against the plain-Python twins, warm-ups, edge cases and
every validation message.

Values are compared bit for bit: NaN where the twin has NaN, and elsewhere the same 64-bit
pattern, so a -0.0 for a 0.0 or a last-digit drift fails.
"""

import numpy as np
import pytest

import _quillon as q
from quillon import datasets
from reference import indicators as ref

NAN, INF = float("nan"), float("inf")
NAMES = ["sma", "ema", "rsi", "macd", "stochastic", "atr", "bollinger_bands", "adx", "vwap",
         "supertrend", "rolling_min", "rolling_max"]


def assert_bits(got, expected):
    """Same length, NaN at the same places, identical bits everywhere else."""
    got = np.asarray(got)
    expected = np.asarray(expected, dtype=got.dtype)
    assert got.shape == expected.shape
    if got.dtype.kind != "f":
        np.testing.assert_array_equal(got, expected)
        return
    nan = np.isnan(expected)
    np.testing.assert_array_equal(np.isnan(got), nan)
    np.testing.assert_array_equal(got[~nan].view(np.int64), expected[~nan].view(np.int64))


def outputs(result):
    return result if isinstance(result, tuple) else (result,)


def assert_same_outputs(got, expected):
    got, expected = outputs(got), outputs(expected)
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        assert_bits(g, e)


# One call shape per indicator, applied to the module (arrays) and to the twin (lists): `b` maps
# high/low/close/volume to the series, `p` is the period under test.
CALLS = {
    "sma": lambda m, b, p: m.sma(b["close"], p),
    "ema": lambda m, b, p: m.ema(b["close"], p),
    "rsi": lambda m, b, p: m.rsi(b["close"], p),
    "macd": lambda m, b, p: m.macd(b["close"], p, p + 7, 4),
    "stochastic": lambda m, b, p: m.stochastic(b["high"], b["low"], b["close"], p, 3),
    "atr": lambda m, b, p: m.atr(b["high"], b["low"], b["close"], p),
    "bollinger_bands": lambda m, b, p: m.bollinger_bands(b["close"], p, 2.0),
    "adx": lambda m, b, p: m.adx(b["high"], b["low"], b["close"], p),
    "vwap": lambda m, b, p: m.vwap(b["high"], b["low"], b["close"], b["volume"]),
    "supertrend": lambda m, b, p: m.supertrend(b["high"], b["low"], b["close"], p, 3.0),
    "rolling_min": lambda m, b, p: m.rolling_min(b["close"], p),
    "rolling_max": lambda m, b, p: m.rolling_max(b["close"], p),
}


def compare_with_twin(name, bars, period):
    as_lists = {k: v.tolist() for k, v in bars.items()}
    expected = CALLS[name](ref, as_lists, period)
    assert_same_outputs(CALLS[name](q, bars, period), expected)


def random_bars(seed, n, nan=0.0, inf=0.0, ticks=None):
    """A random walk with high >= close >= low; optionally NaN and +-inf sprinkled into every
    series, or prices rounded to a coarse tick so equal values and flat windows are common."""
    rng = np.random.default_rng(seed)
    close = 100 + np.cumsum(rng.normal(0, 1, n))
    high = close + rng.uniform(0, 1, n)
    low = close - rng.uniform(0, 1, n)
    volume = rng.uniform(0, 1000, n)
    bars = {"high": high, "low": low, "close": close, "volume": volume}
    if ticks:
        for k in ("high", "low", "close"):
            bars[k] = np.round(bars[k] / ticks) * ticks
    for series in bars.values():
        series[rng.random(n) < nan] = NAN
        series[rng.random(n) < inf / 2] = INF
        series[rng.random(n) < inf / 2] = -INF
    return bars


def signed_zero_bars(seed, n):
    """Series drawn from {0.0, -0.0, 1.0, -1.0, +-inf, NaN}: ties between zeros of both signs
    decide which element a window keeps."""
    rng = np.random.default_rng(seed)
    pool = np.array([0.0, -0.0, 0.0, -0.0, 1.0, -1.0, INF, -INF, NAN])
    return {k: rng.choice(pool, n) for k in ("high", "low", "close", "volume")}


def nse_bars(symbol):
    d = datasets.load_daily(symbol)
    return {k: d[k] for k in ("high", "low", "close", "volume")}


DATASETS = {
    "walk": lambda: random_bars(1, 300),
    "walk-nan-inf": lambda: random_bars(2, 300, nan=0.04, inf=0.02),
    "coarse-ticks": lambda: random_bars(3, 300, ticks=2.0),
    "signed-zeros": lambda: signed_zero_bars(4, 200),
    "RELIANCE": lambda: nse_bars("RELIANCE"),
    "INFY": lambda: nse_bars("INFY"),
}


@pytest.mark.parametrize("period", [1, 2, 3, 14, 40])
@pytest.mark.parametrize("data", DATASETS)
@pytest.mark.parametrize("name", NAMES)
def test_values_match_the_plain_twin_bit_for_bit(name, data, period):
    compare_with_twin(name, DATASETS[data](), period)


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("n", [0, 1, 2, 5, 6, 7, 9, 10, 11, 12, 21, 22])
def test_short_inputs_around_the_warm_up_match_the_twin(name, n):
    # period 5: n runs from empty through n = p, p+1, 2p-1, 2p, 2p+1 (the ADX and block
    # boundaries) to a few blocks with a remainder.
    compare_with_twin(name, random_bars(5, n, nan=0.05), 5)


@pytest.mark.parametrize("symbol", ["RELIANCE", "INFY"])
def test_defaults_are_the_documented_periods(symbol):
    b = nse_bars(symbol)
    h, l, c = b["high"], b["low"], b["close"]
    hl, ll, cl = h.tolist(), l.tolist(), c.tolist()
    assert_same_outputs(q.macd(c), ref.macd(cl, 12, 26, 9))
    assert_same_outputs(q.stochastic(h, l, c), ref.stochastic(hl, ll, cl, 14, 3))
    assert_same_outputs(q.bollinger_bands(c), ref.bollinger_bands(cl, 20, 2.0))
    assert_same_outputs(q.supertrend(h, l, c), ref.supertrend(hl, ll, cl, 10, 3.0))


def test_keyword_arguments_reach_their_parameters():
    b = random_bars(6, 120)
    h, l, c, v = b["high"], b["low"], b["close"], b["volume"]
    assert_same_outputs(q.macd(signal_period=5, slow_period=20, data=c, fast_period=8),
                        q.macd(c, 8, 20, 5))
    assert_same_outputs(q.stochastic(close=c, low=l, high=h, d_period=4, k_period=9),
                        q.stochastic(h, l, c, 9, 4))
    assert_same_outputs(q.bollinger_bands(std_dev=1.5, period=10, data=c),
                        q.bollinger_bands(c, 10, 1.5))
    assert_same_outputs(q.supertrend(multiplier=2.0, period=7, close=c, low=l, high=h),
                        q.supertrend(h, l, c, 7, 2.0))
    assert_same_outputs(q.vwap(volume=v, close=c, low=l, high=h), q.vwap(h, l, c, v))


# --- shapes and dtypes -----------------------------------------------------------------------

EMPTY = np.array([], dtype=np.float64)
SHAPES = {  # name: call on n-element bars, dtypes of the outputs in order
    "sma": (lambda x: q.sma(x, 3), ["f8"]),
    "ema": (lambda x: q.ema(x, 3), ["f8"]),
    "rsi": (lambda x: q.rsi(x, 3), ["f8"]),
    "macd": (lambda x: q.macd(x), ["f8", "f8", "f8"]),
    "stochastic": (lambda x: q.stochastic(x, x, x), ["f8", "f8"]),
    "atr": (lambda x: q.atr(x, x, x, 3), ["f8"]),
    "bollinger_bands": (lambda x: q.bollinger_bands(x), ["f8", "f8", "f8"]),
    "adx": (lambda x: q.adx(x, x, x, 3), ["f8"]),
    "vwap": (lambda x: q.vwap(x, x, x, x), ["f8"]),
    "supertrend": (lambda x: q.supertrend(x, x, x), ["f8", "i1"]),
    "rolling_min": (lambda x: q.rolling_min(x, 3), ["f8"]),
    "rolling_max": (lambda x: q.rolling_max(x, 3), ["f8"]),
}


@pytest.mark.parametrize("n", [0, 50])
@pytest.mark.parametrize("name", NAMES)
def test_outputs_have_the_input_length_and_documented_dtypes(name, n):
    call, dtypes = SHAPES[name]
    result = call(np.linspace(1.0, 2.0, n))
    assert isinstance(result, tuple) == (len(dtypes) > 1)
    for out, dtype in zip(outputs(result), dtypes):
        assert isinstance(out, np.ndarray)
        assert out.dtype == np.dtype(dtype) and out.shape == (n,)


# --- validation ------------------------------------------------------------------------------

X = np.linspace(1.0, 2.0, 30)
PERIOD = "Invalid parameter: {}"
REFUSALS = [  # call, exact message; every period failure also on empty input
    (lambda x: q.sma(x, 0), PERIOD.format("SMA period must be > 0")),
    (lambda x: q.ema(x, 0), PERIOD.format("EMA period must be > 0")),
    (lambda x: q.rsi(x, 0), PERIOD.format("RSI period must be > 0")),
    (lambda x: q.macd(x, 0, 26, 9), PERIOD.format("MACD periods must be > 0")),
    (lambda x: q.macd(x, 12, 0, 9), PERIOD.format("MACD periods must be > 0")),
    (lambda x: q.macd(x, 12, 26, 0), PERIOD.format("MACD periods must be > 0")),
    (lambda x: q.macd(x, 30, 26, 0), PERIOD.format("MACD periods must be > 0")),
    (lambda x: q.macd(x, 26, 26, 9), PERIOD.format("MACD fast period must be < slow period")),
    (lambda x: q.macd(x, 27, 26, 9), PERIOD.format("MACD fast period must be < slow period")),
    (lambda x: q.stochastic(x, x, x, 0, 3), PERIOD.format("Stochastic periods must be > 0")),
    (lambda x: q.stochastic(x, x, x, 14, 0), PERIOD.format("Stochastic periods must be > 0")),
    (lambda x: q.atr(x, x, x, 0), PERIOD.format("ATR period must be > 0")),
    (lambda x: q.bollinger_bands(x, 0, 2.0), PERIOD.format("Bollinger Bands period must be > 0")),
    (lambda x: q.bollinger_bands(x, 0, 0.0), PERIOD.format("Bollinger Bands period must be > 0")),
    (lambda x: q.bollinger_bands(x, 20, 0.0),
     PERIOD.format("Bollinger Bands std_dev must be > 0")),
    (lambda x: q.bollinger_bands(x, 20, -1.0),
     PERIOD.format("Bollinger Bands std_dev must be > 0")),
    (lambda x: q.bollinger_bands(x, 20, -INF),
     PERIOD.format("Bollinger Bands std_dev must be > 0")),
    (lambda x: q.adx(x, x, x, 0), PERIOD.format("ADX period must be > 0")),
    (lambda x: q.supertrend(x, x, x, 0, 3.0), PERIOD.format("Supertrend period must be > 0")),
    (lambda x: q.rolling_min(x, 0), PERIOD.format("period must be at least 1")),
    (lambda x: q.rolling_max(x, 0), PERIOD.format("period must be at least 1")),
]


@pytest.mark.parametrize("x", [X, EMPTY], ids=["n30", "empty"])
@pytest.mark.parametrize("call, message", REFUSALS)
def test_bad_parameters_are_refused_with_the_exact_message(call, message, x):
    with pytest.raises(ValueError) as info:
        call(x)
    assert str(info.value) == message


def shorter(x):
    return x[:-1]


def longer(x):
    return np.append(x, 1.0)


MISMATCHES = {  # call with (high, low, close, volume, period)
    "stochastic": lambda h, l, c, v, p: q.stochastic(h, l, c, p, p),
    "atr": lambda h, l, c, v, p: q.atr(h, l, c, p),
    "adx": lambda h, l, c, v, p: q.adx(h, l, c, p),
    "vwap": lambda h, l, c, v, p: q.vwap(h, l, c, v),
    "supertrend": lambda h, l, c, v, p: q.supertrend(h, l, c, p, 3.0),
}
CHANGES = {  # which of (high, low, volume) differ from close, and how
    "high-longer": (longer, None, None),
    "high-shorter": (shorter, None, None),
    "low-shorter": (None, shorter, None),
    "low-longer": (None, longer, None),
    "high-and-low": (longer, shorter, None),
    "volume-shorter": (None, None, shorter),
    "low-and-volume": (None, longer, shorter),
}
MISMATCH_CASES = [pytest.param(name, change, id=f"{name}-{change}")
                  for name in MISMATCHES for change in CHANGES
                  if name == "vwap" or CHANGES[change][:2] != (None, None)]


@pytest.mark.parametrize("period", [14, 0], ids=["period-14", "period-0"])
@pytest.mark.parametrize("name, change", MISMATCH_CASES)
def test_length_mismatch_names_the_array_that_differs(name, change, period):
    # The length of close comes first, then that of the first array (high, low, volume) whose
    # length differs: the low or volume length is named when only that one differs. Lengths
    # are checked before periods, so a zero period does not change the message.
    n = len(X)
    arrays = {"high": X + 1.0, "low": X - 1.0, "volume": np.ones(n)}
    for key, how in zip(("high", "low", "volume"), CHANGES[change]):
        if how is not None:
            arrays[key] = how(arrays[key])
    keys = ("high", "low", "volume") if name == "vwap" else ("high", "low")
    differing = next(len(arrays[k]) for k in keys if len(arrays[k]) != n)
    with pytest.raises(ValueError) as info:
        MISMATCHES[name](arrays["high"], arrays["low"], X, arrays["volume"], period)
    assert str(info.value) == f"Data length mismatch: expected {n}, got {differing}"


def test_a_nan_std_dev_passes_and_gives_nan_bands_around_the_sma():
    upper, middle, lower = q.bollinger_bands(X, 5, NAN)
    assert np.isnan(upper).all() and np.isnan(lower).all()
    assert_bits(middle, q.sma(X, 5))


def test_a_nan_multiplier_is_not_validated():
    line, direction = q.supertrend(X + 1.0, X - 1.0, X, 5, NAN)
    assert np.isnan(line).all()
    # A NaN band fails "upper >= close", so the start is rising and nothing ever flips it.
    assert (direction[4:] == 1).all() and (direction[:4] == 0).all()


# --- huge periods ----------------------------------------------------------------------------

HUGE = [2**32, 2**63, 2**64 - 1]
HUGE_CALLS = {  # only the outputs' NaN (and 0 direction) may come back, without allocating
    "sma": lambda x, p: q.sma(x, p),
    "ema": lambda x, p: q.ema(x, p),
    "rsi": lambda x, p: q.rsi(x, p),
    "macd-slow": lambda x, p: q.macd(x, 3, p, 4),
    "stochastic-k": lambda x, p: q.stochastic(x, x, x, p, 3),
    "atr": lambda x, p: q.atr(x, x, x, p),
    "bollinger_bands": lambda x, p: q.bollinger_bands(x, p, 2.0),
    "adx": lambda x, p: q.adx(x, x, x, p),
    "supertrend": lambda x, p: q.supertrend(x, x, x, p, 3.0),
    "rolling_min": lambda x, p: q.rolling_min(x, p),
    "rolling_max": lambda x, p: q.rolling_max(x, p),
}


@pytest.mark.parametrize("period", HUGE)
@pytest.mark.parametrize("name", HUGE_CALLS)
def test_a_huge_period_gives_the_empty_result(name, period):
    for out in outputs(HUGE_CALLS[name](X, period)):
        assert out.shape == X.shape
        assert (out == 0).all() if out.dtype == np.int8 else np.isnan(out).all()


@pytest.mark.parametrize("period", HUGE)
def test_a_huge_second_period_leaves_only_the_first_stage(period):
    line, signal, hist = q.macd(X, 3, 5, period)
    assert_bits(line, ref.macd(X.tolist(), 3, 5, 1)[0])
    assert np.isnan(signal).all() and np.isnan(hist).all()
    k, d = q.stochastic(X + 1.0, X - 1.0, X, 5, period)
    assert_bits(k, ref.stochastic((X + 1.0).tolist(), (X - 1.0).tolist(), X.tolist(), 5, 1)[0])
    assert np.isnan(d).all()


# --- documented edge cases -------------------------------------------------------------------

def test_n_equal_to_the_period():
    x = np.array([1.0, 2.0, 4.0, 8.0])
    for fn in (q.sma, q.ema):
        assert_bits(fn(x, 4), [NAN, NAN, NAN, 3.75])
    assert np.isnan(q.rsi(x, 4)).all()
    assert np.isnan(q.atr(x + 1, x - 1, x, 4)).all()
    line, direction = q.supertrend(x + 1, x - 1, x, 4, 3.0)
    assert np.isnan(line).all() and (direction == 0).all()


def test_macd_with_n_equal_to_slow_has_one_line_value():
    x = np.linspace(10.0, 20.0, 26)
    line, signal, hist = q.macd(x)
    assert np.isnan(line[:25]).all() and not np.isnan(line[25])
    assert_bits(line, ref.macd(x.tolist(), 12, 26, 9)[0])
    assert np.isnan(signal).all() and np.isnan(hist).all()


@pytest.mark.parametrize("p", [1, 3, 7])
def test_adx_needs_two_periods(p):
    b = random_bars(7, 2 * p)
    h, l, c = b["high"], b["low"], b["close"]
    assert np.isnan(q.adx(h[:-1], l[:-1], c[:-1], p)).all()
    out = q.adx(h, l, c, p)
    assert np.isnan(out[:-1]).all() and not np.isnan(out[-1])


@pytest.mark.parametrize("p", [1, 5, 14])
def test_rsi_of_constant_and_falling_series(p):
    n = 40
    flat = q.rsi(np.full(n, 7.5), p)
    assert np.isnan(flat[:p]).all() and (flat[p:] == 100.0).all()
    falling = q.rsi(np.linspace(100.0, 50.0, n), p)
    assert np.isnan(falling[:p]).all() and (falling[p:] == 0.0).all()


def test_stochastic_of_a_flat_window_is_50():
    h = np.array([5.0, 5.0, 5.0, 6.0, 6.0, 6.0])
    k, d = q.stochastic(h, h, h, 3, 2)
    # windows [5,5,5] are flat; [5,5,6] spans 1 with close at the top; then flat again
    assert_bits(k, [NAN, NAN, 50.0, 100.0, 100.0, 50.0])
    assert_bits(d, [NAN, NAN, NAN, 75.0, 100.0, 75.0])


def test_stochastic_of_an_all_nan_window_is_50():
    h = np.array([NAN, NAN, NAN, 2.0, 1.0])
    k, _ = q.stochastic(h, h, np.ones(5), 3, 1)
    assert_bits(k, [NAN, NAN, 50.0, 50.0, 0.0])


def test_vwap_waits_for_the_first_volume():
    h = np.array([11.0, 12.0, 13.0, 14.0])
    l, c = h - 2.0, h - 1.0
    out = q.vwap(h, l, c, np.array([0.0, 0.0, 2.0, 1.0]))
    assert_bits(out, [NAN, NAN, 12.0, (12.0 * 2.0 + 13.0) / 3.0])


@pytest.mark.parametrize("fn", [q.sma, q.ema], ids=["sma", "ema"])
def test_nan_poisons_every_later_average(fn):
    x = np.arange(1.0, 21.0)
    x[6] = NAN
    out = fn(x, 3)
    assert not np.isnan(out[2:6]).any() and np.isnan(out[6:]).all()


def test_an_infinity_poisons_the_sma_after_it_has_left_the_window():
    # The running window sum never recovers: inf while in the window, then inf - inf.
    x = np.arange(1.0, 21.0)
    x[6] = INF
    out = q.sma(x, 3)
    assert (out[6:9] == INF).all() and np.isnan(out[9:]).all()


@pytest.mark.parametrize("fn, first", [(q.rolling_min, 1.0), (q.rolling_max, 3.0)],
                         ids=["min", "max"])
def test_rolling_extremes_skip_nan(fn, first):
    x = np.array([1.0, NAN, 3.0, NAN, NAN, NAN, 2.0])
    assert_bits(fn(x, 3), [NAN, NAN, first, 3.0, 3.0, NAN, 2.0])


@pytest.mark.parametrize("x, expected_min, expected_max", [
    ([0.0, -0.0], 0.0, 0.0),
    ([-0.0, 0.0], -0.0, -0.0),
    ([INF, INF], NAN, INF),
    ([-INF, -INF], -INF, NAN),
    ([INF, NAN], NAN, INF),
])
def test_rolling_window_keeps_the_earliest_of_equal_values(x, expected_min, expected_max):
    x = np.array(x)
    assert_bits(q.rolling_min(x, 2), [NAN, expected_min])
    assert_bits(q.rolling_max(x, 2), [NAN, expected_max])


@pytest.mark.parametrize("p", [1, 2, 3, 4, 5, 7, 8, 16])
@pytest.mark.parametrize("seed", range(4))
def test_rolling_extremes_equal_the_plain_window_fold(p, seed):
    # Values from a small pool with both zeros, infinities and NaN; lengths around multiples
    # of the period, where the windows cross the block boundaries.
    rng = np.random.default_rng(seed)
    pool = np.array([0.0, -0.0, 1.0, -1.0, 2.0, INF, -INF, NAN])
    for n in sorted({p - 1, p, p + 1, 2 * p - 1, 2 * p, 2 * p + 1, 5 * p + 2, 61}):
        x = rng.choice(pool, n) if seed else rng.choice(pool[[0, 1, 7]], n)
        assert_bits(q.rolling_min(x, p), ref.rolling_min(x.tolist(), p))
        assert_bits(q.rolling_max(x, p), ref.rolling_max(x.tolist(), p))


@pytest.mark.parametrize("shape", ["rising", "falling", "zigzag"])
def test_rolling_extremes_on_monotone_runs(shape):
    # Worst cases for window algorithms: the extreme sits at the old or the new edge.
    n = 200
    x = {"rising": np.arange(n, dtype=float), "falling": -np.arange(n, dtype=float),
         "zigzag": np.where(np.arange(n) % 2, 1.0, -1.0) * np.arange(n)}[shape]
    for p in (1, 6, 25):
        assert_bits(q.rolling_min(x, p), ref.rolling_min(x.tolist(), p))
        assert_bits(q.rolling_max(x, p), ref.rolling_max(x.tolist(), p))


def test_bollinger_middle_is_the_sma():
    c = nse_bars("INFY")["close"]
    for p in (1, 5, 20):
        assert_bits(q.bollinger_bands(c, p, 2.0)[1], q.sma(c, p))


def test_bollinger_bands_stay_nan_once_the_middle_is():
    x = np.arange(1.0, 31.0)
    x[12] = NAN
    upper, middle, lower = q.bollinger_bands(x, 4, 2.0)
    for band in (upper, middle, lower):
        assert not np.isnan(band[3:12]).any() and np.isnan(band[12:]).all()


def test_inputs_are_left_unchanged():
    b = random_bars(8, 64, nan=0.05)
    before = {k: v.copy() for k, v in b.items()}
    for name in NAMES:
        CALLS[name](q, b, 5)
    for k in b:
        assert_bits(b[k], before[k])
