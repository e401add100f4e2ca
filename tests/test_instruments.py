"""InstrumentSpec: the six static constructors, validation order and messages, properties,
setters, repr; and the quantity/price grids, lot and multiplier selection, margin rates and
settlement price the kernel applies with a specification."""

import inspect
import math

import pytest

import quillon as q
from native import probe as native
from reference import grids as ref

S = q.InstrumentSpec
T = 1_700_000_000_000_000_000  # an expiry instant in ns


@pytest.fixture(scope="module")
def probe(tmp_path_factory):
    return native.build(tmp_path_factory.mktemp("probe"))


# ---- constructors --------------------------------------------------------------------------

SIGNATURES = {
    "equity": ("symbol, price_increment=0.0, lot_size=1.0, size_increment=0.0, margin_init=0.0, "
               "margin_maint=0.0, maker_fee=0.0, taker_fee=0.0", "A cash equity / spot instrument."),
    "currency_pair": ("symbol, price_increment=0.0, size_increment=0.0, lot_size=1.0, "
                      "margin_init=0.0, margin_maint=0.0, maker_fee=0.0, taker_fee=0.0",
                      "A spot currency pair."),
    "futures_contract": ("symbol, expiration_ns, lot_size, multiplier=1.0, price_increment=0.0, "
                         "underlying=None, activation_ns=None, margin_init=0.0, margin_maint=0.0, "
                         "maker_fee=0.0, taker_fee=0.0", "A dated futures contract."),
    "perpetual": ("symbol, lot_size=1.0, multiplier=1.0, price_increment=0.0, size_increment=0.0, "
                  "underlying=None, margin_init=0.0, margin_maint=0.0, maker_fee=0.0, taker_fee=0.0",
                  "A perpetual contract (dated future without expiry)."),
    "option": ("symbol, strike, right, expiration_ns, lot_size, multiplier=1.0, price_increment=0.0, "
               "underlying=None, binary=False, activation_ns=None, margin_init=0.0, margin_maint=0.0, "
               "maker_fee=0.0, taker_fee=0.0", "A vanilla or binary option contract."),
    "index": ("symbol, price_increment=0.0", "A non-tradable reference index."),
}


@pytest.mark.parametrize("name", SIGNATURES)
def test_constructor_signatures_and_docstrings(name):
    fn = getattr(S, name)
    params, doc = SIGNATURES[name]
    assert fn.__text_signature__ == f"({params})"
    assert fn.__doc__ == doc
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in inspect.signature(fn).parameters.values())


def test_class_has_no_constructor():
    assert S.__doc__ == "Python-exposed instrument market definition."
    with pytest.raises(TypeError) as info:
        S()
    assert str(info.value) == "No constructor defined"
    with pytest.raises(TypeError) as info:
        S("X")
    assert str(info.value) == "No constructor defined"


FIELDS = ("symbol", "kind", "tradable", "price_increment", "size_increment", "lot_size",
          "multiplier", "margin_init", "margin_maint", "maker_fee", "taker_fee", "settlement_fee",
          "activation_ns", "expiration_ns", "strike", "right", "underlying")

BUILT = [
    pytest.param(lambda: S.equity("RELIANCE"),
                 ("RELIANCE", "cash", True, 0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                  None, None, None, None, None), id="equity-defaults"),
    pytest.param(lambda: S.equity("A", 0.05, 10, 1, 0.2, 0.1, 0.0002, 0.0003),
                 ("A", "cash", True, 0.05, 1.0, 10.0, 1.0, 0.2, 0.1, 0.0002, 0.0003, 0.0,
                  None, None, None, None, None), id="equity-positional"),
    pytest.param(lambda: S.currency_pair("USDINR", 0.0025, 1000, 2),
                 ("USDINR", "currency_pair", True, 0.0025, 1000.0, 2.0, 1.0, 0.0, 0.0, 0.0, 0.0,
                  0.0, None, None, None, None, None), id="currency-pair-order"),
    pytest.param(lambda: S.futures_contract("NIFTYFUT", T, 50, underlying="NIFTY",
                                            activation_ns=T - 1, multiplier=2.0),
                 ("NIFTYFUT", "contract", True, 0.0, 0.0, 50.0, 2.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                  T - 1, T, None, None, "NIFTY"), id="futures"),
    pytest.param(lambda: S.futures_contract("F", -5, 1.0),
                 ("F", "contract", True, 0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                  None, -5, None, None, None), id="futures-no-underlying"),
    pytest.param(lambda: S.perpetual("BTCPERP", size_increment=0.001, margin_init=0.1),
                 ("BTCPERP", "contract", True, 0.0, 0.001, 1.0, 1.0, 0.1, 0.0, 0.0, 0.0, 0.0,
                  None, None, None, None, None), id="perpetual"),
    pytest.param(lambda: S.option("NIFTY24CE", 22000, "CE", T, 50.0, underlying="NIFTY",
                                  binary=True, price_increment=0.05),
                 ("NIFTY24CE", "option", True, 0.05, 0.0, 50.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                  None, T, 22000.0, "call", "NIFTY"), id="option"),
    pytest.param(lambda: S.index("NIFTY 50", 0.05),
                 ("NIFTY 50", "index", False, 0.05, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                  None, None, None, None, None), id="index"),
]


