// Every shared kernel template, in the order they build on each other. Included once by each
// target file, inside the target's namespace and after its ops structs, so that a new vector
// kernel is one *-inl.hpp listed here and one row in kernels.hpp and table-inl.hpp.
// (no include guard)

#include "simd/calls-inl.hpp"
#include "simd/exp-inl.hpp"
#include "simd/log_bracket-inl.hpp"
#include "distances/cost/rows-inl.hpp"
#include "distances/dtw/strip-inl.hpp"
#include "distances/dtw/path-inl.hpp"
#include "distances/soft_dtw/cells-inl.hpp"
#include "distances/gak/strip-inl.hpp"
#include "distances/manhattan/lanes-inl.hpp"
#include "algorithm/niching_search-inl.hpp"
#include "algorithm/nds/search-inl.hpp"
