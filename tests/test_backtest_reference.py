"""run_single_backtest against the plain-Python twin in reference/backtest.py, on seeded
random bars and configurations: every curve, every trade field and every metric must
agree bit for bit."""

import math

import numpy as np
import pytest

import quillon as q
from reference import backtest as ref

SEGMENTS = ["NSE", "NSE-DELIVERY", "NFO", "NFO-OPT", "MCX-FUT", "CDS", "CDS-OPT"]
SEGMENT_NAMES = {"NSE": "equity_intraday", "NSE-DELIVERY": "equity_delivery",
                 "NFO": "futures_nfo", "NFO-OPT": "options_nfo", "MCX-FUT": "futures_mcx",
                 "CDS": "futures_cds", "CDS-OPT": "options_cds"}
OPTIONAL_RATIOS = {"sortino_ratio", "calmar_ratio", "omega_ratio", "profit_factor",
                   "payoff_ratio", "recovery_factor"}
METRICS = [
    "total_return_pct", "sharpe_ratio", "sortino_ratio", "calmar_ratio", "omega_ratio",
    "max_drawdown_pct", "max_drawdown_duration", "win_rate_pct", "profit_factor", "expectancy",
    "sqn", "total_trades", "total_closed_trades", "total_open_trades", "open_trade_pnl",
    "winning_trades", "losing_trades", "start_value", "end_value", "total_fees_paid",
    "best_trade_pct", "worst_trade_pct", "avg_trade_return_pct", "avg_win_pct", "avg_loss_pct",
    "avg_winning_duration", "avg_losing_duration", "max_consecutive_wins",
    "max_consecutive_losses", "avg_holding_period", "exposure_pct", "payoff_ratio",
    "recovery_factor", "total_turnover",
]
TRADE_FIELDS = ["id", "symbol", "entry_idx", "exit_idx", "entry_price", "exit_price", "size",
                "direction", "pnl", "return_pct", "entry_time", "exit_time", "fees",
                "entry_fees", "exit_fees", "exit_reason"]


def same(a, b):
    """Bit-for-bit equality of two numbers (-0.0 differs from 0.0); all NaNs are equal."""
    if isinstance(a, float) or isinstance(b, float):
        a, b = float(a), float(b)
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    return a == b


def same_series(got, want):
    assert len(got) == len(want)
    for i, (g, w) in enumerate(zip(got.tolist(), want)):
        assert same(g, w), (i, g, w)


def bars(rng, n):
    """A random walk with gaps, occasional flat bars and, rarely, NaN prices."""
    steps = rng.normal(0.0, rng.choice([0.002, 0.01, 0.03]), n)
    close = 100.0 * np.exp(np.cumsum(steps))
    open_ = np.empty(n)
    if n:
        open_[0] = close[0]
        open_[1:] = close[:-1] * np.exp(rng.normal(0.0, 0.004, n - 1))
    wick = np.abs(rng.normal(0.0, 0.006, (2, n)))
    high = np.maximum(open_, close) * (1.0 + wick[0])
    low = np.minimum(open_, close) * (1.0 - wick[1])
    if n > 10 and rng.random() < 0.15:
        k = rng.integers(0, n)
        close[k] = np.nan
    # Timestamps: a regular step with holes, and now and then a repeated or earlier one.
    step = int(rng.choice([60, 300, 3600, 86400])) * 10**9
    gaps = rng.choice([1, 1, 1, 1, 2, 3], n).astype(np.int64) * step
    ts = 1_600_000_000_000_000_000 + np.cumsum(gaps)
    if n > 5 and rng.random() < 0.2:
        ts[rng.integers(1, n)] = ts[0]
    return ts.astype(np.int64), open_, high, low, close, rng.uniform(1e3, 1e5, n)


