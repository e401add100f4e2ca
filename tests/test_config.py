"""BacktestConfig, the stop/target descriptors, InstrumentConfig, resolve_atr_period, and the
engine snapshot a run takes of a configuration."""

import inspect
import math

import pytest

import quillon as q
from native import probe as native
from numberlike import Floaty, Index

SQUAREOFF_MESSAGE = (
    'invalid squareoff_time {}; expected 24-hour "HH:MM" local time, e.g. "15:25" for NSE. '
    "Pass None to disable squareoff."
)

# name, default, kind ("float", "bool", "ofloat", "ostr", "ouint", "uint", "int64")
FIELDS = [
    ("initial_capital", 100000.0, "float"),
    ("fees", 0.001, "float"),
    ("slippage", 0.0, "float"),
    ("upon_bar_close", True, "bool"),
    ("apply_slippage", True, "bool"),
    ("periods_per_year", None, "ofloat"),
    ("risk_free_rate", 0.0, "float"),
    ("session_minutes", None, "ofloat"),
    ("fee_segment", None, "ostr"),
    ("max_positions", None, "ouint"),
    ("max_drawdown_pct", None, "ofloat"),
    ("legacy_annualization", False, "bool"),
    ("fill_prob_limit", 1.0, "float"),
    ("fill_prob_slippage", 0.0, "float"),
    ("fill_seed", 0, "uint"),
    ("bar_path_adaptive", False, "bool"),
    ("queue_fill_model", False, "bool"),
    ("session_tz_offset_ns", 0, "int64"),
    ("limit_slippage", 0.0, "float"),
    ("liquidate_on_margin_call", False, "bool"),
]
NAMES = [f[0] for f in FIELDS]

# A value of each kind different from every default, with its exact Python type.
SAMPLE = {"float": 0.25, "bool": None, "ofloat": 252.0, "ostr": "NFO-OPT", "ouint": 3,
          "uint": 2**64 - 1, "int64": -(2**63)}


def sample(name, default, kind):
    return (not default) if kind == "bool" else SAMPLE[kind]





@pytest.fixture(scope="module")
def probe(tmp_path_factory):
    return native.build(tmp_path_factory.mktemp("probe"))


# ---- BacktestConfig: construction and properties -------------------------------------------

def test_defaults():
    c = q.BacktestConfig()
    for name, default, _ in FIELDS:
        got = getattr(c, name)
        assert got == default and type(got) is type(default), name
    assert c.squareoff_time_minutes is None


def test_signature_lists_all_arguments_with_defaults():
    params = list(inspect.signature(q.BacktestConfig).parameters.values())
    assert [p.name for p in params] == NAMES + ["squareoff_time"]
    assert [p.default for p in params] == [f[1] for f in FIELDS] + [None]
    assert q.BacktestConfig.__doc__ == "Python-exposed backtest configuration."


def test_every_argument_positionally():
    values = [sample(*f) for f in FIELDS] + ["9:15"]
    c = q.BacktestConfig(*values)
    for (name, _, _), value in zip(FIELDS, values):
        assert getattr(c, name) == value and type(getattr(c, name)) is type(value), name
    assert c.squareoff_time_minutes == 555


@pytest.mark.parametrize("name, default, kind", FIELDS, ids=NAMES)
def test_every_argument_by_keyword_and_every_property_writable(name, default, kind):
    value = sample(name, default, kind)
    c = q.BacktestConfig(**{name: value})
    assert getattr(c, name) == value
    others = [n for n in NAMES if n != name]
    assert [getattr(c, n) for n in others] == [getattr(q.BacktestConfig(), n) for n in others]
    d = q.BacktestConfig()
    setattr(d, name, value)
    assert getattr(d, name) == value and type(getattr(d, name)) is type(value)


@pytest.mark.parametrize("name", [f[0] for f in FIELDS if f[2].startswith("o")])
def test_optional_fields_read_back_none(name):
    c = q.BacktestConfig(**{name: None})
    assert getattr(c, name) is None
    setattr(c, name, SAMPLE[dict((f[0], f[2]) for f in FIELDS)[name]])
    setattr(c, name, None)
    assert getattr(c, name) is None


