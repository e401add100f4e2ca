"""Argument conversion and call errors, exercised through the public functions."""

import gc
import inspect

import numpy as np
import pytest

import _quillon as q
from numberlike import Floaty, Index

ARRAY_PARAMS = {"data", "high", "low", "close", "volume"}
INDICATORS = [q.sma, q.ema, q.rsi, q.macd, q.stochastic, q.atr, q.bollinger_bands, q.adx,
              q.vwap, q.supertrend, q.rolling_min, q.rolling_max]
N = 40


def type_name(obj):
    """How the interpreter names a type in its messages (tp_name)."""
    t = type(obj)
    return t.__name__ if t.__module__ == "builtins" else f"{t.__module__}.{t.__name__}"


def good_args(fn, n=N, with_defaults=False):
    """Valid positional arguments for `fn`: float64 bars and small periods."""
    rng = np.random.default_rng(7)
    close = 100 + np.cumsum(rng.normal(0, 1, n))
    values = {"data": close, "close": close, "high": close + 1.0, "low": close - 1.0,
              "volume": rng.uniform(1, 10, n)}
    args = []
    for p in inspect.signature(fn).parameters.values():
        if p.name in values:
            args.append(values[p.name].copy())
        elif p.default is not p.empty:
            if not with_defaults:
                break
            args.append(p.default)
        else:
            args.append(5)
    return args


def array_params(fn):
    return [(i, p.name) for i, p in enumerate(inspect.signature(fn).parameters.values())
            if p.name in ARRAY_PARAMS]


def python_twin(fn):
    """A pure-Python function with the same signature: the interpreter's own wording of
    call errors is the reference for ours."""
    sig = inspect.signature(fn)
    namespace = {}
    exec(f"def {fn.__name__}{sig}: pass", namespace)
    return namespace[fn.__name__]


def message(call):
    with pytest.raises(TypeError) as info:
        call()
    return str(info.value)


CALL_SHAPES = [
    pytest.param(lambda f, a: f(), id="nothing"),
    pytest.param(lambda f, a: f(**{list(inspect.signature(f).parameters)[-1]: a[-1]}),
                 id="only-last-by-keyword"),
    pytest.param(lambda f, a: f(*a, 1), id="one-too-many"),
    pytest.param(lambda f, a: f(*a, *a), id="many-too-many"),
    pytest.param(lambda f, a: f(*a, bogus=1), id="unknown-keyword"),
    pytest.param(lambda f, a: f(*a, **{list(inspect.signature(f).parameters)[0]: a[0]}),
                 id="duplicate"),
]


@pytest.mark.parametrize("shape", CALL_SHAPES)
@pytest.mark.parametrize("fn", INDICATORS, ids=lambda f: f.__name__)
def test_call_errors_are_worded_as_the_interpreter_words_them(fn, shape):
    args = good_args(fn, with_defaults=True)
    twin = python_twin(fn)
    expected = message(lambda: shape(twin, args))
    assert message(lambda: shape(fn, args)) == expected


@pytest.mark.parametrize("fn", INDICATORS, ids=lambda f: f.__name__)
def test_keywords_and_positionals_mix(fn):
    args = good_args(fn)
    names = list(inspect.signature(fn).parameters)
    by_keyword = fn(**dict(zip(names, args)))
    positional = fn(*args)
    for a, b in zip(np.atleast_2d(by_keyword) if isinstance(by_keyword, np.ndarray) else by_keyword,
                    np.atleast_2d(positional) if isinstance(positional, np.ndarray) else positional):
        np.testing.assert_array_equal(a, b)


