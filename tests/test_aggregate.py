"""Bar aggregation: `BarAggregator`, `aggregate_bars` and `bars_from_ticks` against the
documented examples, the error table, and a plain-Python twin of every builder on seeded
random streams and on real NSE minute bars."""

import csv
import datetime
import math
import pathlib
import struct

import numpy as np
import pytest

import _quillon as q
from reference import aggregate as ref

IST = 19_800_000_000_000
MIN = 60_000_000_000
DAY = 86_400_000_000_000
I64_MAX = 2**63 - 1
I64_MIN = -(2**63)
DATA = pathlib.Path(__file__).parent / "data" / "reliance_1m.csv"


def ns(text):
    """A UTC wall-clock text ("2024-01-05 09:15:00") as nanoseconds since the epoch."""
    dt = datetime.datetime.fromisoformat(text).replace(tzinfo=datetime.timezone.utc)
    return int(dt.timestamp()) * 10**9


def key(bar):
    """Exact identity of a bar: the int stamp and the five floats by bit pattern."""
    ts, *prices = bar
    assert type(ts) is int and all(type(p) is float for p in prices)
    return (ts, *("nan" if math.isnan(p) else struct.pack("<d", p) for p in prices))


def rows(columns):
    ts, o, h, lo, c, v = columns
    assert ts.dtype == np.int64 and all(a.dtype == np.float64 for a in (o, h, lo, c, v))
    assert len({len(a) for a in columns}) == 1
    return [key((int(ts[i]), *(float(a[i]) for a in (o, h, lo, c, v)))) for i in range(len(ts))]


def drain(agg, first):
    out = [] if first is None else [first]
    while (bar := agg.next_pending()) is not None:
        out.append(bar)
    return out


def random_bars(rng, n, *, start=None, spacing=MIN, nan_rate=0.0, backwards_rate=0.0):
    start = int(rng.integers(-10**18, 10**18)) if start is None else start
    steps = rng.integers(0, 3 * spacing, n)
    back = rng.random(n) < backwards_rate
    steps[back] = -steps[back] * 5
    ts = start + np.cumsum(steps).astype(np.int64)
    close = 100.0 + np.cumsum(rng.normal(0.0, 0.6, n))
    open_ = close + rng.normal(0.0, 0.2, n)
    high = np.maximum(open_, close) + rng.uniform(0.0, 0.5, n)
    low = np.minimum(open_, close) - rng.uniform(0.0, 0.5, n)
    volume = np.where(rng.random(n) < 0.1, 0.0, rng.integers(1, 400, n).astype(float))
    if nan_rate:
        for arr in (open_, high, low, close, volume):
            arr[rng.random(n) < nan_rate] = np.nan
    return ts, open_, high, low, close, volume


def random_ticks(rng, n, *, spacing=10**9):
    ts = int(rng.integers(0, 2 * 10**18)) + np.cumsum(rng.integers(0, spacing, n)).astype(np.int64)
    ltp = np.round(500.0 + np.cumsum(rng.choice([-0.05, 0.0, 0.05], n)), 2)
    ltp[rng.random(n) < 0.08] = 0.0
    ltp[rng.random(n) < 0.02] = -1.0
    ltp[rng.random(n) < 0.02] = np.nan
    buy = np.where(rng.random(n) < 0.5, rng.integers(0, 50, n), 0).astype(float)
    sell = np.where(rng.random(n) < 0.5, -rng.integers(0, 50, n), 0).astype(float)
    same = rng.random(n) < 0.15  # equal magnitudes: direction unknown
    sell[same] = -buy[same]
    return ts, ltp, buy, sell


def nse_bars():
    with DATA.open() as f:
        recs = list(csv.DictReader(f))
    local = np.array([ns(r["datetime"]) for r in recs], dtype=np.int64)
    cols = [np.array([float(r[k]) for r in recs]) for k in ("open", "high", "low", "close", "volume")]
    return (local - IST, *cols)  # the file's clock is IST


# ---- documented examples ------------------------------------------------------------------

