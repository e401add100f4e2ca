"""Fee model: fee_segment resolution, the itemised and flat leg cost, the worked example,
and the indian_cost_schedule export."""

import pytest

import quillon as q
from native import probe as native
from reference import fees as ref

UNKNOWN_SEGMENT = (
    "unknown segment '{}'; expected one of equity_delivery, equity_intraday, futures_nfo, "
    "options_nfo, futures_mcx, options_mcx, futures_cds, options_cds"
)


@pytest.fixture(scope="module")
def probe(tmp_path_factory):
    return native.build(tmp_path_factory.mktemp("probe"))


def leg(probe, model, side, price, quantity, *multiplier):
    fields = probe.one("leg", model, side, native.num(price), native.num(quantity),
                       *map(native.num, multiplier)).split("\t")
    kind, values = fields[0], [float.fromhex(v) for v in fields[1:]]
    return kind, dict(zip([*ref.COMPONENTS, "total"], values))


# ---- fee_segment resolution ------------------------------------------------------------

SEGMENT_CASES = [
    ("NSE", "equity_intraday"),
    ("nse", "equity_intraday"),
    ("BSE", "equity_intraday"),
    ("NSE-FUT", "equity_intraday"),
    ("NSE-OPT", "equity_intraday"),
    ("nse-intraday", "equity_intraday"),
    ("NSE-DELIVERY", "equity_delivery"),
    ("bse-Delivery", "equity_delivery"),
    ("NFO", "futures_nfo"),
    ("NFO-FUT", "futures_nfo"),
    ("NFO-", "futures_nfo"),  # trailing dash: empty product, read as futures
    ("NFO-DELIVERY", "futures_nfo"),
    ("NFO-OPT", "options_nfo"),
    ("NFO-CE", "options_nfo"),
    ("nfo-pe", "options_nfo"),
    ("BFO-OPT", "options_nfo"),
    ("BFO", "futures_nfo"),
    ("MCX", "futures_mcx"),
    ("MCX-FUT", "futures_mcx"),
    ("mcx-opt", "options_mcx"),
    ("CDS", "futures_cds"),
    ("CDS-OPT", "options_cds"),
    ("BCD", "futures_cds"),
    ("BCD-PE", "options_cds"),
    ("NFO-OPT-X", "futures_nfo"),  # split at the first dash: product "OPT-X" is not an option
    # Unknown exchanges fall back to the flat fraction silently.
    ("NSEX", "flat"),
    ("LSE-FUT", "flat"),
    ("", "flat"),
    ("-OPT", "flat"),
    (" NSE", "flat"),
    ("NS", "flat"),
    ("equity_intraday", "flat"),  # segment names are not exchange codes
]


@pytest.mark.parametrize("text, expected", SEGMENT_CASES, ids=[repr(c[0]) for c in SEGMENT_CASES])
def test_fee_segment_resolution(probe, text, expected):
    got = probe.one("segment", native.text(text))
    if expected == "flat":
        kind, _, rate = got.partition(":")
        assert (kind, float.fromhex(rate)) == ("flat", 0.001)
    else:
        assert got == expected


# ---- leg cost ---------------------------------------------------------------------------

def test_worked_example_intraday_round_trip(probe):
    # Hand figures of the equity_intraday example: buy 100 at 500, sell 100 at 510.
    kind, buy = leg(probe, "equity_intraday", "buy", 500.0, 100.0)
    _, sell = leg(probe, "equity_intraday", "sell", 510.0, 100.0)
    assert kind == "itemised"
    hand_buy = dict(brokerage=15.0, stt=0.0, exchange_txn=1.535, sebi_fee=0.05, stamp_duty=1.5,
                    gst=2.9853, total=21.0703)
    hand_sell = dict(brokerage=15.3, stt=12.75, exchange_txn=1.5657, sebi_fee=0.051,
                     stamp_duty=0.0, gst=3.045006, total=32.711706)
    # Binary doubles cannot hold these decimals; the engine is exact against the reference
    # below and agrees with the hand figures to far below a paisa.
    for got, hand in ((buy, hand_buy), (sell, hand_sell)):
        for key, value in hand.items():
            assert got[key] == pytest.approx(value, abs=1e-12), key
    assert buy == ref.itemised_leg("equity_intraday", "buy", 500.0, 100.0)
    assert sell == ref.itemised_leg("equity_intraday", "sell", 510.0, 100.0)

    fields = probe.one("trade", "equity_intraday", native.num(500.0), native.num(510.0),
                       native.num(100.0)).split("\t")
    trade = dict(zip([*ref.COMPONENTS, "total"], map(float.fromhex, fields)))
    hand_trade = dict(brokerage=30.3, stt=12.75, exchange_txn=3.1007, sebi_fee=0.101,
                      stamp_duty=1.5, gst=6.030306, total=53.782006)
    for key, value in hand_trade.items():
        assert trade[key] == pytest.approx(value, abs=1e-12), key
    assert trade == ref.add_legs(ref.itemised_leg("equity_intraday", "buy", 500.0, 100.0),
                                 ref.itemised_leg("equity_intraday", "sell", 510.0, 100.0))


