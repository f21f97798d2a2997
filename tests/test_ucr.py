"""1-nearest-neighbour on the UCR archive's GunPoint reproduces the archive's published error
rates, and a band of radius 0 is the Euclidean distance summed step by step."""

import math
import sys
from pathlib import Path

import numpy as np
import pytest

import _rust_core

# The demo's reader of the archive files is the one under test here as well.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "demo"))
import ucr  # noqa: E402


@pytest.fixture(scope="module")
def gunpoint():
    train_x, train_y = ucr.load("GunPoint", "TRAIN")
    test_x, test_y = ucr.load("GunPoint", "TEST")
    assert train_x.shape == (50, 150, 1) and test_x.shape == (150, 150, 1)
    assert set(train_y) == set(test_y) == {"1", "2"}
    return train_x, train_y, test_x, test_y


@pytest.mark.parametrize("measure, radius", [("Euclidean", 0), ("DTW", None)])
def test_gunpoint_error_rate_is_the_published_one(gunpoint, measure, radius):
    train_x, train_y, test_x, test_y = gunpoint
    distances = _rust_core.cdist_dtw(test_x, train_x, radius)
    errors = int(np.sum(train_y[distances.argmin(axis=1)] != test_y))
    published = ucr.PUBLISHED_ERROR["GunPoint"][0 if radius == 0 else 1]
    # The archive prints the rate to four places; 150 test series make it a whole count.
    assert errors == round(published * len(test_y))
    assert round(errors / len(test_y), 4) == published


def test_radius_zero_is_the_stepwise_euclidean_distance(gunpoint):
    train_x, _, test_x, _ = gunpoint
    rows, columns = test_x[::15], train_x[::5]
    distances = _rust_core.cdist_dtw(rows, columns, 0)
    for i, a in enumerate(rows[:, :, 0].tolist()):
        for j, b in enumerate(columns[:, :, 0].tolist()):
            total = 0.0
            for u, v in zip(a, b):
                total += (u - v) * (u - v)
            assert distances[i, j] == math.sqrt(total)
