"""Plain-Python Manhattan distance: one running sum in x's row-major order."""

from reference_ieee import IndexFailure


def manhattan(x, y) -> float:
    rows, cols = x.shape
    total = 0.0
    if rows == 0 or cols == 0:
        return total
    if y.shape[1] < cols:
        raise IndexFailure
    xs, ys = x.tolist(), y.tolist()
    for r in range(rows):
        if r >= y.shape[0]:
            raise IndexFailure
        for c in range(cols):
            total += abs(xs[r][c] - ys[r][c])
    return total
