// A small dense solver for the square systems of the hyperplane step: LU factorisation with
// partial pivoting, then forward and back substitution. Written out in full because the exact
// order of every operation decides the bits of the result.
#pragma once

#include <optional>
#include <vector>

#include "core/buffer.hpp"

namespace rc::algorithm {

// Solves a·x = b for the n×n matrix `a` (row-major, taken by value and overwritten by its
// factors) and the n entries of `b`.
//
// Factorisation (Doolittle with partial pivoting), for each column k in increasing order:
//   - the pivot row is the first row p ≥ k whose |a[p][k]| is the largest of the column
//     (scanning down from row k and moving only on a strictly greater magnitude);
//   - a column whose largest magnitude is exactly 0.0 is left as it is: no exchange, no
//     elimination (its zero diagonal entry makes the solve fail below);
//   - otherwise rows k and p of a and of b are exchanged, and for every row i > k the
//     multiplier l = a[i][k] / a[k][k] is stored in a[i][k] and a[i][j] -= l * a[k][j] for
//     j > k in increasing order.
// The solve fails (nullopt) exactly when a diagonal entry of the upper factor is 0.0; a NaN
// diagonal entry does not count. Otherwise, with s starting at 0.0 and summed in increasing j:
//   forward:  y[i] = b[i] - s,           s = Σ_{j<i} L[i][j]·y[j],   i = 0 … n-1
//   back:     x[i] = (y[i] - s) / U[i][i], s = Σ_{j>i} U[i][j]·x[j], i = n-1 … 0
// An empty (0×0) system is solvable and has the empty solution.
std::optional<std::vector<double>> lu_solve(Matrix<double> a, std::vector<double> b);

}  // namespace rc::algorithm
