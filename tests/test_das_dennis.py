import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import PanicException, assert_same_array
from reference_das_dennis import das_dennis as reference

das_dennis = _rust_core.das_dennis_py

WORKED_EXAMPLES = {
    (1, 0): [[1.0]],
    (1, 7): [[1.0]],
    (3, 0): [[1.0 / 3.0] * 3],
    (2, 1): [[0.0, 1.0], [1.0, 0.0]],
    (2, 4): [[0.0, 1.0], [0.25, 0.75], [0.5, 0.5], [0.75, 0.25], [1.0, 0.0]],
    (3, 2): [[0, 0, 1], [0, 0.5, 0.5], [0, 1, 0], [0.5, 0, 0.5], [0.5, 0.5, 0], [1, 0, 0]],
}


@pytest.mark.parametrize(("n_dim", "n_partitions"), list(WORKED_EXAMPLES))
def test_worked_examples(n_dim, n_partitions):
    assert_same_array(das_dennis(n_dim, n_partitions), WORKED_EXAMPLES[n_dim, n_partitions])


@pytest.mark.parametrize(("n_dim", "n_partitions", "rows"), [(3, 12, 91), (5, 6, 210), (2, 0, 1), (4, 1, 4)])
def test_row_counts(n_dim, n_partitions, rows):
    assert das_dennis(n_dim, n_partitions).shape == (rows, n_dim)


@settings(max_examples=150, deadline=None)
@given(st.integers(1, 6), st.integers(0, 14))
def test_matches_reference_bit_for_bit(n_dim, n_partitions):
    assert_same_array(das_dennis(n_dim, n_partitions), reference(n_dim, n_partitions))


@pytest.mark.parametrize(("n_dim", "n_partitions"), [(8, 12), (3, 1000), (12, 5), (2, 70_000)])
def test_larger_sets_are_every_split_once_in_lexicographic_order(n_dim, n_partitions):
    # Sizes beyond the plain-Python reference: check the defining properties instead.
    result = das_dennis(n_dim, n_partitions)
    assert result.shape == (math.comb(n_partitions + n_dim - 1, n_dim - 1), n_dim)
    numerators = np.rint(result * n_partitions).astype(np.int64)
    assert np.array_equal(result, numerators / float(n_partitions))  # each entry one division
    assert (numerators.sum(axis=1) == n_partitions).all() and (numerators >= 0).all()
    # Strictly increasing in lexicographic order: sorted and free of repeats.
    keys = [tuple(row) for row in numerators.tolist()]
    assert all(a < b for a, b in zip(keys, keys[1:]))


class TestFailures:
    def test_zero_dimensions_is_a_value_error(self):
        with pytest.raises(ValueError, match=r"^n_dim must be >= 1, got 0$"):
            das_dennis(0, 4)

    def test_negative_n_dim_is_reported_by_the_conversion_first(self):
        with pytest.raises(OverflowError) as info:
            das_dennis(-1, -1)
        assert "while processing 'n_dim'" in info.value.__notes__

    def test_keywords(self):
        assert_same_array(das_dennis(n_partitions=2, n_dim=3), WORKED_EXAMPLES[3, 2])

    @pytest.mark.parametrize(("n_dim", "n_partitions"), [(60, 60), (2**64 - 1, 1), (2, 2**64 - 1), (2**62, 0)])
    def test_sizes_that_overflow_are_an_internal_failure(self, n_dim, n_partitions):
        with pytest.raises(PanicException, match="capacity overflow"):
            das_dennis(n_dim, n_partitions)

    @pytest.mark.parametrize(("n_dim", "n_partitions"), [(2, 2**50), (2**55, 0)])
    def test_results_too_large_for_memory_raise_memory_error(self, n_dim, n_partitions):
        with pytest.raises(MemoryError):
            das_dennis(n_dim, n_partitions)
