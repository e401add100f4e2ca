"""Typed orders through KernelSession: the submission checks and their order, every kind
evaluated on explicit bars with the exact event sequence expected, time in force, the
current bar's market orders, fill admission (each refusal reason, netting and hedging, cash
and margin accounts), the seeded fill model, brackets and one-cancels-other groups."""

import datetime as dt
import math

import pytest

import quillon as q
from reference.orders import SplitMix64

T0 = 1_700_000_000_000_000_000
MIN = 60 * 10**9


def bar(s, i, o=100.0, h=101.0, l=99.0, c=100.0, ts=None, **kw):
    return s.step(i, T0 + i * MIN if ts is None else ts, o, h, l, c, 1000.0, **kw)


def ev(events):
    """Events as compact tuples: the kind, then the fields that are set."""
    out = []
    for e in events:
        row = [e.kind, e.idx]
        for name in ("order_id", "price", "size", "reject_reason"):
            value = getattr(e, name)
            if value is not None:
                row.append(value)
        out.append(tuple(row))
    return out


def session(oms="netting", account="cash", leverage=1.0, instrument=None,
            instrument_config=None, **cfg):
    cfg.setdefault("fees", 0.0)
    return q.KernelSession(config=q.BacktestConfig(**cfg), oms_type=oms, account_type=account,
                           leverage=leverage, instrument=instrument,
                           instrument_config=instrument_config)


def submit(s, side, kind, idx=0, cid="o", **kw):
    return s.submit_order(side, kind, idx, T0 + idx * MIN, cid, **kw)


# ---- submission checks -----------------------------------------------------------------------

SUBMIT_ERRORS = [
    # Each case also breaks every later check, so the message shows the order of the checks.
    (dict(side="BUY", kind="bogus", units=0.0, tif="x"), 'unknown side "BUY"'),
    (dict(side=" buy"), 'unknown side " buy"'),
    (dict(units=1.0, size_frac=0.5, kind="bogus"), "pass units or size_frac, not both"),
    (dict(units=0.0, kind="bogus"), "units must be > 0"),
    (dict(units=-2.0), "units must be > 0"),
    (dict(units=math.nan), "units must be > 0"),
    (dict(size_frac=0.0, kind="bogus"), "size_frac must be in (0, 1]"),
    (dict(size_frac=1.5), "size_frac must be in (0, 1]"),
    (dict(size_frac=math.nan), "size_frac must be in (0, 1]"),
    (dict(kind="Limit", tif="x"), 'unknown order kind "Limit"'),
    (dict(kind="limit", tif="x"), "limit needs limit_price"),
    (dict(kind="stop_market", limit_price=1.0), "stop_market needs trigger_price"),
    (dict(kind="stop_limit", limit_price=1.0), "stop_limit needs trigger_price"),
    (dict(kind="stop_limit", trigger_price=1.0), "stop_limit needs limit_price"),
    (dict(kind="market_if_touched"), "market_if_touched needs trigger_price"),
    (dict(kind="limit_if_touched", trigger_price=1.0), "limit_if_touched needs limit_price"),
    (dict(kind="trailing_stop_market", tif="x"), "trailing_stop_market needs offset"),
    (dict(kind="trailing_stop_limit"), "trailing_stop_limit needs offset"),
    (dict(kind="trailing_stop_market", offset=0.0, offset_kind="x"), "offset must be > 0"),
    (dict(kind="trailing_stop_market", offset=math.nan), "offset must be > 0"),
    (dict(kind="trailing_stop_market", offset=1.0, offset_kind="ticks", tif="x"),
     "offset_kind='ticks' needs an instrument with price_increment"),
    (dict(kind="trailing_stop_limit", offset=1.0, offset_kind="pips", tif="x"),
     "offset_kind must be 'price', 'bps', or 'ticks', got \"pips\""),
    (dict(tif="gtd", post_only=True), "gtd orders need expire_ns"),
    (dict(kind="limit", limit_price=1.0, tif="at_open"), "at_open/at_close apply to market orders"),
    (dict(kind="stop_market", trigger_price=1.0, tif="at_close"),
     "at_open/at_close apply to market orders"),
    (dict(tif="GTC"), 'unknown tif "GTC"'),
    (dict(post_only=True), "post_only applies to limit orders"),
    (dict(kind="stop_limit", trigger_price=1.0, limit_price=1.0, post_only=True),
     "post_only applies to limit orders"),
]


@pytest.mark.parametrize("kwargs, message", SUBMIT_ERRORS, ids=[m for _, m in SUBMIT_ERRORS])
def test_submission_refusals(kwargs, message):
    s = session()
    args = dict(side="buy", kind="market", submitted_idx=0, submitted_ts=0, client_id="c")
    args.update(kwargs)
    with pytest.raises(ValueError) as info:
        s.submit_order(**args)
    assert str(info.value) == message
    # No order was made: the next one gets id 0.
    assert s.open_order_ids() == []
    assert submit(s, "buy", "market", units=1.0) == 0


@pytest.mark.parametrize("kwargs", [
    dict(kind="market"), dict(kind="market", size_frac=1.0), dict(kind="market", tif="day"),
    dict(kind="market", tif="at_open"), dict(kind="limit", limit_price=-5.0, post_only=True),
    dict(kind="trailing_stop_market", offset=1.0, offset_kind="bps"),
    dict(kind="trailing_stop_limit", offset=1.0, limit_offset=-3.0),
    dict(kind="market", tif="gtd", expire_ns=-1),
])
def test_submission_accepts(kwargs):
    s = session()
    assert isinstance(s.submit_order("sell", submitted_idx=0, submitted_ts=0, client_id="c",
                                     **kwargs), int)


def test_order_ids_count_from_zero_in_submission_order():
    s = session()
    ids = [submit(s, "buy", "limit", cid=str(k), units=1.0, limit_price=1.0) for k in range(4)]
    assert ids == [0, 1, 2, 3] and s.open_order_ids() == ids


