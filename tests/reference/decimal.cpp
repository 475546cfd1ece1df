#include "reference/decimal.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace kestrav3 {

namespace {

// Capacity of the result text (digits plus NUL) and of the two working stores
// of a product. The largest products the generators form are 20 by 20 digits
// (630 row entries) and 50 by 10 digits (565 row entries, 60 columns).
constexpr std::size_t result_capacity = 1024;
constexpr std::size_t row_capacity = 1024;
constexpr std::size_t column_capacity = 1024;

using Result = std::array<char, result_capacity>;

// Entries of the row store needed for operands of a and b digits: each row
// holds a digits, the row's final carry and r + 1 trailing zeros.
constexpr std::size_t row_entries(std::size_t a, std::size_t b) { return b * (a + 2) + b * (b - (b > 0 ? 1 : 0)) / 2; }

// Offset of row r in the row store.
constexpr std::size_t row_start(std::size_t a, std::size_t r) { return r * (a + 2) + r * (r - (r > 0 ? 1 : 0)) / 2; }

static_assert(row_entries(20, 20) == 630 && row_entries(50, 10) == 565);
static_assert(row_start(3, 2) == 11);  // rows of 3+1+1 and 3+1+2 entries before it

// Digit characters to digit values, in place.
void to_digit_values(char* s, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) s[i] = static_cast<char>(s[i] - '0');
}

// Pass one: the partial products of a by each digit of b, least significant
// digit of b first, each row least significant entry first.
void partial_products(const char* a, std::size_t la, const char* b, std::size_t lb, signed char* rows) {
    std::size_t at = 0;
    for (std::size_t r = 0; r < lb; ++r) {
        const int bd = b[lb - 1 - r];
        int carry = 0;
        for (std::size_t i = 0; i < la; ++i) {
            const int sum = bd * a[la - 1 - i] + carry;
            rows[at++] = static_cast<signed char>(sum % 10);
            carry = sum / 10;
        }
        rows[at++] = static_cast<signed char>(carry);
        for (std::size_t z = 0; z <= r; ++z) rows[at++] = 0;
    }
}

// Pass two: column k adds entry k - r of every row r with k - r <= la. A
// negative k - r lands on the zeros that end the row before, adding nothing.
void column_sums(std::size_t la, std::size_t lb, const signed char* rows, signed char* columns) {
    int carry = 0;
    for (std::size_t k = 0; k < la + lb; ++k) {
        int total = carry;
        for (std::size_t r = 0; r < lb; ++r) {
            if (k > r + la) continue;
            const std::ptrdiff_t pos = static_cast<std::ptrdiff_t>(row_start(la, r)) + static_cast<std::ptrdiff_t>(k) -
                                       static_cast<std::ptrdiff_t>(r);
            total += rows[pos];
        }
        columns[k] = static_cast<signed char>(total % 10);
        carry = total / 10;
    }
}

// The schoolbook product into out. Operands too large for the working stores
// are left as they are and give the empty text.
char* schoolbook(char* a, char* b, Result& out) {
    const std::size_t la = std::strlen(a);
    const std::size_t lb = std::strlen(b);
    if (la + lb >= result_capacity || la + lb > column_capacity || row_entries(la, lb) > row_capacity) {
        out[0] = '\0';
        return out.data();
    }
    std::array<signed char, row_capacity> rows{};
    std::array<signed char, column_capacity> columns{};
    to_digit_values(a, la);
    to_digit_values(b, lb);
    partial_products(a, la, b, lb, rows.data());
    column_sums(la, lb, rows.data(), columns.data());
    const std::size_t digits = la + lb;
    for (std::size_t i = 0; i < digits; ++i) out[i] = static_cast<char>('0' + columns[digits - 1 - i]);
    out[digits] = '\0';
    return out.data();
}

}  // namespace

char* multiply(char* a, char* b) {
    static Result mul{};
    return schoolbook(a, b, mul);
}

char* multiply_rnd(char* a, char* b) {
    static Result mul{};
    return schoolbook(a, b, mul);
}

std::int64_t mod(const char* s, std::int64_t n) {
    if (n == 0) return 4294967295;
    // 128-bit steps keep every intermediate exact for any modulus.
    __int128 r = 0;
    for (; *s != '\0'; ++s) r = (10 * r + (*s - '0')) % n;
    return static_cast<std::int64_t>(r);
}

std::uint64_t mod_rnd(const char* s, std::uint64_t n) {
    if (n == 0) return ~std::uint64_t{0};
    // 10*r + 9 exceeds 64 bits for moduli above 2^60; step in 128 bits.
    unsigned __int128 r = 0;
    for (; *s != '\0'; ++s) r = (10 * r + static_cast<unsigned char>(*s) - '0') % n;
    return static_cast<std::uint64_t>(r);
}

}  // namespace kestrav3
