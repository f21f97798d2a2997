"""Plain-Python Das-Dennis directions: the last-in-first-out work list, then the stable
lexicographic sort, as the module defines them."""


def das_dennis(n_dim, n_partitions):
    if n_dim == 0:
        raise ValueError(f"n_dim must be >= 1, got {n_dim}")
    if n_dim == 1:
        return [[1.0]]
    if n_partitions == 0:
        return [[1.0 / float(n_dim)] * n_dim]
    p = float(n_partitions)
    rows = []
    work = [([], n_partitions)]
    while work:
        partial, remaining = work.pop()
        if len(partial) == n_dim - 1:
            rows.append(partial + [float(remaining) / p])
            continue
        for v in range(remaining, -1, -1):
            work.append((partial + [float(v) / p], remaining - v))
    rows.sort()  # Python's sort is stable and compares lists lexicographically
    return rows
