"""Plain-Python global alignment kernel over the full matrices, in the module's operation order."""

from reference_ieee import c_div, c_exp, c_sqrt, cost_matrix


def unnormalized_gak(x, y, sigma: float) -> float:
    costs = cost_matrix(x, y)
    n, m = x.shape[0], y.shape[0]
    denom = (sigma + sigma) * sigma
    kernel = []
    for row in costs:
        kernel_row = []
        for cost in row:
            e = c_exp(c_div(-cost, denom))
            kernel_row.append(c_div(1.0, 2.0 - e) * e)
        kernel.append(kernel_row)
    r = [[0.0] * (m + 1) for _ in range(n + 1)]
    r[0][0] = 1.0
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            r[i][j] = ((r[i][j - 1] + r[i - 1][j]) + r[i - 1][j - 1]) * kernel[i - 1][j - 1]
    return r[n][m]


def gak(x, y, sigma: float) -> float:
    kxy = unnormalized_gak(x, y, sigma)
    kxx = unnormalized_gak(x, x, sigma)
    kyy = unnormalized_gak(y, y, sigma)
    return c_div(kxy, c_sqrt(kxx * kyy))


def cdist_gak(x, y, sigma: float):
    dx = [unnormalized_gak(a, a, sigma) for a in x]
    dy = [unnormalized_gak(b, b, sigma) for b in y]
    return [[c_div(unnormalized_gak(a, b, sigma), c_sqrt(dx[i] * dy[j])) for j, b in enumerate(y)]
            for i, a in enumerate(x)]