def test_minute_bars_are_stamped_with_their_window_end():
    agg = q.BarAggregator(1, "m")
    assert agg.push_bar(ns("2024-01-05 09:15:00"), 10.0, 11.0, 9.0, 10.5, 100.0) is None
    assert agg.push_bar(ns("2024-01-05 09:15:30"), 10.5, 12.0, 10.0, 11.0, 50.0) is None
    assert agg.push_bar(ns("2024-01-05 09:16:00"), 11.0, 11.5, 10.8, 11.2, 7.0) == (
        ns("2024-01-05 09:16:00"), 10.0, 12.0, 9.0, 11.0, 150.0)
    assert agg.flush() == (ns("2024-01-05 09:17:00"), 11.0, 11.5, 10.8, 11.2, 7.0)
    assert agg.flush() is None


def test_ist_day_bar_ends_at_local_midnight():
    agg = q.BarAggregator(1, "d", tz_offset_ns=q.IST_OFFSET_NS)
    agg.push_bar(ns("2024-03-14 04:00:00"), 1.0, 1.0, 1.0, 1.0, 1.0)  # 09:30 IST
    agg.push_bar(ns("2024-03-14 18:29:59"), 2.0, 2.0, 2.0, 2.0, 1.0)  # 23:59:59 IST
    bar = agg.push_bar(ns("2024-03-14 18:30:00"), 3.0, 3.0, 3.0, 3.0, 1.0)  # next IST day
    assert bar == (ns("2024-03-14 18:30:00"), 1.0, 2.0, 1.0, 2.0, 2.0)


def test_month_step_three_groups_calendar_quarters():
    agg = q.BarAggregator(3, "month", tz_offset_ns=IST)
    for i, day in enumerate(["2024-01-01 00:00:00", "2024-02-29 12:00:00", "2024-03-31 18:29:00"]):
        assert agg.push_bar(ns(day) - IST, float(i), float(i), float(i), float(i), 1.0) is None
    bar = agg.push_bar(ns("2024-04-01 00:00:00") - IST, 9.0, 9.0, 9.0, 9.0, 1.0)
    assert bar == (ns("2024-04-01 00:00:00") - IST, 0.0, 2.0, 0.0, 2.0, 3.0)
    assert agg.flush()[0] == ns("2024-07-01 00:00:00") - IST


def test_empty_arrays_give_six_empty_arrays():
    empty = np.array([], dtype=np.float64)
    out = q.aggregate_bars(np.array([], dtype=np.int64), empty, empty, empty, empty, empty, 1, "m")
    assert isinstance(out, tuple) and len(out) == 6
    assert [a.dtype for a in out] == [np.int64] + [np.float64] * 5
    assert all(a.shape == (0,) for a in out)


def test_tick_bars_of_three_keep_the_remainder():
    ts = np.arange(7, dtype=np.int64) * 1000
    x = np.arange(7, dtype=np.float64)
    out = rows(q.aggregate_bars(ts, x, x + 1, x - 1, x, np.ones(7), 3, "tick"))
    assert out == [key(b) for b in [(2000, 0.0, 3.0, -1.0, 2.0, 3.0), (5000, 3.0, 6.0, 2.0, 5.0, 3.0),
                                    (6000, 6.0, 7.0, 5.0, 6.0, 1.0)]]


def test_renko_example():
    agg = q.BarAggregator(10, "renko")
    assert agg.push_bar(0, 100.0, 100.0, 100.0, 100.0, 1.0) is None  # anchors at 100
    assert agg.push_bar(1, 0.0, 0.0, 0.0, 135.0, 7.0) == (1, 100.0, 110.0, 100.0, 110.0, 0.0)
    assert agg.next_pending() == (1, 110.0, 120.0, 110.0, 120.0, 0.0)
    assert agg.next_pending() == (1, 120.0, 130.0, 120.0, 130.0, 7.0)
    assert agg.next_pending() is None
    assert agg.push_bar(2, 0.0, 0.0, 0.0, 121.0, 1.0) is None
    assert agg.push_bar(3, 0.0, 0.0, 0.0, 119.0, 2.0) == (3, 130.0, 130.0, 120.0, 120.0, 2.0)