@pytest.mark.parametrize("make, expected", BUILT)
def test_constructed_fields(make, expected):
    spec = make()
    got = tuple(getattr(spec, f) for f in FIELDS)
    assert got == expected
    assert [type(v) for v in got] == [type(v) for v in expected]


def test_settlement_fee_starts_at_zero_and_is_settable():
    spec = S.futures_contract("F", T, 1.0)
    spec.settlement_fee = 0.0005
    assert spec.settlement_fee == 0.0005
    spec.settlement_fee = 3  # any float, no check
    assert spec.settlement_fee == 3.0 and type(spec.settlement_fee) is float
    with pytest.raises(TypeError) as info:
        spec.settlement_fee = "0.1"
    assert str(info.value).startswith("argument 'settlement_fee': ")


def test_expiration_is_settable_without_validation():
    spec = S.futures_contract("F", T, 1.0, activation_ns=T - 10)
    spec.expiration_ns = T - 20  # before activation: accepted
    assert spec.expiration_ns == T - 20
    spec.expiration_ns = None
    assert spec.expiration_ns is None
    eq = S.equity("A")
    eq.expiration_ns = 5
    assert eq.expiration_ns == 5
    with pytest.raises(TypeError) as info:
        eq.expiration_ns = 5.0
    assert str(info.value).startswith("argument 'expiration_ns': ")
    with pytest.raises(OverflowError):
        eq.expiration_ns = 2**63


@pytest.mark.parametrize("name", ["symbol", "kind", "tradable", "lot_size", "multiplier",
                                  "price_increment", "activation_ns", "strike", "right",
                                  "underlying", "maker_fee"])
def test_other_properties_are_read_only(name):
    spec = S.option("X", 100.0, "c", T, 1.0)
    with pytest.raises(AttributeError):
        setattr(spec, name, getattr(spec, name))


@pytest.mark.parametrize("name", FIELDS)
def test_properties_cannot_be_deleted(name):
    spec = S.equity("A")
    with pytest.raises(AttributeError) as info:
        delattr(spec, name)
    assert str(info.value) == "can't delete attribute"


DOCS = {
    "kind": 'Instrument family: "cash", "currency_pair", "contract", "option", "index".',
    "tradable": "Whether orders may be placed on this instrument.",
    "settlement_fee": "Fee fraction charged on settlement at expiry.",
    "strike": "Option strike, or None for non-options.",
    "right": '"call"/"put" for options, None otherwise.',
    "underlying": "Underlying symbol for derivatives, None otherwise.",
}


@pytest.mark.parametrize("name", DOCS)
def test_property_docstrings(name):
    assert getattr(S, name).__doc__ == DOCS[name]


@pytest.mark.parametrize("spec, text", [
    (lambda: S.equity("RELIANCE"), "InstrumentSpec(symbol=RELIANCE, kind=cash, lot_size=1, multiplier=1)"),
    (lambda: S.futures_contract("NIFTY FUT", T, 50), "InstrumentSpec(symbol=NIFTY FUT, kind=contract, lot_size=50, multiplier=1)"),
    (lambda: S.option("X", 1.0, "p", T, 0.5, multiplier=2.5), "InstrumentSpec(symbol=X, kind=option, lot_size=0.5, multiplier=2.5)"),
    (lambda: S.currency_pair("EUR/USD", lot_size=0.1), "InstrumentSpec(symbol=EUR/USD, kind=currency_pair, lot_size=0.1, multiplier=1)"),
    (lambda: S.perpetual('"q"', multiplier=1e16), 'InstrumentSpec(symbol="q", kind=contract, lot_size=1, multiplier=10000000000000000)'),
    (lambda: S.index("I"), "InstrumentSpec(symbol=I, kind=index, lot_size=1, multiplier=1)"),
])
def test_repr(spec, text):
    assert repr(spec()) == text


