"""The module frame: registration, argument matching and conversion, results, failures."""

import inspect
import subprocess
import tracemalloc

import numpy as np
import pytest

import _rust_core
import helpers
from calls import SIGNATURES, VALID
from helpers import PanicException

# Every function with its parameters, in registration order.
PRESENT = list(SIGNATURES)
WITH_PARAMETERS = [name for name in PRESENT if SIGNATURES[name]]


def function(name):
    return getattr(_rust_core, name)


def assert_same_result(actual, expected):
    """Equal bit for bit, through the tuples and lists a function may return."""
    assert type(actual) is type(expected)
    if isinstance(expected, np.ndarray):
        assert actual.dtype == expected.dtype and actual.shape == expected.shape
        assert actual.tobytes() == expected.tobytes()
    elif isinstance(expected, (tuple, list)):
        assert len(actual) == len(expected)
        for a, e in zip(actual, expected):
            assert_same_result(a, e)
    elif isinstance(expected, float):
        assert helpers.same_float(actual, expected)
    else:
        assert actual == expected


def run_python(code: str, **env) -> subprocess.CompletedProcess:
    return helpers.run_python(code, check=False, timeout=120, **env)


class TestRegistration:
    def test_all_lists_the_sixteen_functions_in_order(self):
        assert _rust_core.__all__ == list(SIGNATURES)

    def test_module_defines_nothing_else(self):
        own = {name for name in vars(_rust_core) if not name.startswith("__")}
        assert own == set(_rust_core.__all__)
        assert _rust_core.__doc__ == ""

    @pytest.mark.parametrize("name", PRESENT)
    def test_builtin_bound_to_module(self, name):
        f = function(name)
        assert type(f).__name__ == "builtin_function_or_method"
        assert f.__name__ == name
        assert f.__self__ is _rust_core
        assert f.__module__ == "_rust_core"

    @pytest.mark.parametrize("name", PRESENT)
    def test_signature(self, name):
        params = SIGNATURES[name]
        f = function(name)
        assert f.__text_signature__ == f"({', '.join(params)})"
        assert f.__doc__ is None  # the docstring holds only the text signature
        signature = inspect.signature(f)
        assert tuple(signature.parameters) == params
        for p in signature.parameters.values():
            assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
            assert p.default is inspect.Parameter.empty

    def test_import_does_not_import_numpy(self):
        result = run_python("import sys, _rust_core; assert 'numpy' not in sys.modules; print(_rust_core.rust_available())")
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "True"

    def test_rust_available_refuses_arguments(self):
        with pytest.raises(TypeError):
            _rust_core.rust_available(1)


class TestArgumentMatching:
    @pytest.mark.parametrize("name", WITH_PARAMETERS)
    def test_too_many_positional(self, name):
        n = len(SIGNATURES[name])
        with pytest.raises(TypeError) as info:
            function(name)(*([None] * (n + 1)))
        assert str(info.value) == f"{name}() takes {n} positional arguments but {n + 1} were given"

    @pytest.mark.parametrize("name", WITH_PARAMETERS)
    def test_unexpected_keyword(self, name):
        with pytest.raises(TypeError) as info:
            function(name)(zeta=1)
        assert str(info.value) == f"{name}() got an unexpected keyword argument 'zeta'"

    @pytest.mark.parametrize("name", WITH_PARAMETERS)
    def test_multiple_values(self, name):
        first = SIGNATURES[name][0]
        with pytest.raises(TypeError) as info:
            function(name)(None, **{first: None})
        assert str(info.value) == f"{name}() got multiple values for argument '{first}'"

    @pytest.mark.parametrize("name", WITH_PARAMETERS)
    def test_missing_lists_names_in_parameter_order(self, name):
        params = SIGNATURES[name]
        quoted = [f"'{p}'" for p in params]
        if len(quoted) == 1:
            listed = quoted[0]
        elif len(quoted) == 2:
            listed = " and ".join(quoted)
        else:
            listed = ", ".join(quoted[:-1]) + ", and " + quoted[-1]
        noun = "argument" if len(params) == 1 else "arguments"
        with pytest.raises(TypeError) as info:
            function(name)()
        assert str(info.value) == f"{name}() missing {len(params)} required positional {noun}: {listed}"

    def test_missing_after_keywords(self):
        with pytest.raises(TypeError) as info:
            _rust_core.squared_euclidean_cost_matrix(y=np.ones((1, 1)))
        assert str(info.value) == "squared_euclidean_cost_matrix() missing 1 required positional argument: 'x'"

    def test_first_bad_keyword_in_passing_order_is_reported(self):
        a = np.ones((2, 2))
        with pytest.raises(TypeError, match="unexpected keyword argument 'b'"):
            _rust_core.squared_euclidean_cost_matrix(a, b=1, x=a)
        with pytest.raises(TypeError, match="multiple values for argument 'x'"):
            _rust_core.squared_euclidean_cost_matrix(a, x=a, b=1)

    def test_matching_comes_before_conversion(self):
        with pytest.raises(TypeError, match="takes 2 positional arguments but 3 were given"):
            _rust_core.squared_euclidean_cost_matrix("not an array", None, None)

    def test_keywords_in_any_order(self):
        a, b = np.arange(6.0).reshape(3, 2), np.arange(4.0).reshape(2, 2)
        expected = _rust_core.squared_euclidean_cost_matrix(a, b)
        assert np.array_equal(_rust_core.squared_euclidean_cost_matrix(y=b, x=a), expected)
        assert np.array_equal(_rust_core.squared_euclidean_cost_matrix(a, y=b), expected)


