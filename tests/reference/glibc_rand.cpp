#include "reference/glibc_rand.h"

#include <array>

namespace kestrav3 {

std::uint32_t reference_first_rand(std::uint32_t seed) {
    constexpr int degree = 31;
    constexpr int separation = 3;
    std::array<std::int32_t, degree> words{};
    words[0] = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
    for (int i = 1; i < degree; ++i) {
        // 16807 times the word before, modulo 2^31 - 1 by Schrage's method in
        // signed arithmetic, as glibc computes it.
        const long long word = words[i - 1];
        const long long hi = word / 127773;
        const long long lo = word % 127773;
        long long next = 16807 * lo - 2836 * hi;
        if (next < 0) next += 2147483647;
        words[i] = static_cast<std::int32_t>(next);
    }
    int front = separation, rear = 0;
    std::uint32_t output = 0;
    for (int step = 0; step <= 10 * degree; ++step) {
        const std::uint32_t sum = static_cast<std::uint32_t>(words[front]) + static_cast<std::uint32_t>(words[rear]);
        words[front] = static_cast<std::int32_t>(sum);
        output = sum >> 1;
        front = (front + 1) % degree;
        rear = (rear + 1) % degree;
    }
    return output;
}

}  // namespace kestrav3
