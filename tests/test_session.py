"""KernelSession, EngineEvent and PositionSnapshot: construction and its checks, every
method's signature, result and messages, the pending event queue, the lifecycle, the borrow
rules, the reprs, and finish() against run_single_backtest on the same bars and signals."""

import inspect
import math
import threading

import numpy as np
import pytest

import quillon as q
from reference import backtest as ref
from test_backtest_reference import METRICS, OPTIONAL_RATIOS, TRADE_FIELDS, random_case, same

T0 = 1_700_000_000_000_000_000
MIN = 60 * 10**9


def bar(s, i, o=100.0, h=101.0, l=99.0, c=100.0, **kw):
    return s.step(i, T0 + i * MIN, o, h, l, c, 1000.0, **kw)


def kinds(events):
    return [e.kind for e in events]


# ---- construction ----------------------------------------------------------------------------

def test_defaults_and_signature():
    assert str(inspect.signature(q.KernelSession)) == (
        "(symbol='ASSET', direction=1, config=None, instrument_config=None, instrument=None, "
        "oms_type='netting', account_type='cash', leverage=1.0)")
    s = q.KernelSession()
    assert s.equity() == 100000.0 and s.cash() == 100000.0 and s.free_capital() == 100000.0
    assert s.position() is None and s.positions() == [] and s.is_in_position() is False
    assert s.open_order_ids() == []


def test_class_docstring():
    doc = q.KernelSession.__doc__
    assert doc.startswith("Per-bar simulation session for one instrument.\n\n")
    assert "`step` once per bar" in doc and "`finish`" in doc and "no array allocation" in doc


@pytest.mark.parametrize("kwargs, message", [
    (dict(direction=0), "direction must be 1 (long) or -1 (short), got 0"),
    (dict(direction=2, oms_type="x"), "direction must be 1 (long) or -1 (short), got 2"),
    (dict(oms_type="Netting"), "oms_type must be 'netting' or 'hedging', got Netting"),
    (dict(oms_type="x", account_type="y"), "oms_type must be 'netting' or 'hedging', got x"),
    (dict(account_type="Cash"), "account_type must be 'cash' or 'margin', got Cash"),
    (dict(account_type="margin", leverage=0.0), "leverage must be > 0"),
    (dict(account_type="margin", leverage=-1.0), "leverage must be > 0"),
    (dict(account_type="margin", leverage=math.nan), "leverage must be > 0"),
    (dict(symbol="NIFTY", instrument=q.InstrumentSpec.index("NIFTY 50")),
     "instrument NIFTY is not tradable (kind=Index)"),
], ids=lambda v: str(v)[:40])
def test_constructor_refusals(kwargs, message):
    with pytest.raises(ValueError) as info:
        q.KernelSession(**kwargs)
    assert str(info.value) == message


def test_cash_account_ignores_leverage():
    s = q.KernelSession(account_type="cash", leverage=-5.0)
    assert s.free_capital() == 100000.0


@pytest.mark.parametrize("kwargs, argument", [
    (dict(symbol=1), "symbol"), (dict(direction=1.0), "direction"),
    (dict(config=q.InstrumentConfig()), "config"), (dict(instrument_config=q.BacktestConfig()),
                                                     "instrument_config"),
    (dict(instrument="NIFTY"), "instrument"), (dict(oms_type=None), "oms_type"),
    (dict(leverage="2"), "leverage"),
])
def test_constructor_argument_types(kwargs, argument):
    with pytest.raises(TypeError) as info:
        q.KernelSession(**kwargs)
    assert str(info.value).startswith(f"argument '{argument}': ")


def test_configuration_is_read_once():
    cfg = q.BacktestConfig(initial_capital=5000.0)
    s = q.KernelSession(config=cfg)
    cfg.initial_capital = 1.0
    assert s.equity() == 5000.0 and s.cash() == 5000.0


