"""The result classes (BacktestResult, BacktestMetrics, Trade): metric edge cases, the
annualisation, printed forms, to_dict, fresh copies, immutability and pickling (also of
the configuration classes)."""

import copy
import math
import pickle

import numpy as np
import pytest

import quillon as q

DAY = 86_400 * 10**9
MINUTE = 60 * 10**9
T0 = 1_700_000_000 * 10**9


def run(close, entries=(), exits=(), step=DAY, config=None, direction=1, high=None, low=None,
        timestamps=None):
    close = np.asarray(close, dtype=np.float64)
    n = len(close)
    ts = T0 + np.arange(n, dtype=np.int64) * step if timestamps is None else timestamps
    e = np.zeros(n, dtype=bool)
    x = np.zeros(n, dtype=bool)
    e[list(entries)] = True
    x[list(exits)] = True
    high = close if high is None else np.asarray(high, dtype=np.float64)
    low = close if low is None else np.asarray(low, dtype=np.float64)
    cfg = q.BacktestConfig(fees=0.0) if config is None else config
    return q.run_single_backtest(ts, close, high, low, close, np.ones(n), e, x,
                                 direction=direction, config=cfg)


# ---- metric edge cases ---------------------------------------------------------------------

def test_no_trades():
    m = run([100.0, 101.0, 102.0]).metrics
    assert (m.win_rate_pct, m.profit_factor, m.expectancy, m.sqn) == (0.0, 0.0, 0.0, 0.0)
    assert (m.best_trade_pct, m.worst_trade_pct, m.payoff_ratio, m.total_trades) == (0.0, 0.0, 0.0, 0)
    assert m.to_dict()["Profit Factor"] == 0.0 and isinstance(m.profit_factor, float)


def test_one_position_open_at_the_end():
    r = run([100.0, 105.0, 110.0], entries=[0])
    m = r.metrics
    (t,) = r.trades()
    assert (m.total_trades, m.total_open_trades, m.total_closed_trades) == (1, 1, 0)
    assert m.win_rate_pct == 0.0 and m.open_trade_pnl == t.pnl == 10000.0
    assert (m.winning_trades, m.losing_trades, m.max_consecutive_wins) == (0, 0, 1)


def test_only_winners_give_unbounded_ratios():
    r = run([100.0, 110.0, 110.0, 120.0, 130.0], entries=[0, 2], exits=[1, 4])
    m = r.metrics
    assert m.total_closed_trades == 2 and m.losing_trades == 0
    assert m.profit_factor is None and m.payoff_ratio is None
    assert m.to_dict()["Profit Factor"] is None
    assert m.win_rate_pct == 100.0 and m.max_consecutive_wins == 2


def test_flat_equity():
    m = run([100.0] * 6).metrics
    assert (m.sharpe_ratio, m.sortino_ratio, m.omega_ratio) == (0.0, 0.0, 1.0)
    assert (m.max_drawdown_pct, m.calmar_ratio, m.max_drawdown_duration) == (0.0, 0.0, 0)


def test_single_bar():
    r = run([100.0])
    assert r.returns().tolist() == [0.0]
    assert r.metrics.sharpe_ratio == 0.0 and r.metrics.omega_ratio == 1.0


def test_trade_statistics_by_hand():
    # Three closed trades of 1000 units: +10000, -5000, +2000 (no fees).
    close = [100, 110, 110, 105, 105, 107, 107]
    m = run(close, entries=[0, 2, 4], exits=[1, 3, 5]).metrics
    assert (m.winning_trades, m.losing_trades, m.win_rate_pct) == (2, 1, 2 / 3 * 100.0)
    assert m.profit_factor == (10000.0 + 2000.0) / 5000.0
    assert m.expectancy == (10000.0 + -5000.0 + 2000.0) / 3
    assert (m.max_consecutive_wins, m.max_consecutive_losses) == (1, 1)
    assert (m.avg_holding_period, m.exposure_pct) == (1.0, 3 / 7 * 100.0)
    assert m.avg_win_pct == (10.0 + 2000.0 / 105000.0 * 100.0) / 2
    # The second trade's 1000 units at 110 are re-sized: cash 110000 buys 1000 units.
    assert m.avg_loss_pct == -5000.0 / 110000.0 * 100.0
    assert m.total_turnover == sum(abs(1000.0 * p) for p in (100, 110, 110, 105, 105, 107))