@pytest.mark.parametrize("name", [f[0] for f in FIELDS if f[2] == "bool"])
@pytest.mark.parametrize("bad", [1, 0, None, "True", 1.0])
def test_bools_must_be_real_bools(name, bad):
    with pytest.raises(TypeError) as info:
        q.BacktestConfig(**{name: bad})
    assert str(info.value).startswith(f"argument '{name}': ")
    c = q.BacktestConfig()
    with pytest.raises(TypeError) as info:
        setattr(c, name, bad)
    assert str(info.value).startswith(f"argument '{name}': ")


WRONG_TYPES = [
    ("initial_capital", "100"), ("fees", None), ("slippage", [0.1]), ("periods_per_year", "252"),
    ("risk_free_rate", b"0"), ("session_minutes", "375"), ("fee_segment", 1),
    ("fee_segment", b"NSE"), ("max_positions", 1.0), ("max_positions", "3"),
    ("max_drawdown_pct", "10"), ("fill_prob_limit", object()), ("fill_seed", 1.5),
    ("fill_seed", None), ("session_tz_offset_ns", 19800000000000.0),
    ("session_tz_offset_ns", None), ("limit_slippage", "0"), ("squareoff_time", 925),
    ("squareoff_time", b"15:25"),
]


@pytest.mark.parametrize("name, bad", WRONG_TYPES, ids=[f"{n}={b!r}" for n, b in WRONG_TYPES])
def test_wrong_types_name_the_argument(name, bad):
    with pytest.raises(TypeError) as info:
        q.BacktestConfig(**{name: bad})
    assert str(info.value).startswith(f"argument '{name}': ")


def test_conversion_stops_at_the_first_bad_argument():
    with pytest.raises(TypeError) as info:
        q.BacktestConfig("x", "y", upon_bar_close=1)
    assert str(info.value).startswith("argument 'initial_capital': ")


@pytest.mark.parametrize("name, value", [
    ("max_positions", -1), ("fill_seed", -1), ("fill_seed", 2**64), ("max_positions", 2**64),
    ("session_tz_offset_ns", 2**63), ("session_tz_offset_ns", -(2**63) - 1),
])
def test_integer_range_is_an_overflow_not_a_type_error(name, value):
    with pytest.raises(OverflowError) as info:
        q.BacktestConfig(**{name: value})
    assert not str(info.value).startswith("argument")
    with pytest.raises(OverflowError):
        setattr(q.BacktestConfig(), name, value)


def test_numeric_protocols():
    c = q.BacktestConfig(initial_capital=5, fees=Index(0), max_positions=Index(4),
                         fill_seed=True, session_tz_offset_ns=Index(-5), slippage=Floaty())
    assert c.initial_capital == 5.0 and type(c.initial_capital) is float
    assert c.fees == 0.0 and type(c.fees) is float
    assert c.max_positions == 4 and c.fill_seed == 1 and c.session_tz_offset_ns == -5
    assert c.slippage == 2.5


def test_no_range_checks():
    c = q.BacktestConfig(initial_capital=-1.0, fees=2.0, fill_prob_limit=7.0,
                         fill_prob_slippage=-3.0, slippage=float("nan"), max_positions=0,
                         max_drawdown_pct=-5.0, session_minutes=-1.0)
    assert (c.initial_capital, c.fees, c.fill_prob_limit, c.fill_prob_slippage) == (-1.0, 2.0, 7.0, -3.0)
    assert math.isnan(c.slippage) and c.max_positions == 0 and c.max_drawdown_pct == -5.0
    c.max_positions = 0
    assert c.max_positions == 0


def test_ist_offset_constant_fits_the_offset_field():
    assert q.BacktestConfig(session_tz_offset_ns=q.IST_OFFSET_NS).session_tz_offset_ns == q.IST_OFFSET_NS


@pytest.mark.parametrize("name", NAMES + ["squareoff_time_minutes"])
def test_properties_cannot_be_deleted(name):
    c = q.BacktestConfig()
    with pytest.raises(AttributeError) as info:
        delattr(c, name)
    assert str(info.value) == "can't delete attribute"


def test_fixed_attribute_set_and_default_repr():
    c = q.BacktestConfig()
    with pytest.raises(AttributeError):
        c.not_a_field = 1
    assert not hasattr(c, "squareoff_time")  # a constructor argument only
    assert repr(c).startswith("<_quillon.BacktestConfig object at 0x")