def test_renko_undrained_bricks_come_out_of_later_pushes_in_order():
    agg = q.BarAggregator(1, "renko", brick_size=10.0)
    agg.push_trade(0, 100.0, 1.0)
    assert agg.push_trade(1, 125.0, 5.0)[1:5] == (100.0, 110.0, 100.0, 110.0)
    assert agg.push_trade(2, 121.0, 1.0) is None  # no new brick: the queue is not touched
    assert agg.push_trade(3, 131.0, 1.0)[1:5] == (110.0, 120.0, 110.0, 120.0)  # older brick first
    assert agg.flush()[1:5] == (120.0, 130.0, 120.0, 130.0)
    assert agg.flush() is None


def test_renko_caps_one_push_and_reanchors():
    agg = q.BarAggregator(1, "renko")
    agg.push_trade(0, 0.5, 1.0)  # anchor 0
    bricks = drain(agg, agg.push_trade(1, 20_000.5, 3.0))
    assert len(bricks) == 10_000
    assert bricks[-1] == (1, 9999.0, 10_000.0, 9999.0, 10_000.0, 3.0)
    assert drain(agg, agg.push_trade(2, 20_001.2, 1.0)) == [(2, 20_000.0, 20_001.0, 20_000.0, 20_001.0, 1.0)]


def test_volume_imbalance_trades_without_sign_use_the_tick_rule():
    agg = q.BarAggregator(3, "volume_imbalance")
    assert agg.push_trade(0, 100.0, 1.0) is None  # no previous price: buy, imbalance 1
    assert agg.push_trade(1, 100.5, 1.0) is None  # uptick: buy, imbalance 2
    assert agg.push_trade(2, 100.5, 1.0) == (2, 100.0, 100.5, 100.0, 100.5, 3.0)  # repeats buy
    assert agg.push_trade(3, 100.4, 1.0) is None  # downtick: sell
    assert agg.push_trade(4, 100.4, 1.0) is None  # unchanged: sell again, imbalance 2
    assert agg.push_trade(5, 100.4, 1.0) == (5, 100.4, 100.4, 100.4, 100.4, 3.0)


def test_signed_size_overrides_the_tick_rule_and_leaves_its_memory():
    agg = q.BarAggregator(2, "tick_imbalance")
    assert agg.push_trade(0, 100.0, 1.0) is None                   # tick rule: buy
    assert agg.push_trade(1, 99.0, 1.0) is None                    # downtick: sell, remembered
    assert agg.push_trade(2, 98.0, 1.0, signed_size=5.0) is None   # known buy despite a downtick
    # The known-sign trade left the remembered sell in place: unchanged prices are sells.
    assert agg.push_trade(3, 98.0, 1.0) is None                    # buy 2, sell 2
    assert agg.push_trade(4, 98.0, 1.0) is None                    # sell 3
    assert agg.push_trade(5, 98.0, 1.0) == (5, 100.0, 100.0, 98.0, 98.0, 6.0)  # sell 4


@pytest.mark.parametrize("signed, buys", [(math.nan, False), (-0.0, True), (1e-300, True),
                                          (-1e-300, False)])
def test_signed_size_edge_values(signed, buys):
    # NaN is a known sign that lands on the sell side; -0.0 is unknown, so the uptick buys.
    agg = q.BarAggregator(2, "tick_runs")
    agg.push_trade(0, 100.0, 1.0)  # buy run 1
    bar = agg.push_trade(1, 101.0, 1.0, signed_size=signed)
    assert (bar is not None) is buys


def test_flow_builder_keeps_its_price_memory_across_flush():
    agg = q.BarAggregator(2, "tick_imbalance")
    agg.push_trade(0, 10.0, 1.0)
    agg.push_trade(1, 9.0, 1.0)  # sell
    assert agg.flush() == (1, 10.0, 10.0, 9.0, 9.0, 2.0)
    agg.push_trade(2, 9.0, 1.0)  # unchanged after the flush: still a sell
    assert agg.push_trade(3, 8.0, 1.0) == (3, 9.0, 9.0, 8.0, 8.0, 2.0)


def test_bars_from_ticks_skips_rows_without_a_positive_price():
    ts = np.array([1, 2, 3, 4, 5], dtype=np.int64)
    ltp = np.array([0.0, 100.0, -3.0, np.nan, 101.0])
    buy = np.array([9.0, 5.0, 9.0, 9.0, 2.0])
    sell = np.array([-9.0, -3.0, 9.0, 9.0, 0.0])
    out = rows(q.bars_from_ticks(ts, ltp, buy, sell, 1, "tick"))
    assert out == [key((2, 100.0, 100.0, 100.0, 100.0, 8.0)), key((5, 101.0, 101.0, 101.0, 101.0, 2.0))]