def test_submission_argument_types():
    s = session()
    with pytest.raises(TypeError) as info:
        s.submit_order("buy", "limit", 0, 0, 7)
    assert str(info.value).startswith("argument 'client_id': ")
    with pytest.raises(OverflowError):
        s.submit_order("buy", "limit", -1, 0, "c")
    with pytest.raises(TypeError) as info:
        s.submit_order("buy", "limit", 0, 0, "c", post_only=1)
    assert str(info.value).startswith("argument 'post_only': ")


def test_a_submission_reports_nothing_until_the_next_step():
    s = session()
    bar(s, 0)
    a = submit(s, "buy", "limit", cid="A", units=1.0, limit_price=90.0)
    m = submit(s, "buy", "market", idx=3, cid="M", units=1.0)  # waits for its own bar
    assert ev(bar(s, 1)) == [("order_accepted", 0, a)]
    assert ev(bar(s, 2)) == []
    assert ev(bar(s, 3, c=100.0)) == [("order_accepted", 3, m), ("order_filled", 3, m, 100.0, 1.0),
                                      ("entered", 3, 100.0, 1.0)]


# ---- evaluation by kind ----------------------------------------------------------------------

def test_limit_is_not_evaluated_on_its_own_bar_and_never_improved_by_a_gap():
    s = session(limit_slippage=0.001)
    for i in range(5):
        bar(s, i)
    oid = submit(s, "buy", "limit", idx=5, units=10.0, limit_price=100.0)
    assert ev(bar(s, 5, o=99.0, l=98.0)) == [("order_accepted", 5, oid)]
    fill = 100.0 * (1.0 + 0.001)
    assert ev(bar(s, 6, o=98.0, h=99.8, l=97.0, c=99.5)) == [
        ("order_filled", 6, oid, fill, 10.0), ("entered", 6, fill, 10.0)]
    assert s.cash() == 100000.0 - 10.0 * 1.0 * fill


def test_sell_limit_fills_when_the_high_reaches_it():
    s = session(limit_slippage=0.01)
    bar(s, 0)
    oid = submit(s, "sell", "limit", units=2.0, limit_price=102.0)
    assert ev(bar(s, 1, h=101.9))[1:] == []
    out = ev(bar(s, 2, o=103.0, h=104.0, l=102.5))
    assert out == [("order_filled", 2, oid, 102.0 * (1.0 - 0.01), 2.0),
                   ("entered", 2, 102.0 * (1.0 - 0.01), 2.0)]
    assert s.position().direction == -1


def test_post_only_marketable_at_the_open_is_rejected():
    s = session()
    bar(s, 5)
    oid = submit(s, "buy", "limit", idx=5, units=1.0, limit_price=101.0, post_only=True)
    assert ev(bar(s, 6, o=100.0)) == [("order_accepted", 5, oid),
                                      ("order_rejected", 6, oid, "post_only")]
    assert s.open_order_ids() == []


def test_post_only_resting_below_the_open_works_and_fills():
    s = session()
    bar(s, 5)
    oid = submit(s, "sell", "limit", idx=5, units=1.0, limit_price=101.0, post_only=True)
    assert ev(bar(s, 6, o=100.0, h=100.5)) == [("order_accepted", 5, oid)]
    # Only the first evaluated bar is tested against the open.
    assert ev(bar(s, 7, o=102.0, h=103.0)) == [("order_filled", 7, oid, 101.0, 1.0),
                                              ("entered", 7, 101.0, 1.0)]


@pytest.mark.parametrize("side, trigger, o, h, l, fill", [
    ("sell", 95.0, 93.0, 94.0, 90.0, 93.0),   # gap through the stop: the open
    ("sell", 95.0, 97.0, 98.0, 94.0, 95.0),
    ("buy", 105.0, 104.0, 106.0, 103.0, 105.0),
    ("buy", 105.0, 107.0, 108.0, 106.0, 107.0),
])
def test_stop_market(side, trigger, o, h, l, fill):
    s = session()
    bar(s, 0)
    oid = submit(s, side, "stop_market", units=1.0, trigger_price=trigger)
    out = ev(bar(s, 1, o=o, h=h, l=l, c=o))
    assert out == [("order_accepted", 0, oid), ("order_filled", 1, oid, fill, 1.0),
                   ("entered", 1, fill, 1.0)]


def test_stop_market_untouched_stays_working():
    s = session()
    bar(s, 0)
    oid = submit(s, "sell", "stop_market", units=1.0, trigger_price=95.0)
    assert ev(bar(s, 1, l=95.01)) == [("order_accepted", 0, oid)]
    assert s.open_order_ids() == [oid]


def test_stop_limit_triggers_then_works_as_a_limit_from_the_next_bar():
    s = session()
    bar(s, 6)
    oid = submit(s, "buy", "stop_limit", idx=6, units=1.0, trigger_price=105.0,
                 limit_price=104.0)
    # Bar 7 reaches the trigger and also trades through the limit: no fill on this bar.
    assert ev(bar(s, 7, o=103.0, h=105.0, l=102.0)) == [("order_accepted", 6, oid),
                                                       ("order_triggered", 7, oid)]
    assert ev(bar(s, 8, o=106.0, h=107.0, l=104.5)) == []
    assert ev(bar(s, 9, o=106.0, h=107.0, l=103.0)) == [("order_filled", 9, oid, 104.0, 1.0),
                                                       ("entered", 9, 104.0, 1.0)]


