"""C double arithmetic in plain Python where Python's own differs: division by zero, exp that
overflows, log of zero or of a negative number. Everything else (+, -, *, abs, comparisons)
already behaves as IEEE double arithmetic in Python."""

import math


def c_div(a: float, b: float) -> float:
    if b == 0.0:
        if a == 0.0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def c_exp(v: float) -> float:
    if math.isnan(v):
        return v
    try:
        return math.exp(v)
    except OverflowError:
        return math.inf


def c_log(v: float) -> float:
    if math.isnan(v) or v < 0.0:
        return math.nan
    if v == 0.0:
        return -math.inf
    if math.isinf(v):
        return v
    return math.log(v)


def c_sqrt(v: float) -> float:
    if v < 0.0:
        return math.nan
    return math.sqrt(v)


class IndexFailure(Exception):
    """Where the module must fail with "ndarray: index out of bounds"."""


def cost_matrix(x, y):
    """Squared Euclidean costs between the rows of two 2-D arrays, over x's columns, each cell
    summed from 0.0 in increasing feature order."""
    n, d = x.shape
    m, e = y.shape
    if n == 0 or m == 0 or d == 0:
        return [[0.0] * m for _ in range(n)]
    if e < d:
        raise IndexFailure
    xs, ys = x.tolist(), y.tolist()
    costs = []
    for i in range(n):
        row = []
        for j in range(m):
            total = 0.0
            for k in range(d):
                diff = xs[i][k] - ys[j][k]
                total += diff * diff
            row.append(total)
        costs.append(row)
    return costs