def test_bars_from_ticks_signed_size_is_the_difference_of_magnitudes():
    # buy 5 / sell -3: size 8, signed +2 (a buy); equal magnitudes: unknown -> tick rule.
    ts = np.arange(4, dtype=np.int64)
    ltp = np.array([100.0, 99.0, 98.0, 97.0])
    buy = np.array([5.0, 4.0, 4.0, 1.0])
    sell = np.array([-3.0, -4.0, 4.0, -6.0])
    out = q.bars_from_ticks(ts, ltp, buy, sell, 100, "volume_runs")
    want = ref.bars_from_ticks(ts, ltp, buy, sell, 100, "volume_runs")
    assert rows(out) == [key(b) for b in want]
    # buy run 8 (first print, signed +2), then two downticks of unknown sign (8 each)
    # make the sell run 16, then signed -5 joins it: 23 < 100, so one flushed bar.
    assert out[5].tolist() == [31.0]


# ---- errors -------------------------------------------------------------------------------

ONE = np.ones(3)
TS = np.arange(3, dtype=np.int64)


@pytest.mark.parametrize("make, message", [
    (lambda: q.BarAggregator(1, "Minute"), 'unknown aggregation unit "Minute"'),
    (lambda: q.BarAggregator(1, ""), 'unknown aggregation unit ""'),
    (lambda: q.BarAggregator(1, 'a"b\\c\n\t\r\x00\x01\x7f\x85é'),
     'unknown aggregation unit "a\\"b\\\\c\\n\\t\\r\\0\\u{1}\\u{7f}\\u{85}é"'),
    (lambda: q.BarAggregator(1, " m"), 'unknown aggregation unit " m"'),
    (lambda: q.BarAggregator(0, "m"), "aggregation step must be >= 1"),
    (lambda: q.BarAggregator(0, "renko", brick_size=math.inf), "aggregation step must be >= 1"),
    (lambda: q.BarAggregator(0, "bad"), 'unknown aggregation unit "bad"'),
    (lambda: q.BarAggregator(1, "renko", brick_size=math.inf),
     "invalid builder parameter: brick_size must be finite and > 0"),
    (lambda: q.BarAggregator(2**32 - 1, "w"),
     "invalid builder parameter: step * unit length must fit in signed 64-bit nanoseconds"),
    (lambda: q.BarAggregator(153_722_868, "m"),
     "invalid builder parameter: step * unit length must fit in signed 64-bit nanoseconds"),
    (lambda: q.aggregate_bars(TS, ONE, ONE, ONE, ONE, np.ones(2), 1, "m"),
     "all input arrays must share one length"),
    (lambda: q.aggregate_bars(TS[:2], ONE, ONE, ONE, ONE, ONE, 0, "bad"),
     "all input arrays must share one length"),
    (lambda: q.aggregate_bars(TS, ONE, ONE, ONE, ONE, ONE, 0, "m"), "aggregation step must be >= 1"),
    (lambda: q.bars_from_ticks(TS, ONE, ONE, np.ones(4), 1, "tick"),
     "all input arrays must share one length"),
    (lambda: q.bars_from_ticks(TS, ONE, ONE, ONE, 1, "Tick"), 'unknown aggregation unit "Tick"'),
], ids=["capital-M", "empty", "escapes", "space", "step-0", "step-before-brick",
        "unit-before-step", "infinite-brick", "week-width-overflow", "minute-width-overflow",
        "lengths", "lengths-before-unit", "arrays-step", "ticks-lengths", "ticks-unit"])
def test_failures_and_their_order(make, message):
    with pytest.raises(ValueError) as info:
        make()
    assert str(info.value) == message


@pytest.mark.parametrize("step, unit", [(153_722_867, "m"), (4_294_967_295, "s"),
                                        (106_751, "d"), (15_250, "w")])
