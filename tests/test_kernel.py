"""The execution kernel through its native test driver: the parts no Python entry reaches
yet (installed contracts with expiry, activation, grids and multipliers; margin accounts;
close requests; explicit levels; the step's events) and the signal processor's
accumulating mode. Numbers are worked out by hand from the formulas."""

import pytest

from native import kernel_driver as kd
from native.kernel_driver import step


@pytest.fixture(scope="module")
def drv(tmp_path_factory):
    return kd.build(tmp_path_factory.mktemp("kernel_probe"))


def flat(idx, price, **kw):
    return step(idx, idx, price, price, price, price, **kw)


# ---- expiry and settlement -----------------------------------------------------------------

def test_expiry_settles_at_the_close_and_refuses_later_entries(drv):
    out = drv.session(
        "kernel fees=0.001 slippage=0.01",
        "spec kind=contract expiration=5 settlement_fee=0.002",
        flat(0, 100.0, entry=True),
        flat(4, 104.0),
        step(5, 5, 103.0, 106.0, 101.0, 105.0, entry=True, exit=True),
        flat(6, 106.0, entry=True),
        "finish")
    ev, _ = kd.events(out[4])
    assert [e[0] for e in ev] == ["exited", "entry_rejected"]
    assert ev[0][2] == "Settlement" and kd.f(ev[0][3]) == 105.0  # no slippage
    assert ev[1][2] == "Expired"
    ev6, _ = kd.events(out[5])
    assert ev6 == [["entry_rejected", "6", "Expired"]]
    (t,), _ = kd.trades(out[6])
    assert (t["exit_idx"], t["exit_reason"], t["exit_price"]) == (5, "Settlement", 105.0)
    assert t["exit_fees"] == t["size"] * 105.0 * 1.0 * 0.002
    assert t["fees"] == t["entry_fees"] + t["exit_fees"]


@pytest.mark.parametrize("right, binary, underlying, price", [
    ("call", 0, "120", 20.0),
    ("call", 0, "90", 0.0),
    ("call", 1, "100.5", 1.0),
    ("put", 0, "90", 10.0),
    ("put", 1, "110", 0.0),
    ("call", 0, "none", 7.0),  # no underlying price: the bar's close
])
def test_option_settlement_price(drv, right, binary, underlying, price):
    out = drv.session(
        "kernel fees=0",
        f"spec kind=option strike=100 right={right} binary={binary} expiration=3 lot=1",
        f"underlying {underlying}",
        flat(0, 5.0, entry=True),
        flat(3, 7.0),
        "finish")
    (t,), _ = kd.trades(out[5])
    assert (t["exit_reason"], t["exit_price"], t["exit_fees"]) == ("Settlement", price, 0.0)


def test_entry_before_activation_is_refused(drv):
    out = drv.session(
        "kernel",
        "spec kind=contract activation=10",
        flat(9, 100.0, entry=True),
        "account",
        flat(10, 100.0, entry=True))
    assert kd.events(out[2])[0] == [["entry_rejected", "9", "Inactive"]]
    assert out[3].split()[-1] == "1"  # the refused-entry counter
    assert kd.events(out[4])[0][0][0] == "entered"


# ---- contract terms ------------------------------------------------------------------------

@pytest.mark.parametrize("direction, stop, target", [
    # entry 101.03: stop (1 - 0.02) * 101.03 = 99.0094 -> 99.0 (floor), target 1.05 * 101.03
    # = 106.0815 -> 106.05 (floor); a short ceils: 103.0506 -> 103.1 and 95.9785 -> 96.0.
    (1, 99.0, 106.05),
    (-1, 103.05 + 0.05, 96.0),
])
def test_model_levels_snap_to_the_price_grid(drv, direction, stop, target):
    out = drv.session(
        f"kernel fees=0 stop=fixed:0.02 target=fixed:0.05 direction={direction}",
        "spec price_inc=0.05",
        flat(0, 101.03, entry=True),
        "positions")
    _, s, t, _ = out[3].split()[0].split(":")
    k_stop = round(kd.f(s) / 0.05)
    assert kd.f(s) == k_stop * 0.05 and kd.f(s) == pytest.approx(stop)
    assert kd.f(t) == round(kd.f(t) / 0.05) * 0.05 and kd.f(t) == pytest.approx(target)


