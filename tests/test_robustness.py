"""No input crashes the process: every public callable is fed seeded random mixtures of
odd arguments (empty, NaN, infinite, huge, wrong-typed, mismatched lengths). Each call must
return or raise a clean Python exception; the sanitizer build runs this file too."""

import inspect

import numpy as np
import pytest

import _quillon as q

N = 6
POOL = [
    None, 0, 1, 3, -1, 2**63, 2**64, 0.0, -0.5, 1e308, float("nan"), float("inf"), True,
    "", "x", "NSE", "15:25", "m", "buy", [], [1.0], (1, 2),
    np.array([], dtype=np.float64), np.full(N, np.nan), np.full(N, np.inf),
    np.linspace(-1.0, 1.0, N), np.arange(1.0, N + 1.0), np.arange(1.0, 2 * N + 1.0),
    np.zeros(N, dtype=bool), np.ones(N, dtype=bool), np.arange(N, dtype=np.int64),
    np.arange(N, dtype=np.int64) * 60_000_000_000, np.array([], dtype=np.int64),
    np.zeros((2, 3)), np.arange(N, dtype=np.float32),
]

CALLABLES = [getattr(q, n) for n in q.__all__ if callable(getattr(q, n))]
STATIC = [getattr(cls, name) for cls in CALLABLES if isinstance(cls, type)
          for name, member in vars(cls).items()
          if not name.startswith("_") and type(member).__name__ == "staticmethod"]


FLOATS = [a for a in POOL if isinstance(a, np.ndarray) and a.dtype == np.float64 and a.ndim == 1]
INTS = [a for a in POOL if isinstance(a, np.ndarray) and a.dtype == np.int64]
BOOLS = [a for a in POOL if isinstance(a, np.ndarray) and a.dtype == bool]
SCALARS = [0, 1, 2, 3, 14, 2**40, 0.0, 0.5, 2.0, -1.0, float("nan"), None]


def plausible(name, rng):
    """A value of the kind the parameter's name suggests, edge values included, so calls
    get past conversion and into the computation."""
    def pick(values):
        same_length = [v for v in values if not isinstance(v, np.ndarray) or len(v) == N]
        if rng.random() < 0.8 and same_length:
            values = same_length  # mostly consistent lengths, so calls reach the engine
        return values[int(rng.integers(len(values)))]
    if name in ("timestamps", "ts"):
        return pick(INTS)
    if name in ("entries", "exits") or name.endswith("_signals"):
        return pick(BOOLS)
    if name in ("data", "open", "high", "low", "close", "volume", "ltp", "bid", "ask", "oi",
                "position_sizes", "buy_qty_delta", "sell_qty_delta", "prices", "values"):
        return pick(FLOATS)
    if name in ("unit",):
        return pick(["m", "h", "d", "tick", "volume", "value", "renko", "M", "y", "s"])
    if name in ("symbol", "segment", "fee_segment", "right", "side", "kind"):
        return pick(["X", "NSE", "NFO-OPT", "MCX-FUT", "ce", "pe", "buy", "sell", ""])
    return pick(SCALARS)


def arguments(fn, rng):
    try:
        params = list(inspect.signature(fn).parameters.values())
    except (TypeError, ValueError):
        params = []
    names = [p.name for p in params] or ["a", "b", "c"]
    if rng.random() < 0.5:
        required = sum(p.default is p.empty for p in params)
        count = int(rng.integers(required, len(names) + 1))
        return [plausible(n, rng) for n in names[:count]]
    count = int(rng.integers(0, len(names) + 2))
    return [POOL[int(rng.integers(len(POOL)))] for _ in range(count)]


def hammer(fn, rng, calls=300):
    """Calls `fn` with random arguments; only a clean exception (or the internal-error
    class, for broken invariants) may come back."""
    for _ in range(calls):
        args = [a.copy() if isinstance(a, np.ndarray) else a for a in arguments(fn, rng)]
        try:
            fn(*args)
        except (Exception, q.InternalError):
            pass


@pytest.mark.parametrize("fn", CALLABLES + STATIC, ids=lambda f: getattr(f, "__qualname__", str(f)))
def test_random_arguments_never_crash(fn):
    hammer(fn, np.random.default_rng(len(getattr(fn, "__qualname__", "")) * 104729))


def instances():
    made = []
    for cls in [c for c in CALLABLES if isinstance(c, type)]:
        try:
            made.append(cls())
        except Exception:
            pass
    for name in ("sma", "ema", "rsi", "atr", "bollinger", "macd", "donchian"):
        try:
            made.append(getattr(q.Indicator, name)(3))
        except Exception:
            pass
    return made