def test_instrument_lot_size_and_multiplier_apply():
    spec = q.InstrumentSpec.futures_contract("NIFTYF", expiration_ns=T0 + 10**15, lot_size=50.0,
                                             multiplier=2.0)
    s = q.KernelSession(instrument=spec, config=q.BacktestConfig(fees=0.0))
    ev = bar(s, 0, c=100.0, entry=True)
    # floor(100000 / (1 * 2 * 100) / 50) * 50 = 500 units of multiplier 2.
    assert kinds(ev) == ["entered"] and ev[0].size == 500.0
    assert s.cash() == 100000.0 - 500.0 * 2.0 * 100.0
    # An InstrumentConfig lot size wins over the contract's.
    ic = q.InstrumentConfig()
    ic.lot_size = 7.0
    s = q.KernelSession(instrument=spec, instrument_config=ic, config=q.BacktestConfig(fees=0.0))
    assert bar(s, 0, entry=True)[0].size == 497.0


# ---- step and events -------------------------------------------------------------------------

def test_step_signature_and_docstring():
    assert str(inspect.signature(q.KernelSession.step)) == (
        "(self, /, idx, timestamp, open, high, low, close, volume, entry=False, exit=False, "
        "atr=0.0, size_mult=None, stop_price=None, target_price=None)")
    assert q.KernelSession.step.__doc__ == (
        "Advance the session by one bar.\n\n"
        "`entry`/`exit` carry the strategy's order intents for this bar;\n"
        "`stop_price`/`target_price` optionally pin explicit exit levels for an\n"
        "entry opened on this bar, overriding the configured stop/target models.")


def test_quiet_bar_returns_an_empty_list():
    s = q.KernelSession()
    out = bar(s, 0)
    assert out == [] and type(out) is list
    assert s.equity() == 100000.0


def test_entry_and_exit_events_carry_their_fields():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    (e,) = bar(s, 0, c=100.0, entry=True, stop_price=90.0, target_price=120.0)
    assert (e.kind, e.idx, e.price, e.size, e.direction) == ("entered", 0, 100.0, 1000.0, 1)
    assert (e.trade, e.reject_reason, e.order_id, e.client_order_id) == (None,) * 4
    p = s.position()
    assert (p.stop_price, p.target_price, p.position_id, p.entry_idx, p.entry_price, p.size,
            p.direction) == (90.0, 120.0, 0, 0, 100.0, 1000.0, 1)
    (x,) = bar(s, 1, c=105.0, exit=True)
    assert (x.kind, x.idx, x.price, x.size, x.direction) == ("exited", 1, 105.0, 1000.0, 1)
    t = x.trade
    assert (t.exit_reason, t.exit_price, t.pnl, t.symbol) == ("Signal", 105.0, 5000.0, "ASSET")
    assert s.equity() == 105000.0


def test_entry_refusal_event():
    s = q.KernelSession()
    (e,) = bar(s, 0, entry=True, size_mult=0.0)
    assert (e.kind, e.reject_reason, e.price, e.order_id) == ("entry_rejected", "ZeroSize",
                                                              None, None)


def test_margin_call_event():
    s = q.KernelSession(account_type="margin", leverage=10.0,
                        config=q.BacktestConfig(fees=0.0))
    (e,) = bar(s, 0, c=100.0, entry=True)
    size = e.size  # 100000 / (0.1 * 100)
    ev = bar(s, 1, o=50.0, h=50.0, l=50.0, c=50.0)
    assert kinds(ev) == ["margin_call"]
    equity = 100000.0 + (50.0 - 100.0) * size
    assert ev[0].price == equity and ev[0].size == 0.05 * (size * 50.0)
    assert (ev[0].direction, ev[0].order_id, ev[0].reject_reason) == (None, None, None)


def test_step_argument_conversion():
    s = q.KernelSession()
    with pytest.raises(OverflowError):
        s.step(-1, 0, 1.0, 1.0, 1.0, 1.0, 1.0)
    with pytest.raises(TypeError) as info:
        s.step(0, 0, 1.0, 1.0, 1.0, 1.0, 1.0, entry=1)
    assert str(info.value).startswith("argument 'entry': ")
    with pytest.raises(TypeError) as info:
        s.step(0, 0.5, 1.0, 1.0, 1.0, 1.0, 1.0)
    assert str(info.value).startswith("argument 'timestamp': ")
    with pytest.raises(TypeError):
        s.step(0, 0, 1.0, 1.0, 1.0, 1.0)  # volume is required
    # Ints and objects with __float__ are floats.
    assert s.step(0, 0, 100, 101, 99, np.float64(100.0), 1) == []


def test_nan_bar_is_harmless():
    s = q.KernelSession()
    bar(s, 0, entry=True)
    ev = bar(s, 1, o=math.nan, h=math.nan, l=math.nan, c=math.nan)
    assert ev == [] and math.isnan(s.equity())