@pytest.mark.parametrize("side, trigger, o, h, l, fills", [
    ("buy", 95.0, 98.0, 99.0, 95.0, True),
    ("buy", 95.0, 98.0, 99.0, 95.5, False),
    ("sell", 105.0, 100.0, 105.0, 99.0, True),
    ("sell", 105.0, 100.0, 104.9, 99.0, False),
])
def test_market_if_touched_fills_as_a_limit_at_the_trigger(side, trigger, o, h, l, fills):
    s = session(limit_slippage=0.002, fill_prob_limit=0.0)  # not a resting limit: no draw
    bar(s, 0)
    oid = submit(s, side, "market_if_touched", units=1.0, trigger_price=trigger)
    price = trigger * (1.0 + 0.002) if side == "buy" else trigger * (1.0 - 0.002)
    want = [("order_accepted", 0, oid)]
    if fills:
        want += [("order_filled", 1, oid, price, 1.0), ("entered", 1, price, 1.0)]
    assert ev(bar(s, 1, o=o, h=h, l=l)) == want


def test_limit_if_touched_triggers_when_touched_then_fills_at_its_limit():
    s = session(fill_prob_limit=0.0)  # after its trigger it is not a resting limit either
    bar(s, 0)
    oid = submit(s, "sell", "limit_if_touched", units=1.0, trigger_price=105.0,
                 limit_price=104.0)
    assert ev(bar(s, 1, h=104.9)) == [("order_accepted", 0, oid)]
    assert ev(bar(s, 2, h=105.0)) == [("order_triggered", 2, oid)]
    assert ev(bar(s, 3, o=103.0, h=104.0, l=102.0)) == [("order_filled", 3, oid, 104.0, 1.0),
                                                       ("entered", 3, 104.0, 1.0)]


def test_triggered_stop_limit_is_a_resting_limit_for_the_fill_model():
    s = session(fill_prob_limit=0.0)
    bar(s, 0)
    oid = submit(s, "buy", "stop_limit", units=1.0, trigger_price=105.0, limit_price=104.0)
    bar(s, 1, h=106.0)
    for i in range(2, 6):
        assert ev(bar(s, i, l=90.0)) == []
    assert s.open_order_ids() == [oid]


def test_market_to_limit_fills_at_the_open():
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "market_to_limit", units=3.0)
    assert ev(bar(s, 1, o=97.5)) == [("order_accepted", 0, oid),
                                     ("order_filled", 1, oid, 97.5, 3.0), ("entered", 1, 97.5, 3.0)]


def test_trailing_stop_market_price_offset():
    s = session()
    bar(s, 0)
    oid = submit(s, "sell", "trailing_stop_market", units=1.0, offset=2.0)
    assert ev(bar(s, 1, o=104.0, h=105.0, l=104.0)) == [("order_accepted", 0, oid)]  # stop 103
    assert ev(bar(s, 2, o=106.0, h=107.0, l=106.0)) == []                            # stop 105
    # The reference never falls back: a lower high leaves the stop at 105.
    assert ev(bar(s, 3, o=106.0, h=106.5, l=104.0)) == [("order_filled", 3, oid, 105.0, 1.0),
                                                       ("entered", 3, 105.0, 1.0)]


def test_trailing_stop_gap_fills_at_the_open():
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "trailing_stop_market", units=1.0, offset=1.0)
    assert ev(bar(s, 1, o=100.5, h=100.9, l=100.0)) == [("order_accepted", 0, oid)]  # stop 101
    assert ev(bar(s, 2, o=103.0, h=104.0, l=102.0)) == [("order_filled", 2, oid, 103.0, 1.0),
                                                       ("entered", 2, 103.0, 1.0)]


def test_trailing_stop_fills_on_its_first_bar_when_the_range_covers_the_offset():
    s = session()
    bar(s, 0)
    oid = submit(s, "sell", "trailing_stop_market", units=1.0, offset=2.0)
    assert ev(bar(s, 1, o=104.0, h=105.0, l=102.0)) == [
        ("order_accepted", 0, oid), ("order_filled", 1, oid, 103.0, 1.0),
        ("entered", 1, 103.0, 1.0)]


def test_trailing_stop_bps_offset():
    s = session()
    bar(s, 0)
    oid = submit(s, "sell", "trailing_stop_market", units=1.0, offset=100.0, offset_kind="bps")
    bar(s, 1, o=199.0, h=200.0, l=199.0)  # reference 200, distance 2, stop 198
    stop = 200.0 - 100.0 * 200.0 / 10000.0
    assert ev(bar(s, 2, o=199.0, h=199.5, l=197.0)) == [("order_filled", 2, oid, stop, 1.0),
                                                       ("entered", 2, stop, 1.0)]


def test_trailing_stop_ticks_offset():
    spec = q.InstrumentSpec.equity("RELIANCE", price_increment=0.05)
    s = session(instrument=spec)
    bar(s, 0)
    oid = submit(s, "sell", "trailing_stop_market", units=1.0, offset=4.0, offset_kind="ticks")
    bar(s, 1, o=100.0, h=100.0, l=99.9)  # stop 100 - 4 * 0.05
    stop = 100.0 - 4.0 * 0.05
    assert ev(bar(s, 2, o=99.9, h=99.95, l=99.5)) == [("order_filled", 2, oid, stop, 1.0),
                                                     ("entered", 2, stop, 1.0)]


def test_trailing_stop_limit():
    s = session(limit_slippage=0.001)
    bar(s, 0)
    oid = submit(s, "sell", "trailing_stop_limit", units=1.0, offset=2.0, limit_offset=0.5)
    bar(s, 1, o=104.0, h=105.0, l=104.0)
    assert ev(bar(s, 2, o=104.0, h=104.5, l=102.0)) == [("order_triggered", 2, oid)]
    assert ev(bar(s, 3, o=101.0, h=102.4, l=100.0)) == []  # limit 105 - 2 - 0.5 = 102.5
    fill = 102.5 * (1.0 - 0.001)
    assert ev(bar(s, 4, o=102.0, h=103.0, l=101.0)) == [("order_filled", 4, oid, fill, 1.0),
                                                       ("entered", 4, fill, 1.0)]