METHODS = [(obj, name) for obj in instances() for name in dir(obj)
           if not name.startswith("_") and callable(getattr(obj, name))
           and not isinstance(getattr(type(obj), name, None), type(q.Indicator.sma))]


@pytest.mark.parametrize("obj, name", METHODS, ids=lambda v: v if isinstance(v, str) else type(v).__name__)
def test_random_arguments_to_methods_never_crash(obj, name):
    hammer(getattr(obj, name), np.random.default_rng(len(name) * 7919))
    repr(obj)


KINDS = ["market", "limit", "stop_market", "stop_limit", "market_if_touched", "limit_if_touched",
         "market_to_limit", "trailing_stop_market", "trailing_stop_limit", "at_open", "at_close",
         "bogus"]
TIFS = ["gtc", "day", "gtd", "ioc", "fok", "nope"]


@pytest.mark.parametrize("seed", range(12))
def test_random_session_streams_never_crash(seed):
    """A session driven by a random stream of bars (NaN and gaps included) and random order
    traffic: every call returns or raises cleanly, and finish() yields a result."""
    rng = np.random.default_rng(seed)
    config = q.BacktestConfig(fill_prob_limit=float(rng.uniform(0, 1)),
                              fill_prob_slippage=float(rng.uniform(0, 1)), fill_seed=seed,
                              max_drawdown_pct=float(rng.choice([5.0, 50.0])))
    session = q.KernelSession(config=config, direction=int(rng.choice([1, -1])),
                              oms_type=str(rng.choice(["netting", "hedging"])),
                              account_type=str(rng.choice(["cash", "margin"])),
                              leverage=float(rng.choice([1.0, 3.0])))
    price, ids, algos = 100.0, [], []
    for i in range(300):
        price = max(0.01, price * (1 + rng.normal(0, 0.02)))
        o, c = price, price * (1 + rng.normal(0, 0.01))
        h, l = max(o, c) * 1.01, min(o, c) * 0.99
        if rng.random() < 0.03:
            o, h, l, c = (float("nan"),) * 4
        calls = [
            lambda: session.step(i, i * 60_000_000_000, o, h, l, c, 1000.0,
                                 entry=bool(rng.random() < 0.1), exit=bool(rng.random() < 0.1),
                                 atr=float(rng.uniform(0, 3))),
            lambda: ids.append(session.submit_order(
                str(rng.choice(["buy", "sell", "hold"])), str(rng.choice(KINDS)), i,
                i * 60_000_000_000, f"c{i}",
                units=float(rng.choice([1.0, 10.0, 0.0, -1.0, np.nan])),
                limit_price=float(price * rng.uniform(0.95, 1.05)),
                trigger_price=float(price * rng.uniform(0.95, 1.05)),
                tif=str(rng.choice(TIFS)), expire_ns=int(i * 60_000_000_000 + 1e11),
                offset=float(rng.uniform(0, 2)),
                offset_kind=str(rng.choice(["price", "bps", "ticks"])),
                reduce_only=bool(rng.random() < 0.2),
                parent_id=(int(rng.choice(ids)) if ids and rng.random() < 0.2 else None))),
            lambda: session.modify_order(int(rng.integers(0, 50)),
                                         limit_price=float(price * rng.uniform(0.9, 1.1))),
            lambda: session.cancel_order(i, int(rng.integers(0, 50))),
            lambda: session.link_oco([int(x) for x in rng.integers(0, 50, 2)]),
            lambda: session.request_close(int(rng.integers(0, 5))),
            lambda: algos.append(session.submit_twap(
                float(rng.choice([1.0, 37.5, 0.0, np.nan])), str(rng.choice(["buy", "sell"])),
                int(rng.integers(0, 5)), int(rng.choice([0, 60_000_000_000])), i,
                i * 60_000_000_000, f"t{i}")),
            lambda: session.cancel_twap(int(rng.choice(algos)) if algos else 0, i),
            lambda: (session.positions(), session.cash(), session.equity(),
                     session.open_order_ids()),
        ]
        for call in [calls[0]] + [calls[int(k)] for k in rng.integers(1, len(calls), 3)]:
            try:
                call()
            except Exception:
                pass
    result = session.finish()
    assert len(result.equity_curve()) >= 0
    with pytest.raises(Exception):
        session.step(301, 0, 1.0, 1.0, 1.0, 1.0, 1.0)
