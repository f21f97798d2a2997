"""Plain-Python reference for associate_to_niches_py: normalise, build the full distance
matrix in solution order, then assign with the sequential strict-less rule."""

import math

INDEX_OUT_OF_BOUNDS = "ndarray: index out of bounds"


class Failure(Exception):
    """The internal failure the module raises, with its message."""


def _at(seq, i):
    if i >= len(seq):
        raise Failure(INDEX_OUT_OF_BOUNDS)
    return seq[i]


def squared_distance_parts(p, w, s):
    """The squared perpendicular distance of p from the line along w (squared norm s)."""
    dot = 0.0
    for k in range(len(p)):
        dot = dot + p[k] * w[k]
    t = dot / s
    total = 0.0
    for k in range(len(p)):
        diff = p[k] - w[k] * t
        total = total + diff * diff
    return total


def associate_to_niches(f, n, ref_dirs, ideal, nadir):
    """(niches, distances) as lists; f has m rows of n floats, ref_dirs R rows (lists)."""
    m, directions = len(f), len(ref_dirs)
    normalised = [[0.0] * n for _ in range(m)]
    if m > 0 and n > 0:
        for i in range(m):
            for j in range(n):
                span = _at(nadir, j) - _at(ideal, j)
                denominator = span if span > 1e-12 else 1e-12
                normalised[i][j] = (f[i][j] - ideal[j]) / denominator

    norms = []
    for r in range(directions):
        s = 0.0
        for k in range(n):
            w = _at(ref_dirs[r], k)
            s = s + w * w
        norms.append(s if s > 1e-14 else 1e-14)

    distances = []
    for i in range(m):
        row = []
        for r in range(directions):
            if n == 0:
                row.append(0.0)
            else:
                row.append(math.sqrt(squared_distance_parts(normalised[i], ref_dirs[r][:n], norms[r])))
        distances.append(row)

    niches, nearest = [], []
    for i in range(m):
        best = _at(distances[i], 0)
        best_index = 0
        for r in range(1, directions):
            if distances[i][r] < best:
                best, best_index = distances[i][r], r
        niches.append(best_index)
        nearest.append(best)
    return niches, nearest