def test_the_largest_widths_that_fit_are_accepted(step, unit):
    agg = q.BarAggregator(step, unit)
    agg.push_bar(0, 1.0, 1.0, 1.0, 1.0, 1.0)
    assert agg.flush()[0] > 0


@pytest.mark.parametrize("brick, expected_brick", [(0.0, 5.0), (-2.0, 5.0), (math.nan, 5.0),
                                                   (0.25, 0.25)])
def test_renko_brick_falls_back_to_the_step(brick, expected_brick):
    agg = q.BarAggregator(5, "renko", brick_size=brick)
    agg.push_trade(0, 100.0, 1.0)
    bar = agg.push_trade(1, 200.0, 1.0)
    assert bar[4] - bar[1] == expected_brick


@pytest.mark.parametrize("call, exc", [
    (lambda: q.BarAggregator(-1, "m"), OverflowError),
    (lambda: q.BarAggregator(2**32, "m"), OverflowError),
    (lambda: q.BarAggregator(1.0, "m"), TypeError),
    (lambda: q.BarAggregator(1, b"m"), TypeError),
    (lambda: q.BarAggregator(1, "m", tz_offset_ns=2**63), OverflowError),
    (lambda: q.BarAggregator(1, "m").push_bar(1.5, 1, 1, 1, 1, 1), TypeError),
    (lambda: q.aggregate_bars(TS.astype(float), ONE, ONE, ONE, ONE, ONE, 1, "m"), TypeError),
    (lambda: q.aggregate_bars(TS, ONE.astype(np.float32), ONE, ONE, ONE, ONE, 1, "m"), TypeError),
    (lambda: q.bars_from_ticks(list(TS), ONE, ONE, ONE, 1, "m"), TypeError),
])
def test_argument_conversion_failures(call, exc):
    with pytest.raises(exc):
        call()


def test_argument_errors_name_the_parameter():
    with pytest.raises(TypeError) as info:
        q.aggregate_bars(TS, ONE, ONE, ONE, ONE, [1.0, 1.0, 1.0], 1, "m")
    assert str(info.value).startswith("argument 'volume': ")
    with pytest.raises(TypeError) as info:
        q.BarAggregator(1, "m").push_trade(0, 1.0, "x")
    assert str(info.value).startswith("argument 'size': ")


# ---- boundaries of time arithmetic --------------------------------------------------------

def test_negative_timestamps_floor_into_their_window():
    agg = q.BarAggregator(1, "m")
    agg.push_bar(-1, 1.0, 1.0, 1.0, 1.0, 1.0)           # window [-60 s, 0)
    agg.push_bar(-MIN, 2.0, 2.0, 2.0, 2.0, 1.0)         # same window
    assert agg.push_bar(0, 3.0, 3.0, 3.0, 3.0, 1.0) == (0, 1.0, 2.0, 1.0, 2.0, 2.0)
    agg.push_bar(-MIN - 1, 4.0, 4.0, 4.0, 4.0, 1.0)     # earlier window: closes the current one
    assert agg.flush() == (-MIN, 4.0, 4.0, 4.0, 4.0, 1.0)


def test_descending_records_close_the_current_bar():
    agg = q.BarAggregator(1, "h")
    agg.push_bar(10 * 3600 * 10**9, 1.0, 1.0, 1.0, 1.0, 1.0)
    assert agg.push_bar(9 * 3600 * 10**9, 2.0, 2.0, 2.0, 2.0, 1.0)[0] == 11 * 3600 * 10**9
    assert agg.flush()[0] == 10 * 3600 * 10**9


def test_offset_sums_beyond_64_bits_do_not_wrap():
    agg = q.BarAggregator(1, "d", tz_offset_ns=I64_MAX)
    agg.push_bar(I64_MAX - 5 * DAY, 1.0, 1.0, 1.0, 1.0, 1.0)
    agg.push_bar(I64_MAX - 5 * DAY - 1, 2.0, 2.0, 2.0, 2.0, 1.0)  # same local day
    w = (2 * I64_MAX - 5 * DAY) // DAY
    assert agg.flush() == (min((w + 1) * DAY - I64_MAX, I64_MAX), 1.0, 2.0, 1.0, 2.0, 2.0)


