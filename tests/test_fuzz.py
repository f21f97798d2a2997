"""Hostile input for every module function: any kind of argument, keyword soup, mismatched
shapes and astronomically large zero-stride views. Every call must end in a result of the
right form or in the failure its inputs call for: TypeError, OverflowError, ValueError,
MemoryError, PanicException, or the exception a user object raised itself."""

import math
import operator
import resource
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import PanicException, same_float, values

INDEX_FAILURE = "ndarray: index out of bounds"
HUGE = 2**40  # extents from here on make any buffer sized by them impossible (8 TiB and more)

# Parameter kinds: arrays by (ndim, dtype); the three scalar conversions by name.
F1, F2, F3, I1 = (1, np.float64), (2, np.float64), (3, np.float64), (1, np.int64)
UINT, OPT_UINT, FLOAT = "uint", "optional uint", "float"

PARAMS = {
    "squared_euclidean_cost_matrix": {"x": F2, "y": F2},
    "dtw": {"x": F2, "y": F2, "sakoe_chiba_radius": OPT_UINT},
    "dtw_with_path_py": {"x": F2, "y": F2, "sakoe_chiba_radius": OPT_UINT},
    "cdist_dtw": {"x": F3, "y": F3, "sakoe_chiba_radius": OPT_UINT},
    "soft_dtw": {"x": F2, "y": F2, "gamma": FLOAT},
    "cdist_soft_dtw": {"x": F3, "y": F3, "gamma": FLOAT},
    "gak": {"x": F2, "y": F2, "sigma": FLOAT},
    "unnormalized_gak_py": {"x": F2, "y": F2, "sigma": FLOAT},
    "cdist_gak": {"x": F3, "y": F3, "sigma": FLOAT},
    "manhattan": {"x": F2, "y": F2},
    "cdist_manhattan": {"x": F3, "y": F3},
    "das_dennis_py": {"n_dim": UINT, "n_partitions": UINT},
    "fast_non_dominated_sort_py": {"f": F2},
    "associate_to_niches_py": {"f": F2, "ref_dirs": F2, "ideal": F1, "nadir": F1},
    "normalization_update_py": {"ideal_point": F1, "f": F2, "first_front": I1, "n_dim": UINT},
}
PAIR_OF = {"cdist_dtw": "dtw", "cdist_soft_dtw": "soft_dtw", "cdist_gak": "gak", "cdist_manhattan": "manhattan"}
CDIST = list(PAIR_OF)


# --- what the interpreter and the module are expected to do -----------------------------------


class Failure:
    """An expected exception: its exact type, and the message and notes when they are known."""

    def __init__(self, kind, message=None, notes=None):
        self.kind, self.message, self.notes = kind, message, notes

    def matches(self, e: BaseException) -> bool:
        return (
            type(e) is self.kind
            and (self.message is None or str(e) == self.message)
            and (self.notes is None or getattr(e, "__notes__", None) == self.notes)
        )

    def __repr__(self):
        return f"{self.kind.__name__}({self.message!r}, notes={self.notes})"


def refusal(e: BaseException) -> bool:
    """An allocation refused up front: MemoryError, or a size computation that overflowed."""
    return type(e) is MemoryError or (type(e) is PanicException and "overflow" in str(e))


def matching_failure(name, params, n_positional, keywords):
    """The TypeError of argument matching, or None when every parameter is given once."""
    count = len(params)
    if n_positional > count:
        verb = "was" if n_positional == 1 else "were"
        return f"{name}() takes {count} positional arguments but {n_positional} {verb} given"
    filled = [i < n_positional for i in range(count)]
    for keyword in keywords:
        if keyword not in params:
            return f"{name}() got an unexpected keyword argument '{keyword}'"
        if filled[params.index(keyword)]:
            return f"{name}() got multiple values for argument '{keyword}'"
        filled[params.index(keyword)] = True
    missing = [f"'{p}'" for p, given in zip(params, filled) if not given]
    if not missing:
        return None
    listed = " and ".join(missing) if len(missing) <= 2 else ", ".join(missing[:-1]) + ", and " + missing[-1]
    noun = "argument" if len(missing) == 1 else "arguments"
    return f"{name}() missing {len(missing)} required positional {noun}: {listed}"