# ---- the pending event queue -----------------------------------------------------------------

def test_cancel_event_heads_the_next_step_with_its_own_idx():
    s = q.KernelSession()
    bar(s, 0)
    oid = s.submit_order("buy", "limit", 0, T0, "L1", units=1.0, limit_price=50.0)
    assert s.cancel_order(7, 999) is False
    assert s.cancel_order(7, oid) is True
    assert s.cancel_order(7, oid) is False
    ev = bar(s, 1, entry=True)
    assert [(e.kind, e.idx, e.order_id, e.client_order_id) for e in ev[:2]] == [
        ("order_accepted", 0, oid, "L1"), ("order_canceled", 7, oid, "L1")]
    assert kinds(ev) == ["order_accepted", "order_canceled", "entered"]
    assert bar(s, 2) == []


def test_cancel_all_orders():
    s = q.KernelSession()
    assert s.cancel_all_orders(0) == []
    a = s.submit_order("buy", "limit", 0, T0, "a", units=1.0, limit_price=50.0)
    b = s.submit_order("buy", "market", 5, T0, "b", units=1.0)
    c = s.submit_order("sell", "stop_market", 0, T0, "c", units=1.0, trigger_price=10.0)
    s.cancel_order(0, b)
    assert s.open_order_ids() == [a, c]
    assert s.cancel_all_orders(3) == [a, c]
    assert s.open_order_ids() == []
    ev = bar(s, 1)
    assert [(e.kind, e.idx, e.order_id) for e in ev] == [
        ("order_accepted", 0, a), ("order_accepted", 0, c), ("order_canceled", 0, b),
        ("order_canceled", 3, a), ("order_canceled", 3, c)]


def test_events_queued_before_finish_are_never_reported():
    s = q.KernelSession()
    s.submit_order("buy", "limit", 0, T0, "a", units=1.0, limit_price=50.0)
    r = s.finish()
    assert r.trades() == []


# ---- modify_order ----------------------------------------------------------------------------

def make_orders(s):
    ids = dict(
        market=s.submit_order("buy", "market", 9, T0, "m", units=1.0),
        limit=s.submit_order("buy", "limit", 0, T0, "l", units=1.0, limit_price=90.0),
        stop=s.submit_order("sell", "stop_market", 0, T0, "s", units=1.0, trigger_price=80.0),
        mit=s.submit_order("buy", "market_if_touched", 0, T0, "t", units=1.0,
                           trigger_price=80.0),
        stop_limit=s.submit_order("buy", "stop_limit", 0, T0, "sl", units=1.0,
                                  trigger_price=120.0, limit_price=121.0),
        lit=s.submit_order("buy", "limit_if_touched", 0, T0, "lt", units=1.0,
                           trigger_price=80.0, limit_price=79.0),
        mtl=s.submit_order("buy", "market_to_limit", 5, T0, "mtl", units=1.0),
        trail=s.submit_order("sell", "trailing_stop_market", 0, T0, "tr", units=1.0,
                             offset=5.0),
    )
    return ids


@pytest.mark.parametrize("name, change, accepted", [
    ("market", dict(units=2.0), False),
    ("market_to_limit_", dict(), False),
    ("limit", dict(units=3.0), True),
    ("limit", dict(limit_price=91.0), True),
    ("limit", dict(), True),
    ("limit", dict(limit_price=91.0, trigger_price=1.0), False),
    ("stop", dict(trigger_price=81.0, size_frac=0.5), True),
    ("stop", dict(trigger_price=81.0, limit_price=1.0), False),
    ("mit", dict(trigger_price=81.0), True),
    ("mit", dict(limit_price=81.0), False),
    ("stop_limit", dict(trigger_price=119.0, limit_price=122.0), True),
    ("lit", dict(limit_price=78.0), True),
    ("trail", dict(trigger_price=1.0), False),
    ("trail", dict(units=1.0), False),
])
def test_modify_order_rules(name, change, accepted):
    s = q.KernelSession()
    ids = make_orders(s)
    oid = ids.get(name, ids["mtl"])
    assert s.modify_order(oid, **change) is accepted


