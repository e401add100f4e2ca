"""run_single_backtest on small hand-made bars: the driver's preparation and errors, the
kernel's fills, stops, targets, sizing and marking, with numbers worked out by hand."""

import inspect

import numpy as np
import pytest

import quillon as q

DAY = 86_400 * 10**9
T0 = 1_700_000_000 * 10**9


def bars(close, open_=None, high=None, low=None, step=DAY):
    close = np.asarray(close, dtype=np.float64)
    n = len(close)
    open_ = close.copy() if open_ is None else np.asarray(open_, dtype=np.float64)
    high = np.maximum(open_, close) if high is None else np.asarray(high, dtype=np.float64)
    low = np.minimum(open_, close) if low is None else np.asarray(low, dtype=np.float64)
    ts = T0 + np.arange(n, dtype=np.int64) * step
    return ts, open_, high, low, close, np.ones(n)


def flags(n, *on):
    f = np.zeros(n, dtype=bool)
    f[list(on)] = True
    return f


def run(b, entries, exits, **kw):
    return q.run_single_backtest(*b, entries, exits, **kw)


def no_fees(**kw):
    return q.BacktestConfig(fees=0.0, **kw)


# ---- the driver ----------------------------------------------------------------------------

def test_signature_and_docstring():
    sig = inspect.signature(q.run_single_backtest)
    assert list(sig.parameters) == [
        "timestamps", "open", "high", "low", "close", "volume", "entries", "exits", "direction",
        "weight", "symbol", "config", "position_sizes", "instrument_config"]
    assert sig.parameters["symbol"].default == "UNKNOWN"
    assert sig.parameters["direction"].default == 1
    assert q.run_single_backtest.__doc__.startswith(
        "Run single instrument backtest.\n\nNote: the array-based runners")


def test_no_entries_leave_equity_flat():
    b = bars([100, 101, 99, 102])
    r = run(b, flags(4), flags(4))
    assert r.trades() == []
    assert r.equity_curve().tolist() == [100000.0] * 4
    assert r.metrics.total_return_pct == 0.0


def test_open_position_is_closed_at_the_end_of_data():
    b = bars([100.0, 102.0, 101.0, 104.0])
    r = run(b, flags(4, 0), flags(4), config=no_fees())
    (t,) = r.trades()
    assert (t.entry_idx, t.exit_idx, t.exit_reason) == (0, 3, "EndOfData")
    assert (t.entry_price, t.exit_price, t.exit_fees) == (100.0, 104.0, 0.0)
    assert t.entry_time == T0 and t.exit_time == T0 + 3 * DAY


def test_exit_on_a_bar_with_an_entry_is_ignored():
    b = bars([100.0, 101.0, 102.0, 103.0])
    r = run(b, flags(4, 0, 1), flags(4, 1, 3), config=no_fees())
    (t,) = r.trades()
    assert (t.entry_idx, t.exit_idx, t.exit_reason) == (0, 3, "Signal")


@pytest.mark.parametrize("raw_exit_at_4, second_entry", [(False, False), (True, True)])
def test_entry_after_a_stop_waits_for_a_raw_exit(raw_exit_at_4, second_entry):
    # Entry at 100 with a 5 % stop (95); bar 3 trades down to 94.
    b = bars([100, 100, 100, 96, 97, 98, 99], low=[100, 99, 99, 94, 96, 97, 98])
    cfg = no_fees()
    cfg.set_fixed_stop(0.05)
    exits = flags(7, 4) if raw_exit_at_4 else flags(7)
    r = run(b, flags(7, 0, 5), exits, config=cfg)
    trades = r.trades()
    assert (trades[0].exit_idx, trades[0].exit_reason, trades[0].exit_price) == (3, "StopLoss", 95.0)
    assert len(trades) == (2 if second_entry else 1)
    if second_entry:
        assert trades[1].entry_idx == 5


def test_weight_changes_nothing():
    b = bars([100, 103, 99, 105, 101])
    a = run(b, flags(5, 0, 3), flags(5, 2), weight=1.0)
    c = run(b, flags(5, 0, 3), flags(5, 2), weight=0.5)
    assert a.equity_curve().tolist() == c.equity_curve().tolist()
    assert repr(a.trades()) == repr(c.trades())