def convert(kind, value):
    """The value a parameter of this kind receives, by the interpreter's own protocols; raises
    what the conversion raises."""
    if isinstance(kind, tuple):
        ndim, dtype = kind
        if isinstance(value, np.ndarray) and value.ndim == ndim and value.dtype == np.dtype(dtype):
            return value
        raise TypeError
    if kind == OPT_UINT and value is None:
        return None
    if kind in (UINT, OPT_UINT):
        integer = value if isinstance(value, int) else operator.index(value)
        if not 0 <= integer < 2**64:
            raise OverflowError
        return int(integer)
    return math.fsum([value])  # fsum reads its items with the interpreter's float conversion


def binomial_capped(n, k, cap):
    """C(n, k), or cap when it is at least cap (without computing huge binomials)."""
    k = min(k, n - k)
    value = 1
    for i in range(1, k + 1):
        value = value * (n - k + i) // i
        if value >= cap:
            return cap
    return value


def pair_fails(x_shape, y_shape):
    """The cost matrix's rule: y narrower than x, for two non-empty series with features."""
    (n, d), (m, e) = x_shape, y_shape
    return n > 0 and m > 0 and d > 0 and e < d


def manhattan_fails(x_shape, y_shape):
    (n, d), (m, e) = x_shape, y_shape
    return n > 0 and d > 0 and (e < d or m < n)


def kernel_failure(name, shapes, scalars, front_in_range=True):
    """The failure the kernel itself must end in, from shapes and scalar values, or None."""
    s = shapes
    if name in ("squared_euclidean_cost_matrix", "dtw", "dtw_with_path_py", "soft_dtw", "gak", "unnormalized_gak_py"):
        return Failure(PanicException, INDEX_FAILURE) if pair_fails(s["x"], s["y"]) else None
    if name == "manhattan":
        return Failure(PanicException, INDEX_FAILURE) if manhattan_fails(s["x"], s["y"]) else None
    if name in CDIST:
        rule = manhattan_fails if name == "cdist_manhattan" else pair_fails
        both = s["x"][0] > 0 and s["y"][0] > 0
        return Failure(PanicException, INDEX_FAILURE) if both and rule(s["x"][1:], s["y"][1:]) else None
    if name == "das_dennis_py":
        return Failure(ValueError, "n_dim must be >= 1, got 0") if scalars["n_dim"] == 0 else None
    if name == "associate_to_niches_py":
        (m, n), (r, e) = s["f"], s["ref_dirs"]
        short_point = m > 0 and n > 0 and (s["ideal"][0] < n or s["nadir"][0] < n)
        if short_point or (n > 0 and r > 0 and e < n) or (m > 0 and r == 0):
            return Failure(PanicException, INDEX_FAILURE)
        return None
    if name == "normalization_update_py":
        length, (m, n), (t,) = s["ideal_point"][0], s["f"], s["first_front"]
        if n > length:
            return Failure(PanicException, f"index out of bounds: the len is {length} but the index is {length}")
        if not front_in_range or (t >= scalars["n_dim"] and scalars["n_dim"] < n):
            return Failure(PanicException, INDEX_FAILURE)
    return None


def result_size(name, shapes, scalars):
    """Elements in the result itself, which no implementation can do without."""
    s = shapes
    if name == "squared_euclidean_cost_matrix" or name in CDIST:
        return s["x"][0] * s["y"][0]
    if name in ("fast_non_dominated_sort_py", "associate_to_niches_py"):
        return s["f"][0]
    if name == "normalization_update_py":
        return s["ideal_point"][0] + s["f"][1]
    if name == "das_dennis_py":
        d, p = scalars["n_dim"], scalars["n_partitions"]
        if d <= 1 or p == 0:
            return d
        return binomial_capped(p + d - 1, d - 1, 2**64) * d
    return 1


