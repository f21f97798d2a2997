// How a lane kernel obtains its exponentials: the library's call per lane (LibraryExp), or the
// lane exp of one of the library's variants (LaneExp), whose bits are the library's. Included by
// the instruction-set files inside their namespace, after simd/exp-inl.hpp.

struct LibraryExp {
    static constexpr bool in_lanes = false;
};

template <bool Fused>
struct LaneExp {
    static constexpr bool in_lanes = true;
    template <class Ops>
    static typename Ops::V compute(typename Ops::V x) {
        return ExactExp<Ops, Fused>::compute(x);
    }
};
