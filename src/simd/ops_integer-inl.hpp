// Lanes of signed 16- or 32-bit integers, Bytes to a vector, written with the compiler's generic
// vectors, which every target's flags compile to its own instructions. Included by every
// target's ops file inside the target's namespace (no include guard). A mask's reductions (all,
// any, bits) go word by word here; a target with a movemask instruction derives its own.

template <class S, std::size_t Bytes>
struct IntegerLanes {
    typedef S V __attribute__((vector_size(Bytes)));
    static constexpr std::size_t lanes = Bytes / sizeof(S);

    static V load(const S* at) {
        V v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    static V broadcast(S value) { return V{} + value; }
    // Lane-wise signed a > b: every bit of a lane set where it holds, none where not.
    static V greater(V a, V b) { return a > b; }
    static V either(V a, V b) { return a | b; }
    static bool all(V mask) {
        std::uint64_t words[sizeof(V) / 8];
        std::memcpy(words, &mask, sizeof mask);
        std::uint64_t all = ~std::uint64_t{0};
        for (std::uint64_t w : words) all &= w;
        return all == ~std::uint64_t{0};
    }
    static bool any(V mask) {
        std::uint64_t words[sizeof(V) / 8];
        std::memcpy(words, &mask, sizeof mask);
        std::uint64_t any = 0;
        for (std::uint64_t w : words) any |= w;
        return any != 0;
    }
    // Bit i set where lane i of a mask is set.
    static std::uint64_t bits(V mask) {
        S values[lanes];
        std::memcpy(values, &mask, sizeof mask);
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < lanes; ++i) bits |= std::uint64_t{values[i] != 0} << i;
        return bits;
    }
};
