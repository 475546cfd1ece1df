// Rebuilding damaged input slices from recovery slices. Recovery slice e is
// the sum over the input slices i of c_i^e x_i (c_i the constant of slice
// i), so once the intact slices' shares are taken off, the chosen recovery
// slices give d equations in the d damaged slices. Gaussian elimination over
// GF(2^16) solves them, on the slices' bytes in place.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrav3::recovery {

// Chooses, from the exponents offered (in the order given), as many as there
// are damaged slices whose rows of the matrix c_damaged[k]^e are independent:
// a row that depends on those already chosen is passed over for the next.
// Returns the positions chosen in exponents: fewer than there are damaged
// slices when the offered rows do not reach the rank needed.
std::vector<std::size_t> choose_rows(const std::vector<std::uint32_t>& damaged,
                                     const std::vector<std::uint32_t>& exponents);

// The d x d matrix of the chosen rows, row-major.
std::vector<std::uint16_t> rows_matrix(const std::vector<std::uint32_t>& damaged,
                                       const std::vector<std::uint32_t>& exponents);

class Rebuilder {
public:
    // damaged: the input slice indexes to rebuild; exponents: those of the
    // recovery slices that will be loaded (as many, independent rows, from
    // choose_rows). False when there is not memory for d slices.
    bool start(std::vector<std::uint32_t> damaged, std::vector<std::uint32_t> exponents, std::size_t slice_size);
    // Where recovery slice j's data is to be loaded (slice_size bytes).
    std::uint8_t* equation(std::size_t j) { return data_.data() + j * slice_size_; }
    // Takes an intact input slice's share off every equation.
    void add_intact(std::uint32_t index, const std::uint8_t* slice);
    // The same for count intact slices at once (their shares go to each
    // equation in one sweep).
    void add_intact(const std::uint32_t indexes[], const std::uint8_t* const slices[], std::size_t count);
    // Solves; afterwards slice(k) holds damaged slice k. False when the
    // matrix is singular (choose_rows prevents that).
    bool solve();
    const std::uint8_t* slice(std::size_t k) const { return data_.data() + order_[k] * slice_size_; }

private:
    std::vector<std::uint32_t> damaged_;
    std::vector<std::uint32_t> exponents_;
    std::vector<std::uint8_t> data_;
    std::vector<std::uint16_t> factors_;
    std::vector<std::uint8_t*> targets_;
    std::vector<std::size_t> order_;
    std::size_t slice_size_ = 0;
};

}  // namespace kestrav3::recovery