def test_annualisation_of_daily_bars_is_365():
    close = [100, 101, 99, 103, 104, 102, 106]
    inferred = run(close, entries=[0], step=DAY).metrics
    explicit = run(close, entries=[0], step=DAY,
                   config=q.BacktestConfig(fees=0.0, periods_per_year=365.0)).metrics
    as_252 = run(close, entries=[0], step=DAY,
                 config=q.BacktestConfig(fees=0.0, periods_per_year=252.0)).metrics
    assert inferred.sharpe_ratio == explicit.sharpe_ratio != as_252.sharpe_ratio


def test_legacy_annualisation_ignores_periods_per_year():
    close = [100, 101, 99, 103, 104, 102, 106]
    legacy = run(close, entries=[0], step=MINUTE, config=q.BacktestConfig(
        fees=0.0, legacy_annualization=True, periods_per_year=252.0)).metrics
    at_365 = run(close, entries=[0], step=MINUTE,
                 config=q.BacktestConfig(fees=0.0, periods_per_year=365.0)).metrics
    assert legacy.sharpe_ratio == at_365.sharpe_ratio


@pytest.mark.parametrize("step, minutes, periods", [
    (MINUTE, 375.0, 94500.0),
    (MINUTE, None, 94500.0),
    (5 * MINUTE, 375.0, 18900.0),
    (60 * MINUTE, 0.0, 8760.0),
    (3 * DAY, None, 365.0 / 3.0),
])
def test_annualisation_inferred_from_the_bar_spacing(step, minutes, periods):
    close = [100, 101, 99, 103, 104, 102, 106]
    inferred = run(close, entries=[0], step=step,
                   config=q.BacktestConfig(fees=0.0, session_minutes=minutes)).metrics
    explicit = run(close, entries=[0], step=step,
                   config=q.BacktestConfig(fees=0.0, periods_per_year=periods)).metrics
    assert inferred.sharpe_ratio == explicit.sharpe_ratio


def test_median_gap_skips_pairs_that_do_not_increase():
    close = [100, 101, 99, 103, 104, 102, 106]
    ts = T0 + np.array([0, 1, 1, 2, 0, 3, 4], dtype=np.int64) * MINUTE
    odd = run(close, entries=[0], timestamps=ts).metrics
    regular = run(close, entries=[0], step=MINUTE).metrics
    assert odd.sharpe_ratio == regular.sharpe_ratio


def test_recovery_and_calmar():
    r = run([100.0, 120.0, 90.0, 110.0], entries=[0])
    m = r.metrics
    w = (120000.0 - 90000.0) / 120000.0 * 100.0
    assert m.max_drawdown_pct == w and m.max_drawdown_duration == 2
    assert m.recovery_factor == (110000.0 - 100000.0) / (w / 100.0 * 100000.0)
    years = 3 * DAY / 3.1536e16
    cagr = math.pow(1.0 + m.total_return_pct / 100.0, 1.0 / years) - 1.0
    assert m.calmar_ratio == cagr / (w / 100.0)


# ---- BacktestResult ------------------------------------------------------------------------

def test_result_methods_return_fresh_copies():
    r = run([100.0, 110.0, 105.0], entries=[0])
    a = r.equity_curve()
    assert a.dtype == np.float64 and a.flags.writeable and a.flags.c_contiguous
    a[:] = 0.0
    assert r.equity_curve().tolist() == [100000.0, 110000.0, 105000.0]
    assert r.drawdown_curve() is not r.drawdown_curve()
    assert r.returns() is not r.returns()
    t1, t2 = r.trades(), r.trades()
    assert t1 is not t2 and t1[0] is not t2[0]
    assert r.metrics is not r.metrics
    assert len(r.equity_curve()) == 3


def test_printed_forms():
    r = run([100.0, 110.0, 105.0, 112.3456], entries=[0, 2], exits=[1])
    m = r.metrics
    assert repr(r) == (f"BacktestResult(return={m.total_return_pct:.2f}%, "
                       f"trades={m.total_trades}, max_dd={m.max_drawdown_pct:.2f}%)")
    assert repr(m) == (f"BacktestMetrics(return={m.total_return_pct:.2f}%, "
                       f"sharpe={m.sharpe_ratio:.2f}, max_dd={m.max_drawdown_pct:.2f}%, "
                       f"trades={m.total_trades})")
    t = r.trades()[0]
    assert repr(t) == "Trade(symbol=UNKNOWN, entry=100.00, exit=110.00, pnl=10000.00, return=10.00%)"