def pair_work(name, x_shape, y_shape):
    (n, d), (m, e) = x_shape, y_shape
    if name == "manhattan":
        return 0 if manhattan_fails(x_shape, y_shape) else n * d
    if pair_fails(x_shape, y_shape):
        return 0
    work = n * m * max(d, 1)
    if name == "gak":  # and the two self-similarities, over each series' own features
        work += n * n * max(d, 1) + m * m * max(e, 1)
    return work


def work(name, shapes, scalars):
    """Steps the computation needs by its definition: cells times features."""
    s = shapes
    if name in CDIST:
        pair = PAIR_OF[name]
        (nx, *x_series), (ny, *y_series) = s["x"], s["y"]
        total = nx * ny * max(pair_work(pair, x_series, y_series), 1)
        if name == "cdist_gak":
            (n, d), (m, e) = x_series, y_series
            total += nx * n * n * max(d, 1) + ny * m * m * max(e, 1)
        return total
    if name in PAIR_OF.values() or name in ("squared_euclidean_cost_matrix", "dtw_with_path_py", "unnormalized_gak_py"):
        return pair_work(name, s["x"], s["y"])
    if name == "fast_non_dominated_sort_py":
        n, k = s["f"]
        return n * n * max(k, 1)
    if name == "associate_to_niches_py":
        (m, n), (r, _) = s["f"], s["ref_dirs"]
        return 0 if m == 0 else m * max(r, 1) * max(n, 1)
    if name == "normalization_update_py":
        (m, n), (t,) = s["f"], s["first_front"]
        return m * n + t * max(n, 1) + n**3
    return result_size(name, shapes, scalars)


# --- checking a returned value ------------------------------------------------------------


def is_array(value, dtype, shape):
    return (
        isinstance(value, np.ndarray)
        and type(value) is np.ndarray
        and value.dtype == dtype
        and value.shape == shape
        and value.flags.c_contiguous
    )


