"""Plain-Python soft-DTW over the full accumulated matrix, in the module's operation order."""

import math

from reference_ieee import c_div, c_exp, c_log, cost_matrix


def min_ignoring_nan(a: float, b: float) -> float:
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return b if b < a else a


def soft_dtw(x, y, gamma: float) -> float:
    costs = cost_matrix(x, y)
    n, m = x.shape[0], y.shape[0]
    r = [[math.inf] * (m + 1) for _ in range(n + 1)]
    r[0][0] = 0.0
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            up, diag, left = r[i - 1][j], r[i - 1][j - 1], r[i][j - 1]
            mu = min_ignoring_nan(min_ignoring_nan(up, diag), left)
            s = (c_exp(c_div(mu - up, gamma)) + c_exp(c_div(mu - diag, gamma))) + c_exp(c_div(mu - left, gamma))
            r[i][j] = (mu - c_log(s) * gamma) + costs[i - 1][j - 1]
    return r[n][m]