def test_only_an_index_is_not_tradable():
    specs = [S.equity("A"), S.currency_pair("B"), S.futures_contract("C", T, 1.0), S.perpetual("D"),
             S.option("E", 1.0, "call", T, 1.0), S.index("F")]
    assert [s.tradable for s in specs] == [True, True, True, True, True, False]


# ---- option rights ---------------------------------------------------------------------------

@pytest.mark.parametrize("code, right", [
    ("call", "call"), ("c", "call"), ("ce", "call"), ("CE", "call"), ("Call", "call"), ("C", "call"),
    ("cE", "call"), ("put", "put"), ("p", "put"), ("pe", "put"), ("Put", "put"), ("P", "put"),
    ("PE", "put"), ("PUT", "put"),
])
def test_option_right_codes(code, right):
    spec = S.option("X", 100.0, code, T, 50.0)
    assert spec.right == right


@pytest.mark.parametrize("code, shown", [
    ("calls", "calls"), ("CALLS", "calls"), ("", ""), (" ce", " ce"), ("pe ", "pe "), ("x", "x"),
    ("PUTS", "puts"), ("CÉ", "cÉ"), ("ca ll", "ca ll"),
])
def test_option_right_refused(code, shown):
    with pytest.raises(ValueError) as info:
        S.option("X", 100.0, code, T, 50.0)
    assert str(info.value) == f"right must be 'call' or 'put', got {shown}"


# ---- validation order ------------------------------------------------------------------------

RIGHT = "right must be 'call' or 'put', got bad"
STRIKE = "strike must be > 0"
INCREMENTS = "increments and lot_size must be >= 0"
MULTIPLIER = "multiplier must be > 0"
WINDOW = "expiration_ns must be after activation_ns"
NAN = float("nan")

VALIDATION = [
    # option: right, then strike, then the common checks in their order
    pytest.param(lambda: S.option("X", -1.0, "bad", T, -1.0, multiplier=0.0), RIGHT, id="option-right-first"),
    pytest.param(lambda: S.option("X", 0.0, "ce", T, -1.0, multiplier=0.0), STRIKE, id="option-strike-second"),
    pytest.param(lambda: S.option("X", -5.0, "pe", T, 1.0), STRIKE, id="option-negative-strike"),
    pytest.param(lambda: S.option("X", NAN, "pe", T, 1.0), STRIKE, id="option-nan-strike"),
    pytest.param(lambda: S.option("X", 1.0, "ce", T, -1.0, multiplier=0.0, activation_ns=T), INCREMENTS, id="option-increments-third"),
    pytest.param(lambda: S.option("X", 1.0, "ce", T, 1.0, multiplier=0.0, activation_ns=T), MULTIPLIER, id="option-multiplier-fourth"),
    pytest.param(lambda: S.option("X", 1.0, "ce", T, 1.0, activation_ns=T + 1), WINDOW, id="option-window-last"),
    # common checks
    pytest.param(lambda: S.equity("A", price_increment=-0.05), INCREMENTS, id="equity-price-increment"),
    pytest.param(lambda: S.equity("A", size_increment=-1.0), INCREMENTS, id="equity-size-increment"),
    pytest.param(lambda: S.equity("A", lot_size=-1.0), INCREMENTS, id="equity-lot-size"),
    pytest.param(lambda: S.currency_pair("A", size_increment=-0.01), INCREMENTS, id="pair-size-increment"),
    pytest.param(lambda: S.perpetual("A", size_increment=-1.0, multiplier=0.0), INCREMENTS, id="perpetual-increments-first"),
    pytest.param(lambda: S.perpetual("A", multiplier=-2.0), MULTIPLIER, id="perpetual-negative-multiplier"),
    pytest.param(lambda: S.futures_contract("F", T, -50.0, multiplier=0.0, activation_ns=T), INCREMENTS, id="futures-increments-first"),
    pytest.param(lambda: S.futures_contract("F", T, 50.0, multiplier=0.0, activation_ns=T), MULTIPLIER, id="futures-multiplier-before-window"),
    pytest.param(lambda: S.futures_contract("F", expiration_ns=100, lot_size=1.0, activation_ns=100), WINDOW, id="futures-equal-instants"),
    pytest.param(lambda: S.futures_contract("F", expiration_ns=100, lot_size=1.0, activation_ns=101), WINDOW, id="futures-activation-after"),
    # NaN is not ">= 0" nor "> 0": refused rather than silently switching a grid off
    pytest.param(lambda: S.equity("A", price_increment=NAN), INCREMENTS, id="nan-price-increment"),
    pytest.param(lambda: S.perpetual("A", lot_size=NAN), INCREMENTS, id="nan-lot-size"),
    pytest.param(lambda: S.perpetual("A", multiplier=NAN), MULTIPLIER, id="nan-multiplier"),
    # index has a single check of its own
    pytest.param(lambda: S.index("I", -0.01), "price_increment must be >= 0", id="index-negative"),
    pytest.param(lambda: S.index("I", NAN), "price_increment must be >= 0", id="index-nan"),
]