@pytest.mark.parametrize("tif, price", [("at_open", 98.0), ("at_close", 99.25)])
def test_auction_market_orders(tif, price):
    s = session(upon_bar_close=True)
    bar(s, 0)
    oid = submit(s, "buy", "market", units=1.0, tif=tif)
    assert ev(bar(s, 1, o=98.0, h=100.0, l=97.0, c=99.25)) == [
        ("order_accepted", 0, oid), ("order_filled", 1, oid, price, 1.0),
        ("entered", 1, price, 1.0)]


# ---- the current bar's market orders ---------------------------------------------------------

@pytest.mark.parametrize("upon_bar_close, price", [(True, 100.5), (False, 99.0)])
def test_market_order_fills_on_its_own_bar_at_the_selected_price(upon_bar_close, price):
    s = session(upon_bar_close=upon_bar_close)
    bar(s, 0)
    oid = submit(s, "buy", "market", idx=1, units=5.0)
    assert ev(bar(s, 1, o=99.0, c=100.5)) == [("order_accepted", 1, oid),
                                              ("order_filled", 1, oid, price, 5.0),
                                              ("entered", 1, price, 5.0)]


def test_market_order_fills_after_the_signal_entry_of_its_bar():
    s = session(oms="hedging")
    oid = submit(s, "sell", "market", idx=0, units=1.0)
    out = ev(bar(s, 0, entry=True, size_mult=0.5))
    assert [r[0] for r in out] == ["entered", "order_accepted", "order_filled", "entered"]


@pytest.mark.parametrize("tif, events_next, still_open", [
    ("ioc", [("order_canceled", 1, 0)], False),
    ("fok", [("order_canceled", 1, 0)], False),
    ("gtc", [], True),
])
def test_market_order_for_a_past_bar_never_fills(tif, events_next, still_open):
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "market", idx=0, units=1.0, tif=tif)  # bar 0 has been stepped
    assert ev(bar(s, 1)) == events_next
    assert ev(bar(s, 2)) == []
    assert s.open_order_ids() == ([oid] if still_open else [])
    assert not s.is_in_position()


def test_market_order_slippage():
    s = session(slippage=0.01)
    oid = submit(s, "sell", "market", idx=0, units=1.0)
    out = ev(bar(s, 0, c=100.0))
    # order_filled carries the order's fill price; the position pays the slippage.
    assert out == [("order_accepted", 0, oid), ("order_filled", 0, oid, 100.0, 1.0),
                   ("entered", 0, 99.0, 1.0)]


# ---- time in force ---------------------------------------------------------------------------

def ns(*args):
    return int(dt.datetime(*args, tzinfo=dt.timezone.utc).timestamp()) * 10**9


@pytest.mark.parametrize("offset, expires_at", [
    (q.IST_OFFSET_NS, ns(2024, 1, 2, 18, 30)),  # local midnight in India
    (0, ns(2024, 1, 3, 0, 0)),
])
def test_day_order_expires_on_the_first_bar_of_the_next_local_date(offset, expires_at):
    s = session(session_tz_offset_ns=offset)
    submitted = ns(2024, 1, 2, 9, 30)  # 15:00 in India
    s.step(0, submitted, 100.0, 101.0, 99.0, 100.0, 1.0)
    oid = s.submit_order("buy", "limit", 0, submitted, "day", units=1.0, limit_price=50.0,
                         tif="day")
    times = [ns(2024, 1, 2, 9, 45), ns(2024, 1, 2, 18, 29), ns(2024, 1, 2, 18, 30),
             ns(2024, 1, 2, 23, 59), ns(2024, 1, 3, 0, 0), ns(2024, 1, 3, 3, 0)]
    seen = []
    for i, t in enumerate(times, start=1):
        for e in s.step(i, t, 100.0, 101.0, 99.0, 100.0, 1.0):
            if e.kind == "order_expired":
                seen.append((t, e.order_id))
    assert seen == [(expires_at, oid)]


def test_day_order_before_the_epoch_uses_floored_dates():
    s = session()
    s.step(0, -10, 100.0, 101.0, 99.0, 100.0, 1.0)
    oid = s.submit_order("buy", "limit", 0, -10, "d", units=1.0, limit_price=1.0, tif="day")
    assert ev(s.step(1, -5, 100.0, 101.0, 99.0, 100.0, 1.0)) == [("order_accepted", 0, oid)]
    assert ev(s.step(2, 0, 100.0, 101.0, 99.0, 100.0, 1.0)) == [("order_expired", 2, oid)]


def test_gtd_expires_when_the_bar_reaches_its_time():
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "limit", units=1.0, limit_price=50.0, tif="gtd",
                 expire_ns=T0 + 3 * MIN)
    assert ev(bar(s, 1)) == [("order_accepted", 0, oid)]
    assert ev(bar(s, 2)) == []
    # Expiry is tested before the price: a bar that would fill it expires it instead.
    assert ev(bar(s, 3, l=40.0)) == [("order_expired", 3, oid)]
    assert ev(bar(s, 4, l=40.0)) == []


def test_expired_pending_order_is_reported_once():
    """A plain market order for a past bar stays pending; when its day ends it expires once
    and leaves the open orders instead of expiring again on every later bar."""
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "market", idx=0, units=1.0, tif="day")
    assert s.open_order_ids() == [oid]
    day = 86_400 * 10**9
    out = []
    for i in range(1, 5):
        out += ev(bar(s, i, ts=T0 + i * day))
    assert out == [("order_expired", 1, oid)]
    assert s.open_order_ids() == []


@pytest.mark.parametrize("tif", ["ioc", "fok"])
def test_immediate_or_cancel_limit_not_marketable(tif):
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "limit", units=1.0, limit_price=90.0, tif=tif)
    assert ev(bar(s, 1)) == [("order_accepted", 0, oid), ("order_canceled", 1, oid)]
    assert s.open_order_ids() == []