def test_explicit_levels_win_and_are_not_snapped(drv):
    out = drv.session(
        "kernel fees=0 stop=fixed:0.02 target=risk_reward:2",
        "spec price_inc=0.05",
        flat(0, 100.0, entry=True, stop=97.123),
        "positions")
    _, s, t, _ = out[3].split()[0].split(":")
    # The explicit stop is kept as given; the risk-reward target still measures from the
    # model's stop (98), not from the explicit one: 100 + 2 * 2 = 104.
    assert kd.f(s) == 97.123 and kd.f(t) == 104.0


def test_quantity_grid_and_lot_of_the_contract(drv):
    # 100000 / (1.0 * 1 * 30) = 3333.33...: lots of 7 -> 3332; a size step of 0.5 keeps it.
    out = drv.session("kernel fees=0", "spec lot=7 size_inc=0.5", flat(0, 30.0, entry=True))
    assert kd.f(kd.events(out[2])[0][0][3]) == 3332.0
    # A lot of exactly 1 means no lots; the size step floors 3333.33 to 3333.0.
    out = drv.session("kernel fees=0", "spec lot=1 size_inc=1", flat(0, 30.0, entry=True))
    assert kd.f(kd.events(out[2])[0][0][3]) == 3333.0
    # A lot configured for the instrument wins over the contract's.
    out = drv.session("kernel fees=0 lot=100", "spec lot=7", flat(0, 30.0, entry=True))
    assert kd.f(kd.events(out[2])[0][0][3]) == 3300.0


def test_multiplier_scales_notional_fees_and_pnl(drv):
    out = drv.session(
        "kernel fees=0.001 capital=100000",
        "spec kind=contract mult=50 lot=1",
        flat(0, 200.0, entry=True),
        flat(1, 210.0, exit=True),
        "finish")
    (t,), _ = kd.trades(out[4])
    u = 100000.0 / ((1.0 + 0.001) * 50.0 * 200.0)
    assert t["size"] == u
    assert t["entry_fees"] == abs(u) * (200.0 * 50.0) * 0.001
    assert t["exit_fees"] == abs(u) * (210.0 * 50.0) * 0.001
    assert t["pnl"] == (210.0 - 200.0) * u * 1.0 * 50.0 - (t["entry_fees"] + t["exit_fees"])
    assert t["return_pct"] == t["pnl"] / (200.0 * u * 50.0) * 100.0


# ---- margin accounts -----------------------------------------------------------------------

def test_margin_account_sizes_on_leverage_and_locks_margin(drv):
    out = drv.session(
        "kernel fees=0 account=margin leverage=4",
        flat(0, 100.0, entry=True),
        "account",
        flat(1, 101.0),
        "finish")
    size = kd.f(kd.events(out[1])[0][0][3])
    assert size == 100000.0 / ((0.25 + 0.0) * 1.0 * 100.0)  # 4000 units
    cash, free = (kd.f(x) for x in out[2].split()[:2])
    assert cash == 100000.0 and free == 100000.0 - 0.25 * 4000.0 * 1.0 * 100.0
    assert kd.events(out[3])[1] == 100000.0 + 1.0 * (101.0 - 100.0) * 4000.0 * 1.0