@pytest.mark.parametrize("direction", [0, 2, -2])
def test_direction_must_be_long_or_short(direction):
    b = bars([100, 101])
    with pytest.raises(ValueError) as e:
        run(b, flags(2), flags(2), direction=direction)
    assert str(e.value) == f"direction must be 1 (long) or -1 (short), got {direction}"


def test_direction_is_checked_after_every_argument_is_converted():
    b = bars([100, 101])
    with pytest.raises(TypeError) as e:
        run(b, flags(2), flags(2), direction=0, config="not a config")
    assert str(e.value).startswith("argument 'config': ")


def internal_error(call):
    with pytest.raises(BaseException) as e:
        call()
    assert isinstance(e.value, q.InternalError)
    assert not isinstance(e.value, Exception)
    return str(e.value)


def test_signals_of_another_length_are_an_internal_error():
    b = bars([100, 101, 102, 103, 104])
    assert internal_error(lambda: run(b, flags(4), flags(5))) == (
        "assertion `left == right` failed: OHLCV and signals must have same length\n"
        "  left: 5\n right: 4")
    assert internal_error(lambda: run(b, flags(5), flags(3))) == (
        "assertion `left == right` failed: Entry and exit arrays must have same length\n"
        "  left: 5\n right: 3")


def test_direction_is_checked_before_lengths():
    b = bars([100, 101, 102])
    with pytest.raises(ValueError):
        run(b, flags(2), flags(2), direction=5)


@pytest.mark.parametrize("which", ["timestamps", "open", "high", "low", "volume",
                                   "position_sizes"])
def test_a_short_array_is_never_read_past_its_end(which):
    ts, o, h, l, c, v = bars([100, 101, 102, 103, 104])
    arrays = dict(timestamps=ts, open=o, high=h, low=l, close=c, volume=v,
                  position_sizes=np.ones(5))
    arrays[which] = arrays[which][:3].copy()
    msg = internal_error(lambda: q.run_single_backtest(
        entries=flags(5, 0), exits=flags(5), **arrays))
    assert msg == "index out of bounds: the len is 3 but the index is 3"


def test_the_earliest_short_array_is_reported():
    ts, o, h, l, c, v = bars([100, 101, 102, 103, 104])
    msg = internal_error(lambda: q.run_single_backtest(
        ts, o[:2].copy(), h[:2].copy(), l, c, v[:1].copy(), flags(5), flags(5)))
    assert msg == "index out of bounds: the len is 1 but the index is 1"


def test_longer_arrays_are_read_only_up_to_the_bar_count():
    ts, o, h, l, c, v = bars([100, 101, 102, 103, 104, 105, 106])
    short = run((ts, o, h, l, c[:4].copy(), v), flags(4, 0), flags(4))
    exact = run(bars([100, 101, 102, 103]), flags(4, 0), flags(4))
    assert short.equity_curve().tolist() == exact.equity_curve().tolist()
    assert len(short.equity_curve()) == 4


def test_empty_arrays_give_an_empty_result():
    r = run(bars([]), flags(0), flags(0))
    assert r.equity_curve().tolist() == [] and r.trades() == []
    m = r.metrics
    assert (m.total_return_pct, m.end_value, m.total_trades) == (0.0, 100000.0, 0)


@pytest.mark.parametrize("arg, value, start", [
    ("close", [100.0, 101.0], "argument 'close': "),
    ("close", np.array([100.0, 101.0], dtype=np.float32), "argument 'close': type mismatch"),
    ("timestamps", np.array([1.0, 2.0]), "argument 'timestamps': type mismatch"),
    ("entries", np.array([1, 0]), "argument 'entries': type mismatch"),
    ("position_sizes", np.array([1, 1]), "argument 'position_sizes': type mismatch"),
    ("config", q.InstrumentConfig(), "argument 'config': "),
])
def test_wrong_argument_types(arg, value, start):
    ts, o, h, l, c, v = bars([100, 101])
    args = dict(timestamps=ts, open=o, high=h, low=l, close=c, volume=v, entries=flags(2),
                exits=flags(2))
    args[arg] = value
    with pytest.raises(TypeError) as e:
        q.run_single_backtest(**args)
    assert str(e.value).startswith(start)


def test_strided_volume_is_refused_like_any_array():
    ts, o, h, l, c, v = bars([100, 101, 102, 103])
    v2 = np.ones(8)[::2]
    internal_error(lambda: q.run_single_backtest(ts, o, h, l, c, v2, flags(4), flags(4)))
    with pytest.raises(TypeError):
        q.run_single_backtest(ts, o, h, l, c, v.astype(np.float32), flags(4), flags(4))


