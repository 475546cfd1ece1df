#include "recovery/par2_writer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "recovery/crc32.h"
#include "recovery/gf16.h"
#include "shared/run_settings.h"

namespace kestrav3::recovery {

namespace {

constexpr std::uint64_t first_16k = 16384;

bool write_bytes(std::FILE* out, const void* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, out) == size;
}

}  // namespace

std::uint64_t default_slice_size(std::uint64_t file_length) {
    const std::uint64_t units = (file_length + slice_unit - 1) / slice_unit;
    const std::uint64_t per_slice =
        std::max<std::uint64_t>(1, (units + default_slice_target - 1) / default_slice_target);
    return per_slice * slice_unit;
}

bool plan_set(std::uint64_t file_length, int percent, std::uint64_t slice_size, SetPlan& plan) {
    if (file_length == 0 || !recovery_percent_fits(percent)) return false;
    if (slice_size == 0) slice_size = default_slice_size(file_length);
    if (slice_size % 4 != 0) return false;
    const std::uint64_t slices = (file_length + slice_size - 1) / slice_size;
    if (slices > max_input_slices) return false;
    plan.file_length = file_length;
    plan.slice_size = slice_size;
    plan.input_slices = static_cast<std::uint32_t>(slices);
    plan.recovery_slices = static_cast<std::uint32_t>((slices * static_cast<std::uint64_t>(percent) + 99) / 100);
    return true;
}

std::vector<Volume> split_volumes(std::uint32_t recovery_slices) {
    std::vector<Volume> volumes;
    std::uint32_t next = 1;
    for (std::uint32_t first = 0; first < recovery_slices; next *= 2) {
        const std::uint32_t count = std::min(next, recovery_slices - first);
        volumes.push_back({first, count});
        first += count;
    }
    return volumes;
}

std::string creator_text() { return "Created by kestrav3 " KESTRAV3_VERSION; }

bool SetWriter::start(const SetPlan& plan) {
    plan_ = plan;
    const std::uint64_t fit = batch_bytes / std::max<std::uint64_t>(1, plan.slice_size);
    batch_slices_ = static_cast<std::size_t>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>({fit, max_batch_slices, plan.input_slices})));
    batched_ = 0;
    filled_ = 0;
    slice_index_ = 0;
    added_ = 0;
    whole_ = Md5Stream();
    first_16k_ = Md5Stream();
    checks_.clear();
    try {
        recovery_.assign(static_cast<std::size_t>(plan.recovery_slices) * plan.slice_size, 0);
        batch_.assign(batch_slices_ * plan.slice_size, 0);
        factors_.assign(plan.recovery_slices * batch_slices_, 0);
        targets_.resize(plan.recovery_slices);
        checks_.reserve(plan.input_slices);
    } catch (const std::bad_alloc&) {
        recovery_.clear();
        batch_.clear();
        return false;
    }
    for (std::uint32_t e = 0; e < plan.recovery_slices; ++e)
        targets_[e] = recovery_.data() + static_cast<std::size_t>(e) * plan.slice_size;
    return true;
}

void SetWriter::add(const std::uint8_t* data, std::size_t size) {
    if (added_ < first_16k)
        first_16k_.update(data, static_cast<std::size_t>(std::min<std::uint64_t>(size, first_16k - added_)));
    added_ += size;
    const std::size_t slice_size = static_cast<std::size_t>(plan_.slice_size);
    while (size > 0) {
        const std::size_t take = std::min(size, slice_size - filled_);
        std::memcpy(slice_data(batched_) + filled_, data, take);
        filled_ += take;
        data += take;
        size -= take;
        if (filled_ == slice_size) close_slice(filled_);
    }
}

// One whole input slice: its checksums, and its constant raised to each
// exponent, from 0 up, for its share of the recovery slices.
void SetWriter::close_slice(std::size_t file_bytes) {
    filled_ = 0;
    if (slice_index_ >= plan_.input_slices) {
        ++slice_index_;  // more bytes than planned: finish refuses the set
        return;
    }
    const std::uint8_t* slice = slice_data(batched_);
    const std::size_t slice_size = static_cast<std::size_t>(plan_.slice_size);
    // The whole file's MD5 and the slice's (over the padded slice) side by side.
    Md5Stream slice_md5;
    Md5Stream::update_two(whole_, slice, file_bytes, slice_md5, slice, slice_size);
    checks_.push_back({slice_md5.digest(), crc32(0, slice, slice_size)});
    recovery_factors(slice_index_, 0, plan_.recovery_slices, factors_.data() + batched_ * plan_.recovery_slices);
    ++slice_index_;
    if (++batched_ == batch_slices_) add_batch();
}

void SetWriter::add_batch() {
    if (batched_ == 0) return;
    // factors_ holds one row per input slice of the batch; the region code
    // wants one row per recovery slice.
    std::vector<std::uint16_t> by_target(plan_.recovery_slices * batched_);
    for (std::size_t k = 0; k < batched_; ++k)
        for (std::uint32_t e = 0; e < plan_.recovery_slices; ++e)
            by_target[e * batched_ + k] = factors_[k * plan_.recovery_slices + e];
    std::vector<const std::uint8_t*> sources(batched_);
    for (std::size_t k = 0; k < batched_; ++k) sources[k] = slice_data(k);
    gf_mul_add_sources(targets_.data(), plan_.recovery_slices, sources.data(), batched_, by_target.data(),
                       static_cast<std::size_t>(plan_.slice_size));
    batched_ = 0;
}

bool SetWriter::finish(std::string_view name) {
    if (filled_ > 0) {
        std::memset(slice_data(batched_) + filled_, 0, static_cast<std::size_t>(plan_.slice_size) - filled_);
        close_slice(filled_);
    }
    add_batch();
    if (added_ != plan_.file_length || slice_index_ != plan_.input_slices) return false;
    FileDescription file;
    file.md5 = whole_.digest();
    file.md5_16k = first_16k_.digest();
    file.length = plan_.file_length;
    file.name = std::string(name);
    file.file_id = file_id_of(file.md5_16k, file.length, file.name);
    const std::vector<std::uint8_t> main = main_body(plan_.slice_size, file.file_id);
    set_id_ = md5_digest(main.data(), main.size());
    critical_ = make_packet(set_id_, main_type, main);
    for (const auto& packet : {make_packet(set_id_, file_description_type, file_description_body(file)),
                               make_packet(set_id_, slice_checksum_type, slice_checksum_body(file.file_id, checks_))})
        critical_.insert(critical_.end(), packet.begin(), packet.end());
    creator_ = make_packet(set_id_, creator_type, creator_body(creator_text()));
    return true;
}

bool SetWriter::write_critical(std::FILE* out) const {
    return write_bytes(out, critical_.data(), critical_.size()) && write_bytes(out, creator_.data(), creator_.size());
}

bool SetWriter::write_index(std::FILE* out) const { return write_critical(out); }

bool SetWriter::write_volume(std::FILE* out, const Volume& volume) const {
    for (std::uint32_t e = volume.first; e < volume.first + volume.count; ++e) {
        const std::uint8_t* data = recovery_.data() + static_cast<std::size_t>(e) * plan_.slice_size;
        const auto head = recovery_packet_head(set_id_, e, data, plan_.slice_size);
        if (!write_bytes(out, head.data(), head.size()) || !write_bytes(out, data, plan_.slice_size)) return false;
    }
    return write_critical(out);
}

}  // namespace kestrav3::recovery