def test_immediate_or_cancel_limit_marketable_fills():
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "limit", units=1.0, limit_price=99.5, tif="ioc")
    assert ev(bar(s, 1)) == [("order_accepted", 0, oid), ("order_filled", 1, oid, 99.5, 1.0),
                             ("entered", 1, 99.5, 1.0)]


def test_immediate_or_cancel_refused_by_the_fill_model_is_canceled():
    s = session(fill_prob_limit=0.0)
    bar(s, 0)
    oid = submit(s, "buy", "limit", units=1.0, limit_price=99.5, tif="ioc")
    assert ev(bar(s, 1)) == [("order_accepted", 0, oid), ("order_canceled", 1, oid)]


def test_immediate_or_cancel_stop_limit_survives_its_trigger_bar():
    s = session()
    bar(s, 0)
    oid = submit(s, "buy", "stop_limit", units=1.0, trigger_price=101.0, limit_price=90.0,
                 tif="ioc")
    assert ev(bar(s, 1)) == [("order_accepted", 0, oid), ("order_triggered", 1, oid)]
    assert ev(bar(s, 2)) == [("order_canceled", 2, oid)]


# ---- fill admission: netting and hedging -----------------------------------------------------

def test_netting_same_side_is_refused_opposite_side_closes_everything():
    s = session()
    bar(s, 0, c=100.0, entry=True, size_mult=0.5)
    size = s.position().size
    buy = submit(s, "buy", "market", idx=1, units=1.0)
    assert ev(bar(s, 1)) == [("order_accepted", 1, buy),
                             ("order_rejected", 1, buy, "position_open")]
    sell = submit(s, "sell", "market", idx=2, units=1.0)  # its quantity does not matter
    out = bar(s, 2, c=103.0)
    assert ev(out)[:2] == [("order_accepted", 2, sell), ("order_filled", 2, sell, 103.0, size)]
    assert out[2].kind == "exited" and out[2].trade.exit_reason == "Order"
    assert out[2].trade.size == size and not s.is_in_position()


def test_close_full_order_closes_and_is_refused_when_flat():
    s = session()
    oid = submit(s, "sell", "market", idx=0)  # neither units nor size_frac
    assert ev(bar(s, 0)) == [("order_accepted", 0, oid), ("order_rejected", 0, oid, "invalid_qty")]
    bar(s, 1, entry=True)
    oid = submit(s, "sell", "stop_market", idx=1, trigger_price=95.0)
    out = bar(s, 2, o=96.0, l=94.0)
    assert [e.kind for e in out] == ["order_accepted", "order_filled", "exited"]
    assert out[2].trade.exit_price == 95.0 and out[2].trade.exit_reason == "Order"


@pytest.mark.parametrize("side, closes", [("sell", True), ("buy", False)])
def test_reduce_only_against_a_long(side, closes):
    """A reduce-only order closes only from the other side; a reduce-only buy never sells."""
    s = session()
    bar(s, 0, entry=True)
    oid = submit(s, side, "market", idx=1, units=1.0, reduce_only=True)
    out = bar(s, 1)
    if closes:
        assert [e.kind for e in out] == ["order_accepted", "order_filled", "exited"]
    else:
        assert ev(out) == [("order_accepted", 1, oid), ("order_rejected", 1, oid, "reduce_only")]
        assert s.is_in_position()


def test_hedging_opens_a_position_per_fill():
    s = session(oms="hedging")
    a = submit(s, "buy", "market", idx=0, units=10.0)
    b = submit(s, "sell", "market", idx=0, units=4.0, stop_price=110.0, target_price=80.0)
    out = ev(bar(s, 0, c=100.0))
    assert out == [("order_accepted", 0, a), ("order_filled", 0, a, 100.0, 10.0),
                   ("entered", 0, 100.0, 10.0), ("order_accepted", 0, b),
                   ("order_filled", 0, b, 100.0, 4.0), ("entered", 0, 100.0, 4.0)]
    long_, short = s.positions()
    assert (long_.direction, short.direction) == (1, -1)
    assert (short.stop_price, short.target_price) == (110.0, 80.0)
    assert [p.position_id for p in s.positions()] == [0, 1]
    # A cash account: the short's proceeds are not cash to spend.
    assert s.cash() == 100000.0 - 10.0 * 100.0 - 4.0 * 100.0


def test_hedging_close_full_order_is_invalid():
    s = session(oms="hedging")
    bar(s, 0, entry=True, size_mult=0.5)
    oid = submit(s, "sell", "market", idx=1)
    assert ev(bar(s, 1)) == [("order_accepted", 1, oid), ("order_rejected", 1, oid, "invalid_qty")]


# ---- fill admission: sizing, accounts and every refusal --------------------------------------

def test_units_fill_pays_notional_and_fees():
    s = session(fees=0.002)
    oid = submit(s, "buy", "market", idx=0, units=37.0)
    bar(s, 0, c=101.25)
    notional = 37.0 * 1.0 * 101.25
    assert s.cash() == 100000.0 - (notional + notional * 0.002)
    assert s.position().size == 37.0 and oid == 0


def test_fraction_fill_sizes_from_the_available_capital():
    s = session(fees=0.001)
    submit(s, "buy", "market", idx=0, size_frac=0.25)
    (f, e) = bar(s, 0, c=80.0)[1:]
    assert f.size == e.size == 0.25 * 100000.0 / (80.0 * 1.0 * (1.0 + 0.001))


def test_units_are_rounded_to_lots_and_the_quantity_grid():
    ic = q.InstrumentConfig()
    ic.lot_size = 25.0
    s = session(instrument_config=ic)
    submit(s, "buy", "market", idx=0, units=99.0)
    assert bar(s, 0)[1].size == 75.0