def test_squareoff_time_minutes_is_read_only():
    c = q.BacktestConfig(squareoff_time="15:25")
    with pytest.raises(AttributeError):
        c.squareoff_time_minutes = 600
    assert c.squareoff_time_minutes == 925


DOCS = {
    "periods_per_year": "Explicit annualization factor; `None` infers it from bar spacing.",
    "risk_free_rate": "Annual risk-free rate as a fraction.",
    "session_minutes": "Trading minutes per session for intraday annualization.\n\n"
                       "NSE equity 375, MCX 870, CDS 480. `0` marks a 24x7 market.\n"
                       "`None` defaults to NSE.",
    "fee_segment": 'Itemized Indian cost segment, e.g. "NSE", "NFO-OPT", "MCX-FUT".\n\n'
                   "When set, the engine charges the real regulatory schedule instead of\n"
                   "the flat `fees` fraction, and reports the breakdown per trade.",
    "max_positions": "Maximum concurrent open positions. `None` is unlimited.",
    "max_drawdown_pct": "Drawdown percent that halts new entries. `None` disables.",
    "legacy_annualization": "Reproduce pre-0.5.0 annualization constants.",
    "fill_prob_limit": "Probability a marketable resting limit order fills (1.0 = always).",
    "fill_prob_slippage": "Probability a stop/market fill slips one tick against the trader.",
    "fill_seed": "Seed for the stochastic-fill RNG.",
    "bar_path_adaptive": "Infer intra-bar high/low order from candle geometry on stop/target\n"
                         "conflicts; false keeps the legacy stop-first assumption.",
    "queue_fill_model": "Fill resting limits from observed queue position (needs depth data).",
    "session_tz_offset_ns": "Offset for the trading date DAY orders expire on (0 = UTC).",
    "limit_slippage": "Adverse adjustment on limit fills, as a fraction of the limit price.",
    "liquidate_on_margin_call": "Force-close positions on a margin call instead of only halting "
                                "entries.",
    "apply_slippage": "Whether `slippage` is applied to fills. Ignored entirely before 0.5.0.",
    "squareoff_time_minutes": "Squareoff time as minutes from local midnight; `None` disables.\n\n"
                              'Set through the `squareoff_time` "HH:MM" argument, not directly.',
}


@pytest.mark.parametrize("name", DOCS)
def test_property_docstrings(name):
    assert getattr(q.BacktestConfig, name).__doc__ == DOCS[name]


# ---- squareoff_time -----------------------------------------------------------------------

SQUAREOFF_OK = [
    ("15:25", 925), (" 9:05 ", 545), ("09:5", 545), ("+9:05", 545), ("0:00", 0),
    ("23:59", 1439), ("9 : 05", 545), ("\t9:05\n", 545), ("+09:+05", 545),
    ("0009:0005", 545), ("\u00a09:05\u3000", 545),  # Unicode blanks around the text
]
SQUAREOFF_BAD = [
    "24:00", "9", "9:60", "-1:00", "", " ", ":", "9:", ":30", "+:30", "9:-0", "9:5:00",
    "9.05", "nine:05", "9:05pm", "9h05", "4294967296:00", "99999999999999999999:00",
    "15:25\x00", '"15:25"', "１５:２５",  # full-width digits are not decimal ASCII
]


@pytest.mark.parametrize("text, minutes", SQUAREOFF_OK, ids=[repr(c[0]) for c in SQUAREOFF_OK])
def test_squareoff_time_parses(text, minutes):
    c = q.BacktestConfig(squareoff_time=text)
    assert c.squareoff_time_minutes == minutes and type(c.squareoff_time_minutes) is int


@pytest.mark.parametrize("text", SQUAREOFF_BAD, ids=repr)
def test_squareoff_time_refused(text):
    with pytest.raises(ValueError) as info:
        q.BacktestConfig(squareoff_time=text)
    assert str(info.value) == SQUAREOFF_MESSAGE.format(quoted(text))


def quoted(text):
    """The value as a double-quoted literal with backslash escapes."""
    out = '"'
    for ch in text:
        out += {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r",
                "\0": "\\0"}.get(ch, ch)
    return out + '"'


