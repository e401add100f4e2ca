"""TWAP schedules through KernelSession: registration checks and their order, slicing on
bar time with exact quantities, the slice orders and their client ids, completion and
cancellation events."""

import math

import pytest

import quillon as q
from reference.orders import twap_slices

T0 = 1_700_000_000_000_000_000
MIN = 60 * 10**9


def session(**cfg):
    cfg.setdefault("fees", 0.0)
    return q.KernelSession(config=q.BacktestConfig(**cfg), oms_type="hedging")


def bar(s, i, ts=None, c=100.0):
    return s.step(i, T0 + i * MIN if ts is None else ts, c, c + 1.0, c - 1.0, c, 1000.0)


@pytest.mark.parametrize("args, message", [
    (dict(side="BUY", slices=0, interval_ns=0, units=math.nan),
     "side must be 'buy' or 'sell', got BUY"),
    (dict(side="short"), "side must be 'buy' or 'sell', got short"),
    (dict(slices=0, interval_ns=0, units=-1.0), "slices must be >= 1"),
    (dict(interval_ns=0, units=-1.0), "interval must be > 0"),
    (dict(interval_ns=-5), "interval must be > 0"),
    (dict(units=0.0), "total units must be finite and > 0"),
    (dict(units=-3.0), "total units must be finite and > 0"),
    (dict(units=math.nan), "total units must be finite and > 0"),
    (dict(units=math.inf), "total units must be finite and > 0"),
])
def test_registration_refusals(args, message):
    s = session()
    call = dict(units=10.0, side="buy", slices=3, interval_ns=MIN, submitted_idx=0,
                submitted_ts=T0, client_id="t")
    call.update(args)
    with pytest.raises(ValueError) as info:
        s.submit_twap(**call)
    assert str(info.value) == message
    assert s.submit_twap(1.0, "buy", 1, 1, 0, 0, "ok") == 0  # no id was used


def test_registration_argument_types():
    s = session()
    with pytest.raises(OverflowError):
        s.submit_twap(1.0, "buy", 2**32, 1, 0, 0, "t")  # slices is unsigned 32-bit
    with pytest.raises(OverflowError):
        s.submit_twap(1.0, "buy", -1, 1, 0, 0, "t")
    with pytest.raises(TypeError) as info:
        s.submit_twap(1.0, "buy", 1, 1, 0, 0, "t", reduce_only=0)
    assert str(info.value).startswith("argument 'reduce_only': ")


@pytest.mark.parametrize("units, n", [(10.0, 3), (1.0, 7), (0.1, 3), (123456.789, 11),
                                      (5e-324, 2), (1e300, 9), (3.0, 1)])
def test_slice_quantities(units, n):
    s = session(initial_capital=1e308)
    s.submit_twap(units, "buy", n, MIN, 0, T0, "t")
    sizes = []
    for i in range(n + 1):
        sizes += [e.size for e in bar(s, i) if e.kind == "order_filled"]
    sizes += [None] * (n - len(sizes))
    want = twap_slices(units, n)
    # Slices that round to nothing are refused as zero size instead of filled.
    assert [x for x in sizes if x is not None] == [w for w in want if w > 0.0]


def test_ten_in_three_slices_add_up_exactly():
    got = twap_slices(10.0, 3)
    assert got == [10.0 / 3.0, 2.0 * 10.0 / 3.0 - 10.0 / 3.0, 10.0 - 2.0 * 10.0 / 3.0]
    assert got[0] + got[1] + got[2] == 10.0
    s = session()
    s.submit_twap(10.0, "buy", 3, MIN, 0, T0, "t")
    total = 0.0
    for i in range(4):
        for e in bar(s, i):
            if e.kind == "order_filled":
                total += e.size
    assert total == 10.0


def test_one_slice_completes_in_the_same_step():
    s = session()
    algo = s.submit_twap(4.0, "sell", 1, MIN, 0, T0, "one")
    out = [(e.kind, e.idx, e.order_id, e.client_order_id, e.size) for e in bar(s, 0)]
    assert out == [("algo_started", 0, algo, "one", None), ("algo_completed", 0, algo, "", None),
                   ("order_accepted", 0, 0, "one#0", None), ("order_filled", 0, 0, "one#0", 4.0),
                   ("entered", 0, None, None, 4.0)]
    assert bar(s, 1) == []