BAD_ARRAYS = [
    pytest.param(lambda x: list(x), "'list' object cannot be converted to 'ndarray'", id="list"),
    pytest.param(lambda x: tuple(x), "'tuple' object cannot be converted to 'ndarray'", id="tuple"),
    pytest.param(lambda x: x.astype(np.float32), "type mismatch:\n from=float32, to=float64",
                 id="float32"),
    pytest.param(lambda x: x.astype(np.int64), "type mismatch:\n from=int64, to=float64",
                 id="int64"),
    pytest.param(lambda x: x > 0, "type mismatch:\n from=bool, to=float64", id="bool"),
    pytest.param(lambda x: x.astype(">f8"), "type mismatch:\n from=>f8, to=float64",
                 id="byte-swapped"),
    pytest.param(lambda x: x.reshape(1, -1), "dimensionality mismatch:\n from=2, to=1", id="2d"),
    pytest.param(lambda x: np.array(x[0]), "dimensionality mismatch:\n from=0, to=1",
                 id="0d"),
    pytest.param(lambda x: float(x[0]), "'float' object cannot be converted to 'ndarray'",
                 id="scalar"),
]


@pytest.mark.parametrize("bad, reason", BAD_ARRAYS)
@pytest.mark.parametrize("fn", INDICATORS, ids=lambda f: f.__name__)
def test_arrays_are_never_cast(fn, bad, reason):
    for index, name in array_params(fn):
        args = good_args(fn)
        args[index] = bad(args[index])
        with pytest.raises(TypeError) as info:
            fn(*args)
        assert str(info.value) == f"argument '{name}': {reason}"


@pytest.mark.parametrize("fn", INDICATORS, ids=lambda f: f.__name__)
def test_strided_views_raise_the_internal_error(fn):
    for index, name in array_params(fn):
        args = good_args(fn, 2 * N)
        for view in (args[index][::2], np.broadcast_to(args[index][:1], (2 * N,))):
            call_args = list(args)
            call_args[index] = view
            with pytest.raises(BaseException) as info:
                fn(*call_args)
            assert isinstance(info.value, q.InternalError)
            assert not isinstance(info.value, Exception)
            assert name in str(info.value)


def test_conversion_stops_at_the_first_failing_argument_in_order():
    bad = np.zeros(3, dtype=np.float32)
    with pytest.raises(TypeError, match=r"^argument 'high'"):
        q.atr(bad, bad, bad, -1)
    with pytest.raises(TypeError, match=r"^argument 'low'"):
        q.atr(np.zeros(3), bad, [1.0], -1)
    # every array is good: the negative period is reached and overflows
    with pytest.raises(OverflowError):
        q.atr(np.zeros(3), np.zeros(3), np.zeros(3), -1)
    # keyword order does not change the parameter order of conversion
    with pytest.raises(TypeError, match=r"^argument 'data'"):
        q.bollinger_bands(std_dev="x", period=-1, data=[1.0])


def interpreter_unsigned_error(value):
    """The interpreter's own text for a bad unsigned conversion."""
    import ctypes

    api = ctypes.pythonapi.PyLong_AsUnsignedLongLong
    api.argtypes, api.restype = [ctypes.py_object], ctypes.c_ulonglong
    with pytest.raises(OverflowError) as info:
        api(value)
    return str(info.value)


@pytest.mark.parametrize("value", [-1, -(2**70), 2**64, 2**100])
def test_unsigned_overflow_keeps_the_interpreter_text(value):
    with pytest.raises(OverflowError) as info:
        q.sma(np.zeros(3), value)
    assert str(info.value) == interpreter_unsigned_error(value)
    assert not str(info.value).startswith("argument")





@pytest.mark.parametrize("period, ok", [
    (3, True), (np.int64(3), True), (np.uint8(3), True), (Index(3), True), (True, True),
    (3.0, False), ("3", False), (None, False), (np.float64(3.0), False),
])
def test_integer_parameters_take_index_objects_only(period, ok):
    data = np.arange(10.0)
    if ok:
        np.testing.assert_array_equal(q.sma(data, period), q.sma(data, int(period)))
    else:
        with pytest.raises(TypeError) as info:
            q.sma(data, period)
        assert str(info.value) == (
            f"argument 'period': '{type_name(period)}' object cannot be converted to 'int'")