def test_configuration_is_read_once_and_never_changed():
    b = bars([100, 101, 102])
    cfg = q.BacktestConfig(fees=0.0)
    cfg.set_fixed_stop(0.5)
    r1 = run(b, flags(3, 0), flags(3), config=cfg)
    cfg.fees = 0.01
    assert cfg.fees == 0.01 and r1.trades()[0].fees == 0.0


# ---- fills, sizing and fees ----------------------------------------------------------------

def test_sizing_spends_the_cash_net_of_the_fee_fraction():
    b = bars([100.0, 100.0])
    (t,) = run(b, flags(2, 0), flags(2)).trades()
    assert t.size == 100000.0 / ((1.0 + 0.001) * 1.0 * 100.0)  # 999.000999...
    assert t.entry_fees == t.size * 100.0 * 0.001


@pytest.mark.parametrize("lot, size", [(75.0, 975.0), (1000.0, 0.0), (0.0, None)])
def test_lot_size_floors_to_whole_lots(lot, size):
    b = bars([100.0, 100.0])
    trades = run(b, flags(2, 0), flags(2), instrument_config=q.InstrumentConfig(lot_size=lot)).trades()
    if size == 0.0:
        assert trades == []  # less than one lot: refused, no position
    elif size is None:
        assert trades[0].size == 100000.0 / (1.001 * 100.0)  # a zero lot means no lots
    else:
        assert trades[0].size == size


def test_alloted_capital_caps_the_sizing():
    b = bars([100.0, 100.0])
    (t,) = run(b, flags(2, 0), flags(2), config=no_fees(),
               instrument_config=q.InstrumentConfig(alloted_capital=50000.0)).trades()
    assert t.size == 500.0


@pytest.mark.parametrize("mult, size", [(0.5, 500.0), (1.5, 1500.0), (0.0, None), (-1.0, None)])
def test_position_sizes_scale_the_capital(mult, size):
    b = bars([100.0, 100.0, 100.0])
    r = run(b, flags(3, 0), flags(3), config=no_fees(), position_sizes=np.full(3, mult))
    if size is None:
        assert r.trades() == []
        assert r.equity_curve().tolist() == [100000.0] * 3
    else:
        assert r.trades()[0].size == size
    if mult == 1.5:  # spends more than the cash: the cash goes negative, equity is unchanged
        assert r.equity_curve().tolist() == [100000.0] * 3


@pytest.mark.parametrize("direction, entry", [(1, 101.0), (-1, 99.0)])
def test_entry_slippage_is_adverse(direction, entry):
    b = bars([100.0, 100.0])
    (t,) = run(b, flags(2, 0), flags(2), direction=direction,
               config=no_fees(slippage=0.01)).trades()
    assert t.entry_price == entry
    assert t.exit_price == 100.0  # the end of data is not a trade: no slippage


def test_slippage_can_be_switched_off():
    b = bars([100.0, 100.0])
    (t,) = run(b, flags(2, 0), flags(2), config=no_fees(slippage=0.01, apply_slippage=False)).trades()
    assert t.entry_price == 100.0


def test_signal_exit_pays_slippage_and_fees():
    b = bars([100.0, 110.0])
    cfg = q.BacktestConfig(fees=0.001, slippage=0.01)
    (t,) = run(b, flags(2, 0), flags(2, 1), config=cfg).trades()
    assert t.entry_price == 100.0 + 1.0 * (0.01 * 100.0)
    assert t.exit_price == 110.0 - 1.0 * (0.01 * 110.0)
    assert t.exit_fees == t.size * t.exit_price * 0.001
    assert t.pnl == (t.exit_price - t.entry_price) * t.size * 1.0 * 1.0 - (t.entry_fees + t.exit_fees)
    assert t.fees == t.entry_fees + t.exit_fees


def test_upon_bar_close_false_fills_at_the_open():
    b = bars([100.0, 110.0, 120.0], open_=[95.0, 105.0, 115.0])
    (t,) = run(b, flags(3, 0), flags(3, 1), config=no_fees(upon_bar_close=False)).trades()
    assert (t.entry_price, t.exit_price) == (95.0, 105.0)


