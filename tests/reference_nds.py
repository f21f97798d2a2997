"""Plain-Python non-dominated sorting: the pairwise dominance scan and front peeling, step
by step as the module defines them, on lists of Python floats."""


def dominance(a, b):
    """(a better somewhere, b better somewhere) over every objective, strict < only."""
    a_better = b_better = False
    for x, y in zip(a, b):
        if x < y:
            a_better = True
        if y < x:
            b_better = True
    return a_better, b_better


def fast_non_dominated_sort(rows):
    """rows: list of lists of floats. Returns the fronts as lists of row indices."""
    n = len(rows)
    dominated = []
    count = []
    for i in range(n):
        mine, dominated_by = [], 0
        for j in range(n):
            if j == i:
                continue
            i_better, j_better = dominance(rows[i], rows[j])
            if i_better and not j_better:
                mine.append(j)
            elif j_better and not i_better:
                dominated_by += 1
        dominated.append(mine)
        count.append(dominated_by)

    remaining = [True] * n
    fronts = []
    while any(remaining):
        front = [i for i in range(n) if remaining[i] and count[i] == 0]
        if not front:
            fronts.append([i for i in range(n) if remaining[i]])
            break
        for p in front:
            remaining[p] = False
            for q in dominated[p]:
                if remaining[q] and count[q] > 0:
                    count[q] -= 1
        fronts.append(front)
    return fronts