@pytest.mark.parametrize("make, message", VALIDATION)
def test_validation_order_and_messages(make, message):
    with pytest.raises(ValueError) as info:
        make()
    assert str(info.value) == message


@pytest.mark.parametrize("make", [
    lambda: S.futures_contract("F", expiration_ns=100, lot_size=1.0, activation_ns=99),
    lambda: S.futures_contract("F", expiration_ns=100, lot_size=1.0),
    lambda: S.option("X", 1e-300, "c", -(2**63), 0.0, activation_ns=None),
    lambda: S.equity("A", price_increment=0.0, size_increment=0.0, lot_size=0.0),
    lambda: S.equity("A", price_increment=math.inf),
    lambda: S.index("I", 0.0),
], ids=["activation-before", "no-activation", "tiny-strike", "all-zero", "infinite-tick", "index-zero"])
def test_valid_edges(make):
    make()


@pytest.mark.parametrize("make", [
    lambda lot: S.equity("A", lot_size=lot),
    lambda lot: S.currency_pair("A", lot_size=lot),
    lambda lot: S.futures_contract("F", T, lot),
    lambda lot: S.perpetual("P", lot_size=lot),
    lambda lot: S.option("O", 1.0, "c", T, lot),
], ids=["equity", "currency_pair", "futures", "perpetual", "option"])
def test_zero_lot_size_is_stored_as_one(make):
    assert make(0.0).lot_size == 1.0
    assert make(-0.0).lot_size == 1.0
    assert make(0.25).lot_size == 0.25


CONVERSIONS = [
    pytest.param(lambda: S.option("X", -1.0, "bad", "soon", 1.0), "expiration_ns", id="converted-before-validated"),
    pytest.param(lambda: S.option("X", "100", "ce", T, 1.0), "strike", id="strike"),
    pytest.param(lambda: S.option("X", 100.0, 1, T, 1.0), "right", id="right"),
    pytest.param(lambda: S.option("X", 100.0, "c", T, 1.0, binary=1), "binary", id="binary-strict-bool"),
    pytest.param(lambda: S.option("X", 100.0, "c", T, 1.0, underlying=5), "underlying", id="underlying"),
    pytest.param(lambda: S.futures_contract("F", T, 1.0, activation_ns=1.5), "activation_ns", id="activation"),
    pytest.param(lambda: S.equity(None), "symbol", id="symbol"),
    pytest.param(lambda: S.equity("A", lot_size="1"), "lot_size", id="lot-size"),
    pytest.param(lambda: S.index(b"I"), "symbol", id="index-symbol"),
    pytest.param(lambda: S.perpetual("P", taker_fee=[0.1]), "taker_fee", id="taker-fee"),
]


@pytest.mark.parametrize("make, argument", CONVERSIONS)
def test_conversion_failures_name_the_argument(make, argument):
    with pytest.raises(TypeError) as info:
        make()
    assert str(info.value).startswith(f"argument '{argument}': ")