def test_to_dict_has_25_keys_in_order():
    d = run([100.0, 101.0], entries=[0]).metrics.to_dict()
    assert list(d) == [
        "Start Value", "End Value", "Total Return [%]", "Total Fees Paid", "Total Turnover",
        "Max Drawdown [%]", "Max Drawdown Duration", "Total Trades", "Total Closed Trades",
        "Total Open Trades", "Open Trade PnL", "Win Rate [%]", "Best Trade [%]",
        "Worst Trade [%]", "Avg Winning Trade [%]", "Avg Losing Trade [%]",
        "Avg Winning Trade Duration", "Avg Losing Trade Duration", "Profit Factor",
        "Expectancy", "SQN", "Sharpe Ratio", "Sortino Ratio", "Calmar Ratio", "Omega Ratio"]
    assert isinstance(d["Total Trades"], int) and isinstance(d["Max Drawdown Duration"], int)


def test_metric_property_types():
    m = run([100.0, 101.0, 99.0], entries=[0], exits=[1]).metrics
    ints = {"max_drawdown_duration", "total_trades", "total_closed_trades", "total_open_trades",
            "winning_trades", "losing_trades", "max_consecutive_wins", "max_consecutive_losses"}
    names = [n for n in dir(m) if not n.startswith("_") and n != "to_dict"]
    assert len(names) == 34
    for name in names:
        v = getattr(m, name)
        assert isinstance(v, int if name in ints else (float, type(None))), name


@pytest.mark.parametrize("cls", [q.BacktestResult, q.BacktestMetrics, q.Trade])
def test_result_classes_have_no_constructor(cls):
    with pytest.raises(TypeError) as e:
        cls()
    assert str(e.value) == "No constructor defined"


def test_results_are_read_only():
    r = run([100.0, 110.0], entries=[0])
    t, m = r.trades()[0], r.metrics
    for obj, name in ((t, "pnl"), (m, "sharpe_ratio"), (r, "metrics")):
        with pytest.raises(AttributeError):
            setattr(obj, name, 1.0)
        with pytest.raises(AttributeError) as e:
            delattr(obj, name)
        assert str(e.value) == "can't delete attribute"


def test_trade_properties():
    r = run([100.0, 110.0, 121.0], entries=[0], exits=[1], direction=-1)
    (t,) = r.trades()
    assert (t.id, t.symbol, t.entry_idx, t.exit_idx, t.direction) == (0, "UNKNOWN", 0, 1, -1)
    assert isinstance(t.entry_time, int) and t.exit_time - t.entry_time == DAY
    assert t.exit_reason == "Signal" and t.fee_breakdown is None
    assert t.return_pct == t.pnl / (100.0 * t.size * 1.0) * 100.0
    doc = type(t).fees.__doc__
    assert doc == "Total costs over the round trip, equal to `entry_fees + exit_fees`."


# ---- pickling ------------------------------------------------------------------------------

def test_results_pickle_round_trip():
    cfg = q.BacktestConfig(fee_segment="NFO")
    cfg.set_fixed_stop(0.02)
    r = run([100.0, 104.0, 97.0, 99.0, 103.0], entries=[0, 3], exits=[1], config=cfg)
    for proto in range(2, pickle.HIGHEST_PROTOCOL + 1):
        back = pickle.loads(pickle.dumps(r, protocol=proto))
        assert type(back) is q.BacktestResult and repr(back) == repr(r)
        for name in ("equity_curve", "drawdown_curve", "returns"):
            assert getattr(back, name)().tobytes() == getattr(r, name)().tobytes()
        for a, b in zip(back.trades(), r.trades(), strict=True):
            assert {k: getattr(a, k) for k in dir(a) if not k.startswith("_")} == \
                   {k: getattr(b, k) for k in dir(b) if not k.startswith("_")}
        assert back.metrics.to_dict() == r.metrics.to_dict()
    t = r.trades()[0]
    assert repr(pickle.loads(pickle.dumps(t))) == repr(t)
    assert pickle.loads(pickle.dumps(t)).fee_breakdown == t.fee_breakdown
    m = copy.deepcopy(r.metrics)
    assert m.to_dict() == r.metrics.to_dict()


def test_unbounded_ratios_survive_pickling():
    m = run([100.0, 110.0, 110.0, 120.0], entries=[0, 2], exits=[1, 3]).metrics
    back = pickle.loads(pickle.dumps(m))
    assert back.profit_factor is None and back.payoff_ratio is None


