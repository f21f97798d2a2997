"""Plain-Python squared-Euclidean cost matrix: rows of x outer, rows of y inner, features
summed in increasing order from 0.0."""


class IndexFailure(Exception):
    """The reference's stand-in for the module's "ndarray: index out of bounds" failure."""


def cost_matrix(x, y):
    n, m = len(x), len(y)
    d = len(x[0]) if n else 0
    result = [[0.0] * m for _ in range(n)]
    if n == 0 or m == 0 or d == 0:
        return result
    if len(y[0]) < d:
        raise IndexFailure
    for i in range(n):
        for j in range(m):
            total = 0.0
            for k in range(d):
                diff = x[i][k] - y[j][k]
                total += diff * diff
            result[i][j] = total
    return result