def test_integer_instants_overflow():
    with pytest.raises(OverflowError):
        S.futures_contract("F", 2**63, 1.0)
    with pytest.raises(OverflowError):
        S.option("X", 1.0, "c", T, 1.0, activation_ns=-(2**63) - 1)


def test_missing_required_arguments():
    with pytest.raises(TypeError) as info:
        S.option("X", 100.0, "ce", T)
    assert "lot_size" in str(info.value)
    with pytest.raises(TypeError):
        S.futures_contract("F", T)


# ---- grids, lots, multiplier, margins, settlement (core rules) --------------------------------

def hexes(values):
    return [native.num(v) for v in values]


@pytest.mark.parametrize("quantity, increment, expected", [
    (12.3000000001, 0.1, 12.3),  # within tolerance of the grid: kept, not floored to 12.2
    (12.37, 0.1, 12.3),
    (12.3, 0.1, 12.3),
    (12.29999999, 0.1, 12.3),    # 1e-7 steps below 123 steps: inside 123 × 1e-9 steps
    (12.2999999, 0.1, 12.2),     # 1e-6 steps below: outside tolerance, floored
    (0.3, 0.1, 0.30000000000000004),  # 3 × 0.1, the grid point itself
    (999.000999000999, 1.0, 999.0),
    (7.0, 0.0, 7.0),             # no grid
    (7.0, -1.0, 7.0),
    (0.05, 0.1, 0.0),
    (1e-12, 0.1, 0.0),
    (2.5, 1.0, 2.0),
])
def test_quantity_grid(probe, quantity, increment, expected):
    got = float.fromhex(probe.one("snapq", native.num(quantity), native.num(increment)))
    assert got == ref.snap_quantity(quantity, increment)
    assert got == pytest.approx(expected, abs=1e-12)


QUANTITY_SWEEP = [(q_ / 7.0, inc) for q_ in range(0, 4000, 37) for inc in (0.1, 0.01, 0.25, 1.0, 3.0)]
QUANTITY_SWEEP += [(k * inc * (1 + d), inc) for k in (1, 123, 10**6) for inc in (0.1, 0.001)
                   for d in (1e-10, -1e-10, 2e-9, -2e-9, 0.0)]


def test_quantity_grid_sweep_matches_reference(probe):
    answers = probe.ask(*[("snapq", native.num(a), native.num(b)) for a, b in QUANTITY_SWEEP])
    assert [float.fromhex(x) for x in answers] == [ref.snap_quantity(a, b) for a, b in QUANTITY_SWEEP]


@pytest.mark.parametrize("quantity, lot, increment", [
    (999.000999000999, 75.0, 0.0),  # 975: whole lots of 75
    (999.0, 0.0, 0.0),
    (1000.0, 75.0, 0.0),
    (130.0, 25.0, 10.0),             # 125 whole lots, then the 10-step floor: 120
    (74.9, 75.0, 0.0),               # less than a lot: 0 (refused later as ZeroSize)
    (12.37, 1.5, 0.1),
])
def test_entry_quantity_floors_lots_then_snaps(probe, quantity, lot, increment):
    got = float.fromhex(probe.one("entryq", *hexes([quantity, lot, increment])))
    assert got == ref.entry_quantity(quantity, lot, increment)


def test_entry_quantity_example():
    assert ref.entry_quantity(100000 / (100 * 1.001), 75.0, 0.0) == 975.0


@pytest.mark.parametrize("level, increment, direction, expected", [
    (101.23, 0.05, 1, 101.2),    # long: off-grid levels move down
    (101.23, 0.05, -1, 101.25),  # short: up
    (101.25, 0.05, 1, 101.25),   # on the grid either way
    (101.25, 0.05, -1, 101.25),
    (95.0000000001, 0.05, -1, 95.0),  # binary noise stays on the grid point, even short
    (94.9999999999, 0.05, 1, 95.0),
    (0.07, 0.05, -1, 0.1),
    (101.23, 0.0, 1, 101.23),    # no grid
    (-0.07, 0.05, 1, -0.1),
])
def test_price_grid(probe, level, increment, direction, expected):
    got = float.fromhex(probe.one("snapp", native.num(level), native.num(increment), direction))
    assert got == ref.snap_price(level, increment, direction)
    assert got == pytest.approx(expected, abs=1e-12)