def test_margin_account_fill_locks_initial_margin():
    spec = q.InstrumentSpec.futures_contract("F", expiration_ns=T0 + 10**15, lot_size=1.0,
                                             multiplier=2.0, margin_init=0.2)
    s = session(account="margin", leverage=3.0, instrument=spec, fees=0.001)
    submit(s, "buy", "market", idx=0, units=100.0)
    bar(s, 0, c=50.0)
    fee = 100.0 * 50.0 * 2.0 * 0.001
    assert s.cash() == 100000.0 - fee
    assert s.free_capital() == 100000.0 - fee - 0.2 * 100.0 * 2.0 * 50.0


def reach_margin_call(s):
    bar(s, 0, c=100.0, entry=True)
    out = bar(s, 1, o=50.0, h=50.0, l=50.0, c=50.0)
    assert out[0].kind == "margin_call"


def reach_drawdown_halt(s):
    bar(s, 0, c=100.0, entry=True)
    bar(s, 1, c=80.0)
    bar(s, 2, c=80.0, exit=True)


REFUSALS = [
    ("post_only", dict(), lambda s: None,
     dict(side="buy", kind="limit", units=1.0, limit_price=200.0, post_only=True), 0),
    ("reduce_only", dict(), lambda s: None,
     dict(side="sell", kind="market", units=1.0, reduce_only=True), None),
    ("margin_call", dict(account="margin", leverage=10.0, liquidate_on_margin_call=True),
     reach_margin_call, dict(side="buy", kind="market", units=1.0), None),
    ("drawdown_halt", dict(max_drawdown_pct=10.0), reach_drawdown_halt,
     dict(side="buy", kind="market", units=1.0), None),
    ("max_positions", dict(oms="hedging", max_positions=1),
     lambda s: bar(s, 0, entry=True, size_mult=0.5),
     dict(side="buy", kind="market", units=1.0), None),
    ("invalid_qty", dict(), lambda s: None, dict(side="buy", kind="market"), None),
    ("unfillable", dict(), lambda s: None, dict(side="buy", kind="market", units=1.0), "nan"),
    ("position_open", dict(), lambda s: bar(s, 0, entry=True),
     dict(side="buy", kind="market", units=1.0), None),
    ("zero_size", dict(instrument=q.InstrumentSpec.equity("E", size_increment=10.0)),
     lambda s: None, dict(side="buy", kind="market", units=9.0), None),
    ("insufficient_capital", dict(fees=0.001), lambda s: None,
     dict(side="buy", kind="market", units=1000.0), None),
]


@pytest.mark.parametrize("reason, setup, prepare, order, special", REFUSALS,
                         ids=[r[0] for r in REFUSALS])
def test_each_refusal_reason(reason, setup, prepare, order, special):
    s = session(**setup)
    prepare(s)
    i = 5
    bar(s, i)
    if special == 0:  # a resting order, evaluated from the next bar
        oid = s.submit_order(submitted_idx=i, submitted_ts=0, client_id="r", **order)
        out = ev(bar(s, i + 1))
    else:
        oid = s.submit_order(submitted_idx=i + 1, submitted_ts=0, client_id="r", **order)
        price = math.nan if special == "nan" else 100.0
        out = ev(bar(s, i + 1, o=price, h=price, l=price, c=price))
    assert out[-1] == ("order_rejected", i + 1, oid, reason)
    assert oid not in s.open_order_ids()


def test_refused_order_events_carry_the_client_id():
    s = session()
    s.submit_order("buy", "market", 0, 0, "my-order")
    e = bar(s, 0)[-1]
    assert (e.kind, e.client_order_id, e.reject_reason, e.price, e.size) == (
        "order_rejected", "my-order", "invalid_qty", None, None)


def test_max_positions_counts_the_sessions_own_positions_when_hedging():
    s = session(oms="hedging", max_positions=2)
    for k in range(3):
        submit(s, "buy", "market", idx=0, cid=str(k), units=1.0)
    out = ev(bar(s, 0))
    assert [r[0] for r in out] == ["order_accepted", "order_filled", "entered"] * 2 + [
        "order_accepted", "order_rejected"]
    assert out[-1][-1] == "max_positions"


def test_orders_are_canceled_when_the_instrument_expires():
    spec = q.InstrumentSpec.futures_contract("F", expiration_ns=T0 + 3 * MIN, lot_size=1.0)
    s = session(instrument=spec)
    bar(s, 0)
    a = submit(s, "buy", "limit", units=1.0, limit_price=10.0)
    b = submit(s, "buy", "market", idx=9, units=1.0)
    bar(s, 1)
    assert ev(bar(s, 3)) == [("order_canceled", 3, a), ("order_canceled", 3, b)]
    assert s.open_order_ids() == []


# ---- the seeded fill model -------------------------------------------------------------------

def limit_ladder(seed, prob, n=30):
    """Every bar submits a marketable buy limit; a hedging session fills what the draws
    let through, and unfilled orders try again on each later bar."""
    s = session(oms="hedging", fill_prob_limit=prob, fill_seed=seed)
    filled = []
    for i in range(n):
        for e in bar(s, i, l=99.0):
            if e.kind == "order_filled":
                filled.append((i, e.order_id))
        submit(s, "buy", "limit", idx=i, cid=str(i), units=1.0, limit_price=100.0)
    return filled


def limit_ladder_reference(seed, prob, n=30):
    rng = SplitMix64(seed)
    working, filled = [], []
    for i in range(n):
        still = []
        for oid in working:
            if prob < 1.0 and not rng.draw() < prob:
                still.append(oid)
            else:
                filled.append((i, oid))
        working = still
        working.append(i)
    return filled


