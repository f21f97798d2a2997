"""Plain-Python reference for normalization_update_py: Python floats and lists, every loop in
the order the kernel documents, including its LU solver operation by operation."""

import math

INDEX_OUT_OF_BOUNDS = "ndarray: index out of bounds"
OFF_AXIS_WEIGHT = 1e6
SMALLEST_SOLUTION = 1e-14


class Failure(Exception):
    """The internal failure the module raises, with its message."""


def lu_solve(a, b):
    """Doolittle LU with partial pivoting on copies of a (n×n lists) and b; None when a
    diagonal entry of U is exactly 0.0."""
    a = [row[:] for row in a]
    b = b[:]
    n = len(a)
    for k in range(n):
        pivot, largest = k, abs(a[k][k])
        for i in range(k + 1, n):
            if abs(a[i][k]) > largest:
                pivot, largest = i, abs(a[i][k])
        if largest == 0.0:
            continue
        a[k], a[pivot] = a[pivot], a[k]
        b[k], b[pivot] = b[pivot], b[k]
        for i in range(k + 1, n):
            factor = a[i][k] / a[k][k]
            a[i][k] = factor
            for j in range(k + 1, n):
                a[i][j] = a[i][j] - factor * a[k][j]
    if any(a[i][i] == 0.0 for i in range(n)):
        return None
    y = [0.0] * n
    for i in range(n):
        s = 0.0
        for j in range(i):
            s = s + a[i][j] * y[j]
        y[i] = b[i] - s
    x = [0.0] * n
    for i in reversed(range(n)):
        s = 0.0
        for j in range(i + 1, n):
            s = s + a[i][j] * x[j]
        x[i] = (y[i] - s) / a[i][i]
    return x


def _worst(rows, n):
    worst = [-math.inf] * n
    for row in rows:
        for j in range(n):
            if row[j] > worst[j]:
                worst[j] = row[j]
    return worst


def _front_rows(f, first_front):
    rows = []
    for index in first_front:
        unsigned = index % 2**64  # an int64 read as an unsigned machine word
        if unsigned >= len(f):
            raise Failure(INDEX_OUT_OF_BOUNDS)
        rows.append(f[unsigned])
    return rows


def normalization_update(ideal_point, f, n, first_front, n_dim):
    """(ideal, nadir) as lists; f is a list of m rows of n floats (n given for m = 0)."""
    ideal = list(ideal_point)
    for j in range(n):
        if j >= len(ideal):
            raise Failure(f"index out of bounds: the len is {len(ideal)} but the index is {len(ideal)}")
        v = ideal[j]
        for row in f:
            if row[j] < v:
                v = row[j]
        ideal[j] = v

    t = len(first_front)
    if t < n_dim:
        return ideal, _worst(_front_rows(f, first_front), n)

    front = _front_rows(f, first_front)
    p = ideal[:n]
    extremes = []
    for i in range(n):
        best, best_index = math.inf, 0
        for j, row in enumerate(front):
            value = -math.inf
            for k in range(n):
                term = (row[k] - p[k]) * (1.0 if k == i else OFF_AXIS_WEIGHT)
                if term > value:
                    value = term
            if value < best:
                best, best_index = value, j
        extremes.append(best_index)
    if n_dim < n:
        raise Failure(INDEX_OUT_OF_BOUNDS)

    a = [[front[extremes[i]][j] - p[j] for j in range(n)] for i in range(n)]
    x = lu_solve(a, [1.0] * n)
    if x is None or any(abs(c) < SMALLEST_SOLUTION for c in x):
        return ideal, _worst(front, n)
    nadir = []
    for i in range(n):
        intercept = 1.0 / x[i]
        if intercept <= 0.0:
            return ideal, _worst(front, n)
        nadir.append(p[i] + intercept)
    return ideal, nadir
