"""Plain-Python DTW: the full cost matrix, the band mask and the accumulated-cost matrix, in
the documented loop order, with Python floats only."""

import math

from reference_cost import IndexFailure, cost_matrix  # noqa: F401 - IndexFailure re-exported

INF = math.inf


def sakoe_chiba_mask(n, m, radius):
    mask = [[False] * m for _ in range(n)]
    if n == 0 or m == 0:
        return mask
    q = float(n - 1) if n >= 2 else 1.0
    s = float(m) - 1.0
    r = float(radius)
    for i in range(n):
        centre = (float(i) * s) / q
        for j in range(m):
            mask[i][j] = abs(float(j) - centre) <= r
    return mask


def min_ignoring_nan(a, b):
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return a if a <= b else b


def accumulated_cost(cost, mask, n, m):
    acc = [[INF] * (m + 1) for _ in range(n + 1)]
    acc[0][0] = 0.0
    for i in range(n):
        for j in range(m):
            if mask is None or mask[i][j]:
                best = min_ignoring_nan(min_ignoring_nan(acc[i][j + 1], acc[i + 1][j]), acc[i][j])
                acc[i + 1][j + 1] = cost[i][j] + best
    return acc


def _accumulate(x, y, radius):
    cost = cost_matrix(x, y)
    n, m = len(x), len(y)
    mask = None if radius is None else sakoe_chiba_mask(n, m, radius)
    return accumulated_cost(cost, mask, n, m), n, m


def dtw(x, y, radius):
    """x, y: lists of steps, each a list of floats; radius: None or a non-negative int."""
    acc, n, m = _accumulate(x, y, radius)
    return math.sqrt(acc[n][m])


def dtw_with_path(x, y, radius):
    acc, n, m = _accumulate(x, y, radius)
    path = []
    i, j = n, m
    if n > 0 and m > 0:
        while True:
            path.append((i - 1, j - 1))
            diag, up, left = acc[i - 1][j - 1], acc[i - 1][j], acc[i][j - 1]
            if diag <= left and diag <= up:
                i, j = i - 1, j - 1
            elif up <= left:
                i = i - 1
            else:
                j = j - 1
            if i == 0 or j == 0:
                break
    path.reverse()
    return math.sqrt(acc[n][m]), path