def test_modify_order_changes_what_fills():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    bar(s, 0)
    oid = s.submit_order("buy", "limit", 0, T0, "l", units=1.0, limit_price=90.0)
    assert s.modify_order(oid, units=3.0, limit_price=99.5)
    ev = bar(s, 1, l=99.0)
    assert kinds(ev) == ["order_accepted", "order_filled", "entered"]
    assert (ev[1].price, ev[1].size) == (99.5, 3.0)


def test_refused_modification_leaves_the_order_untouched():
    """A refusal found after a field that applies must not write that field."""
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    bar(s, 0)
    oid = s.submit_order("buy", "limit", 0, T0, "l", units=1.0, limit_price=90.0)
    assert s.modify_order(oid, units=5.0, limit_price=99.5, trigger_price=1.0) is False
    ev = bar(s, 1, l=99.0)  # the old limit 90 is not reached
    assert kinds(ev) == ["order_accepted"]
    ev = bar(s, 2, l=89.0)
    assert kinds(ev) == ["order_filled", "entered"] and (ev[0].price, ev[0].size) == (90.0, 1.0)


def test_modify_triggered_stop_limit():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    bar(s, 0)
    oid = s.submit_order("buy", "stop_limit", 0, T0, "sl", units=1.0, trigger_price=105.0,
                         limit_price=106.0)
    assert kinds(bar(s, 1, h=105.0)) == ["order_accepted", "order_triggered"]
    assert s.modify_order(oid, trigger_price=110.0) is False
    assert s.modify_order(oid, trigger_price=110.0, limit_price=101.0) is False
    assert s.modify_order(oid, limit_price=101.0) is True
    ev = bar(s, 2, l=101.5)
    assert ev == []
    ev = bar(s, 3, l=100.5)
    assert kinds(ev) == ["order_filled", "entered"] and ev[0].price == 101.0


def test_modify_order_both_quantities_fails_even_when_finished():
    s = q.KernelSession()
    s.finish()
    with pytest.raises(ValueError) as info:
        s.modify_order(7, units=1.0, size_frac=0.5)
    assert str(info.value) == "pass units or size_frac, not both"
    with pytest.raises(ValueError) as info:
        s.modify_order(7, units=1.0)
    assert str(info.value) == "session is finished; create a new one"


def test_modify_unknown_or_terminal():
    s = q.KernelSession()
    assert s.modify_order(0, units=1.0) is False
    oid = s.submit_order("buy", "limit", 0, T0, "l", units=1.0, limit_price=90.0)
    s.cancel_order(0, oid)
    assert s.modify_order(oid, limit_price=1.0) is False


# ---- link_oco --------------------------------------------------------------------------------

def test_link_oco_empty_and_unknown_ids():
    s = q.KernelSession()
    s.link_oco([])
    a = s.submit_order("buy", "limit", 0, T0, "a", units=1.0, limit_price=99.0)
    b = s.submit_order("buy", "limit", 0, T0, "b", units=1.0, limit_price=98.0)
    assert s.link_oco((b, 77, a)) is None
    assert [(e.kind, e.order_id) for e in bar(s, 0)] == [("order_accepted", a),
                                                         ("order_accepted", b)]
    ev = bar(s, 1, l=98.5)
    assert [(e.kind, e.order_id) for e in ev] == [
        ("order_filled", a), ("entered", None), ("order_canceled", b)]
    with pytest.raises(TypeError) as info:
        s.link_oco(5)
    assert str(info.value).startswith("argument 'order_ids': ")
    with pytest.raises(OverflowError):
        s.link_oco([-1])


# ---- stops, targets, close requests ----------------------------------------------------------

def test_set_stop_and_target():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0), oms_type="hedging")
    assert s.set_stop_price(90.0) is None  # flat: nothing happens
    with pytest.raises(ValueError) as info:
        s.set_stop_price(90.0, position_id=3)
    assert str(info.value) == "unknown position id 3"
    with pytest.raises(ValueError) as info:
        s.set_target_price(None, 0)
    assert str(info.value) == "unknown position id 0"
    bar(s, 0, entry=True, stop_price=95.0, size_mult=0.5)
    s.submit_order("buy", "market", 1, T0, "m", units=10.0)
    bar(s, 1)
    first, second = s.positions()
    s.set_stop_price(None)
    s.set_target_price(130.0, position_id=second.position_id)
    first, second = s.positions()
    assert (first.stop_price, first.target_price) == (None, None)
    assert (second.stop_price, second.target_price) == (None, 130.0)
    with pytest.raises(TypeError):
        s.set_stop_price()  # price is required, None allowed