@pytest.mark.parametrize("liquidate", [0, 1])
def test_margin_call(drv, liquidate):
    # Leverage 4: maintenance 12.5 %. 4000 units from 100; at 78 the equity is
    # 100000 - 88000 = 12000 against a requirement of 0.125 * 4000 * 78 = 39000.
    out = drv.session(
        f"kernel fees=0 account=margin leverage=4 liquidate={liquidate}",
        flat(0, 100.0, entry=True),
        step(1, 1, 79.0, 79.0, 77.0, 78.0),
        "account",
        flat(2, 80.0, entry=True),
        "finish")
    ev, _ = kd.events(out[2])
    assert ev[0][0] == "margin_call"
    assert kd.f(ev[0][2]) == 100000.0 + 1.0 * (78.0 - 100.0) * 4000.0 * 1.0
    assert kd.f(ev[0][3]) == 0.125 * (4000.0 * 78.0 * 1.0)
    assert out[3].split()[2] == "1"
    trades, _ = kd.trades(out[5])
    if liquidate:
        assert [e[0] for e in ev] == ["margin_call", "exited"] and ev[1][2] == "Liquidation"
        assert kd.f(ev[1][3]) == 78.0  # the selected price: the close
        assert kd.events(out[4])[0] == [["entry_rejected", "2", "MarginCall"]]
        assert [t["exit_reason"] for t in trades] == ["Liquidation"]
    else:
        assert len(ev) == 1 and [t["exit_reason"] for t in trades] == ["EndOfData"]


def test_fully_funded_margin_account_never_calls(drv):
    out = drv.session(
        "kernel fees=0 account=margin leverage=1",
        flat(0, 100.0, entry=True),
        flat(1, 1.0))
    assert kd.events(out[2])[0] == []


# ---- requests, events and netting ----------------------------------------------------------

def test_close_request_closes_at_the_selected_price(drv):
    out = drv.session(
        "kernel fees=0 close=0",
        flat(0, 100.0, entry=True),
        "close 0",
        "close 7",
        step(1, 1, 102.0, 104.0, 101.0, 103.0),
        step(2, 2, 103.0, 104.0, 101.0, 103.0))
    ev, _ = kd.events(out[4])
    assert [e[:3] for e in ev] == [["exited", "1", "Signal"]] and kd.f(ev[0][3]) == 102.0
    assert kd.events(out[5])[0] == []


def test_a_quiet_bar_has_no_events_and_entries_while_open_are_ignored(drv):
    out = drv.session("kernel fees=0", flat(0, 100.0, entry=True), flat(1, 100.0, entry=True),
                      flat(2, 100.0))
    assert kd.events(out[2])[0] == [] and kd.events(out[3])[0] == []


def test_zero_size_and_drawdown_refusals_are_events(drv):
    out = drv.session(
        "kernel fees=0 max_dd=10",
        flat(0, 100.0, entry=True, mult=0.0),
        flat(1, 100.0, entry=True),
        flat(2, 80.0, exit=True),
        flat(3, 80.0, entry=True),
        "account")
    assert kd.events(out[1])[0] == [["entry_rejected", "0", "ZeroSize"]]
    assert kd.events(out[4])[0] == [["entry_rejected", "3", "DrawdownHalt"]]
    assert out[5].split()[3:] == ["1", "2"]


def test_finish_without_bars_closes_nothing(drv):
    out = drv.session("kernel", "finish")
    trades, (count, end_value, bars) = kd.trades(out[1])
    assert (trades, count, kd.f(end_value), bars) == ([], "0", 100000.0, "0")


# ---- the signal processor ------------------------------------------------------------------

@pytest.mark.parametrize("accumulate, units, entries, exits, want_e, want_x", [
    (0, 1, "1101000", "0110101", "1001000", "0010100"),
    (0, 5, "1111", "0000", "1000", "0000"),
    (0, 1, "0000", "1111", "0000", "0000"),
    (1, 2, "1110010", "0001101", "1100010", "0001101"),
    (1, 3, "1111000", "0000111", "1110000", "0000111"),
    (1, 1, "1101", "0110", "1001", "0010"),
])
def test_signal_processor(drv, accumulate, units, entries, exits, want_e, want_x):
    (out,) = drv.session(f"process {accumulate} {units} {entries} {exits}")
    assert out.split() == [want_e, want_x]


def test_signal_processor_lengths(drv):
    (out,) = drv.session("process 0 1 101 10")
    assert out == ("error assertion `left == right` failed: Entry and exit arrays must have "
                   "same length/  left: 3/ right: 2")