@pytest.mark.parametrize("text, shown", [
    ("24:00", '"24:00"'),
    ("\t24:00", '"\\t24:00"'),
    ('1"2', '"1\\"2"'),
    ("a\\b", '"a\\\\b"'),
    ("\x07", '"\\u{7}"'),
    ("25:00\u200b", '"25:00\\u{200b}"'),
    ("heure:é", '"heure:é"'),
])
def test_squareoff_message_quotes_with_escapes(text, shown):
    with pytest.raises(ValueError) as info:
        q.BacktestConfig(squareoff_time=text)
    assert str(info.value) == SQUAREOFF_MESSAGE.format(shown)
    assert str(info.value).startswith(f"invalid squareoff_time {shown};")


def test_squareoff_none_disables():
    assert q.BacktestConfig(squareoff_time=None).squareoff_time_minutes is None


# ---- the six stop/target setters ----------------------------------------------------------

SETTERS = [
    ("set_fixed_stop", ["percent"], "Set fixed percentage stop-loss."),
    ("set_atr_stop", ["multiplier", "period"], "Set ATR-based stop-loss."),
    ("set_trailing_stop", ["percent"], "Set trailing stop-loss."),
    ("set_fixed_target", ["percent"], "Set fixed percentage take-profit."),
    ("set_atr_target", ["multiplier", "period"], "Set ATR-based take-profit."),
    ("set_risk_reward_target", ["ratio"], "Set risk-reward based take-profit."),
]


@pytest.mark.parametrize("cls, suffix", [(q.BacktestConfig, ""), (q.InstrumentConfig, " override")])
@pytest.mark.parametrize("name, params, doc", SETTERS, ids=[s[0] for s in SETTERS])
def test_setter_signatures_and_docstrings(cls, suffix, name, params, doc):
    method = getattr(cls, name)
    assert method.__doc__ == doc[:-1] + suffix + "."
    assert list(inspect.signature(method).parameters) == ["self"] + params
    obj = cls()
    args = [2.0, 14][: len(params)]
    assert getattr(obj, name)(*args) is None
    assert getattr(obj, name)(**dict(zip(params, args))) is None


@pytest.mark.parametrize("cls", [q.BacktestConfig, q.InstrumentConfig])
def test_setter_argument_errors(cls):
    obj = cls()
    with pytest.raises(TypeError) as info:
        obj.set_fixed_stop("0.02")
    assert str(info.value).startswith("argument 'percent': ")
    with pytest.raises(TypeError) as info:
        obj.set_atr_stop(2.0, 14.0)
    assert str(info.value).startswith("argument 'period': ")
    with pytest.raises(OverflowError):
        obj.set_atr_target(2.0, -1)
    with pytest.raises(TypeError):
        obj.set_risk_reward_target()


def test_setters_store_values_without_checks():
    c = q.BacktestConfig()
    c.set_fixed_stop(-5.0)
    c.set_atr_stop(float("nan"), 0)
    c.set_risk_reward_target(float("inf"))
    assert q.resolve_atr_period(c) == 0


def test_a_later_stop_replaces_the_earlier_one():
    c = q.BacktestConfig()
    c.set_atr_stop(2.0, 14)
    c.set_trailing_stop(0.03)
    assert q.resolve_atr_period(c) is None
    c.set_atr_target(3.0, 20)
    c.set_fixed_target(0.05)
    assert q.resolve_atr_period(c) is None


# ---- resolve_atr_period ---------------------------------------------------------------------

def configured(*calls, cls=q.BacktestConfig):
    obj = cls()
    for name, *args in calls:
        getattr(obj, name)(*args)
    return obj


def instrument(*calls):
    return configured(*calls, cls=q.InstrumentConfig)