@pytest.mark.parametrize("std_dev, expected", [
    (2.0, 2.0), (2, 2.0), (Floaty(), 2.5), (Index(3), 3.0), (np.float32(1.5), 1.5),
])
def test_float_parameters_use_the_float_protocol(std_dev, expected):
    data = np.arange(30.0)
    got = q.bollinger_bands(data, 5, std_dev)
    want = q.bollinger_bands(data, 5, expected)
    for a, b in zip(got, want):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("std_dev", ["2", None, [2.0], object()])
def test_float_parameters_refuse_other_objects(std_dev):
    with pytest.raises(TypeError) as info:
        q.bollinger_bands(np.arange(30.0), 5, std_dev)
    assert str(info.value) == (
        f"argument 'std_dev': '{type_name(std_dev)}' object cannot be converted to 'float'")


def test_exceptions_raised_by_user_conversion_code_propagate():
    class Boom:
        def __index__(self):
            raise KeyError("from user code")

    with pytest.raises(KeyError):
        q.sma(np.zeros(3), Boom())


@pytest.mark.parametrize("fn", INDICATORS, ids=lambda f: f.__name__)
def test_results_are_fresh_owned_arrays_and_inputs_are_untouched(fn):
    args = good_args(fn)
    before = [a.copy() if isinstance(a, np.ndarray) else a for a in args]
    first = fn(*args)
    outputs = first if isinstance(first, tuple) else (first,)
    for out in outputs:
        assert isinstance(out, np.ndarray) and out.ndim == 1 and len(out) == N
        assert out.flags.writeable and out.flags.c_contiguous
        for a in args:
            if isinstance(a, np.ndarray):
                assert not np.shares_memory(out, a)
        out[:] = 77  # writing into a result changes nothing else
    second = fn(*args)
    for out in (second if isinstance(second, tuple) else (second,)):
        assert not np.any(out == 77)
    for a, b in zip(args, before):
        if isinstance(a, np.ndarray):
            np.testing.assert_array_equal(a, b)


def test_unaligned_and_fortran_inputs_are_read_correctly():
    values = np.arange(1.0, 21.0)
    raw = b"\x00" + values.tobytes()
    unaligned = np.frombuffer(raw, dtype=np.float64, offset=1)
    assert not unaligned.flags.aligned
    np.testing.assert_array_equal(q.sma(unaligned, 4), q.sma(values, 4))
    np.testing.assert_array_equal(q.sma(np.asfortranarray(values), 4), q.sma(values, 4))
    readonly = values.copy()
    readonly.flags.writeable = False
    np.testing.assert_array_equal(q.sma(readonly, 4), q.sma(values, 4))


def test_result_arrays_outlive_the_tuple_that_carried_them():
    out = q.macd(np.arange(100.0))
    line = out[0].copy()
    kept = out[0]
    del out
    gc.collect()
    np.testing.assert_array_equal(kept, line)


class Mutating:
    """A period whose __index__ changes the data array after it was converted."""

    def __init__(self, target, action):
        self.target, self.action = target, action

    def __index__(self):
        self.action(self.target)
        return 3


@pytest.mark.parametrize("action", [
    pytest.param(lambda a: a.__setitem__(slice(None), -1.0), id="overwrite"),
    pytest.param(lambda a: a.resize(0, refcheck=False), id="shrink-buffer"),
    pytest.param(lambda a: a.resize(10**6, refcheck=False), id="move-buffer"),
])
def test_inputs_are_taken_as_they_were_when_converted(action):
    original = np.arange(1.0, 41.0)
    data = original.copy()
    got = q.sma(data, Mutating(data, action))
    np.testing.assert_array_equal(got, q.sma(original, 3))


def test_series_read_in_place_and_copied_give_identical_results(rng):
    x = rng.normal(size=5000).cumsum()
    in_place = q.atr(x + 1, x - 1, x, 14)                 # all arguments inert
    copied = q.atr(x + 1, x - 1, x, Index(14))            # user __index__: inputs copied
    np.testing.assert_array_equal(in_place.view(np.int64), copied.view(np.int64))
