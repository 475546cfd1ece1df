#include "recovery/par2_solver.h"

#include <new>
#include <utility>

#include "recovery/gf16.h"

namespace kestrav3::recovery {

namespace {

// A row of the matrix as the region operations take it: its words in
// memory are the little-endian words of a slice on the x86 processors
// these builds run on.
std::uint8_t* bytes_of(std::uint16_t* row) { return reinterpret_cast<std::uint8_t*>(row); }

std::vector<std::uint16_t> matrix_row(const std::vector<std::uint32_t>& damaged, std::uint32_t exponent) {
    std::vector<std::uint16_t> row(damaged.size());
    for (std::size_t k = 0; k < damaged.size(); ++k) row[k] = gf_pow(input_constant(damaged[k]), exponent);
    return row;
}

}  // namespace

bool RowChooser::independent(std::uint32_t exponent) {
    if (full()) return false;
    const std::size_t d = damaged_.size();
    row_ = matrix_row(damaged_, exponent);
    for (std::size_t t = 0; t < reduced_.size(); ++t) {
        const std::uint16_t f = row_[pivots_[t]];
        if (f != 0) gf_mul_add_region(bytes_of(row_.data()), bytes_of(reduced_[t].data()), 2 * d, f);
    }
    pivot_ = 0;
    while (pivot_ < d && row_[pivot_] == 0) ++pivot_;
    return pivot_ < d;  // otherwise it depends on the rows already taken
}

void RowChooser::take() {
    gf_mul_region(bytes_of(row_.data()), bytes_of(row_.data()), 2 * row_.size(), gf_inv(row_[pivot_]));
    reduced_.push_back(std::move(row_));
    pivots_.push_back(pivot_);
    row_.clear();
}

std::vector<std::size_t> choose_rows(const std::vector<std::uint32_t>& damaged,
                                     const std::vector<std::uint32_t>& exponents) {
    RowChooser chooser(damaged);
    std::vector<std::size_t> chosen;
    for (std::size_t r = 0; r < exponents.size() && !chooser.full(); ++r) {
        if (!chooser.independent(exponents[r])) continue;
        chooser.take();
        chosen.push_back(r);
    }
    return chosen;
}

std::vector<std::uint16_t> rows_matrix(const std::vector<std::uint32_t>& damaged,
                                       const std::vector<std::uint32_t>& exponents) {
    std::vector<std::uint16_t> matrix;
    for (const std::uint32_t e : exponents) {
        const auto row = matrix_row(damaged, e);
        matrix.insert(matrix.end(), row.begin(), row.end());
    }
    return matrix;
}

bool Rebuilder::start(std::vector<std::uint32_t> damaged, std::vector<std::uint32_t> exponents,
                      std::size_t slice_size) {
    damaged_ = std::move(damaged);
    exponents_ = std::move(exponents);
    slice_size_ = slice_size;
    try {
        data_.assign(exponents_.size() * slice_size, 0);
        factors_.resize(exponents_.size());
        targets_.resize(exponents_.size());
    } catch (const std::bad_alloc&) {
        data_.clear();
        return false;
    }
    for (std::size_t j = 0; j < exponents_.size(); ++j) targets_[j] = equation(j);
    return true;
}

void Rebuilder::add_intact(std::uint32_t index, const std::uint8_t* slice) {
    const std::uint16_t constant = input_constant(index);
    for (std::size_t j = 0; j < exponents_.size(); ++j) factors_[j] = gf_pow(constant, exponents_[j]);
    gf_mul_add_multi(targets_.data(), factors_.data(), exponents_.size(), slice, slice_size_);
}

void Rebuilder::add_intact(const std::uint32_t indexes[], const std::uint8_t* const slices[], std::size_t count) {
    const std::size_t d = exponents_.size();
    factors_.resize(d * count);
    for (std::size_t s = 0; s < count; ++s) {
        const std::uint16_t constant = input_constant(indexes[s]);
        for (std::size_t j = 0; j < d; ++j) factors_[j * count + s] = gf_pow(constant, exponents_[j]);
    }
    gf_mul_add_sources(targets_.data(), d, slices, count, factors_.data(), slice_size_);
}

void Rebuilder::add_intact_piece(const std::uint32_t indexes[], const std::uint8_t* const pieces[], std::size_t count,
                                 std::size_t offset, std::size_t size) {
    const std::size_t d = exponents_.size();
    factors_.resize(d * count);
    for (std::size_t s = 0; s < count; ++s) {
        const std::uint16_t constant = input_constant(indexes[s]);
        for (std::size_t j = 0; j < d; ++j) factors_[j * count + s] = gf_pow(constant, exponents_[j]);
    }
    std::vector<std::uint8_t*> targets(d);
    for (std::size_t j = 0; j < d; ++j) targets[j] = targets_[j] + offset;
    gf_mul_add_sources(targets.data(), d, pieces, count, factors_.data(), size);
}

// Gauss-Jordan elimination on the matrix, every row operation done on the
// equations' bytes too, until the matrix is the identity and equation k
// holds damaged slice k.
bool Rebuilder::solve() {
    const std::size_t d = damaged_.size();
    std::vector<std::uint16_t> m = rows_matrix(damaged_, exponents_);
    std::vector<std::size_t> row_of(d);
    for (std::size_t j = 0; j < d; ++j) row_of[j] = j;
    for (std::size_t col = 0; col < d; ++col) {
        std::size_t pivot = col;
        while (pivot < d && m[row_of[pivot] * d + col] == 0) ++pivot;
        if (pivot == d) return false;
        std::swap(row_of[col], row_of[pivot]);
        const std::size_t p = row_of[col];
        const std::uint16_t scale = gf_inv(m[p * d + col]);
        gf_mul_region(bytes_of(&m[p * d]), bytes_of(&m[p * d]), 2 * d, scale);
        gf_mul_region(equation(p), equation(p), slice_size_, scale);
        for (std::size_t j = 0; j < d; ++j) {
            const std::size_t r = row_of[j];
            const std::uint16_t f = m[r * d + col];
            if (r == p || f == 0) continue;
            gf_mul_add_region(bytes_of(&m[r * d]), bytes_of(&m[p * d]), 2 * d, f);
            gf_mul_add_region(equation(r), equation(p), slice_size_, f);
        }
    }
    // Equation row_of[k] now holds slice k.
    order_ = std::move(row_of);
    return true;
}

}  // namespace kestrav3::recovery