RESOLVE = [
    pytest.param(None, None, None, id="nothing"),
    pytest.param(configured(), None, None, id="defaults"),
    pytest.param(configured(("set_atr_stop", 2.0, 14), ("set_atr_target", 3.0, 20)), None, 14,
                 id="stop-wins"),
    pytest.param(configured(("set_atr_target", 3.0, 20)), None, 20, id="target-only"),
    pytest.param(configured(("set_atr_target", 3.0, 20)), instrument(("set_fixed_target", 0.05)),
                 None, id="override-replaces-target"),
    pytest.param(configured(("set_atr_stop", 2.0, 14)), instrument(("set_fixed_stop", 0.02)),
                 None, id="override-replaces-stop"),
    pytest.param(configured(("set_atr_stop", 2.0, 14), ("set_atr_target", 3.0, 20)),
                 instrument(("set_trailing_stop", 0.02)), 20, id="stop-overridden-target-kept"),
    pytest.param(configured(("set_fixed_stop", 0.02)), instrument(("set_atr_stop", 1.5, 7)), 7,
                 id="override-adds-atr-stop"),
    pytest.param(configured(("set_atr_stop", 2.0, 14)), instrument(("set_atr_target", 1.0, 30)),
                 14, id="global-stop-beats-override-target"),
    pytest.param(None, instrument(("set_atr_target", 1.0, 9)), 9, id="instrument-only"),
    pytest.param(configured(("set_atr_stop", 2.0, 14)), instrument(), 14, id="empty-override"),
    pytest.param(configured(("set_atr_stop", 2.0, 2**64 - 1)), None, 2**64 - 1, id="huge-period"),
]


@pytest.mark.parametrize("config, instrument_config, expected", RESOLVE)
def test_resolve_atr_period(config, instrument_config, expected):
    assert q.resolve_atr_period(config, instrument_config) == expected
    assert q.resolve_atr_period(config=config, instrument_config=instrument_config) == expected


def test_resolve_atr_period_accepts_subclasses_and_refuses_other_types():
    class MyConfig(q.BacktestConfig):
        pass

    c = MyConfig()
    c.set_atr_stop(2.0, 11)
    assert q.resolve_atr_period(c) == 11
    with pytest.raises(TypeError) as info:
        q.resolve_atr_period(q.InstrumentConfig())
    assert str(info.value).startswith("argument 'config': ")
    with pytest.raises(TypeError) as info:
        q.resolve_atr_period(None, q.BacktestConfig())
    assert str(info.value).startswith("argument 'instrument_config': ")


def test_resolve_atr_period_docstring():
    assert q.resolve_atr_period.__doc__ == (
        "Resolve the ATR period a backtest would use for stop/target computation.\n\n"
        "Mirrors the batch engine's resolution: per-instrument stop/target override\n"
        "the global config; the stop's period wins over the target's; `None` when\n"
        "neither is ATR-based. The Python strategy runner uses this to precompute\n"
        "the same ATR series the array path would.")
    assert q.resolve_atr_period.__text_signature__ == "(config=None, instrument_config=None)"


# ---- StopConfig / TargetConfig --------------------------------------------------------------

def test_stop_and_target_descriptors_start_empty():
    s, t = q.StopConfig(), q.TargetConfig()
    assert (s.stop_type, s.percent, s.multiplier, s.period) == ("none", None, None, None)
    assert (t.target_type, t.percent, t.multiplier, t.period, t.ratio) == ("none",) + (None,) * 4
    assert q.StopConfig.__doc__ == "Python-exposed stop configuration."
    assert q.TargetConfig.__doc__ == "Python-exposed target configuration."
    for cls in (q.StopConfig, q.TargetConfig):
        assert list(inspect.signature(cls).parameters) == []
        with pytest.raises(TypeError):
            cls(1)


DESCRIPTORS = [
    (lambda: q.StopConfig.fixed(0.02), ("fixed", 0.02, None, None)),
    (lambda: q.StopConfig.atr(2.0, 14), ("atr", None, 2.0, 14)),
    (lambda: q.StopConfig.trailing(percent=0.03), ("trailing", 0.03, None, None)),
    (lambda: q.TargetConfig.fixed(0.05), ("fixed", 0.05, None, None, None)),
    (lambda: q.TargetConfig.atr(multiplier=3.0, period=20), ("atr", None, 3.0, 20, None)),
    (lambda: q.TargetConfig.risk_reward(2), ("risk_reward", None, None, None, 2.0)),
]