class Sub(np.ndarray):
    pass


class TestArrayConversion:
    @pytest.mark.parametrize(
        "value, type_name",
        [
            ([[1.0]], "list"),
            ((1.0,), "tuple"),
            (1.5, "float"),
            ("text", "str"),
            (np.float64(1.0), "float64"),
            (np.ones((2, 2), dtype=np.float32), "ndarray"),
            (np.ones((2, 2), dtype=np.int64), "ndarray"),
            (np.ones(3), "ndarray"),
            (np.ones((1, 2, 2)), "ndarray"),
            (np.ones((2, 2), dtype=">f8"), "ndarray"),
            (np.ones((2, 2), dtype=np.complex128), "ndarray"),
        ],
    )
    @pytest.mark.parametrize("position", ["x", "y"])
    def test_refused_with_note(self, value, type_name, position):
        args = {"x": np.ones((2, 2)), "y": np.ones((2, 2)), position: value}
        with pytest.raises(TypeError) as info:
            _rust_core.squared_euclidean_cost_matrix(**args)
        assert str(info.value) == f"'{type_name}' object is not an instance of 'ndarray'"
        assert info.value.__notes__ == [f"while processing '{position}'"]

    def test_none(self):
        with pytest.raises(TypeError) as info:
            _rust_core.squared_euclidean_cost_matrix(np.ones((2, 2)), None)
        assert str(info.value) == "'None' is not an instance of 'ndarray'"
        assert info.value.__notes__ == ["while processing 'y'"]

    def test_first_failing_argument_is_reported(self):
        with pytest.raises(TypeError) as info:
            _rust_core.squared_euclidean_cost_matrix([1.0], None)
        assert info.value.__notes__ == ["while processing 'x'"]

    def test_subclass_accepted(self):
        a = np.arange(6.0).reshape(3, 2)
        assert np.array_equal(
            _rust_core.squared_euclidean_cost_matrix(a.view(Sub), a), _rust_core.squared_euclidean_cost_matrix(a, a)
        )

    @pytest.mark.parametrize("name", [name for name in PRESENT if any(isinstance(a, np.ndarray) for a in VALID[name])])
    def test_read_only_and_unaligned_inputs_are_read_in_place(self, name):
        def frozen(a):
            a = a.copy()
            a.flags.writeable = False
            return a

        args = VALID[name]
        expected = function(name)(*args)
        for change in (frozen, lambda a: helpers.relayout(a, "unaligned")):
            changed = [change(a) if isinstance(a, np.ndarray) else a for a in args]
            assert_same_result(function(name)(*changed), expected)

    def test_inputs_are_not_written(self):
        a = np.arange(6.0).reshape(3, 2)
        before = a.copy()
        _rust_core.squared_euclidean_cost_matrix(a, a)
        assert np.array_equal(a, before)


def unsigned_function():
    if "dtw" in PRESENT:
        return lambda v: _rust_core.dtw(np.ones((2, 1)), np.ones((2, 1)), v), "sakoe_chiba_radius"
    if "das_dennis_py" in PRESENT:
        return lambda v: _rust_core.das_dennis_py(1, v), "n_partitions"
    pytest.skip("no function with an unsigned parameter yet")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


class TestUnsignedConversion:
    @pytest.mark.parametrize("value", [0, 1, True, False, np.int64(3), np.uint64(2**64 - 1), Index(5), 2**64 - 1])
    def test_accepted(self, value):
        call, _ = unsigned_function()
        call(value)

    @pytest.mark.parametrize("value", [-1, 2**64, np.int64(-2), Index(-1), Index(2**70)])
    def test_out_of_range_is_overflow_error(self, value):
        call, param = unsigned_function()
        with pytest.raises(OverflowError) as info:
            call(value)
        assert info.value.__notes__ == [f"while processing '{param}'"]

    @pytest.mark.parametrize("value", [2.0, "3", [1], np.float64(1.0)])
    def test_non_integer_is_type_error(self, value):
        call, param = unsigned_function()
        with pytest.raises(TypeError) as info:
            call(value)
        assert info.value.__notes__ == [f"while processing '{param}'"]

    def test_index_raising_propagates(self):
        call, param = unsigned_function()
        with pytest.raises(ZeroDivisionError) as info:
            call(Index(ZeroDivisionError("boom")))
        assert info.value.__notes__ == [f"while processing '{param}'"]


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