def test_a_short_gains_when_the_price_falls():
    b = bars([100.0, 90.0])
    r = run(b, flags(2, 0), flags(2, 1), direction=-1, config=no_fees())
    (t,) = r.trades()
    assert t.pnl == (90.0 - 100.0) * 1000.0 * -1.0 * 1.0 - 0.0 == 10000.0
    assert r.equity_curve().tolist() == [100000.0, 110000.0]
    assert t.direction == -1


def test_itemised_fees_and_their_breakdown():
    # The worked example of the equity intraday schedule: buy 100 at 500, sell 100 at 510.
    b = bars([500.0, 510.0])
    cfg = q.BacktestConfig(fee_segment="NSE")
    r = run(b, flags(2, 0), flags(2, 1), config=cfg, instrument_config=q.InstrumentConfig(lot_size=100.0))
    (t,) = r.trades()
    assert t.size == 100.0
    bd = t.fee_breakdown
    assert set(bd) == {"brokerage", "stt", "exchange_txn", "sebi_fee", "stamp_duty", "gst", "total"}
    assert bd["brokerage"] == pytest.approx(30.3) and bd["stt"] == pytest.approx(12.75)
    assert bd["stamp_duty"] == pytest.approx(1.5)
    assert bd["total"] == t.fees
    assert t.fees == pytest.approx(53.782006, abs=1e-9)
    assert r.metrics.total_fees_paid == t.fees


def test_flat_fees_have_no_breakdown():
    b = bars([100.0, 101.0])
    for seg in (None, "NSEX", ""):
        (t,) = run(b, flags(2, 0), flags(2, 1), config=q.BacktestConfig(fee_segment=seg)).trades()
        assert t.fee_breakdown is None
        assert t.entry_fees == t.size * 100.0 * 0.001


def test_end_of_data_under_itemised_fees_keeps_the_entry_leg_only():
    b = bars([500.0, 510.0])
    (t,) = run(b, flags(2, 0), flags(2), config=q.BacktestConfig(fee_segment="NSE")).trades()
    assert t.exit_fees == 0.0 and t.fees == t.entry_fees == t.fee_breakdown["total"]
    assert t.fee_breakdown["stt"] == 0.0  # a buy leg pays no stt


# ---- stops, targets and the trailing ratchet -----------------------------------------------

def test_levels_are_not_tested_on_the_entry_bar():
    b = bars([100.0, 100.0, 100.0], low=[50.0, 99.0, 99.0], high=[200.0, 101.0, 101.0])
    cfg = no_fees()
    cfg.set_fixed_stop(0.05)
    cfg.set_fixed_target(0.05)
    (t,) = run(b, flags(3, 0), flags(3), config=cfg).trades()
    assert t.exit_reason == "EndOfData"


def test_stop_gap_fills_at_the_open():
    b = bars([100.0, 91.0], open_=[100.0, 93.0], low=[100.0, 90.0], high=[100.0, 93.0])
    cfg = no_fees()
    cfg.set_fixed_stop(0.05)
    (t,) = run(b, flags(2, 0), flags(2), config=cfg).trades()
    assert (t.exit_price, t.exit_reason) == (93.0, "StopLoss")


def test_stop_inside_the_bar_fills_at_the_stop():
    b = bars([100.0, 96.0], open_=[100.0, 97.0], low=[100.0, 94.0], high=[100.0, 97.0])
    cfg = no_fees()
    cfg.set_fixed_stop(0.05)
    (t,) = run(b, flags(2, 0), flags(2), config=cfg).trades()
    assert (t.exit_price, t.exit_reason) == ((1.0 - 0.05 * 1.0) * 100.0, "StopLoss")


@pytest.mark.parametrize("limit_slippage", [0.0, 0.01])
def test_target_is_not_improved_by_a_gap(limit_slippage):
    b = bars([100.0, 113.0], open_=[100.0, 112.0], high=[100.0, 115.0], low=[100.0, 111.0])
    cfg = no_fees(limit_slippage=limit_slippage)
    cfg.set_fixed_target(0.10)
    (t,) = run(b, flags(2, 0), flags(2), config=cfg).trades()
    target = (1.0 + 0.10 * 1.0) * 100.0
    assert (t.exit_price, t.exit_reason) == (target * (1.0 - limit_slippage), "TakeProfit")


