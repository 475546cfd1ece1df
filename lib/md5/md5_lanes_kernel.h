// Body of the side-by-side MD5 of kLanes 4096-byte blocks (or messages of
// any one length). Included once per
// instruction set, inside that set's namespace and target region, after it
// has defined the vector type V, kLanes and the operations set1, add,
// round_f, round_g, round_h, round_i, rotl<S>, load_chunk and store_lanes.
// No include guard: each inclusion is meant.

template <int I>
__attribute__((always_inline)) inline void lane_step(V& a, V b, V c, V d, const V* x) {
    // a + x + K does not wait for b, so only the round function, one add, the
    // rotate and the last add lie on the chain from step to step.
    const V t = add(a, add(x[md5_rounds::word_index(I)], set1(md5_rounds::kAdd[I])));
    V f;
    if constexpr (I < 16) {
        f = round_f(b, c, d);
    } else if constexpr (I < 32) {
        f = round_g(b, c, d);
    } else if constexpr (I < 48) {
        f = round_h(b, c, d);
    } else {
        f = round_i(b, c, d);
    }
    a = add(b, rotl<md5_rounds::kShift[I]>(add(t, f)));
}

template <int I>
__attribute__((always_inline)) inline void lane_steps(V& a, V& b, V& c, V& d, const V* x) {
    lane_step<I>(a, b, c, d, x);
    lane_step<I + 1>(d, a, b, c, x);
    lane_step<I + 2>(c, d, a, b, x);
    lane_step<I + 3>(b, c, d, a, x);
    if constexpr (I + 4 < 64) lane_steps<I + 4>(a, b, c, d, x);
}

__attribute__((always_inline)) inline void lane_compress(V* s, const V* x) {
    V a = s[0], b = s[1], c = s[2], d = s[3];
    lane_steps<0>(a, b, c, d, x);
    s[0] = add(s[0], a);
    s[1] = add(s[1], b);
    s[2] = add(s[2], c);
    s[3] = add(s[3], d);
}

__attribute__((always_inline)) inline void store_words(const V* s, std::uint32_t words[][4]) {
    for (int r = 0; r < 4; ++r) {
        alignas(64) std::uint32_t lane_words[kLanes];
        store_lanes(lane_words, s[r]);
        for (int l = 0; l < kLanes; ++l) words[l][r] = lane_words[l];
    }
}

// Digest words of the kLanes blocks at p: 64 full chunks each, then the
// padding chunk every 4096-byte block shares (0x80, zeros, 32768 bits).
void hash_group(const std::uint8_t* const p[], std::uint32_t words[][4]) {
    V s[4] = {set1(md5_rounds::kInit[0]), set1(md5_rounds::kInit[1]), set1(md5_rounds::kInit[2]),
              set1(md5_rounds::kInit[3])};
    for (std::size_t offset = 0; offset < 4096; offset += 64) {
        V x[16];
        load_chunk(p, offset, x);
        lane_compress(s, x);
    }
    V pad[16];
    for (int i = 0; i < 16; ++i) pad[i] = set1(0);
    pad[0] = set1(0x80u);
    pad[14] = set1(4096u * 8u);
    lane_compress(s, pad);
    store_words(s, words);
}

// Digest words of kLanes short messages, each given as its single chunk
// already padded (a message of at most 55 bytes fits one).
void hash_chunk(const std::uint8_t* const p[], std::uint32_t words[][4]) {
    V s[4] = {set1(md5_rounds::kInit[0]), set1(md5_rounds::kInit[1]), set1(md5_rounds::kInit[2]),
              set1(md5_rounds::kInit[3])};
    V x[16];
    load_chunk(p, 0, x);
    lane_compress(s, x);
    store_words(s, words);
}

// Digest words of kLanes messages of length bytes each: their whole chunks
// straight from the messages, then the tail every message pads alike (its
// last length % 64 bytes, 0x80, zeros and the bit length) from a copy.
void hash_messages(const std::uint8_t* const p[], std::size_t length, std::uint32_t words[][4]) {
    V s[4] = {set1(md5_rounds::kInit[0]), set1(md5_rounds::kInit[1]), set1(md5_rounds::kInit[2]),
              set1(md5_rounds::kInit[3])};
    const std::size_t whole = length / 64 * 64;
    V x[16];
    for (std::size_t offset = 0; offset < whole; offset += 64) {
        load_chunk(p, offset, x);
        lane_compress(s, x);
    }
    const std::size_t rest = length - whole;
    const std::size_t chunks = rest < 56 ? 1 : 2;
    alignas(64) std::uint8_t tails[kLanes][128] = {};
    const std::uint8_t* tail_of[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        if (rest > 0) std::memcpy(tails[l], p[l] + whole, rest);
        tails[l][rest] = 0x80;
        std::uint64_t bits = static_cast<std::uint64_t>(length) << 3;
        for (std::size_t i = chunks * 64 - 8; i < chunks * 64; ++i, bits >>= 8)
            tails[l][i] = static_cast<std::uint8_t>(bits);
        tail_of[l] = tails[l];
    }
    for (std::size_t c = 0; c < chunks; ++c) {
        load_chunk(tail_of, 64 * c, x);
        lane_compress(s, x);
    }
    store_words(s, words);
}