def float_function():
    for name in ("soft_dtw", "gak", "unnormalized_gak_py"):
        if name in PRESENT:
            return (lambda v: function(name)(np.ones((1, 1)), np.zeros((1, 1)), v)), SIGNATURES[name][2]
    pytest.skip("no function with a float parameter yet")


class TestFloatConversion:
    @pytest.mark.parametrize("value", [1.0, 1, True, np.float64(1.0), np.float32(1.0), Floaty(1.0), Index(1)])
    def test_accepted_as_the_same_float(self, value):
        call, _ = float_function()
        assert call(value) == call(1.0)

    @pytest.mark.parametrize("value", ["1.0", None, [1.0], Floaty(ValueError("no"))])
    def test_refused_with_note(self, value):
        call, param = float_function()
        with pytest.raises((TypeError, ValueError)) as info:
            call(value)
        assert info.value.__notes__ == [f"while processing '{param}'"]


class TestResults:
    def test_matrix_owns_its_buffer(self):
        a = np.arange(6.0).reshape(3, 2)
        result = _rust_core.squared_euclidean_cost_matrix(a, a)
        assert result.base is not None and not isinstance(result.base, np.ndarray)
        assert result.flags.c_contiguous and result.flags.writeable and result.flags.aligned
        assert not np.shares_memory(result, a)
        result[...] = 1.0  # writeable for real
        assert (result == 1.0).all()

    def test_empty_result_is_a_real_array(self):
        result = _rust_core.squared_euclidean_cost_matrix(np.ones((0, 2)), np.ones((3, 2)))
        assert result.shape == (0, 3) and result.dtype == np.float64 and result.flags.c_contiguous

    def test_tracemalloc_sees_result_buffers(self):
        a = np.zeros((1000, 1))
        tracemalloc.start()
        try:
            before = tracemalloc.get_traced_memory()[0]
            result = _rust_core.squared_euclidean_cost_matrix(a, a)
            grown = tracemalloc.get_traced_memory()[0] - before
            del result
            released = tracemalloc.get_traced_memory()[0] - before
        finally:
            tracemalloc.stop()
        assert grown >= 8 * 1000 * 1000
        assert released < 8 * 1000 * 1000


class TestInternalFailure:
    def fail(self):
        _rust_core.squared_euclidean_cost_matrix(np.ones((2, 3)), np.ones((2, 2)))

    def test_type_and_hierarchy(self):
        assert PanicException.__qualname__ == "PanicException"
        assert PanicException.__module__ == "pyo3_runtime"
        assert PanicException.__bases__ == (BaseException,)
        assert not issubclass(PanicException, Exception)

    def test_not_caught_by_except_exception(self):
        with pytest.raises(PanicException) as info:
            try:
                self.fail()
            except Exception:  # noqa: BLE001 - the point of the test
                pytest.fail("caught by except Exception")
        assert info.value.args == ("ndarray: index out of bounds",)

    def test_one_type_per_process(self):
        with pytest.raises(BaseException) as info:
            self.fail()
        assert type(info.value) is PanicException


class TestHugeSizes:
    """Zero-stride views make astronomically large inputs out of one element."""

    def test_unsatisfiable_result_is_memory_error(self):
        x = np.broadcast_to(np.ones((1, 1)), (10**6, 1))
        with pytest.raises(MemoryError):
            _rust_core.squared_euclidean_cost_matrix(x, x)
        # The module keeps working afterwards.
        assert _rust_core.squared_euclidean_cost_matrix(np.ones((1, 1)), np.ones((1, 1)))[0, 0] == 0.0

    def test_size_overflow_is_internal_failure(self):
        x = np.broadcast_to(np.ones((1, 1)), (2**40, 1))
        with pytest.raises(PanicException, match="capacity overflow"):
            _rust_core.squared_euclidean_cost_matrix(x, x)

    @pytest.mark.parametrize("name", ["cdist_dtw", "cdist_soft_dtw", "cdist_manhattan"])
    def test_huge_set_against_an_empty_one_is_an_empty_matrix(self, name):
        huge = np.broadcast_to(np.ones((1, 3, 1)), (10**12, 3, 1))
        args = (huge, np.ones((0, 3, 1))) + ((None,) if name == "cdist_dtw" else (1.0,) if name != "cdist_manhattan" else ())
        result = getattr(_rust_core, name)(*args)
        assert result.shape == (10**12, 0)

    def test_sorting_no_rows_does_not_read_the_objectives(self):
        assert _rust_core.fast_non_dominated_sort_py(np.broadcast_to(np.ones((1, 1)), (0, 10**12))) == []


def test_keyword_that_utf8_cannot_hold_is_just_unknown():
    with pytest.raises(TypeError) as info:
        _rust_core.dtw(np.ones((1, 1)), np.ones((1, 1)), None, **{"\ud800": 1})
    assert "got an unexpected keyword argument" in str(info.value)