def check_result(name, args, result, scalars, cross_check):
    """The result has the form the function promises; small ones are also checked against the
    single-pair functions, bit for bit."""
    shape = {p: a.shape for p, a in args.items() if isinstance(a, np.ndarray)}
    if name in ("dtw", "soft_dtw", "gak", "unnormalized_gak_py", "manhattan"):
        assert type(result) is float
    elif name == "squared_euclidean_cost_matrix":
        assert is_array(result, np.float64, (shape["x"][0], shape["y"][0]))
    elif name == "dtw_with_path_py":
        check_path(args, result, cross_check)
    elif name in CDIST:
        nx, ny = shape["x"][0], shape["y"][0]
        assert is_array(result, np.float64, (nx, ny))
        if cross_check:
            pair = getattr(_rust_core, PAIR_OF[name])
            extra = [args[p] for p in PARAMS[name] if p not in ("x", "y")]
            for i in range(nx):
                for j in range(ny):
                    assert same_float(result[i, j], pair(args["x"][i], args["y"][j], *extra)), (i, j)
    elif name == "das_dennis_py":
        assert is_array(result, np.float64, (result_size(name, {}, scalars) // scalars["n_dim"], scalars["n_dim"]))
    elif name == "fast_non_dominated_sort_py":
        assert type(result) is list
        for front in result:
            assert is_array(front, np.int64, front.shape) and front.ndim == 1 and front.size > 0
            assert (np.diff(front) > 0).all()
        joined = np.concatenate(result) if result else np.zeros(0, np.int64)
        assert np.array_equal(np.sort(joined), np.arange(shape["f"][0]))
    elif name == "associate_to_niches_py":
        niches, distances = result
        m = shape["f"][0]
        assert is_array(niches, np.int64, (m,)) and is_array(distances, np.float64, (m,))
        assert ((0 <= niches) & (niches < max(shape["ref_dirs"][0], 1))).all()
    elif name == "normalization_update_py":
        ideal, nadir = result
        assert is_array(ideal, np.float64, shape["ideal_point"]) and is_array(nadir, np.float64, (shape["f"][1],))


def check_path(args, result, cross_check):
    assert type(result) is tuple and len(result) == 2
    distance, path = result
    assert type(distance) is float and type(path) is list
    n, m = args["x"].shape[0], args["y"].shape[0]
    if n == 0 or m == 0:
        assert path == [] and distance == (0.0 if n == m else math.inf)
        return
    assert all(type(p) is tuple and len(p) == 2 and type(p[0]) is int and type(p[1]) is int for p in path)
    assert path[-1] == (n - 1, m - 1)
    if math.isfinite(distance):
        assert path[0] == (0, 0)
    for (i0, j0), (i1, j1) in zip(path, path[1:]):
        assert (i1 - i0, j1 - j0) in ((1, 0), (0, 1), (1, 1))
    if cross_check:
        # NaNs count as equal: IEEE leaves a NaN result's sign and payload open, and a compiler
        # may add two NaNs in either order (x - y over inf and inf makes a negative one on x86).
        assert same_float(distance, _rust_core.dtw(args["x"], args["y"], args["sakoe_chiba_radius"]))


# --- running one call ----------------------------------------------------------------------


def run(call):
    """The call's result, or the exception it ended in, whatever its class."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # deprecated __index__/__float__ returns, complex casts
        try:
            return call(), None
        except BaseException as e:  # noqa: BLE001 - PanicException is no Exception
            if isinstance(e, KeyboardInterrupt):
                raise
            return None, e


def check_kernel_outcome(name, args, result, error, huge=False):
    """After conversion: the predicted failure or a well-formed result. With huge extents an
    allocation may also be refused up front, and must be when the result itself is astronomical."""
    shapes = {p: a.shape for p, a in args.items() if isinstance(a, np.ndarray)}
    scalars = {p: v for p, v in args.items() if not isinstance(v, np.ndarray)}
    front_in_range = True
    if name == "normalization_update_py":
        front = args["first_front"]
        front_in_range = bool(((0 <= front) & (front < shapes["f"][0])).all()) if not huge else args["front_value"]
    expected = kernel_failure(name, shapes, scalars, front_in_range)
    astronomical = result_size(name, shapes, scalars) >= HUGE
    any_huge = astronomical or any(e >= HUGE for s in shapes.values() for e in s)
    described = f"{name} shapes={shapes} scalars={scalars}"
    event(f"{name}: {type(error).__name__ if error is not None else 'result'}")
    if error is not None:
        if expected is not None and expected.matches(error):
            return
        if any_huge and refusal(error):
            return
        raise AssertionError(f"{described}: {type(error).__name__}{error.args} instead of {expected}") from error
    assert expected is None, f"{described}: returned instead of {expected}"
    assert not astronomical, f"{described}: an astronomically large result was returned"
    check_result(name, args, result, scalars, cross_check=not huge)


# --- hostile argument values ---------------------------------------------------------------


class Escape(BaseException):
    """Raised by user objects: not an Exception, and it must come out unchanged."""


class IntSub(int):
    pass


class FloatSub(float):
    pass


class Sub(np.ndarray):
    pass


class Index:
    """__index__ returns the given value, or raises a fresh instance of an exception class."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, type):
            raise self.value("from __index__")
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class Real:
    """__float__ returns the given value, or raises a fresh instance of an exception class."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, type):
            raise self.value("from __float__")
        return self.value

    def __repr__(self):
        return f"Real({self.value!r})"


class Both(Index, Real):
    """An integer and a float that disagree: the float conversion takes __float__."""

    def __init__(self, index, real):
        self.value, self.real = index, real

    def __float__(self):
        return self.real


SCALARS = [
    None, True, False, 0, 1, 2, 3, 5, -1, 2**63, 2**64 - 1, 2**64, 2**200, -(2**200), 2**2000,
    0.0, -0.0, 0.5, -2.5, math.nan, math.inf, -math.inf, 1e308, 5e-324,
    "", "1.0", b"1", 1 + 2j, [], [1.0], [[1.0, 2.0]], (1.0,), {}, object(), Ellipsis, IntSub(3), FloatSub(1.5),
    np.float64(0.5), np.float32(2.0), np.int64(4), np.int64(-4), np.uint64(2**64 - 1), np.int8(-1),
    np.bool_(True), np.complex128(1 + 1j), np.str_("1"),
    Index(3), Index(-1), Index(2**64), Index(2**200), Index(True), Index(IntSub(2)), Index(2.0), Index("3"),
    Index(ZeroDivisionError), Index(Escape), Index(MemoryError),
    Real(0.25), Real(-1.0), Real(math.nan), Real(math.inf), Real(1), Real("1.0"), Real(FloatSub(2.0)),
    Real(ZeroDivisionError), Real(Escape), Both(2, 3.5),
]
WRONG_KEYWORDS = ["X", "z", "", "x ", "x\x00", "\udc80", "ẋ", "self", "kwargs", "gamma", "sigma", "n_dim", "f"]
DTYPES = ["f8", "f8", "f8", "i8", "q", "i4", "f4", "c16", "O", ">f8", ">i8", "?", "u8", "f2"]
LAYOUTS = ["c", "fortran", "reversed", "strided", "unaligned", "readonly", "subclass", "masked", "broadcast", "empty"]


def relayout(a: np.ndarray, layout: str) -> np.ndarray:
    """The same values in another memory layout or array type."""
    if a.ndim == 0 and layout in ("reversed", "strided", "broadcast"):
        return a
    if layout == "fortran":
        return np.asfortranarray(a)
    if layout == "reversed":
        flipped = np.ascontiguousarray(a[(slice(None, None, -1),) * a.ndim])
        return flipped[(slice(None, None, -1),) * a.ndim]
    if layout == "strided":
        big = np.zeros(tuple(2 * s + 1 for s in a.shape), a.dtype)
        view = big[(slice(1, None, 2),) * a.ndim]
        view[...] = a
        return view
    if layout == "unaligned" and a.dtype != object:
        raw = np.zeros(a.nbytes + 1, np.uint8)[1:].view(a.dtype).reshape(a.shape)
        raw[...] = a
        return raw
    if layout == "readonly":
        frozen = a.copy()
        frozen.flags.writeable = False
        return frozen
    if layout == "subclass":
        return a.view(Sub)
    if layout == "masked":
        return np.ma.masked_array(a, mask=np.zeros(a.shape, bool))
    if layout == "broadcast":  # every axis of extent > 1 with stride 0
        first = a.reshape(-1)[:1].reshape((1,) * a.ndim) if a.size else np.zeros((1,) * a.ndim, a.dtype)
        return np.broadcast_to(first, a.shape)
    if layout == "empty":
        return a[(slice(0, 0),) + (slice(None),) * (a.ndim - 1)] if a.ndim else a
    return np.ascontiguousarray(a)


@st.composite
def float_arrays(draw, shape, layouts=LAYOUTS[:-1]):
    flat = draw(st.lists(values, min_size=math.prod(shape), max_size=math.prod(shape)))
    return relayout(np.array(flat, np.float64).reshape(shape), draw(st.sampled_from(layouts)))


@st.composite
def hostile_arrays(draw):
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    shape = tuple(draw(st.lists(st.integers(0, 3), max_size=4)))
    base = np.arange(math.prod(shape)).reshape(shape).astype(dtype) if dtype != object else np.empty(shape, object)
    return relayout(base, draw(st.sampled_from(LAYOUTS)))


small_sizes = st.integers(0, 4)


def valid_values(kind):
    """Arguments the conversion accepts, small enough to compute at once."""
    if kind == I1:
        return st.lists(st.integers(-2, 5), max_size=5).map(lambda v: np.array(v, np.int64))
    if isinstance(kind, tuple):
        return st.lists(small_sizes, min_size=kind[0], max_size=kind[0]).flatmap(lambda s: float_arrays(tuple(s)))
    if kind == FLOAT:
        return values
    small = st.integers(0, 5)
    return st.one_of(st.none(), small) if kind == OPT_UINT else small


def any_value(kind):
    """A valid argument three times in five, so that later parameters and kernels are reached."""
    choices = [valid_values(kind)] * 3 + [hostile_arrays(), st.sampled_from(SCALARS)]
    return st.integers(0, 4).flatmap(lambda k: choices[k])


@st.composite
def hostile_calls(draw):
    """A function, positional arguments and keyword arguments: often a well-formed call, else
    a soup of extra positionals and right and wrong keyword names."""
    name = draw(st.sampled_from(list(PARAMS) + ["rust_available"]))
    params = list(PARAMS.get(name, {}))
    kinds = PARAMS.get(name, {})
    if draw(st.booleans()):
        n_positional = draw(st.integers(0, len(params)))
        keywords = draw(st.permutations(params[n_positional:]))
    else:
        n_positional = draw(st.integers(0, len(params) + 2))
        pool = params + [k for k in WRONG_KEYWORDS if k not in params]
        keywords = draw(st.lists(st.sampled_from(pool), unique=True, max_size=len(params) + 2))
    positional = [
        draw(any_value(kinds[params[i]]) if i < len(params) else st.sampled_from(SCALARS))
        for i in range(n_positional)
    ]
    named = {k: draw(any_value(kinds[k]) if k in kinds else st.sampled_from(SCALARS)) for k in keywords}
    return name, positional, named


@settings(max_examples=3000, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(hostile_calls())
def test_hostile_arguments(call):
    """Matching fails with the exact TypeError; otherwise the first argument that does not
    convert is reported with its note, whatever it raised; otherwise the kernel runs."""
    name, positional, named = call
    f = getattr(_rust_core, name)
    result, error = run(lambda: f(*positional, **named))
    if name == "rust_available":
        if positional or named:
            assert type(error) is TypeError
        else:
            assert result is True
        return
    params = list(PARAMS[name])
    message = matching_failure(name, params, len(positional), list(named))
    if message is not None:
        event("argument matching")
        assert Failure(TypeError, message, None).matches(error), (message, error)
        assert not hasattr(error, "__notes__")
        return
    given_values = dict(zip(params, positional)) | named
    args = {}
    for p in params:  # converted one by one in parameter order; the first failure is reported
        converted, conversion_error = run(lambda: convert(PARAMS[name][p], given_values[p]))
        if conversion_error is not None:
            event(f"conversion: {type(conversion_error).__name__}")
            expected = Failure(type(conversion_error), None, [f"while processing '{p}'"])
            assert expected.matches(error), (p, given_values[p], expected, error)
            return
        args[p] = converted
    check_kernel_outcome(name, args, result, error)


# --- valid kinds with shapes that do and do not fit together ------------------------------


def sizes_around(n):
    """n itself mostly, else a neighbour: the shapes where kernels start to fail."""
    return st.sampled_from([n, n, n, max(n - 1, 0), n + 1, 0])


@st.composite
def fitting_calls(draw):
    """Float64 arrays of the right number of dimensions whose extents agree or just miss."""
    name = draw(st.sampled_from(list(PARAMS)))
    kinds = PARAMS[name]
    n, d, k = draw(small_sizes), draw(small_sizes), draw(small_sizes)
    shapes = {
        "x": (n, d), "y": (draw(small_sizes), draw(sizes_around(d))),
        "ideal_point": (draw(sizes_around(d)),), "first_front": (draw(small_sizes),),
        "ref_dirs": (k, draw(sizes_around(d))), "ideal": (draw(sizes_around(d)),), "nadir": (draw(sizes_around(d)),),
    }
    if name == "manhattan":
        shapes["y"] = (draw(sizes_around(n)), shapes["y"][1])
    if kinds.get("x") == F3:
        nx, ny = draw(small_sizes), draw(small_sizes)
        m = draw(sizes_around(n)) if name == "cdist_manhattan" else draw(small_sizes)
        shapes["x"], shapes["y"] = (nx, n, d), (ny, m, shapes["y"][1])
    shapes["f"] = (draw(st.integers(0, 6)), d)
    args = {}
    for p, kind in kinds.items():
        if kind == I1:
            args[p] = np.array(draw(st.lists(st.integers(-1, shapes["f"][0]), max_size=6)), np.int64)
        elif isinstance(kind, tuple):
            args[p] = draw(float_arrays(shapes[p]))
        elif p in ("n_dim", "n_partitions"):
            args[p] = draw(st.integers(0, 6))
        else:
            args[p] = draw(valid_values(kind))
    return name, args


@settings(max_examples=3500, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(fitting_calls())
def test_shapes_that_do_and_do_not_fit(call):
    """Exactly the inputs that do not fit fail, with the kernel's message; the others give
    results of the promised form, the pairwise ones equal to their single-pair functions."""
    name, args = call
    result, error = run(lambda: getattr(_rust_core, name)(**args))
    check_kernel_outcome(name, args, result, error)


# --- astronomically large zero-stride views -----------------------------------------------

EXTENTS = [0, 1, 2, 2**20, HUGE, 2**59]
WORK_LIMIT = 2**22


def broadcast_shapes(name):
    """Every combination of extents for the function's arrays that numpy can represent as a
    view and whose call is either cheap by definition or must be refused for the size of its
    result, in two lists (calls that would legitimately run for hours are left out)."""
    array_params = [(p, kind[0]) for p, kind in PARAMS[name].items() if isinstance(kind, tuple)]
    axes = sum(ndim for _, ndim in array_params)
    cheap, refused = [], []
    for flat in np.ndindex(*([len(EXTENTS)] * axes)):
        extents = [EXTENTS[i] for i in flat]
        shapes, at = {}, 0
        for p, ndim in array_params:
            shapes[p] = tuple(extents[at : at + ndim])
            at += ndim
        if any(math.prod(max(e, 1) for e in s) > 2**59 for s in shapes.values()):
            continue  # not representable, even with an empty axis
        scalars = {"n_dim": 3}
        if result_size(name, shapes, scalars) >= HUGE:
            refused.append(shapes)
        elif work(name, shapes, scalars) <= WORK_LIMIT:
            cheap.append(shapes)
    return [combos for combos in (cheap, refused) if combos]


BROADCAST = {name: broadcast_shapes(name) for name in PARAMS if name != "das_dennis_py"}
SCALAR_VALUES = {
    "sakoe_chiba_radius": st.sampled_from([None, 0, 1, 2**64 - 1]),
    "n_dim": st.sampled_from([0, 1, 3, 2**64 - 1]),
    "gamma": st.sampled_from([1.0, 0.0, math.nan]),
    "sigma": st.sampled_from([1.0, 0.0, -math.inf]),
}


@st.composite
def broadcast_calls(draw):
    name = draw(st.sampled_from(list(BROADCAST)))
    shapes = draw(st.sampled_from(draw(st.sampled_from(BROADCAST[name]))))
    args = {"front_value": True}
    for p, kind in PARAMS[name].items():
        if p in shapes:
            if kind == I1:
                value = draw(st.sampled_from([0, 1, -1, 2**40]))
                args["front_value"] = shapes[p][0] == 0 or 0 <= value < shapes["f"][0]
            else:
                value = draw(st.sampled_from([0.0, 1.0, math.nan, -math.inf]))
            args[p] = np.broadcast_to(np.full((1,) * len(shapes[p]), value, kind[1]), shapes[p])
        else:
            args[p] = draw(SCALAR_VALUES[p])
    return name, args


@settings(max_examples=3000, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(broadcast_calls())
def test_astronomical_views_are_refused_or_cheap(call):
    """Quick either way: an astronomical result is refused, a cheap call answers."""
    name, args = call
    call_args = {p: v for p, v in args.items() if p != "front_value"}
    result, error = run(lambda: getattr(_rust_core, name)(**call_args))
    check_kernel_outcome(name, args, result, error, huge=True)


def huge(*shape):
    return np.broadcast_to(np.ones((1,) * len(shape)), shape)


# Calls whose working memory alone is astronomical: refused up front, never touched.
REFUSED = [
    ("das_dennis_py", (60, 60)),
    ("das_dennis_py", (2, 2**62)),
    ("das_dennis_py", (3, 2**32)),
    ("das_dennis_py", (2**40, 0)),
    ("das_dennis_py", (2**64 - 1, 2**64 - 1)),
    ("das_dennis_py", (2**63, 1)),
    ("dtw", (huge(HUGE, 1), huge(HUGE, 1), None)),
    ("dtw", (huge(HUGE, 0), huge(HUGE, 0), 3)),
    ("dtw_with_path_py", (huge(HUGE, 1), huge(2, 1), None)),
    ("dtw_with_path_py", (huge(HUGE, 0), huge(HUGE, 0), None)),
    ("soft_dtw", (np.ones((2, 1)), huge(HUGE, 1), 1.0)),
    ("gak", (huge(HUGE, 1), np.ones((0, 1)), 1.0)),
    ("unnormalized_gak_py", (np.ones((2, 1)), huge(HUGE, 1), 1.0)),
    ("cdist_dtw", (huge(1, HUGE, 1), huge(1, 2, 1), None)),
    ("cdist_gak", (huge(1, 1, HUGE), huge(HUGE, 1, 1), 1.0)),
    ("cdist_manhattan", (huge(2**25, 1, 1), huge(2**25, 1, 1))),
    ("cdist_soft_dtw", (huge(2**25, 1, 1), huge(2**25, 1, 1), 1.0)),
    ("cdist_soft_dtw", (huge(1, 1, 1), huge(1, HUGE, 1), 1.0)),
    ("fast_non_dominated_sort_py", (huge(2**59, 1),)),
    ("fast_non_dominated_sort_py", (huge(2**58, 2),)),
    ("fast_non_dominated_sort_py", (huge(HUGE, 0),)),
    ("associate_to_niches_py", (np.ones((1, 1)), huge(HUGE, 1), np.zeros(1), np.ones(1))),
    ("normalization_update_py", (np.zeros(1), np.ones((2, 1)), np.broadcast_to(np.zeros(1, np.int64), (HUGE,)), 0)),
]


def peak_resident_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


@pytest.mark.parametrize("name, args", REFUSED, ids=[f"{n}-{i}" for i, (n, _) in enumerate(REFUSED)])
def test_astronomical_working_memory_is_refused(name, args):
    """Refused before any of it is touched: the process's peak resident memory stays put."""
    peak = peak_resident_bytes()
    result, error = run(lambda: getattr(_rust_core, name)(*args))
    assert error is not None and refusal(error), (result, error)
    assert peak_resident_bytes() - peak < 256 << 20


# --- failures on the worker pool ----------------------------------------------------------


@pytest.mark.parametrize("name", CDIST)
def test_failing_rows_raise_once_and_leave_the_pool_usable(name):
    """Every row of the call fails on a worker; the caller raises the one failure after all of
    them have ended (the inputs are freed right away, which ASan would report if a row still
    read them), and the next call gets the whole pool and the right values."""
    rng = np.random.default_rng(7)
    f, pair = getattr(_rust_core, name), getattr(_rust_core, PAIR_OF[name])
    extra = {"cdist_dtw": (2,), "cdist_soft_dtw": (0.5,), "cdist_gak": (1.5,)}.get(name, ())
    good_x, good_y = rng.normal(size=(6, 5, 2)), rng.normal(size=(7, 5, 2))
    expected = np.array([[pair(a, b, *extra) for b in good_y] for a in good_x])
    for _ in range(200):
        x, narrow = rng.normal(size=(97, 5, 2)), rng.normal(size=(31, 5, 1))
        result, error = run(lambda: f(x, narrow, *extra))
        assert type(error) is PanicException and error.args == (INDEX_FAILURE,), error
        assert error.__context__ is None and not hasattr(error, "__notes__")
        del x, narrow, result, error
        np.ones((97, 5, 2))[...] = np.nan  # reuse the freed memory at once
        assert np.array_equal(f(good_x, good_y, *extra), expected)