def test_request_close_takes_effect_next_step():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    bar(s, 0, entry=True)
    pid = s.position().position_id
    s.request_close(pid)
    s.request_close(12345)  # unknown ids are no error
    assert s.is_in_position()
    (x,) = bar(s, 1, c=102.0)
    assert x.kind == "exited" and x.trade.exit_reason == "Signal" and x.price == 102.0


def test_set_underlying_price_settles_options():
    spec = q.InstrumentSpec.option("NIFTY24CE", strike=100.0, right="CE",
                                   expiration_ns=T0 + 2 * MIN, lot_size=1.0)
    s = q.KernelSession(instrument=spec, config=q.BacktestConfig(fees=0.0))
    bar(s, 0, c=5.0, entry=True)
    s.set_underlying_price(112.0)
    (x,) = bar(s, 2, c=3.0)
    assert x.trade.exit_reason == "Settlement" and x.price == 12.0
    assert s.set_underlying_price() is None


def test_snapshots_are_independent_copies():
    s = q.KernelSession()
    bar(s, 0, entry=True)
    snap = s.position()
    s.set_stop_price(42.0)
    assert snap.stop_price is None and s.position().stop_price == 42.0
    r = s.finish()
    assert snap.entry_idx == 0 and r.trades()[0].exit_reason == "EndOfData"


def test_reprs():
    s = q.KernelSession(direction=-1, config=q.BacktestConfig(fees=0.0))
    (e,) = bar(s, 3, c=100.0, entry=True)
    assert repr(e) == "EngineEvent(kind=entered, idx=3)"
    assert repr(s.position()) == ("PositionSnapshot(entry_idx=3, entry_price=100.00, "
                                  "size=1000.00, direction=-1)")


@pytest.mark.parametrize("cls", [q.EngineEvent, q.PositionSnapshot])
def test_read_only_classes(cls):
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == "No constructor defined"


def test_event_and_snapshot_properties_are_read_only():
    s = q.KernelSession()
    (e,) = bar(s, 0, entry=True)
    p = s.position()
    for obj, name in [(e, "kind"), (e, "price"), (p, "size"), (p, "stop_price")]:
        with pytest.raises(AttributeError):
            setattr(obj, name, 1.0)
        with pytest.raises(AttributeError) as info:
            delattr(obj, name)
        assert str(info.value) == "can't delete attribute"


def test_property_docstrings():
    assert q.EngineEvent.price.__doc__ == "Fill price, for `entered`/`order_filled` events."
    assert q.EngineEvent.reject_reason.__doc__ == (
        "Refusal reason, for `entry_rejected`/`order_rejected` events.")
    assert q.EngineEvent.client_order_id.__doc__ == (
        "Caller-supplied order identifier, for `order_*` events.")
    assert q.PositionSnapshot.position_id.__doc__ == "Ledger position id, unique within a session."
    assert q.PositionSnapshot.direction.__doc__ == "1 for long, -1 for short."
    assert q.EngineEvent.__doc__.startswith("One observable outcome of a session step.\n\n")
    assert q.PositionSnapshot.__doc__ == "Read-only view of the session's open position."


METHOD_DOCS = {
    "submit_order": "Submit an order.", "link_oco": "Put working orders in one "
    "one-cancels-other group.", "cancel_order": "Cancel a working order; `false` for "
    "unknown/finished ids.", "cancel_all_orders": "Cancel every working order, returning "
    "canceled ids.", "modify_order": "Replace a working order's prices and/or quantity.",
    "open_order_ids": "Ids of all non-terminal orders, in submission order.",
    "submit_twap": "Register a TWAP schedule; returns its id.",
    "cancel_twap": "Stop a schedule and cancel the slices it has working.",
    "set_stop_price": "Overwrite a position's stop price; no-op when flat.",
    "set_target_price": "Overwrite a position's target price; no-op when flat.",
    "request_close": "Request a close of a specific position on the next step.",
    "set_underlying_price": "Set the underlying price used to settle options at expiry.",
    "positions": "Read-only views of every open position, in opening order.",
    "position": "Read-only view of the earliest open position, or `None` when flat.",
    "is_in_position": "Whether a position is currently open.",
    "cash": "Current uninvested cash.",
    "equity": "Mark-to-market equity after the most recent step.",
    "free_capital": "Cash not locked as margin (margin mode); all cash otherwise.",
    "finish": "Force-close any open position and compute final metrics.",
}