def test_worked_example_options_sell(probe):
    _, sell = leg(probe, "options_nfo", "sell", 120.0, 50.0)
    hand = dict(brokerage=20.0, stt=9.0, exchange_txn=2.1318, sebi_fee=0.006, stamp_duty=0.0,
                gst=3.984804, total=35.122604)
    for key, value in hand.items():
        assert sell[key] == pytest.approx(value, abs=1e-12), key
    assert sell == ref.itemised_leg("options_nfo", "sell", 120.0, 50.0)


# Prices, quantities and notionals chosen around the brokerage cap (20 / 0.0003 = 66,666.67),
# tiny and huge notionals, negative quantities (short legs pass signed sizes) and
# non-representable decimals.
LEGS = [
    (price, qty)
    for price, qty in [
        (500.0, 100.0), (510.0, 100.0), (120.0, 50.0), (1000.0, 100.0), (1000.0, 50.0),
        (666.6666666, 100.0), (1.0, 1.0), (0.05, 1.0), (19999.95, 75.0), (123.45, -7.0),
        (0.1, 0.3), (2.5e6, 1e4), (0.0, 10.0),
    ]
]


@pytest.mark.parametrize("segment", ref.SEGMENTS)
@pytest.mark.parametrize("side", ["buy", "sell"])
def test_itemised_leg_matches_reference(probe, segment, side):
    answers = probe.ask(*[("leg", segment, side, native.num(p), native.num(q_)) for p, q_ in LEGS])
    for (p, q_), answer in zip(LEGS, answers):
        fields = answer.split("\t")
        got = dict(zip([*ref.COMPONENTS, "total"], map(float.fromhex, fields[1:])))
        assert fields[0] == "itemised"
        assert got == ref.itemised_leg(segment, side, p, q_), (p, q_)


@pytest.mark.parametrize("notional, brokerage", [
    (100_000.0, 20.0),   # capped
    (50_000.0, 15.0),    # 0.0003 of notional (the product 0.0003 * 50000 itself)
    (66_000.0, 0.0003 * 66_000.0),
    (70_000.0, 20.0),
])
def test_futures_brokerage_is_capped_at_twenty(probe, notional, brokerage):
    _, got = leg(probe, "futures_nfo", "buy", notional, 1.0)
    assert got["brokerage"] == pytest.approx(brokerage, abs=1e-12)
    assert got["brokerage"] <= 20.0


@pytest.mark.parametrize("segment", ["options_nfo", "options_mcx", "options_cds"])
@pytest.mark.parametrize("side", ["buy", "sell"])
def test_options_pay_flat_brokerage_whatever_the_notional(probe, segment, side):
    assert leg(probe, segment, side, 1.0, 1.0)[1]["brokerage"] == 20.0


def test_equity_delivery_rules(probe):
    _, buy = leg(probe, "equity_delivery", "buy", 500.0, 100.0)
    _, sell = leg(probe, "equity_delivery", "sell", 500.0, 100.0)
    assert buy["brokerage"] == sell["brokerage"] == 0.0
    assert buy["stt"] == sell["stt"] == 0.001 * 50_000.0  # on both legs
    assert buy["stamp_duty"] == 0.00015 * 50_000.0 and sell["stamp_duty"] == 0.0


