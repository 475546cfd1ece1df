// Writing a PAR 2.0 recovery set for one file while its bytes go by: the
// writer is fed the file front to back, once, and keeps the recovery slices
// in memory (recovery count x slice size bytes) and a batch of input slices
// (at most batch_bytes, at least one slice).
//
// The set is NAME.par2 (the Main, File Description, Input File Slice
// Checksum and Creator packets) and NAME.vol<first>+<count>.par2 files
// holding the recovery slices, 1, 2, 4, ... per file and the rest in the
// last, each with the same critical packets after its recovery slices:
// the names and the split par2cmdline gives a set.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "md5/md5.h"
#include "recovery/par2_packets.h"
#include "shared/sizes.h"

namespace kestrav3::recovery {

// Input slices are whole multiples of this many bytes by default: one
// group of a coded file (record noise, record, block noise, block), so
// that a damaged group touches as few slices as it can.
constexpr auto slice_unit = static_cast<std::uint64_t>(coded_group_size);

// By default a set has at most this many input slices. The work of making
// recovery data is (file size) x (recovery slices), and the recovery slices
// are a share of the input slices, so fewer, larger slices make the set
// faster to write and to repair with; 256 still spreads the recovery over
// enough slices that scattered damage costs little of it.
constexpr std::uint32_t default_slice_target = 256;

// The most input slices one set may have (the format's slice constants).
constexpr std::uint32_t max_input_slices = 32768;

// The writer gathers up to max_batch_slices input slices, within
// batch_bytes, before it adds their shares to the recovery slices: each
// piece of a recovery slice then travels between memory and the caches once
// per batch instead of once per input slice.
constexpr std::size_t batch_bytes = std::size_t{16} << 20;
constexpr std::size_t max_batch_slices = 8;

struct SetPlan {
    std::uint64_t file_length = 0;
    std::uint64_t slice_size = 0;  // a multiple of 4
    std::uint32_t input_slices = 0;
    std::uint32_t recovery_slices = 0;
};

// The smallest multiple of slice_unit that leaves at most
// default_slice_target input slices.
std::uint64_t default_slice_size(std::uint64_t file_length);

// The plan for a file: slice_size 0 takes the default; percent (1 to 100)
// of the input slices, rounded up, become recovery slices. False when the
// file is empty, the slice size is not a multiple of 4, or the file would
// need more than max_input_slices slices.
bool plan_set(std::uint64_t file_length, int percent, std::uint64_t slice_size, SetPlan& plan);

// The recovery files of a set: first exponent and count of each.
struct Volume {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};
std::vector<Volume> split_volumes(std::uint32_t recovery_slices);

class SetWriter {
public:
    // Allocates the recovery slices; false when there is not memory for them.
    bool start(const SetPlan& plan);
    // The next size bytes of the file.
    void add(const std::uint8_t* data, std::size_t size);
    // Bytes added so far.
    std::uint64_t added() const { return added_; }
    // Once every byte has been added: the checksums and the packets of the
    // file named name (its name in its folder). False when fewer or more
    // bytes came than the plan said.
    bool finish(std::string_view name);

    const SetPlan& plan() const { return plan_; }
    const Md5Digest& set_id() const { return set_id_; }
    // Writes the index file, or one recovery file, to out; false on a write error.
    bool write_index(std::FILE* out) const;
    bool write_volume(std::FILE* out, const Volume& volume) const;

private:
    // file_bytes: how much of the slice the file has (the rest is padding).
    void close_slice(std::size_t file_bytes);
    // Adds the batch's shares to every recovery slice and empties it.
    void add_batch();
    std::uint8_t* slice_data(std::size_t k) { return batch_.data() + k * plan_.slice_size; }
    bool write_critical(std::FILE* out) const;

    SetPlan plan_;
    std::vector<std::uint8_t> recovery_;  // recovery_slices x slice_size
    std::vector<std::uint8_t> batch_;     // batch_slices_ input slices, the last being filled
    std::vector<std::uint16_t> factors_;  // recovery_slices x batch_slices_: constant^exponent
    std::vector<std::uint8_t*> targets_;  // the recovery slices
    std::size_t batch_slices_ = 1;
    std::size_t batched_ = 0;  // whole slices in the batch
    std::size_t filled_ = 0;   // bytes of the slice being filled
    std::uint32_t slice_index_ = 0;
    std::uint64_t added_ = 0;
    Md5Stream whole_;
    Md5Stream first_16k_;
    std::vector<SliceCheck> checks_;
    Md5Digest set_id_{};
    std::vector<std::uint8_t> critical_;  // Main, File Description, IFSC packets
    std::vector<std::uint8_t> creator_;
};

// The Creator packet's text.
std::string creator_text();

}  // namespace kestrav3::recovery