def test_price_grid_sweep_matches_reference(probe):
    cases = [(95.0 + i * 0.0137, inc, d) for i in range(300) for inc in (0.05, 0.01, 0.25, 5.0)
             for d in (1, -1)]
    answers = probe.ask(*[("snapp", native.num(a), native.num(b), d) for a, b, d in cases])
    assert [float.fromhex(x) for x in answers] == [ref.snap_price(a, b, d) for a, b, d in cases]


@pytest.mark.parametrize("margin_init, margin_maint, leverage", [
    (0.0, 0.0, 1.0),    # fully funded: initial 1, no maintenance requirement
    (0.0, 0.0, 5.0),    # 0.2 initial, 0.1 maintenance
    (0.0, 0.0, 0.5),    # leverage below 1 counts as 1
    (0.12, 0.0, 5.0),   # explicit initial, maintenance half of it
    (0.12, 0.09, 5.0),  # explicit both
    (0.0, 0.09, 1.0),   # explicit maintenance even when fully funded
    (1.5, 0.0, 10.0),   # an initial rate above 1: no maintenance requirement
    (-0.1, -0.1, 4.0),  # non-positive rates mean "derive"
    (0.0, 0.0, float("nan")),
])
def test_margin_rates(probe, margin_init, margin_maint, leverage):
    init, maint = probe.one("margin", *hexes([margin_init, margin_maint, leverage])).split("\t")
    assert float.fromhex(init) == ref.initial_margin_rate(margin_init, leverage)
    expected = ref.maintenance_margin_rate(margin_init, margin_maint, leverage)
    assert (None if maint == "none" else float.fromhex(maint)) == expected


@pytest.mark.parametrize("leverage", [1.0, 4.0])
def test_margin_rates_without_a_specification(probe, leverage):
    init, maint = probe.one("margin", "nospec", native.num(leverage)).split("\t")
    assert float.fromhex(init) == ref.initial_margin_rate(None, leverage)
    assert (None if maint == "none" else float.fromhex(maint)) == ref.maintenance_margin_rate(None, None, leverage)


@pytest.mark.parametrize("ic_lot, spec_lot, expected", [
    ("none", "nospec", None),
    ("none", 50.0, 50.0),
    ("none", 1.0, None),       # 1 means "no lots"
    (25.0, 50.0, 25.0),        # the InstrumentConfig's lot size wins
    (0.0, 50.0, 0.0),          # even a zero one (no flooring then)
    ("none", 0.5, 0.5),
])
def test_entry_lot_size_selection(probe, ic_lot, spec_lot, expected):
    args = [ic_lot if ic_lot == "none" else native.num(ic_lot),
            spec_lot if spec_lot == "nospec" else native.num(spec_lot)]
    got = probe.one("lot", *args)
    assert (None if got == "none" else float.fromhex(got)) == expected


@pytest.mark.parametrize("multiplier, expected", [("nospec", 1.0), (2.5, 2.5), (0.0, 1.0), (-3.0, 1.0)])
def test_contract_multiplier(probe, multiplier, expected):
    arg = multiplier if multiplier == "nospec" else native.num(multiplier)
    assert float.fromhex(probe.one("multiplier", arg)) == expected


@pytest.mark.parametrize("kind, binary, strike, close, underlying, expected", [
    ("call", 0, 100.0, 7.0, 120.0, 20.0),
    ("call", 0, 100.0, 7.0, 90.0, 0.0),
    ("call", 1, 100.0, 7.0, 100.5, 1.0),
    ("call", 1, 100.0, 7.0, 100.0, 0.0),   # at the money: intrinsic 0, a binary pays 0
    ("call", 0, 100.0, 7.0, None, 7.0),    # no underlying price: the bar's close
    ("put", 0, 100.0, 7.0, 90.0, 10.0),
    ("put", 0, 100.0, 7.0, 120.0, 0.0),
    ("put", 1, 100.0, 7.0, 99.0, 1.0),
    ("contract", 0, 0.0, 7.0, 120.0, 7.0), # not an option: always the close
])
def test_settlement_price(probe, kind, binary, strike, close, underlying, expected):
    got = probe.one("settle", kind, binary, native.num(strike), native.num(close),
                    "none" if underlying is None else native.num(underlying))
    assert float.fromhex(got) == expected
