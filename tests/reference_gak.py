"""Plain-Python global alignment kernel over the full matrices, in the module's operation order,
and the same sums in log space for those beyond the range of doubles."""

import math

from reference_ieee import c_div, c_exp, c_sqrt, cost_matrix


def local_kernels(x, y, sigma: float):
    costs = cost_matrix(x, y)
    denom = (sigma + sigma) * sigma
    kernel = []
    for row in costs:
        kernel_row = []
        for cost in row:
            e = c_exp(c_div(-cost, denom))
            kernel_row.append(c_div(1.0, 2.0 - e) * e)
        kernel.append(kernel_row)
    return kernel


def unnormalized_gak(x, y, sigma: float) -> float:
    kernel = local_kernels(x, y, sigma)
    n, m = x.shape[0], y.shape[0]
    r = [[0.0] * (m + 1) for _ in range(n + 1)]
    r[0][0] = 1.0
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            r[i][j] = ((r[i][j - 1] + r[i - 1][j]) + r[i - 1][j - 1]) * kernel[i - 1][j - 1]
    return r[n][m]


def log_unnormalized_gak(x, y, sigma: float) -> float:
    """ln K(x, y) from the same local kernels, summed in log space: no overflow, no underflow."""
    kernel = local_kernels(x, y, sigma)
    n, m = x.shape[0], y.shape[0]
    minus_inf = -math.inf
    above = [0.0] + [minus_inf] * m
    for i in range(n):
        row = [minus_inf] * (m + 1)
        for j in range(1, m + 1):
            terms = (row[j - 1], above[j], above[j - 1])
            top = max(terms)
            k = kernel[i][j - 1]
            if top == minus_inf or k == 0.0:
                continue
            row[j] = top + math.log(sum(math.exp(t - top) for t in terms)) + math.log(k)
        above = row
    return above[m]


def in_range(v: float) -> bool:
    return math.isfinite(v) and v != 0.0


def normalized(kxy: float, kxx: float, kyy: float, logs) -> float:
    """The plain quotient while the sums and the product under the root are ordinary numbers (or
    some sum is NaN); otherwise the ratio from the sums in log space, `logs()` giving their
    logarithms."""
    if any(math.isnan(k) for k in (kxy, kxx, kyy)) or all(in_range(k) for k in (kxy, kxx, kyy, kxx * kyy)):
        return c_div(kxy, c_sqrt(kxx * kyy))
    lxy, lxx, lyy = logs()
    return c_exp(lxy - (lxx + lyy) / 2.0)


def gak(x, y, sigma: float) -> float:
    kxy = unnormalized_gak(x, y, sigma)
    kxx = unnormalized_gak(x, x, sigma)
    kyy = unnormalized_gak(y, y, sigma)
    return normalized(kxy, kxx, kyy, lambda: (log_unnormalized_gak(x, y, sigma), log_unnormalized_gak(x, x, sigma),
                                              log_unnormalized_gak(y, y, sigma)))


def cdist_gak(x, y, sigma: float):
    dx = [unnormalized_gak(a, a, sigma) for a in x]
    dy = [unnormalized_gak(b, b, sigma) for b in y]

    def entry(i, a, j, b):
        logs = lambda: (log_unnormalized_gak(a, b, sigma), log_unnormalized_gak(a, a, sigma),  # noqa: E731
                        log_unnormalized_gak(b, b, sigma))
        return normalized(unnormalized_gak(a, b, sigma), dx[i], dy[j], logs)

    return [[entry(i, a, j, b) for j, b in enumerate(y)] for i, a in enumerate(x)]