@pytest.mark.parametrize("seed", [0, 1, 42, 2**64 - 1])
@pytest.mark.parametrize("prob", [0.3, 0.7])
def test_probabilistic_limit_fills_follow_splitmix64(seed, prob):
    got = limit_ladder(seed, prob)
    assert got == limit_ladder_reference(seed, prob)
    assert got == limit_ladder(seed, prob)  # deterministic
    assert got and got != [(i, i - 1) for i in range(1, 30)]  # some fills were held back


def test_fill_probability_zero_never_fills_and_one_always():
    assert limit_ladder(7, 0.0) == []
    assert limit_ladder(7, 1.0) == [(i, i - 1) for i in range(1, 30)]


def test_different_seeds_differ():
    assert limit_ladder(1, 0.5) != limit_ladder(2, 0.5)


def test_one_tick_slippage_follows_the_draws():
    spec = q.InstrumentSpec.equity("E", price_increment=0.05)
    s = session(oms="hedging", instrument=spec, fill_prob_slippage=0.5, fill_seed=99,
                fill_prob_limit=1.0)
    rng = SplitMix64(99)
    got, want = [], []
    for i in range(40):
        side = "buy" if i % 2 == 0 else "sell"
        oid = submit(s, side, "market", idx=i, units=1.0)
        filled = [e for e in bar(s, i, c=100.0) if e.kind == "order_filled"]
        got.append(filled[0].price)
        slip = rng.draw() < 0.5
        tick = 0.05 if side == "buy" else -0.05
        want.append(100.0 + tick if slip else 100.0)
        # A resting limit with fill_prob_limit 1.0 makes no draw and so does not shift them.
        submit(s, "buy", "limit", idx=i, cid="l", units=1.0, limit_price=1.0)
    assert got == want and oid == 78
    assert {p for p in got} == {100.0, 100.05, 99.95}


def test_slippage_draws_are_made_without_an_instrument_tick():
    """Without a price grid no price moves, but the draws still advance the generator."""
    s = session(fill_prob_slippage=0.5, fill_seed=5, fill_prob_limit=0.5)
    rng = SplitMix64(5)
    submit(s, "buy", "market", idx=0, units=1.0)
    assert bar(s, 0)[1].price == 100.0
    rng.draw()
    # The next draw decides the limit order's fill.
    submit(s, "sell", "limit", idx=0, units=1.0, limit_price=100.5)
    fills = rng.draw() < 0.5
    out = [e.kind for e in bar(s, 1, h=101.0)]
    assert ("order_filled" in out) == fills


# ---- brackets and one-cancels-other ----------------------------------------------------------

def test_bracket_children_work_once_the_entry_fills():
    s = session()
    bar(s, 0)
    entry = submit(s, "buy", "limit", cid="entry", units=10.0, limit_price=99.5)
    stop = submit(s, "sell", "stop_market", cid="stop", trigger_price=95.0, parent_id=entry)
    target = submit(s, "sell", "limit", cid="target", limit_price=110.0, parent_id=entry)
    s.link_oco([stop, target])
    assert s.open_order_ids() == [entry, stop, target]
    # The children wait silently; the bar that fills the entry does not evaluate them.
    assert ev(bar(s, 1, l=94.0, h=111.0)) == [
        ("order_accepted", 0, entry), ("order_filled", 1, entry, 99.5, 10.0),
        ("entered", 1, 99.5, 10.0), ("order_accepted", 1, stop), ("order_accepted", 1, target)]
    assert ev(bar(s, 2, h=105.0, l=98.0)) == []
    out = bar(s, 3, o=108.0, h=111.0, l=107.0)
    assert ev(out)[0] == ("order_filled", 3, target, 110.0, 10.0)
    assert out[1].kind == "exited" and out[1].trade.exit_price == 110.0
    assert ev(out)[2] == ("order_canceled", 3, stop)
    assert [e.client_order_id for e in out if e.order_id is not None] == ["target", "stop"]
    assert s.open_order_ids() == []


def test_children_of_an_order_that_ends_unfilled_are_canceled():
    s = session()
    bar(s, 0)
    entry = submit(s, "buy", "limit", units=1.0, limit_price=50.0)
    child = submit(s, "sell", "stop_market", trigger_price=45.0, parent_id=entry)
    assert s.cancel_order(0, entry)
    assert ev(bar(s, 1)) == [("order_accepted", 0, entry), ("order_canceled", 0, entry),
                             ("order_canceled", 1, child)]


def test_child_market_order_fills_at_the_next_open():
    s = session()
    bar(s, 0)
    entry = submit(s, "buy", "limit", units=1.0, limit_price=99.5)
    exit_ = submit(s, "sell", "market", parent_id=entry)
    assert [e.kind for e in bar(s, 1)] == ["order_accepted", "order_filled", "entered",
                                          "order_accepted"]
    out = bar(s, 2, o=101.5, c=102.0)
    assert ev(out)[0] == ("order_filled", 2, exit_, 101.5, 1.0)
    assert out[1].trade.exit_price == 101.5


def test_child_of_an_already_filled_parent_is_accepted_at_once():
    s = session()
    entry = submit(s, "buy", "market", idx=0, units=1.0)
    bar(s, 0)
    child = submit(s, "sell", "limit", limit_price=100.5, parent_id=entry)
    assert ev(bar(s, 1, h=101.0))[:2] == [("order_accepted", 0, child),
                                          ("order_filled", 1, child, 100.5, 1.0)]


def test_child_of_an_unknown_parent_waits():
    s = session()
    child = submit(s, "sell", "limit", limit_price=100.5, parent_id=99)
    for i in range(3):
        assert bar(s, i) == []
    assert s.open_order_ids() == [child]


