"""The module's public surface: constants, the fixed registration order, signatures."""

import inspect
import subprocess
import sys
import textwrap

import pytest

import _quillon as q
import quillon

# The complete public order. Names not built yet are absent from the module; those that
# exist must appear in __all__ in exactly this relative order.
PUBLIC_ORDER = """
SESSION_NSE SESSION_MCX SESSION_CDS SESSION_CONTINUOUS IST_OFFSET_NS
BacktestConfig InstrumentConfig StopConfig TargetConfig BacktestResult BacktestMetrics Trade
PortfolioResult InstrumentSummary
run_single_backtest run_basket_backtest run_portfolio_backtest run_options_backtest
run_pairs_backtest run_multi_backtest run_spread_backtest run_tick_backtest
InstrumentSpec Indicator BarAggregator aggregate_bars bars_from_ticks
KernelSession PortfolioSession EngineEvent PositionSnapshot resolve_atr_period BatchSpreadItem
batch_spread_backtest simulate_portfolio_mc
RiskModel OptimizerConfig OptimizationResult RiskContributions OptimizeItem RebalanceSimResult
RankIC estimate_covariance optimize_portfolio batch_optimize_portfolios
compute_risk_contributions winsorize_panel zscore_panel rank_panel momentum_panel
composite_scores rank_ic simulate_rebalance_policy indian_cost_schedule
compute_tick_entry_signals compute_tick_exit_signals tick_spread_pct buy_sell_imbalance_delta
return_window realized_vol_rolling oi_position_pct tick_velocity
sma ema rsi macd stochastic atr bollinger_bands adx vwap supertrend rolling_min rolling_max
""".split()

PUBLIC = [getattr(q, name) for name in q.__all__]
FUNCTIONS = [f for f in PUBLIC if inspect.isbuiltin(f)]
CLASSES = [c for c in PUBLIC if isinstance(c, type)]


def test_constants_have_their_types_and_values():
    assert [(type(getattr(q, n)), getattr(q, n)) for n in PUBLIC_ORDER[:5]] == [
        (float, 375.0), (float, 870.0), (float, 480.0), (float, 0.0), (int, 19800000000000)]
    assert q.IST_OFFSET_NS == (5 * 3600 + 30 * 60) * 10**9


def test_all_follows_the_fixed_order_and_lists_everything_public():
    assert len(PUBLIC_ORDER) == len(set(PUBLIC_ORDER)) == 5 + 24 + 45
    assert q.__all__ == [n for n in PUBLIC_ORDER if hasattr(q, n)]
    assert q.__all__[:5] == PUBLIC_ORDER[:5]
    assert q.__all__[-1] == "rolling_max"


def test_module_docstring():
    assert q.__doc__ == "Python module entry point"


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
def test_every_function_shows_its_signature(fn):
    assert fn.__text_signature__
    assert fn.__module__ == "_quillon"
    params = inspect.signature(fn).parameters.values()
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)
    assert fn.__doc__ and not fn.__doc__.startswith(fn.__name__ + "(")


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_classes_have_a_fixed_attribute_set(cls):
    assert cls.__module__ == "_quillon"
    assert "__dict__" not in dir(cls)


def test_internal_error_is_not_an_exception():
    assert issubclass(q.InternalError, BaseException)
    assert not issubclass(q.InternalError, Exception)


def test_facade_reexports_the_native_surface():
    assert [n for n in quillon.__all__ if n != "InternalError"] == q.__all__
    for name in q.__all__:
        assert getattr(quillon, name) is getattr(q, name)
    assert quillon.InternalError is q.InternalError
    assert isinstance(quillon.__version__, str) and quillon.__version__[0].isdigit()


def test_import_is_cached():
    import importlib

    assert importlib.import_module("_quillon") is q


def test_second_interpreter_is_refused():
    _testcapi = pytest.importorskip("_testcapi")
    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("no sub-interpreter runner in this build")
    code = textwrap.dedent("""
        import sys
        try:
            import _quillon
            result = "imported"
        except ImportError as e:
            result = "ImportError: " + str(e)
        sys.stdout.write(result + "\\n")
        sys.stdout.flush()
    """)
    # Run in a child so a sub-interpreter problem can never take the test process down.
    child = subprocess.run(
        [sys.executable, "-c",
         f"import _quillon, _testcapi; _testcapi.run_in_subinterp({code!r})"],
        capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert child.stdout.startswith("ImportError: "), child.stdout + child.stderr
