// MD5 (RFC 1321) and the two values derived from a digest: its 32-digit
// lower-case hexadecimal text and a 32-bit seed folded from that text.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrav3 {

// Chaining state, per run; after md5() it holds the digest words A, B, C, D.
extern std::uint32_t h0, h1, h2, h3;
// Puts h0..h3 back to the start words, as the library is loaded.
void reset_md5_state();

// Digest of length bytes at data into h0..h3.
void md5(const std::uint8_t* data, std::uint64_t length);

// Digest of a NUL-terminated text (without the NUL). digest_text receives 33
// bytes; *seed the XOR of the four 8-digit groups read as hexadecimal numbers.
// Returns 0; on failure the text stays "null" and -1 is returned.
int md5lib(const char* text, char* digest_text, int* seed);

// Same for exactly size bytes of a block.
int md5cnt(const void* block, int size, char* digest_text, int* seed);

// Digest texts of count independent 4096-byte blocks,
// each exactly what md5cnt gives it; computed side by side where the
// processor allows.
constexpr int max_md5_lanes = 16;

// The seed md5lib gives each of count texts (count at most 32), computed
// side by side where the processor allows when every text is at most 55
// bytes long (one chunk each), one after another otherwise.
constexpr int max_text_seeds = 32;
constexpr std::size_t max_seed_text = 55;
void md5_text_seeds(const char* const texts[], int count, int seeds[]);
void md5_blocks(const std::uint8_t* const blocks[], int count, char digest_texts[][33]);

// The 16 digest bytes in the standard order (A's low byte first).
using Md5Digest = std::array<std::uint8_t, 16>;

// MD5 of a message given in pieces of any size, with a state of its own:
// several streams (and md5() above) may run at once.
class Md5Stream {
public:
    Md5Stream();
    void update(const void* data, std::size_t size);
    // The digest of everything given so far; more may follow.
    Md5Digest digest() const;
    // a.update(a_data, a_size) and b.update(b_data, b_size), computed side
    // by side: about as fast as one of them alone.
    static void update_two(Md5Stream& a, const void* a_data, std::size_t a_size, Md5Stream& b, const void* b_data,
                           std::size_t b_size);

private:
    std::uint32_t state_[4];
    std::uint64_t length_ = 0;
    std::array<std::uint8_t, 64> pending_{};
};

Md5Digest md5_digest(const void* data, std::size_t size);

// The digests of count messages of size bytes each, as md5_digest gives
// them, computed side by side in vector lanes where the processor allows
// (independent messages of one length: the slices of a recovery set).
void md5_digests(const std::uint8_t* const messages[], std::size_t count, std::size_t size, Md5Digest digests[]);

}  // namespace kestrav3