@pytest.mark.parametrize("direction, adaptive, open_, close, reason", [
    (1, False, 101.0, 104.0, "StopLoss"),    # bullish bar
    (1, True, 101.0, 104.0, "StopLoss"),
    (1, False, 104.0, 101.0, "StopLoss"),    # bearish bar
    (1, True, 104.0, 101.0, "TakeProfit"),
    (-1, True, 104.0, 101.0, "StopLoss"),    # bearish: for a short the stop side came first
    (-1, True, 101.0, 104.0, "TakeProfit"),  # bullish (close >= open): the low came first
    (-1, True, 102.0, 102.0, "TakeProfit"),
])
def test_stop_and_target_in_one_bar(direction, adaptive, open_, close, reason):
    b = bars([100.0, close], open_=[100.0, open_], high=[100.0, 120.0], low=[100.0, 80.0])
    cfg = no_fees(bar_path_adaptive=adaptive)
    cfg.set_fixed_stop(0.05)
    cfg.set_fixed_target(0.10)
    (t,) = run(b, flags(2, 0), flags(2), direction=direction, config=cfg).trades()
    assert t.exit_reason == reason


def test_trailing_stop_ratchets_and_never_loosens():
    # Entry 100, trail 5 %: bar 1 makes a high of 120 -> stop 114 from bar 2 on; bar 2's
    # lower high leaves it; bar 3 trades down to 113.
    b = bars([100.0, 118.0, 116.0, 113.5], high=[100.0, 120.0, 117.0, 116.0],
             low=[100.0, 114.5, 114.5, 113.0], open_=[100.0, 115.0, 116.0, 116.0])
    cfg = no_fees()
    cfg.set_trailing_stop(0.05)
    (t,) = run(b, flags(4, 0), flags(4), config=cfg).trades()
    assert (t.exit_idx, t.exit_reason) == (3, "StopLoss")
    assert t.exit_price == (1.0 - 0.05) * 120.0


def test_trailing_stop_of_a_short_follows_the_lowest_low():
    b = bars([100.0, 82.0, 86.0], high=[100.0, 84.0, 90.0], low=[100.0, 80.0, 83.0],
             open_=[100.0, 83.0, 83.5])
    cfg = no_fees()
    cfg.set_trailing_stop(0.05)
    (t,) = run(b, flags(3, 0), flags(3), direction=-1, config=cfg).trades()
    assert (t.exit_idx, t.exit_price) == (2, (1.0 + 0.05) * 80.0)


def test_atr_stop_needs_a_known_atr():
    # ATR(3) is NaN on bars 0 and 1: an entry there gets no stop at all.
    b = bars([100.0, 101.0, 102.0, 60.0], high=[101.0, 102.0, 103.0, 61.0],
             low=[99.0, 100.0, 101.0, 59.0])
    cfg = no_fees()
    cfg.set_atr_stop(1.0, 3)
    (t,) = run(b, flags(4, 1), flags(4), config=cfg).trades()
    assert t.exit_reason == "EndOfData"


def test_risk_reward_target_measures_from_the_model_stop():
    b = bars([100.0, 100.0, 111.0], high=[100.0, 100.0, 112.0], low=[100.0, 100.0, 100.0])
    cfg = no_fees()
    cfg.set_fixed_stop(0.05)
    cfg.set_risk_reward_target(2.0)
    (t,) = run(b, flags(3, 0), flags(3), config=cfg).trades()
    stop = (1.0 - 0.05) * 100.0
    assert (t.exit_reason, t.exit_price) == ("TakeProfit", 100.0 + 1.0 * 2.0 * abs(100.0 - stop))


def test_instrument_override_replaces_the_global_model():
    b = bars([100.0, 100.0, 90.0], low=[100.0, 100.0, 89.0])
    cfg = no_fees()
    cfg.set_fixed_stop(0.05)
    ic = q.InstrumentConfig()
    ic.set_fixed_stop(0.20)
    (t,) = run(b, flags(3, 0), flags(3), config=cfg, instrument_config=ic).trades()
    assert t.exit_reason == "EndOfData"


# ---- marking and the kill-switch -----------------------------------------------------------

def test_marking_uses_the_close_and_the_end_close_does_not_remark():
    b = bars([100.0, 110.0, 99.0])
    r = run(b, flags(3, 0), flags(3), config=no_fees())
    assert r.equity_curve().tolist() == [100000.0, 110000.0, 99000.0]
    dd = r.drawdown_curve().tolist()
    assert dd[:2] == [0.0, 0.0] and dd[2] == (110000.0 - 99000.0) / 110000.0 * 100.0
    assert r.returns().tolist() == [0.0, 0.1, (99000.0 - 110000.0) / 110000.0]