@pytest.mark.parametrize("make, expected", DESCRIPTORS)
def test_descriptor_static_constructors(make, expected):
    d = make()
    fields = ("stop_type", "percent", "multiplier", "period") if isinstance(d, q.StopConfig) else (
        "target_type", "percent", "multiplier", "period", "ratio")
    got = tuple(getattr(d, f) for f in fields)
    assert got == expected
    assert [type(v) for v in got] == [type(v) for v in expected]


def test_descriptor_static_constructor_signatures():
    sig = lambda f: list(inspect.signature(f).parameters)  # noqa: E731
    assert sig(q.StopConfig.fixed) == ["percent"]
    assert sig(q.StopConfig.atr) == ["multiplier", "period"]
    assert sig(q.StopConfig.trailing) == ["percent"]
    assert sig(q.TargetConfig.risk_reward) == ["ratio"]
    with pytest.raises(OverflowError):
        q.StopConfig.atr(2.0, -14)
    with pytest.raises(TypeError) as info:
        q.TargetConfig.fixed("5%")
    assert str(info.value).startswith("argument 'percent': ")


def test_descriptor_properties_accept_anything_of_their_type():
    s = q.StopConfig()
    s.stop_type = "whatever"
    s.percent = -1
    s.period = 0
    s.multiplier = None
    assert (s.stop_type, s.percent, s.period, s.multiplier) == ("whatever", -1.0, 0, None)
    t = q.TargetConfig.risk_reward(2.0)
    t.ratio = None
    t.target_type = ""
    assert (t.target_type, t.ratio) == ("", None)
    with pytest.raises(TypeError) as info:
        s.stop_type = None
    assert str(info.value).startswith("argument 'stop_type': ")
    with pytest.raises(OverflowError):
        t.period = -1
    with pytest.raises(AttributeError) as info:
        del t.ratio
    assert str(info.value) == "can't delete attribute"


# ---- InstrumentConfig -----------------------------------------------------------------------

def test_instrument_config_fields():
    ic = q.InstrumentConfig()
    assert (ic.lot_size, ic.alloted_capital, ic.existing_qty, ic.avg_price) == (None,) * 4
    ic = q.InstrumentConfig(75, 50000, existing_qty=10, avg_price=Floaty())
    assert (ic.lot_size, ic.alloted_capital, ic.existing_qty, ic.avg_price) == (75.0, 50000.0, 10.0, 2.5)
    assert type(ic.lot_size) is float
    ic.lot_size = None
    ic.alloted_capital = -1
    assert (ic.lot_size, ic.alloted_capital) == (None, -1.0)
    assert q.InstrumentConfig.__doc__ == "Python-exposed per-instrument configuration."
    assert list(inspect.signature(q.InstrumentConfig).parameters) == [
        "lot_size", "alloted_capital", "existing_qty", "avg_price"]
    with pytest.raises(TypeError) as info:
        q.InstrumentConfig(alloted_capital="all")
    assert str(info.value).startswith("argument 'alloted_capital': ")
    with pytest.raises(AttributeError) as info:
        del ic.avg_price
    assert str(info.value) == "can't delete attribute"


@pytest.mark.parametrize("kwargs, text", [
    ({}, "InstrumentConfig(lot_size=None, alloted_capital=None)"),
    ({"lot_size": 75}, "InstrumentConfig(lot_size=Some(75.0), alloted_capital=None)"),
    ({"alloted_capital": 250000.0}, "InstrumentConfig(lot_size=None, alloted_capital=Some(250000.0))"),
    ({"lot_size": 0.5, "alloted_capital": 0}, "InstrumentConfig(lot_size=Some(0.5), alloted_capital=Some(0.0))"),
    ({"lot_size": 1e16}, "InstrumentConfig(lot_size=Some(1e16), alloted_capital=None)"),
    ({"lot_size": 1e-5}, "InstrumentConfig(lot_size=Some(1e-5), alloted_capital=None)"),
    ({"lot_size": 1e-4}, "InstrumentConfig(lot_size=Some(0.0001), alloted_capital=None)"),
    ({"lot_size": 9999999999999998.0}, "InstrumentConfig(lot_size=Some(9999999999999998.0), alloted_capital=None)"),
    ({"lot_size": -2.5e20}, "InstrumentConfig(lot_size=Some(-2.5e20), alloted_capital=None)"),
    ({"lot_size": 0.1, "existing_qty": 3.0}, "InstrumentConfig(lot_size=Some(0.1), alloted_capital=None)"),
])
def test_instrument_config_repr(kwargs, text):
    assert repr(q.InstrumentConfig(**kwargs)) == text