@pytest.mark.parametrize("segment", ["futures_cds", "options_cds"])
def test_currency_segments_charge_no_stt(probe, segment):
    assert leg(probe, segment, "sell", 80.0, 1000.0)[1]["stt"] == 0.0


def test_stt_on_sell_and_stamp_duty_on_buy_only(probe):
    _, buy = leg(probe, "futures_mcx", "buy", 5000.0, 10.0)
    _, sell = leg(probe, "futures_mcx", "sell", 5000.0, 10.0)
    assert buy["stt"] == 0.0 and sell["stt"] > 0.0
    assert buy["stamp_duty"] > 0.0 and sell["stamp_duty"] == 0.0


@pytest.mark.parametrize("rate, price, quantity", [
    (0.001, 500.0, 100.0), (0.0, 500.0, 100.0), (0.0025, 123.45, -7.0), (-0.001, 10.0, 3.0),
])
def test_flat_leg_has_no_breakdown(probe, rate, price, quantity):
    for side in ("buy", "sell"):
        kind, got = leg(probe, "flat:" + native.num(rate), side, price, quantity)
        assert kind == "flat"
        assert got["total"] == ref.flat_leg(rate, price, quantity)
        assert all(got[c] == 0.0 for c in ref.COMPONENTS)


@pytest.mark.parametrize("model", ["flat:" + native.num(0.001), "equity_intraday", "options_nfo"],
                         ids=["flat", "equity_intraday", "options_nfo"])
def test_multiplier_scales_the_price_before_the_quantity(probe, model):
    # The kernel hands on fill price × multiplier; N = |q| × (p × m), in that order.
    price, quantity, m = 101.37, 3.0, 0.1
    _, with_m = leg(probe, model, "sell", price, quantity, m)
    _, premultiplied = leg(probe, model, "sell", price * m, quantity)
    assert with_m == premultiplied


def test_nan_price_propagates_to_the_total(probe):
    _, got = leg(probe, "equity_intraday", "sell", float("nan"), 10.0)
    assert got["total"] != got["total"]


# ---- indian_cost_schedule ----------------------------------------------------------------

@pytest.mark.parametrize("segment", ref.SEGMENTS)
def test_cost_schedule_rows(segment):
    got = q.indian_cost_schedule(segment)
    assert type(got) is dict
    assert got == ref.schedule(segment)
    assert all(type(v) is float for v in got.values())


@pytest.mark.parametrize("name, segment", [
    ("Options_NFO", "options_nfo"), ("EQUITY_DELIVERY", "equity_delivery"),
    ("futures_CDS", "futures_cds"),
])
def test_cost_schedule_name_is_case_insensitive(name, segment):
    assert q.indian_cost_schedule(name) == ref.schedule(segment)


def test_cost_schedule_keyword_argument():
    assert q.indian_cost_schedule(segment="options_mcx") == ref.schedule("options_mcx")


def test_cost_schedule_returns_a_new_dict_each_call():
    first = q.indian_cost_schedule("equity_intraday")
    first["gst_rate"] = 99.0
    assert q.indian_cost_schedule("equity_intraday")["gst_rate"] == 0.18


@pytest.mark.parametrize("name, shown", [
    ("nse", "nse"),
    ("NSE", "nse"),            # lower-cased in the message
    ("NFO-OPT", "nfo-opt"),    # exchange codes are not segment names
    ("", ""),
    (" equity_intraday", " equity_intraday"),
    ("ÉQUITY", "Équity"),      # only ASCII letters are lower-cased
])
def test_cost_schedule_unknown_segment(name, shown):
    with pytest.raises(ValueError) as info:
        q.indian_cost_schedule(name)
    assert str(info.value) == UNKNOWN_SEGMENT.format(shown)


@pytest.mark.parametrize("bad", [None, 1, b"nse", ["nse"]])
def test_cost_schedule_refuses_non_strings_naming_the_argument(bad):
    with pytest.raises(TypeError) as info:
        q.indian_cost_schedule(bad)
    assert str(info.value).startswith("argument 'segment': ")


def test_cost_schedule_docstring():
    doc = q.indian_cost_schedule.__doc__
    assert doc.startswith("Export a segment's cost schedule, including the DP sell charge.")
    assert q.indian_cost_schedule.__text_signature__ == "(segment)"