def test_drawdown_halt_refuses_later_entries():
    b = bars([100.0, 100.0, 85.0, 85.0, 85.0, 90.0])
    cfg = no_fees(max_drawdown_pct=10.0)
    r = run(b, flags(6, 0, 4), flags(6, 3), config=cfg)
    (t,) = r.trades()  # the entry of bar 4 is refused: the drawdown latched on bar 2
    assert t.exit_idx == 3


@pytest.mark.parametrize("limit", [None, 0.0, -5.0])
def test_drawdown_limit_disabled(limit):
    b = bars([100.0, 100.0, 85.0, 85.0, 85.0, 90.0])
    r = run(b, flags(6, 0, 4), flags(6, 3), config=no_fees(max_drawdown_pct=limit))
    assert len(r.trades()) == 2


def test_max_positions_never_refuses_a_single_instrument():
    b = bars([100.0, 101.0, 102.0])
    r = run(b, flags(3, 0), flags(3), config=no_fees(max_positions=1))
    assert len(r.trades()) == 1


def test_nan_close_on_the_entry_bar_refuses_the_entry():
    b = bars([100.0, float("nan"), 101.0, 102.0])
    r = run(b, flags(4, 1), flags(4), config=no_fees())
    assert r.trades() == []
    eq = r.equity_curve()
    assert eq[0] == eq[2] == eq[3] == 100000.0


def test_nan_close_while_in_position_marks_nan_and_recovers():
    b = bars([100.0, float("nan"), 101.0])
    r = run(b, flags(3, 0), flags(3), config=no_fees())
    eq = r.equity_curve()
    assert np.isnan(eq[1]) and eq[2] == 101000.0
    m = r.metrics
    assert m.total_trades == 1 and np.isfinite(m.total_return_pct)


# ---- arrays are taken as they were when converted ------------------------------------------

class MutatingNumber:
    """A weight or direction whose conversion rewrites an array converted before it."""

    def __init__(self, target, value):
        self.target, self.value = target, value

    def __float__(self):
        self.target[:] = 1.0
        return float(self.value)

    def __index__(self):
        self.target[:] = 1.0
        return int(self.value)


@pytest.mark.parametrize("arg", ["weight", "direction"])
def test_arrays_changed_by_a_later_argument_conversion_are_not_seen(arg):
    ts, o, h, l, c, v = bars([100.0, 110.0, 121.0])
    want = run((ts, o, h, l, c.copy(), v), flags(3, 0), flags(3), config=no_fees())
    kw = {arg: MutatingNumber(c, 1.0 if arg == "weight" else 1)}
    got = q.run_single_backtest(ts, o, h, l, c, v, flags(3, 0), flags(3), config=no_fees(), **kw)
    assert c.tolist() == [1.0, 1.0, 1.0]  # the conversion did run and change the caller's array
    assert got.equity_curve().tolist() == want.equity_curve().tolist()
    assert repr(got.trades()) == repr(want.trades())


def test_inputs_are_not_modified_and_results_do_not_alias_them():
    b = bars([100.0, 110.0, 121.0])
    e, x = flags(3, 0), flags(3, 2)
    before = [a.copy() for a in b] + [e.copy(), x.copy()]
    r = run(b, e, x)
    for a, a0 in zip(list(b) + [e, x], before):
        assert a.tobytes() == a0.tobytes()
    eq = r.equity_curve()
    for a in b:
        assert not np.shares_memory(eq, a)


def test_bool_arrays_holding_other_bytes_count_as_true():
    b = bars([100.0, 110.0, 121.0])
    raw = np.array([7, 0, 0], dtype=np.uint8).view(bool)
    (t,) = run(b, raw, flags(3)).trades()
    assert t.entry_idx == 0


def test_numpy_scalars_as_arguments():
    ts, o, h, l, c, v = bars([100.0, 110.0, 121.0])
    want = run((ts, o, h, l, c, v), flags(3, 0), flags(3), config=no_fees())
    got = q.run_single_backtest(ts, o, h, l, c, v, flags(3, 0), flags(3), config=no_fees(),
                                direction=np.int64(1), weight=np.float64(0.5))
    assert got.equity_curve().tolist() == want.equity_curve().tolist()
    assert repr(got.trades()) == repr(want.trades())