# ---- the engine snapshot ----------------------------------------------------------------------

def snapshot(probe, slippage=0.0, apply_slippage=True, upon_bar_close=True, fees=0.001,
             fee_segment=None, max_positions=None, max_drawdown_pct=None):
    fields = probe.one(
        "engine", native.num(slippage), int(apply_slippage), int(upon_bar_close), native.num(fees),
        "none" if fee_segment is None else native.text(fee_segment),
        "none" if max_positions is None else max_positions,
        "none" if max_drawdown_pct is None else native.num(max_drawdown_pct)).split("\t")
    slip, fee_model, selector, maxp, maxdd, flat = fields
    return dict(slippage=parse_model(slip), fee_model=parse_model(fee_model), selector=selector,
                max_positions=None if maxp == "none" else int(maxp),
                max_drawdown_pct=None if maxdd == "none" else float.fromhex(maxdd),
                fees=float.fromhex(flat))


def parse_model(text):
    """"none", "<kind>:<hex float>" or a bare segment name."""
    if text == "none":
        return None
    kind, _, value = text.partition(":")
    return (kind, float.fromhex(value)) if value else kind


@pytest.mark.parametrize("slippage, apply, expected", [
    (0.01, True, ("proportional", 0.01)),
    (0.01, False, None),
    (0.0, True, None),
    (-0.01, True, None),
    (float("nan"), True, None),
])
def test_snapshot_slippage_model(probe, slippage, apply, expected):
    assert snapshot(probe, slippage=slippage, apply_slippage=apply)["slippage"] == expected


@pytest.mark.parametrize("segment, fees, expected", [
    (None, 0.002, ("flat", 0.002)),
    ("NFO-OPT", 0.002, "options_nfo"),
    ("nse-delivery", 0.002, "equity_delivery"),
    ("LSE", 0.0025, ("flat", 0.0025)),
    ("", 0.0025, ("flat", 0.0025)),
])
def test_snapshot_fee_model(probe, segment, fees, expected):
    s = snapshot(probe, fee_segment=segment, fees=fees)
    assert s["fee_model"] == expected
    assert s["fees"] == fees  # the flat fraction is kept for entry sizing under any model


@pytest.mark.parametrize("upon_bar_close, selector", [(True, "close"), (False, "open")])
def test_snapshot_price_selector(probe, upon_bar_close, selector):
    assert snapshot(probe, upon_bar_close=upon_bar_close)["selector"] == selector


@pytest.mark.parametrize("max_positions, active", [(None, None), (0, None), (1, 1), (7, 7),
                                                   (2**64 - 1, 2**64 - 1)])
def test_snapshot_position_limit_active_only_when_nonzero(probe, max_positions, active):
    assert snapshot(probe, max_positions=max_positions)["max_positions"] == active


@pytest.mark.parametrize("max_dd, active", [
    (None, None), (0.0, None), (-5.0, None), (float("nan"), None), (10.0, 10.0),
    (float("inf"), float("inf")),
])
def test_snapshot_drawdown_halt_active_only_when_positive(probe, max_dd, active):
    assert snapshot(probe, max_drawdown_pct=max_dd)["max_drawdown_pct"] == active


# ---- borrows ---------------------------------------------------------------------------------

def test_setter_method_holds_the_object_exclusively():
    c = q.BacktestConfig()

    class Sneaky:
        def __float__(self):
            return c.fees  # re-enters the object while set_fixed_stop converts its argument

    with pytest.raises(RuntimeError) as info:
        c.set_fixed_stop(Sneaky())
    assert str(info.value) == "Already mutably borrowed"
    c.set_atr_stop(1.0, 3)  # the borrow is released after the failure
    assert q.resolve_atr_period(c) == 3


def test_property_write_converts_before_taking_the_object():
    c = q.BacktestConfig(fees=0.002)

    class ReadsBack:
        def __float__(self):
            return c.fees * 2

    c.slippage = ReadsBack()
    assert c.slippage == 0.004
