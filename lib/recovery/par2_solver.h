// Rebuilding damaged input slices from recovery slices. Recovery slice e is
// the sum over the input slices i of c_i^e x_i (c_i the constant of slice
// i), so once the intact slices' shares are taken off, the chosen recovery
// slices give d equations in the d damaged slices. Gaussian elimination over
// GF(2^16) solves them, on the slices' bytes in place.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrav3::recovery {

// Chooses, from the exponents offered (in the order given), as many as there
// are damaged slices whose rows of the matrix c_damaged[k]^e are independent:
// a row that depends on those already chosen is passed over for the next.
// Returns the positions chosen in exponents: fewer than there are damaged
// slices when the offered rows do not reach the rank needed.
std::vector<std::size_t> choose_rows(const std::vector<std::uint32_t>& damaged,
                                     const std::vector<std::uint32_t>& exponents);

// The same one row at a time, for a caller that checks each recovery
// slice's data before it takes the row: independent() says whether the
// row of an exponent adds to those taken, take() then takes it.
class RowChooser {
public:
    explicit RowChooser(std::vector<std::uint32_t> damaged) : damaged_(std::move(damaged)) {}
    bool independent(std::uint32_t exponent);
    void take();
    std::size_t taken() const { return reduced_.size(); }
    bool full() const { return reduced_.size() == damaged_.size(); }

private:
    std::vector<std::uint32_t> damaged_;
    // The rows taken, reduced: each has a 1 in its pivot column and 0 in
    // the pivot columns of those taken before it.
    std::vector<std::vector<std::uint16_t>> reduced_;
    std::vector<std::size_t> pivots_;
    std::vector<std::uint16_t> row_;  // the last independent row, reduced
    std::size_t pivot_ = 0;
};

// The most damaged slices one repair rebuilds: choosing the rows and
// solving grow with the cube of the count (1.3 s for 1024 on a 2-core
// build machine, bench/par2_repair_bench.cpp).
constexpr std::size_t max_solved_slices = 1024;

// The d x d matrix of the chosen rows, row-major.
std::vector<std::uint16_t> rows_matrix(const std::vector<std::uint32_t>& damaged,
                                       const std::vector<std::uint32_t>& exponents);

class Rebuilder {
public:
    // damaged: the input slice indexes to rebuild; exponents: those of the
    // recovery slices that will be loaded (as many, independent rows, from
    // choose_rows). False when there is not memory for d slices.
    bool start(std::vector<std::uint32_t> damaged, std::vector<std::uint32_t> exponents, std::size_t slice_size);
    // Sets the exponent of equation j, when it is known only once its data
    // has been loaded and checked.
    void set_exponent(std::size_t j, std::uint32_t exponent) { exponents_[j] = exponent; }
    // Where recovery slice j's data is to be loaded (slice_size bytes).
    std::uint8_t* equation(std::size_t j) { return data_.data() + j * slice_size_; }
    // Takes an intact input slice's share off every equation.
    void add_intact(std::uint32_t index, const std::uint8_t* slice);
    // The same for count intact slices at once (their shares go to each
    // equation in one sweep).
    void add_intact(const std::uint32_t indexes[], const std::uint8_t* const slices[], std::size_t count);
    // The same for a piece of the slices: size bytes at offset into each.
    void add_intact_piece(const std::uint32_t indexes[], const std::uint8_t* const pieces[], std::size_t count,
                          std::size_t offset, std::size_t size);
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