SIGNATURES = {
    "submit_order": "(self, /, side, kind, submitted_idx, submitted_ts, client_id, units=None, "
                    "size_frac=None, limit_price=None, trigger_price=None, tif='gtc', "
                    "expire_ns=None, stop_price=None, target_price=None, offset=None, "
                    "offset_kind='price', limit_offset=0.0, post_only=False, reduce_only=False, "
                    "parent_id=None)",
    "link_oco": "(self, /, order_ids)", "cancel_order": "(self, /, idx, order_id)",
    "cancel_all_orders": "(self, /, idx)",
    "modify_order": "(self, /, order_id, units=None, size_frac=None, limit_price=None, "
                    "trigger_price=None)",
    "open_order_ids": "(self, /)",
    "submit_twap": "(self, /, units, side, slices, interval_ns, submitted_idx, submitted_ts, "
                   "client_id, reduce_only=False)",
    "cancel_twap": "(self, /, algo_id, idx)", "set_stop_price": "(self, /, price, position_id=None)",
    "set_target_price": "(self, /, price, position_id=None)",
    "request_close": "(self, /, position_id)", "set_underlying_price": "(self, /, price=None)",
    "positions": "(self, /)", "position": "(self, /)", "is_in_position": "(self, /)", "cash": "(self, /)",
    "equity": "(self, /)", "free_capital": "(self, /)", "finish": "(self, /)",
}


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_method_signatures_and_docstrings(name):
    method = getattr(q.KernelSession, name)
    assert str(inspect.signature(method)) == SIGNATURES[name]
    assert method.__doc__.split("\n")[0] == METHOD_DOCS[name]


# ---- lifecycle -------------------------------------------------------------------------------

FINISHED_CALLS = [
    lambda s: s.step(0, 0, 1.0, 1.0, 1.0, 1.0, 1.0),
    lambda s: s.submit_order("buy", "market", 0, 0, "x", units=1.0),
    lambda s: s.submit_order("BUY", "nonsense", 0, 0, "x"),  # lifecycle first, then the order
    lambda s: s.link_oco([]), lambda s: s.cancel_order(0, 0), lambda s: s.cancel_all_orders(0),
    lambda s: s.modify_order(0), lambda s: s.open_order_ids(),
    lambda s: s.submit_twap(1.0, "buy", 0, 0, 0, 0, "t"),  # slices=0 is checked later
    lambda s: s.cancel_twap(0, 0), lambda s: s.set_stop_price(None),
    lambda s: s.set_target_price(1.0, 5), lambda s: s.request_close(0),
    lambda s: s.set_underlying_price(1.0), lambda s: s.positions(), lambda s: s.position(),
    lambda s: s.is_in_position(), lambda s: s.cash(), lambda s: s.equity(),
    lambda s: s.free_capital(),
]


@pytest.mark.parametrize("call", FINISHED_CALLS)
def test_methods_on_a_finished_session(call):
    s = q.KernelSession()
    s.finish()
    with pytest.raises(ValueError) as info:
        call(s)
    assert str(info.value) == "session is finished; create a new one"


def test_finish_twice_and_argument_errors_come_first():
    s = q.KernelSession()
    r = s.finish()
    assert isinstance(r, q.BacktestResult)
    with pytest.raises(ValueError) as info:
        s.finish()
    assert str(info.value) == "session is already finished"
    with pytest.raises(TypeError):
        s.step("x", 0, 1.0, 1.0, 1.0, 1.0, 1.0)  # conversion precedes the lifecycle check
    with pytest.raises(ValueError) as info:
        s.submit_twap(1.0, "BUY", 1, 1, 0, 0, "t")  # the TWAP side check precedes it too
    assert str(info.value) == "side must be 'buy' or 'sell', got BUY"


def test_finish_closes_at_the_last_stepped_bar():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    bar(s, 0, c=100.0, entry=True)
    bar(s, 1, c=110.0)
    r = s.finish()
    (t,) = r.trades()
    assert (t.exit_reason, t.exit_idx, t.exit_price, t.exit_fees) == ("EndOfData", 1, 110.0, 0.0)
    assert r.equity_curve().tolist() == [100000.0, 110000.0]