def test_window_ends_beyond_the_nanosecond_range_are_clamped():
    agg = q.BarAggregator(1, "w")
    agg.push_bar(I64_MAX, 1.0, 1.0, 1.0, 1.0, 1.0)
    assert agg.flush()[0] == I64_MAX


EXTREME_TS = [I64_MIN, I64_MIN + 1, -1, 0, I64_MAX - DAY, I64_MAX]
EXTREME_OFFSETS = [0, IST, -IST, I64_MAX, I64_MIN, 2**62, -(2**62)]


# Calendar units only with offsets whose local dates stay inside the reference calendar's
# years 1..9999 (the native calendar itself has no such limit).
EXTREME_CASES = [(s, u, o) for s, u in [(1, "ms"), (1, "m"), (7, "h"), (1, "d"), (3, "w")]
                 for o in EXTREME_OFFSETS] + [(s, u, o) for s, u in [(1, "month"), (1, "y")]
                                              for o in (0, IST, -IST, 10**15, -(10**15))]


@pytest.mark.parametrize("step, unit, offset", EXTREME_CASES)
def test_extreme_timestamps_and_offsets_match_the_reference(step, unit, offset):
    ts = np.array(EXTREME_TS, dtype=np.int64)
    x = np.arange(len(ts), dtype=float)
    got = rows(q.aggregate_bars(ts, x, x, x, x, x, step, unit, offset))
    assert got == [key(b) for b in ref.aggregate_bars(ts, x, x, x, x, x, step, unit, offset)]


@pytest.mark.parametrize("step, unit, expected", [
    (1, "month", ns("2021-08-01 00:00:00")),
    (12, "month", ns("2022-01-01 00:00:00")),
    (5, "y", ns("2025-01-01 00:00:00")),
    (2, "year", ns("2022-01-01 00:00:00")),
    (1000, "y", I64_MAX),        # year 3000 is past the nanosecond range
    (4_294_967_295, "month", I64_MAX),
])
def test_calendar_stamps_and_their_clamp(step, unit, expected):
    agg = q.BarAggregator(step, unit)
    agg.push_bar(ns("2021-07-27 09:15:00"), 1.0, 1.0, 1.0, 1.0, 1.0)
    assert agg.flush()[0] == expected


def test_calendar_handles_the_extreme_timestamps():
    for ts in (I64_MIN, I64_MAX):
        for unit in ("month", "y"):
            agg = q.BarAggregator(1, unit, tz_offset_ns=IST)
            agg.push_bar(ts, 1.0, 1.0, 1.0, 1.0, 1.0)
            want = ref.CalendarBars(1, "month" if unit == "month" else "year", IST)
            want.push((ts, 1.0, 1.0, 1.0, 1.0, 1.0, 0.0))
            assert agg.flush() == want.flush()


def test_leap_days_and_century_years_fall_in_the_right_month():
    stamps = [ns(d) for d in ("2000-02-29 23:59:59", "2000-03-01 00:00:00", "1900-02-28 12:00:00",
                              "1900-03-01 00:00:00", "2100-02-28 23:00:00", "2100-03-01 01:00:00")]
    ts = np.array(stamps, dtype=np.int64)
    ts.sort()
    x = np.arange(len(ts), dtype=float)
    out = q.aggregate_bars(ts, x, x, x, x, x, 1, "month")
    assert rows(out) == [key(b) for b in ref.aggregate_bars(ts, x, x, x, x, x, 1, "month")]
    assert len(out[0]) == 6


# ---- Renko: a NaN cannot anchor the builder -----------------------------------------------

def test_renko_nan_first_close_does_not_disable_the_builder():
    agg = q.BarAggregator(10, "renko")
    assert agg.push_bar(0, 1.0, 1.0, 1.0, math.nan, 1.0) is None
    assert agg.push_bar(1, 1.0, 1.0, 1.0, 100.0, 1.0) is None  # anchors here instead
    assert agg.push_bar(2, 1.0, 1.0, 1.0, 112.0, 4.0) == (2, 100.0, 110.0, 100.0, 110.0, 4.0)
    assert agg.push_bar(3, 1.0, 1.0, 1.0, math.nan, 4.0) is None  # anchored: NaN moves nothing


# ---- agreement with the plain-Python twin -------------------------------------------------