def test_slices_on_bar_time_with_the_interval_measured_from_the_slicing_bar():
    s = session()
    bar(s, 0)
    # Due from bar 2's time; bars one minute apart, interval 90 s: bars 2, 4, 6.
    algo = s.submit_twap(9.0, "buy", 3, 90 * 10**9, 1, T0 + 2 * MIN, "vwap1")
    seen = []
    for i in range(1, 9):
        for e in bar(s, i):
            seen.append((i, e.kind, e.client_order_id))
    assert seen == [
        (1, "algo_started", "vwap1"),
        (2, "order_accepted", "vwap1#0"), (2, "order_filled", "vwap1#0"), (2, "entered", None),
        (4, "order_accepted", "vwap1#1"), (4, "order_filled", "vwap1#1"), (4, "entered", None),
        (6, "algo_completed", ""),
        (6, "order_accepted", "vwap1#2"), (6, "order_filled", "vwap1#2"), (6, "entered", None),
    ]
    assert algo == 0
    assert s.cancel_twap(algo, 9) is False  # removed


def test_at_most_one_slice_per_bar_after_a_long_gap():
    s = session()
    s.submit_twap(3.0, "buy", 3, MIN, 0, T0, "gap")
    fills = []
    for i, t in enumerate([T0, T0 + 100 * MIN, T0 + 101 * MIN]):
        fills.append([e.client_order_id for e in bar(s, i, ts=t) if e.kind == "order_filled"])
    assert fills == [["gap#0"], ["gap#1"], ["gap#2"]]


def test_cancel_twap_after_two_of_four_slices():
    s = session()
    algo = s.submit_twap(8.0, "buy", 4, MIN, 0, T0, "tw")
    mine = s.submit_order("buy", "limit", 0, T0, "mine", units=1.0, limit_price=1.0)
    bar(s, 0)
    bar(s, 1)
    # Each slice fills on the bar that takes it, so none is left working here; the caller's
    # own order is not the schedule's and stays.
    assert s.cancel_twap(algo, 1) is True
    assert s.cancel_twap(algo, 1) is False
    assert s.open_order_ids() == [mine]
    out = [(e.kind, e.idx, e.order_id, e.client_order_id) for e in bar(s, 2)]
    assert out == [("algo_completed", 2, algo, "")]
    assert [p.size for p in s.positions()] == [2.0, 2.0] and bar(s, 3) == []


def test_cancel_unknown_schedule():
    s = session()
    assert s.cancel_twap(0, 0) is False
    assert s.cancel_twap(2**64 - 1, 0) is False


def test_schedule_waits_for_its_start_time():
    s = session()
    s.submit_twap(2.0, "buy", 2, MIN, 0, T0 + 5 * MIN, "late")
    kinds = []
    for i in range(8):
        kinds.append([e.kind for e in bar(s, i) if e.kind in ("order_filled", "algo_completed")])
    assert kinds == [[], [], [], [], [], ["order_filled"], ["algo_completed", "order_filled"], []]


def test_slices_follow_netting_rules():
    """Slices are ordinary market orders: under netting the second buy meets the open
    position and is refused; a refusal still counts the slice as done."""
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    s.submit_twap(2.0, "buy", 2, MIN, 0, T0, "n")
    out = [[(e.kind, e.reject_reason) for e in bar(s, i)] for i in range(3)]
    assert out[1][-1] == ("order_rejected", "position_open")
    assert ("algo_completed", None) in out[1] and out[2] == []


def test_reduce_only_slices_close_a_position():
    s = q.KernelSession(config=q.BacktestConfig(fees=0.0))
    s.step(0, T0, 100.0, 101.0, 99.0, 100.0, 1.0, entry=True)
    s.submit_twap(5.0, "sell", 2, MIN, 0, T0, "r", reduce_only=True)
    out = [[e.kind for e in bar(s, i)] for i in range(1, 3)]
    assert out[0] == ["algo_started", "order_accepted", "order_filled", "exited"]
    assert out[1][-2:] == ["order_accepted", "order_rejected"]  # flat: reduce-only refused