def random_case(rng):
    n = int(rng.choice([0, 1, 2, 5, 40, 150, 400]))
    ts, o, h, l, c, v = bars(rng, n)
    density = rng.choice([0.02, 0.1, 0.3])
    entries = rng.random(n) < density
    exits = rng.random(n) < density

    cfg = q.BacktestConfig()
    kw = {}
    cfg.initial_capital = kw["initial_capital"] = float(rng.choice([100000.0, 2500.0, 1e7]))
    cfg.fees = kw["fees"] = float(rng.choice([0.0, 0.001, 0.0025]))
    if rng.random() < 0.4:
        seg = str(rng.choice(SEGMENTS))
        cfg.fee_segment = seg
        kw["segment"] = SEGMENT_NAMES[seg]
    if rng.random() < 0.5:
        cfg.slippage = kw["slippage"] = float(rng.choice([0.0005, 0.01]))
        cfg.apply_slippage = kw["apply_slippage"] = bool(rng.random() < 0.8)
    if rng.random() < 0.4:
        cfg.limit_slippage = kw["limit_slippage"] = float(rng.choice([0.001, 0.02]))
    cfg.upon_bar_close = kw["upon_bar_close"] = bool(rng.random() < 0.6)
    cfg.bar_path_adaptive = kw["bar_path_adaptive"] = bool(rng.random() < 0.5)
    if rng.random() < 0.3:
        cfg.max_drawdown_pct = kw["max_drawdown_pct"] = float(rng.choice([2.0, 5.0, 0.0, -1.0]))
    r = rng.random()
    if r < 0.2:
        cfg.periods_per_year = kw["periods_per_year"] = float(rng.choice([252.0, 0.0, 52.0]))
    elif r < 0.4:
        cfg.session_minutes = kw["session_minutes"] = float(rng.choice([375.0, 0.0, 870.0]))
    cfg.legacy_annualization = kw["legacy_annualization"] = bool(rng.random() < 0.15)
    cfg.risk_free_rate = kw["risk_free_rate"] = float(rng.choice([0.0, 0.05]))

    stops = [None, ("fixed", 0.01), ("fixed", 0.05), ("atr", 2.0, 14), ("atr", 1.5, 3),
             ("trailing", 0.02), ("trailing", 0.1)]
    targets = [None, ("fixed", 0.02), ("fixed", 0.1), ("atr", 3.0, 10), ("risk_reward", 2.0)]
    stop = stops[rng.integers(len(stops))]
    target = targets[rng.integers(len(targets))]
    ic = None
    icm = q.InstrumentConfig()
    # The models go either on the configuration or, overriding it, on the instrument.
    owner = icm if rng.random() < 0.3 else cfg
    if owner is icm:
        ic = icm
        # A global model the override must replace.
        cfg.set_atr_stop(9.0, 2)
    if stop is None and owner is icm:
        owner = cfg
        cfg.set_atr_stop(9.0, 2)
        stop = ("atr", 9.0, 2)
    if stop is not None:
        {"fixed": lambda s: owner.set_fixed_stop(s[1]),
         "atr": lambda s: owner.set_atr_stop(s[1], s[2]),
         "trailing": lambda s: owner.set_trailing_stop(s[1])}[stop[0]](stop)
    if target is not None:
        {"fixed": lambda t: owner.set_fixed_target(t[1]),
         "atr": lambda t: owner.set_atr_target(t[1], t[2]),
         "risk_reward": lambda t: owner.set_risk_reward_target(t[1])}[target[0]](target)
    kw["stop"], kw["target"] = stop, target
    if rng.random() < 0.3:
        ic = ic or q.InstrumentConfig()
        ic.lot_size = kw["lot_size"] = float(rng.choice([1.0, 25.0, 75.0, 0.0]))
    if rng.random() < 0.2:
        ic = ic or q.InstrumentConfig()
        ic.alloted_capital = kw["alloted_capital"] = float(rng.choice([5000.0, 50000.0]))

    sizes = None
    if rng.random() < 0.3:
        sizes = rng.choice([1.0, 0.5, 0.25, 0.0, -1.0, 1.5], n).astype(np.float64)
    direction = int(rng.choice([1, -1]))
    return dict(arrays=(ts, o, h, l, c, v, entries, exits), direction=direction, config=cfg,
                instrument_config=ic, position_sizes=sizes, setup=ref.Setup(**kw))


def check_case(case):
    ts, o, h, l, c, v, entries, exits = case["arrays"]
    got = q.run_single_backtest(ts, o, h, l, c, v, entries, exits,
                                direction=case["direction"], symbol="XYZ",
                                config=case["config"], position_sizes=case["position_sizes"],
                                instrument_config=case["instrument_config"])
    sizes = None if case["position_sizes"] is None else case["position_sizes"].tolist()
    eq, dd, rt, trades, metrics, _ = ref.run(
        case["setup"], ts.tolist(), o.tolist(), h.tolist(), l.tolist(), c.tolist(),
        entries.tolist(), exits.tolist(), direction=case["direction"], position_sizes=sizes,
        symbol="XYZ")
    same_series(got.equity_curve(), eq)
    same_series(got.drawdown_curve(), dd)
    same_series(got.returns(), rt)
    got_trades = got.trades()
    assert len(got_trades) == len(trades)
    for g, w in zip(got_trades, trades):
        for name in TRADE_FIELDS:
            assert same(getattr(g, name), getattr(w, name)), (name, getattr(g, name),
                                                              getattr(w, name))
        if w.fee_breakdown is None:
            assert g.fee_breakdown is None
        else:
            gb = g.fee_breakdown
            assert set(gb) == set(w.fee_breakdown)
            for k in gb:
                assert same(gb[k], w.fee_breakdown[k]), k
    m = got.metrics
    for name in METRICS:
        want = metrics[name]
        if name in OPTIONAL_RATIOS and not math.isfinite(want):
            assert getattr(m, name) is None, name
        else:
            assert same(getattr(m, name), want), (name, getattr(m, name), want)
    return got, trades


@pytest.mark.parametrize("seed", range(300))
def test_matches_reference(seed):
    check_case(random_case(np.random.default_rng(1000 + seed)))


def test_reference_cases_exercise_every_exit_reason_and_refusal():
    """The seeded cases above are only worth something if they reach every branch."""
    reasons = set()
    for seed in range(300):
        case = random_case(np.random.default_rng(1000 + seed))
        ts, o, h, l, c, v, entries, exits = case["arrays"]
        sizes = None if case["position_sizes"] is None else case["position_sizes"].tolist()
        _, _, _, trades, _, refused = ref.run(
            case["setup"], ts.tolist(), o.tolist(), h.tolist(), l.tolist(), c.tolist(),
            entries.tolist(), exits.tolist(), direction=case["direction"],
            position_sizes=sizes)
        reasons |= {t.exit_reason for t in trades} | {r for _, r in refused}
    assert reasons >= {"Signal", "StopLoss", "TakeProfit", "EndOfData", "ZeroSize",
                       "DrawdownHalt"}