def test_finish_without_steps():
    r = q.KernelSession().finish()
    assert r.equity_curve().tolist() == [] and r.trades() == []


def test_events_outlive_the_session():
    s = q.KernelSession()
    bar(s, 0, entry=True)
    (x,) = bar(s, 1, exit=True)
    del s
    assert x.trade.exit_reason == "Signal" and x.kind == "exited"


# ---- borrows ---------------------------------------------------------------------------------

class CallsBack:
    """A float whose conversion calls back into the session."""

    def __init__(self, fn):
        self.fn = fn

    def __float__(self):
        self.fn()
        return 100.0


@pytest.mark.parametrize("inner, message", [
    (lambda s: s.cash(), "Already mutably borrowed"),
    (lambda s: s.positions(), "Already mutably borrowed"),
    (lambda s: s.open_order_ids(), "Already mutably borrowed"),
    (lambda s: s.request_close(0), "Already borrowed"),
    (lambda s: s.step(0, 0, 1.0, 1.0, 1.0, 1.0, 1.0), "Already borrowed"),
    (lambda s: s.finish(), "Already borrowed"),
])
def test_mutating_methods_hold_an_exclusive_borrow(inner, message):
    s = q.KernelSession()
    with pytest.raises(RuntimeError) as info:
        s.step(0, 0, CallsBack(lambda: inner(s)), 1.0, 1.0, 1.0, 1.0)
    assert str(info.value) == message
    # The refused calls changed nothing; the session works on.
    assert s.equity() == 100000.0 and bar(s, 0) == []


def test_readers_share():
    s = q.KernelSession()
    results = []

    def read():
        for _ in range(2000):
            results.append(s.cash())

    threads = [threading.Thread(target=read) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [100000.0] * 6000


# ---- finish() equals run_single_backtest ------------------------------------------------------

def drive_session(case):
    ts, o, h, l, c, v, entries, exits = case["arrays"]
    cfg, ic = case["config"], case["instrument_config"]
    ce, cx = ref.process_signals(entries.tolist(), exits.tolist())
    n = len(c)
    atr = [0.0] * n
    period = q.resolve_atr_period(cfg, ic)
    if period is not None:
        try:
            atr = q.atr(h, l, c, period).tolist()
        except ValueError:  # too few bars: the run treats the ATR as unknown
            pass
    sizes = case["position_sizes"]
    s = q.KernelSession(symbol="XYZ", direction=case["direction"], config=cfg,
                        instrument_config=ic)
    tsl, ol, hl, ll, cl, vl = (a.tolist() for a in (ts, o, h, l, c, v))
    for i in range(n):
        s.step(i, tsl[i], ol[i], hl[i], ll[i], cl[i], vl[i], entry=ce[i], exit=cx[i],
               atr=atr[i], size_mult=None if sizes is None else float(sizes[i]))
    return s.finish()


def assert_same_result(got, want):
    for curve in ("equity_curve", "drawdown_curve", "returns"):
        g, w = getattr(got, curve)().tolist(), getattr(want, curve)().tolist()
        assert len(g) == len(w) and all(same(a, b) for a, b in zip(g, w)), curve
    gt, wt = got.trades(), want.trades()
    assert len(gt) == len(wt)
    for a, b in zip(gt, wt):
        for name in TRADE_FIELDS:
            assert same(getattr(a, name), getattr(b, name)), name
        assert a.fee_breakdown == b.fee_breakdown or all(
            same(a.fee_breakdown[k], b.fee_breakdown[k]) for k in b.fee_breakdown)
    for name in METRICS:
        g, w = getattr(got.metrics, name), getattr(want.metrics, name)
        assert (g is None and w is None) or same(g, w), name


@pytest.mark.parametrize("seed", range(80))
def test_finish_matches_run_single_backtest(seed):
    case = random_case(np.random.default_rng(1000 + seed))
    ts, o, h, l, c, v, entries, exits = case["arrays"]
    want = q.run_single_backtest(ts, o, h, l, c, v, entries, exits, direction=case["direction"],
                                 symbol="XYZ", config=case["config"],
                                 position_sizes=case["position_sizes"],
                                 instrument_config=case["instrument_config"])
    assert_same_result(drive_session(case), want)