def test_configurations_pickle_with_their_hidden_models():
    cfg = q.BacktestConfig(initial_capital=5e4, fees=0.002, slippage=0.001, fee_segment="NSE",
                           max_positions=3, max_drawdown_pct=12.5, squareoff_time="15:20",
                           session_tz_offset_ns=q.IST_OFFSET_NS, fill_seed=2**64 - 1)
    cfg.set_atr_stop(2.5, 7)
    cfg.set_risk_reward_target(1.5)
    back = pickle.loads(pickle.dumps(cfg))
    props = [n for n in dir(cfg) if not n.startswith("_") and not callable(getattr(cfg, n))]
    assert {n: getattr(back, n) for n in props} == {n: getattr(cfg, n) for n in props}
    assert q.resolve_atr_period(back) == 7
    close = 100.0 + np.sin(np.arange(60) / 3.0) * 10.0
    a = run(close, entries=[1, 20, 40], exits=[15, 35], config=cfg, high=close + 1, low=close - 1)
    b = run(close, entries=[1, 20, 40], exits=[15, 35], config=back, high=close + 1, low=close - 1)
    assert a.equity_curve().tobytes() == b.equity_curve().tobytes()
    assert repr(a.trades()) == repr(b.trades())

    ic = q.InstrumentConfig(lot_size=75.0, alloted_capital=None, existing_qty=3.0, avg_price=9.5)
    ic.set_trailing_stop(0.03)
    ic_back = pickle.loads(pickle.dumps(ic))
    assert repr(ic_back) == repr(ic)
    assert (ic_back.existing_qty, ic_back.avg_price) == (3.0, 9.5)
    assert q.resolve_atr_period(cfg, ic_back) is None  # the override replaced the ATR stop

    s = q.StopConfig.atr(2.0, 14)
    s.stop_type = "custom"
    s2 = pickle.loads(pickle.dumps(s))
    assert (s2.stop_type, s2.percent, s2.multiplier, s2.period) == ("custom", None, 2.0, 14)
    t = pickle.loads(pickle.dumps(q.TargetConfig.risk_reward(3.0)))
    assert (t.target_type, t.ratio, t.percent) == ("risk_reward", 3.0, None)


@pytest.mark.parametrize("spec", [
    q.InstrumentSpec.equity("INFY", price_increment=0.05, lot_size=1.0),
    q.InstrumentSpec.currency_pair("USDINR", 0.0025),
    q.InstrumentSpec.futures_contract("NIFTY-F", 1_700_000_000 * 10**9, 50.0, underlying="NIFTY",
                                      activation_ns=1),
    q.InstrumentSpec.perpetual("BTC-PERP", multiplier=0.001),
    q.InstrumentSpec.option("NIFTY-CE", 20000.0, "CE", 2_000_000_000 * 10**9, 50.0, binary=True,
                            underlying="NIFTY"),
    q.InstrumentSpec.index("NIFTY 50"),
])
def test_instrument_specs_pickle(spec):
    spec.settlement_fee = 0.0005
    back = pickle.loads(pickle.dumps(spec))
    props = [n for n in dir(spec) if not n.startswith("_") and not callable(getattr(spec, n))]
    assert {n: getattr(back, n) for n in props} == {n: getattr(spec, n) for n in props}


class MyConfig(q.BacktestConfig):
    pass


def test_pickled_subclass_keeps_its_class():
    c = MyConfig(fees=0.0042)
    back = pickle.loads(pickle.dumps(c))
    assert type(back) is MyConfig and back.fees == 0.0042


@pytest.mark.parametrize("state", [b"", b"garbage", b"\x00" * 64])
def test_invalid_state_is_refused(state):
    with pytest.raises(ValueError) as e:
        q.BacktestResult._from_state(state)
    assert str(e.value) == "invalid pickled state for _quillon.BacktestResult"


def test_state_of_another_class_or_truncated_is_refused():
    cfg_state = q.BacktestConfig().__reduce__()[1][0]
    with pytest.raises(ValueError):
        q.InstrumentConfig._from_state(cfg_state)
    r = run([100.0, 101.0], entries=[0])
    state = r.__reduce__()[1][0]
    for cut in (1, len(state) // 2, len(state) - 1):
        with pytest.raises(ValueError):
            q.BacktestResult._from_state(state[:cut])
    with pytest.raises(ValueError):
        q.BacktestResult._from_state(state + b"\x00")
    with pytest.raises(TypeError):
        q.BacktestResult._from_state("text")