BAR_SPECS = [
    (250, "ms", 0, 0.0, 10**8), (7, "s", 0, 0.0, 10**9), (1, "m", 0, 0.0, MIN),
    (15, "min", IST, 0.0, MIN), (1, "minute", -IST, 0.0, MIN), (1, "h", IST, 0.0, MIN),
    (1, "hour", 0, 0.0, 10 * MIN), (1, "d", IST, 0.0, 3600 * 10**9), (2, "day", 0, 0.0, DAY // 3),
    (1, "w", IST, 0.0, DAY), (1, "week", 0, 0.0, DAY // 2), (1, "second", 0, 0.0, 10**9),
    (1, "millisecond", 0, 0.0, 10**6), (1, "sec", 0, 0.0, 10**9),
    (1, "month", IST, 0.0, DAY), (3, "month", 0, 0.0, 2 * DAY), (1, "y", IST, 0.0, 20 * DAY),
    (2, "year", 0, 0.0, 40 * DAY),
    (1, "tick", 0, 0.0, MIN), (3, "tick", 0, 0.0, MIN), (500, "volume", 0, 0.0, MIN),
    (200_000, "value", 0, 0.0, MIN),
    (1, "renko", 0, 0.0, MIN), (1, "renko", 0, 0.3, MIN), (1, "renko", 0, 0.013, MIN),
    (9, "tick_imbalance", 0, 0.0, MIN), (12, "tick_runs", 0, 0.0, MIN),
    (900, "volume_imbalance", 0, 0.0, MIN), (1500, "volume_runs", 0, 0.0, MIN),
    (60_000, "value_imbalance", 0, 0.0, MIN), (90_000, "value_runs", 0, 0.0, MIN),
]
SPEC_IDS = [f"{s}-{u}-{o}-{b}" for s, u, o, b, _ in BAR_SPECS]


@pytest.mark.parametrize("step, unit, offset, brick, spacing", BAR_SPECS, ids=SPEC_IDS)
@pytest.mark.parametrize("nan_rate, backwards_rate", [(0.0, 0.0), (0.02, 0.03)],
                         ids=["clean", "nan-and-backwards"])
def test_aggregate_bars_matches_the_reference(rng, step, unit, offset, brick, spacing, nan_rate,
                                              backwards_rate):
    start = int(rng.integers(-10**16, 10**16)) * 100  # either side of the epoch
    cols = random_bars(rng, 600, start=start, spacing=spacing, nan_rate=nan_rate,
                       backwards_rate=backwards_rate)
    got = rows(q.aggregate_bars(*cols, step, unit, tz_offset_ns=offset, brick_size=brick))
    assert got == [key(b) for b in ref.aggregate_bars(*cols, step, unit, offset, brick)]


@pytest.mark.parametrize("step, unit, offset, brick, spacing", BAR_SPECS, ids=SPEC_IDS)
def test_bars_from_ticks_matches_the_reference(rng, step, unit, offset, brick, spacing):
    ts, ltp, buy, sell = random_ticks(rng, 800, spacing=spacing)
    got = rows(q.bars_from_ticks(ts, ltp, buy, sell, step, unit, offset, brick))
    assert got == [key(b) for b in ref.bars_from_ticks(ts, ltp, buy, sell, step, unit, offset, brick)]


@pytest.mark.parametrize("step, unit, offset, brick, spacing", BAR_SPECS, ids=SPEC_IDS)
def test_the_streaming_aggregator_matches_the_array_function(rng, step, unit, offset, brick,
                                                               spacing):
    cols = random_bars(rng, 300, spacing=spacing, nan_rate=0.01)
    agg = q.BarAggregator(step, unit, offset, brick)
    bars = []
    for row in zip(*cols):
        bars += drain(agg, agg.push_bar(int(row[0]), *map(float, row[1:])))
    if (last := agg.flush()) is not None:
        bars.append(last)
    assert [key(b) for b in bars] == rows(q.aggregate_bars(*cols, step, unit, offset, brick))


@pytest.mark.parametrize("step, unit", [(15, "m"), (1, "h"), (1, "d"), (1, "month"), (1, "y"),
                                        (25, "tick"), (200_000, "volume"), (4e8, "value"),
                                        (2, "renko"), (40, "tick_imbalance"),
                                        (300_000, "volume_runs"), (6e8, "value_imbalance")])
def test_real_minute_bars_match_the_reference(step, unit):
    cols = nse_bars()
    got = rows(q.aggregate_bars(*cols, int(step), unit, tz_offset_ns=IST))
    assert got == [key(b) for b in ref.aggregate_bars(*cols, int(step), unit, IST)]
    assert got


def test_real_minute_bars_into_fifteen_minutes_by_hand():
    ts, o, h, lo, c, v = nse_bars()
    out = q.aggregate_bars(ts, o, h, lo, c, v, 15, "m", IST)
    # Group by the 15-minute window of the IST clock, independently of either builder.
    groups = {}
    for i in range(len(ts)):
        groups.setdefault((int(ts[i]) + IST) // (15 * MIN), []).append(i)
    want = [((w + 1) * 15 * MIN - IST, o[ix[0]], max(h[ix]), min(lo[ix]), c[ix[-1]], sum(v[ix]))
            for w, ix in ((w, np.array(ix)) for w, ix in groups.items())]
    assert len(out[0]) == len(want)
    assert out[0].tolist() == [w[0] for w in want]
    np.testing.assert_array_equal(np.column_stack(out[1:5]), np.array([w[1:5] for w in want]))
    np.testing.assert_allclose(out[5], [w[5] for w in want], rtol=0)
    # The pre-open 09:07 print forms a bar of its own, stamped 09:15 IST.
    pre_open = ns("2021-07-28 09:15:00") - IST
    assert pre_open in out[0].tolist()


def test_results_are_fresh_arrays_and_inputs_are_untouched(rng):
    cols = random_bars(rng, 50)
    copies = [a.copy() for a in cols]
    out = q.aggregate_bars(*cols, 5, "m")
    for a in out:
        assert a.flags.writeable and a.flags.c_contiguous
        a[...] = 0
    for a, b in zip(cols, copies):
        np.testing.assert_array_equal(a, b)
    assert rows(q.aggregate_bars(*cols, 5, "m")) != rows(out)


def test_aggregator_surface():
    A = q.BarAggregator
    assert A.__text_signature__ == "(step, unit, tz_offset_ns=0, brick_size=0.0)"
    assert A.__doc__.startswith("Streaming bar aggregator.\n\nPush source records (finer bars or "
                                "trades) in ascending time order;")
    assert A.push_bar.__text_signature__ == "($self, timestamp, open, high, low, close, volume)"
    assert A.push_bar.__doc__ == "Push one bar; returns the completed coarser bar, if any."
    assert A.push_trade.__text_signature__ == "($self, timestamp, price, size, signed_size=0.0)"
    assert A.push_trade.__doc__.startswith("Push one trade; returns the completed bar, if any.")
    assert A.next_pending.__doc__.startswith("A bar completed alongside the last push but held back.")
    assert A.flush.__doc__ == "Emit any in-progress bar at end of data."
    assert q.aggregate_bars.__text_signature__ == (
        "(timestamps, open, high, low, close, volume, step, unit, tz_offset_ns=0, brick_size=0.0)")
    assert q.bars_from_ticks.__text_signature__ == (
        "(timestamps, ltp, buy_qty_delta, sell_qty_delta, step, unit, tz_offset_ns=0, "
        "brick_size=0.0)")
    assert q.aggregate_bars.__doc__.startswith("Aggregate bars into coarser bars.")
    assert q.bars_from_ticks.__doc__.startswith(
        "Build bars from raw tick arrays (`ltp` + buy/sell quantity deltas).")
    agg = A(1, "m")
    assert not hasattr(agg, "__dict__")
    assert repr(agg).startswith("<_quillon.BarAggregator object")


def test_a_reentrant_push_is_refused():
    agg = q.BarAggregator(1, "m")

    class Sneaky:
        def __float__(self):
            agg.flush()
            return 1.0

    with pytest.raises(RuntimeError) as info:
        agg.push_bar(0, Sneaky(), 1.0, 1.0, 1.0, 1.0)
    assert str(info.value) == "Already borrowed"
    assert agg.push_bar(0, 1.0, 1.0, 1.0, 1.0, 1.0) is None  # released afterwards