def test_oco_fill_cancels_the_other_in_the_same_step():
    s = session(oms="hedging")
    bar(s, 0)
    a = submit(s, "buy", "limit", cid="a", units=1.0, limit_price=99.0)
    b = submit(s, "sell", "limit", cid="b", units=1.0, limit_price=101.0)
    c = submit(s, "sell", "limit", cid="c", units=1.0, limit_price=150.0)
    s.link_oco([b, a])
    bar(s, 1, l=99.5, h=100.5)
    # Both a and b are marketable on bar 2: a, found first, fills; b is canceled before its
    # own fill is carried out. c is in no group.
    out = ev(bar(s, 2, l=98.0, h=102.0))
    assert out == [("order_filled", 2, a, 99.0, 1.0), ("entered", 2, 99.0, 1.0),
                   ("order_canceled", 2, b)]
    assert s.open_order_ids() == [c]


def test_linking_again_moves_an_order_to_the_new_group():
    s = session(oms="hedging")
    ids = [submit(s, "buy", "limit", cid=str(k), units=1.0, limit_price=99.0 - k)
           for k in range(3)]
    s.link_oco([ids[0], ids[1]])
    s.link_oco([ids[2], ids[1]])  # ids[1] now belongs to group 1 with ids[2]
    bar(s, 0)
    out = ev(bar(s, 1, l=98.5))  # only ids[0] is reached
    assert out == [("order_filled", 1, ids[0], 99.0, 1.0), ("entered", 1, 99.0, 1.0)]
    out = ev(bar(s, 2, l=96.0))
    assert out == [("order_filled", 2, ids[1], 98.0, 1.0), ("entered", 2, 98.0, 1.0),
                   ("order_canceled", 2, ids[2])]


def test_trailing_stop_after_a_nan_first_bar_starts_trailing_on_the_next_real_bar():
    s = session()
    bar(s, 0)
    oid = submit(s, "sell", "trailing_stop_market", units=1.0, offset=2.0)
    nan = math.nan
    assert ev(bar(s, 1, o=nan, h=nan, l=nan, c=nan)) == [("order_accepted", 0, oid)]
    assert ev(bar(s, 2, o=104.0, h=105.0, l=104.0)) == []  # reference 105, stop 103
    assert ev(bar(s, 3, o=104.0, h=104.5, l=102.0)) == [("order_filled", 3, oid, 103.0, 1.0),
                                                       ("entered", 3, 103.0, 1.0)]


def random_order_run(seed, oms):
    """A seeded stream of bars and random orders of every kind, sides, tifs and links, with
    both random fill probabilities on. Returns every event as a tuple."""
    import random

    r = random.Random(seed)
    spec = q.InstrumentSpec.equity("E", price_increment=0.05, size_increment=1.0)
    s = session(oms=oms, instrument=spec, fill_prob_limit=0.6, fill_prob_slippage=0.4,
                fill_seed=seed, limit_slippage=0.001, slippage=0.0005)
    kinds_ = ["market", "limit", "stop_market", "stop_limit", "market_if_touched",
              "limit_if_touched", "market_to_limit", "trailing_stop_market",
              "trailing_stop_limit"]
    price, out, ids = 100.0, [], []
    for i in range(120):
        o = price
        price *= 1.0 + r.gauss(0.0, 0.01)
        h, l = max(o, price) * (1 + abs(r.gauss(0, 0.003))), min(o, price) * (1 - abs(r.gauss(0, 0.003)))
        for e in s.step(i, T0 + i * 3_600 * 10**9, o, h, l, price, 1.0, entry=r.random() < 0.05,
                        exit=r.random() < 0.05):
            out.append((e.kind, e.idx, e.order_id, e.price, e.size, e.reject_reason,
                        e.client_order_id))
        for _ in range(r.randrange(3)):
            kind = r.choice(kinds_)
            kw = dict(units=float(r.randrange(1, 50))) if r.random() < 0.7 else (
                dict(size_frac=0.1) if r.random() < 0.5 else {})
            if kind in ("limit", "stop_limit", "limit_if_touched"):
                kw["limit_price"] = price * (1 + r.gauss(0, 0.01))
            if kind in ("stop_market", "stop_limit", "market_if_touched", "limit_if_touched"):
                kw["trigger_price"] = price * (1 + r.gauss(0, 0.01))
            if kind.startswith("trailing"):
                kw["offset"] = r.choice([0.5, 1.0, 30.0])
                kw["offset_kind"] = r.choice(["price", "bps", "ticks"])
                kw["limit_offset"] = 0.2
            tif = r.choice(["gtc", "day", "ioc", "fok"] + (["at_open", "at_close"]
                                                           if kind == "market" else []))
            if ids and r.random() < 0.2:
                kw["parent_id"] = r.choice(ids)
            oid = s.submit_order(r.choice(["buy", "sell"]), kind, i + r.randrange(2),
                                 T0 + i * 3_600 * 10**9, f"c{i}", tif=tif,
                                 reduce_only=r.random() < 0.1, **kw)
            ids.append(oid)
        if len(ids) > 2 and r.random() < 0.2:
            s.link_oco(r.sample(ids, 2))
        if ids and r.random() < 0.1:
            s.cancel_order(i, r.choice(ids))
        if ids and r.random() < 0.1:
            s.modify_order(r.choice(ids), limit_price=price, units=3.0)
        if r.random() < 0.03:
            s.submit_twap(10.0, r.choice(["buy", "sell"]), 3, 3_600 * 10**9, i,
                          T0 + i * 3_600 * 10**9, f"t{i}")
    result = s.finish()
    return out, [(t.entry_price, t.exit_price, t.size, t.exit_reason) for t in result.trades()]


@pytest.mark.parametrize("seed", range(12))
@pytest.mark.parametrize("oms", ["netting", "hedging"])
def test_random_order_streams_are_deterministic(seed, oms):
    first = random_order_run(seed, oms)
    assert first == random_order_run(seed, oms)
    kinds_seen = {e[0] for e in first[0]}
    assert {"order_accepted", "order_filled"} <= kinds_seen
