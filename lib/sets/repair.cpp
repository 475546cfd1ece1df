#include "sets/repair.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "container/files.h"
#include "container/names.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "recovery/par2_reader.h"
#include "recovery/par2_solver.h"
#include "sets/set_files.h"
#include "sets/texts.h"
#include "shared/failure.h"
#include "shared/results.h"
#include "shared/sizes.h"

namespace kestrav3 {

namespace {

constexpr std::size_t read_buffer = 1 << 20;

// Reads up to size bytes; what the file does not have is zeros.
std::size_t read_slice(std::FILE* in, std::uint8_t* data, std::size_t size, std::size_t want) {
    const std::size_t got = want > 0 ? std::fread(data, 1, want, in) : 0;
    std::memset(data + got, 0, size - got);
    return got;
}

// The bytes of slice i that the set's file has (the last may be short).
std::size_t slice_length(std::uint64_t length, std::uint64_t slice_size, std::uint32_t i) {
    const std::uint64_t start = static_cast<std::uint64_t>(i) * slice_size;
    return static_cast<std::size_t>(std::min(slice_size, length - start));
}

bool slice_checks_out(const std::uint8_t* data, std::size_t size, const recovery::SliceCheck& check) {
    return md5_digest(data, size) == check.md5;
}

// The slices a repair reads at a time: as many as the MD5 lanes take, within
// check_batch_bytes. Slices larger than whole_slice_limit are read, hashed
// and rebuilt one at a time in pieces of slice_piece bytes, so memory stays
// the same whatever slice size a set gives (two slices at a time still
// share the MD5 lanes).
constexpr std::size_t check_batch_bytes = std::size_t{32} << 20;
constexpr std::uint64_t whole_slice_limit = std::uint64_t{16} << 20;
constexpr std::size_t slice_piece = std::size_t{1} << 20;

// A repair trusts a set to cut at most one group of bytes after the end:
// a set made over the first groups of a file only would cut the rest.
constexpr std::uint64_t max_cut = static_cast<std::uint64_t>(coded_group_size);

std::size_t check_batch(std::uint64_t slice_size, std::size_t slices) {
    const std::uint64_t fit = check_batch_bytes / std::max<std::uint64_t>(1, slice_size);
    return static_cast<std::size_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>({fit, max_md5_lanes, slices})));
}

bool large_slices(const recovery::SetReader& set) { return set.slice_size() > whole_slice_limit; }

// The slices of a coded file read a batch at a time, each padded with zeros
// to the slice size as the set's checksums are: the first count slices.
class SliceBatches {
public:
    SliceBatches(const recovery::SetReader& set, std::uint32_t count)
        : size_(static_cast<std::size_t>(set.slice_size())),
          length_(set.file().length),
          slices_(count),
          batch_(check_batch(size_, slices_)),
          data_(new std::uint8_t[batch_ * size_]) {}

    // Reads the next batch: false at the end or on a read error.
    bool next(std::FILE* in) {
        first_ += count_;
        count_ = static_cast<std::size_t>(std::min<std::uint64_t>(batch_, slices_ - first_));
        for (std::size_t k = 0; k < count_; ++k) {
            got_[k] = read_slice(in, slice(k), size_, want(k));
            if (std::ferror(in)) return false;
        }
        return count_ > 0;
    }
    std::uint32_t first() const { return first_; }
    std::size_t count() const { return count_; }
    std::uint8_t* slice(std::size_t k) { return data_.get() + k * size_; }
    // The bytes of slice k that the file should have, and that it had.
    std::size_t want(std::size_t k) const {
        return slice_length(length_, size_, first_ + static_cast<std::uint32_t>(k));
    }
    std::size_t got(std::size_t k) const { return got_[k]; }
    // The file bytes of the batch, one run (only the file's last slice is short).
    std::size_t file_bytes() const { return count_ == 0 ? 0 : (count_ - 1) * size_ + want(count_ - 1); }

private:
    std::size_t size_;
    std::uint64_t length_;
    std::uint32_t slices_;
    std::size_t batch_;
    std::unique_ptr<std::uint8_t[]> data_;  // filled by every read before use
    std::array<std::size_t, max_md5_lanes> got_{};
    std::uint32_t first_ = 0;
    std::size_t count_ = 0;
};

// Reads slice index of a large-slice set piece by piece, handing each
// piece (padded with zeros to the slice) and the file's bytes of it to f:
// false on a read error.
template <typename Piece>
bool read_in_pieces(std::FILE* in, const recovery::SetReader& set, std::uint32_t index, std::uint8_t* buffer,
                    Piece&& piece) {
    const std::uint64_t size = set.slice_size();
    const std::size_t want = slice_length(set.file().length, size, index);
    for (std::uint64_t at = 0; at < size; at += slice_piece) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(slice_piece, size - at));
        const std::size_t file_part = at < want ? std::min<std::size_t>(n, want - static_cast<std::size_t>(at)) : 0;
        const std::size_t got = read_slice(in, buffer, n, file_part);
        if (std::ferror(in)) return false;
        piece(static_cast<std::size_t>(at), n, file_part, got);
    }
    return true;
}

// The slices wholly in a file of file_size bytes; the rest are damaged
// (cut short) or missing and are neither read nor hashed.
std::uint32_t slices_present(const recovery::SetReader& set, std::int64_t file_size, RepairOutcome& outcome) {
    const auto slices = static_cast<std::uint32_t>(set.checks().size());
    const auto size = static_cast<std::uint64_t>(file_size);
    std::uint32_t present = 0;
    while (present < slices && static_cast<std::uint64_t>(present) * set.slice_size() +
                                       slice_length(set.file().length, set.slice_size(), present) <=
                                   size)
        ++present;
    for (std::uint32_t i = present; i < slices; ++i) {
        if (static_cast<std::uint64_t>(i) * set.slice_size() < size)
            outcome.damaged.add(i);
        else
            outcome.missing.add(i);
    }
    return present;
}

}  // namespace

// Pass 1: every slice the file has against its MD5, a batch of slices side
// by side in the MD5 lanes (large slices one at a time, piece by piece).
// outcome.file_size is the file's size.
int check_slices(const char* path, const recovery::SetReader& set, RepairOutcome& outcome, const WalkedInput& walked) {
    const std::size_t size = static_cast<std::size_t>(set.slice_size());
    const auto& checks = set.checks();
    const std::uint32_t present = slices_present(set, outcome.file_size, outcome);
    Stream in = Stream::reader(path, read_buffer, walked);
    if (!in) return ERR_READ;
    if (large_slices(set)) {
        std::vector<std::uint8_t> buffer(slice_piece);
        for (std::uint32_t i = 0; i < present; ++i) {
            Md5Stream hash;
            bool whole = true;
            const bool read = read_in_pieces(in.get(), set, i, buffer.data(),
                                             [&](std::size_t, std::size_t n, std::size_t part, std::size_t got) {
                                                 whole = whole && got == part;
                                                 hash.update(buffer.data(), n);
                                             });
            if (!read) return ERR_IO_STOPPED;
            if (!whole || hash.digest() != checks[i].md5) outcome.damaged.add(i);
        }
        return 0;
    }
    SliceBatches batches(set, present);
    std::array<const std::uint8_t*, max_md5_lanes> slices{};
    std::array<Md5Digest, max_md5_lanes> digests{};
    while (batches.next(in.get())) {
        for (std::size_t k = 0; k < batches.count(); ++k) slices[k] = batches.slice(k);
        md5_digests(slices.data(), batches.count(), size, digests.data());
        for (std::size_t k = 0; k < batches.count(); ++k) {
            const std::uint32_t i = batches.first() + static_cast<std::uint32_t>(k);
            if (batches.got(k) < batches.want(k) || digests[k] != checks[i].md5) outcome.damaged.add(i);
        }
    }
    return std::ferror(in.get()) ? ERR_IO_STOPPED : 0;
}

namespace {

// Whether the first count bytes of the file at path have the MD5 md5.
bool leading_md5_is(const char* path, std::uint64_t count, const Md5Digest& md5, const WalkedInput& walked = {}) {
    Stream in = Stream::reader(path, read_buffer, walked);
    if (!in) return false;
    Md5Stream hash;
    std::vector<std::uint8_t> buffer(read_buffer);
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), count - done));
        if (std::fread(buffer.data(), 1, want, in.get()) != want) return false;
        hash.update(buffer.data(), want);
        done += want;
    }
    return hash.digest() == md5;
}

}  // namespace

// The MD5 of the file's first 16 KiB (the two header copies, fresh noise
// for every coding) as the set's File Description gives it.
bool headers_match(const char* path, const recovery::FileDescription& file, const WalkedInput& walked) {
    constexpr std::uint64_t first_16k = 16384;
    return leading_md5_is(path, std::min(first_16k, file.length), file.md5_16k, walked);
}

namespace {

std::vector<std::uint32_t> bad_slices(std::uint32_t count, const std::vector<bool>& bad_flags) {
    std::vector<std::uint32_t> bad;
    for (std::uint32_t i = 0; i < count; ++i)
        if (bad_flags[i]) bad.push_back(i);
    return bad;
}

// The recovery slices for the bad ones, loaded into the rebuilder: each is
// read and its MD5 checked only as its row is taken, and one that fails is
// passed over for the next. needed says how many more it would take when
// the set has too few good, independent ones.
int load_equations(recovery::SetReader& set, const std::vector<std::uint32_t>& bad, recovery::Rebuilder& rebuilder,
                   std::size_t& needed) {
    if (set.recovery_count() < bad.size()) {
        needed = bad.size() - set.recovery_count();
        return 0;
    }
    if (!rebuilder.start(bad, std::vector<std::uint32_t>(bad.size()), static_cast<std::size_t>(set.slice_size())))
        return ERR_NOMEM;
    recovery::RowChooser chooser(bad);
    bool taken_before = false;
    std::uint32_t last_taken = 0;
    for (const auto& where : set.recovery()) {
        if (chooser.full()) break;
        if (taken_before && where.exponent == last_taken) continue;
        if (!chooser.independent(where.exponent)) continue;
        if (!set.read_recovery(where, rebuilder.equation(chooser.taken()))) continue;
        rebuilder.set_exponent(chooser.taken(), where.exponent);
        chooser.take();
        taken_before = true;
        last_taken = where.exponent;
    }
    // Fewer good recovery slices than bad ones, or not enough independent ones.
    if (!chooser.full()) needed = bad.size() - chooser.taken();
    return 0;
}

// The file's bytes into out, each intact slice's share taken off the
// equations as it goes by (large slices piece by piece).
int copy_and_take_shares(std::FILE* in, std::FILE* out, const recovery::SetReader& set,
                         const std::vector<bool>& bad_flags, bool rebuilding, recovery::Rebuilder& rebuilder) {
    const auto slices = static_cast<std::uint32_t>(set.checks().size());
    if (large_slices(set)) {
        std::vector<std::uint8_t> buffer(slice_piece);
        const std::uint8_t* pieces[] = {buffer.data()};
        for (std::uint32_t i = 0; i < slices; ++i) {
            bool written = true;
            const bool read = read_in_pieces(
                in, set, i, buffer.data(), [&](std::size_t at, std::size_t n, std::size_t part, std::size_t) {
                    const platform::WritePiece piece{buffer.data(), part};
                    written = written && (part == 0 || platform::write_gathered(out, &piece, 1));
                    if (rebuilding && !bad_flags[i]) rebuilder.add_intact_piece(&i, pieces, 1, at, n);
                });
            if (!read || !written) return ERR_IO_STOPPED;
        }
        return 0;
    }
    SliceBatches batches(set, slices);
    std::array<const std::uint8_t*, max_md5_lanes> intact{};
    std::array<std::uint32_t, max_md5_lanes> indexes{};
    while (batches.next(in)) {
        // Bad slices are written as read, to keep their places, and
        // overwritten once rebuilt.
        const platform::WritePiece piece{batches.slice(0), batches.file_bytes()};
        if (!platform::write_gathered(out, &piece, 1)) return ERR_IO_STOPPED;
        std::size_t n = 0;
        for (std::size_t k = 0; k < batches.count(); ++k) {
            const std::uint32_t i = batches.first() + static_cast<std::uint32_t>(k);
            if (bad_flags[i]) continue;
            intact[n] = batches.slice(k);
            indexes[n++] = i;
        }
        if (rebuilding && n > 0) rebuilder.add_intact(indexes.data(), intact.data(), n);
    }
    return std::ferror(in) ? ERR_IO_STOPPED : 0;
}

// Pass 2: the file's bytes into a hidden file beside it, the intact slices'
// shares taken off the equations as they go by; then the bad slices solved,
// each checked against its MD5 (and, when whole_file asks, the result
// against the whole file's MD5) and written over its place, and the hidden
// file renamed over the damaged one.
//
// The whole file's MD5 is not computed again: every slice of the new file
// has been checked against its own MD5 (the intact ones in pass 1, the
// rebuilt ones here) and the new file has the set's length, so the whole
// file's MD5 could only fail if two different slices had the same MD5.
// It would cost a serial pass as long as all the rest.
template <typename WholeFile>
int rebuild_and_replace(const char* path, const recovery::SetReader& set, const std::vector<std::uint32_t>& bad,
                        const std::vector<bool>& bad_flags, recovery::Rebuilder& rebuilder, WholeFile&& whole_file,
                        std::string& cause) {
    const std::size_t size = static_cast<std::size_t>(set.slice_size());
    Stream in = Stream::reader(path, read_buffer);
    if (!in) return ERR_READ;
    platform::clear_last_error();
    PartialOutput out(path);
    if (!out) {
        cause = "cannot create the repaired file: " + platform::last_error_text();
        return ERR_IO_STOPPED;
    }
    int result = copy_and_take_shares(in.get(), out.get(), set, bad_flags, !bad.empty(), rebuilder);
    if (result != 0) {
        cause = "cannot write the repaired file: " + platform::last_error_text();
        return result;
    }
    in.close();
    if (!bad.empty()) {
        cause = "the recovery slices do not rebuild slices that check out";
        if (!rebuilder.solve()) return ERR_NO_SET;
        for (std::size_t k = 0; k < bad.size(); ++k)
            if (!slice_checks_out(rebuilder.slice(k), size, set.checks()[bad[k]])) return ERR_NO_SET;
        cause = "conflicting packets";
        if (!whole_file()) return ERR_NO_SET;
        cause = "cannot write the repaired file: ";
        for (std::size_t k = 0; k < bad.size(); ++k) {
            const platform::WritePiece piece{rebuilder.slice(k), slice_length(set.file().length, size, bad[k])};
            if (!platform::seek_to(out.get(), static_cast<std::int64_t>(bad[k]) * static_cast<std::int64_t>(size)) ||
                !platform::write_gathered(out.get(), &piece, 1)) {
                cause += platform::last_error_text();
                return ERR_IO_STOPPED;
            }
        }
    }
    result = out.keep(path, platform::repaired_over_coded);
    cause = result == 0 ? "" : "cannot put the repaired file in place: " + platform::last_error_text();
    return result;
}

}  // namespace

// The set files' bytes together.
std::uint64_t set_bytes(const recovery::SetReader& set) {
    std::uint64_t total = 0;
    for (const auto& file : set.files()) total += file.size;
    return total;
}

namespace {

// Reads the set beside path and chooses it: 0, or ERR_NO_SET with
// outcome.why saying why.
int read_set(const char* path, recovery::SetReader& set, RepairOutcome& outcome) {
    set = recovery::SetReader();
    outcome.set_files = set_files_of(path);
    for (const std::string& name : outcome.set_files) set.scan(name);
    for (const auto& file : set.files()) outcome.damaged_packets += file.damaged_packets;
    if (!set.choose(base_name(path))) {
        outcome.why = outcome.set_files.empty() ? "no recovery files beside it" : set.why();
        return ERR_NO_SET;
    }
    // A slice larger than the file and its set together is no set's that
    // could repair it, and would only cost its hashing.
    if (set.slice_size() > static_cast<std::uint64_t>(outcome.file_size) + set_bytes(set)) {
        outcome.why = "the set's slices are larger than the file and its set together";
        return ERR_NO_SET;
    }
    outcome.slice_size = set.slice_size();
    outcome.recovery_slices = set.recovery_count();
    return 0;
}

// Checks the file's slices against the selected version of the set, and
// that the set shows it was made for this coding of the file: its headers'
// MD5, or at least one slice that checks out. Otherwise rebuilding would
// bring back another file's bytes (a coded file made again under the same
// name, say), whatever the set's slice count.
int check_version(const char* path, const recovery::SetReader& set, RepairOutcome& outcome) {
    outcome.damaged = BlockList();
    outcome.missing = BlockList();
    outcome.input_slices = static_cast<std::uint32_t>(set.checks().size());
    outcome.set_length = set.file().length;
    const int result = check_slices(path, set, outcome);
    if (result != 0) return result;
    if (outcome.bad() == outcome.input_slices && !headers_match(path, set.file())) {
        outcome.why = "neither the file's headers nor any slice match the set, which was made for another file";
        return ERR_NO_SET;
    }
    return 0;
}

// The MD5 of the file as the repair leaves it (the file's bytes, the
// rebuilt slices in their places) against the set's whole-file MD5.
bool repaired_md5_matches(const char* path, const recovery::SetReader& set, const std::vector<std::uint32_t>& bad,
                          const recovery::Rebuilder& rebuilder) {
    Stream in = Stream::reader(path, read_buffer);
    if (!in) return false;
    Md5Stream hash;
    std::vector<std::uint8_t> buffer(read_buffer);
    std::size_t next_bad = 0;
    const auto slices = static_cast<std::uint32_t>(set.checks().size());
    for (std::uint32_t i = 0; i < slices; ++i) {
        const std::size_t want = slice_length(set.file().length, set.slice_size(), i);
        if (next_bad < bad.size() && bad[next_bad] == i) {
            hash.update(rebuilder.slice(next_bad++), want);
            if (!platform::seek_to(in.get(), static_cast<std::int64_t>((i + std::uint64_t{1}) * set.slice_size())))
                return false;
            continue;
        }
        for (std::size_t done = 0; done < want;) {
            const std::size_t n = std::min(buffer.size(), want - done);
            if (std::fread(buffer.data(), 1, n, in.get()) != n) return false;
            hash.update(buffer.data(), n);
            done += n;
        }
    }
    return hash.digest() == set.file().md5;
}

// Repairs the file from the selected version of the set, whose slices
// check_version has checked. With disagreeing versions (whole_md5), the
// result must also have the whole file's MD5 before it replaces the file.
int repair_version(const char* path, recovery::SetReader& set, RepairOutcome& outcome, bool whole_md5) {
    // A set that would cut more than one group after its end is not trusted:
    // it may describe the first groups of the file only.
    const auto file_size = static_cast<std::uint64_t>(outcome.file_size);
    if (file_size > set.file().length + max_cut) {
        outcome.cut_refused = file_size - set.file().length;
        return 1;
    }
    // Every slice checks out and nothing follows the last: the file is the
    // one the set describes.
    if (outcome.bad() == 0 && file_size == set.file().length) {
        if (!whole_md5 || leading_md5_is(path, file_size, set.file().md5)) return 0;
        outcome.failure = "conflicting packets";
        return ERR_NO_SET;
    }
    std::vector<bool> bad_flags(set.checks().size(), false);
    for (const auto& list : {outcome.damaged, outcome.missing})
        for (const auto& [first, last] : list.runs())
            for (long long i = first; i <= last; ++i) bad_flags[static_cast<std::size_t>(i)] = true;
    const std::vector<std::uint32_t> bad = bad_slices(outcome.input_slices, bad_flags);
    if (bad.size() > recovery::max_solved_slices) {
        outcome.too_many = true;
        return 1;
    }
    static recovery::Rebuilder rebuilder;
    if (!bad.empty()) {
        const int result = load_equations(set, bad, rebuilder, outcome.needed);
        if (result == ERR_NOMEM) outcome.failure = "no memory for the recovery slices";
        if (result != 0) return result;
        if (outcome.needed > 0) return static_cast<int>(std::min<std::size_t>(outcome.needed, 0x7fffffff));
    }
    const auto whole_file = [&] { return !whole_md5 || repaired_md5_matches(path, set, bad, rebuilder); };
    const int result = rebuild_and_replace(path, set, bad, bad_flags, rebuilder, whole_file, outcome.failure);
    if (result != 0) return result;
    outcome.repaired = true;
    return 0;
}

int repair_file(const char* path, RepairOutcome& outcome) {
    outcome = RepairOutcome{};
    outcome.path = path;
    const platform::PathInfo info = platform::path_info(path);
    if (platform::entry_kind(path) != platform::EntryKind::file || info.kind != platform::PathKind::regular)
        return not_a_coded_file(path, info);
    outcome.file_size = info.size;

    static recovery::SetReader set;
    int result = read_set(path, set, outcome);
    if (result != 0) return result;
    const std::size_t versions = set.versions().size();
    if (versions == 1) {
        set.select(0);
        result = check_version(path, set, outcome);
        return result != 0 ? result : repair_version(path, set, outcome, false);
    }
    // Packets that disagree are decided by the data: the version whose
    // repair (or the file as it is) has the set's whole-file MD5. Any two
    // such versions give the same bytes, so their order does not matter.
    const RepairOutcome start = outcome;
    for (std::size_t v = 0; v < versions; ++v) {
        outcome = start;
        set.select(v);
        result = check_version(path, set, outcome);
        if (result == 0) result = repair_version(path, set, outcome, true);
        if (result == 0 || result == ERR_READ || result == ERR_IO_STOPPED) return result;
    }
    outcome = start;
    outcome.why = "conflicting packets";
    return ERR_NO_SET;
}

}  // namespace

int repair_streams(const char* path, RepairOutcome& outcome) {
    int result = ERR_NOMEM;
    try {
        result = repair_file(path, outcome);
    } catch (const std::bad_alloc&) {
        outcome.failure = "not enough memory";
    }
    return named_failure(result, path, !outcome.failure.empty() ? outcome.failure : outcome.why);
}

void print_repair_report(const RepairOutcome& outcome) {
    std::printf(" File:      %s\n", outcome.path.c_str());
    if (outcome.set_files.empty()) {
        std::printf(" Set:       none (no %s beside it)\n", index_name(base_name(outcome.path)).c_str());
    } else {
        std::printf(" Set:       %zu file%s read", outcome.set_files.size(), plural(outcome.set_files.size()));
        if (outcome.damaged_packets > 0)
            std::printf(", %u damaged packet%s skipped", outcome.damaged_packets, plural(outcome.damaged_packets));
        std::printf("\n");
    }
    if (outcome.input_slices == 0) {
        std::printf(" Result:    cannot be repaired: %s\n", outcome.why.c_str());
        return;
    }
    std::printf(" Slices:    %u of %llu bytes, %zu recovery slice%s usable\n", outcome.input_slices,
                static_cast<unsigned long long>(outcome.slice_size), outcome.recovery_slices,
                plural(outcome.recovery_slices));
    std::printf(" Damaged:   %s\n", outcome.damaged.text().c_str());
    if (outcome.missing.count() > 0)
        std::printf(" Missing:   %s (the file has %lld of %llu bytes)\n", outcome.missing.text().c_str(),
                    static_cast<long long>(outcome.file_size), static_cast<unsigned long long>(outcome.set_length));
    else if (static_cast<std::uint64_t>(outcome.file_size) > outcome.set_length)
        std::printf(" Trailing:  %llu bytes after the end\n",
                    static_cast<unsigned long long>(outcome.file_size) - outcome.set_length);
    if (outcome.repaired)
        std::printf(" Result:    repaired (%llu slice%s rebuilt, every slice checks out)\n",
                    static_cast<unsigned long long>(outcome.bad()), plural(outcome.bad()));
    else if (outcome.cut_refused > 0)
        std::printf(
            " Result:    beyond the set: it would cut %llu bytes after its end; a repair trusts a set to cut "
            "no more than one group (%llu bytes)\n",
            static_cast<unsigned long long>(outcome.cut_refused), static_cast<unsigned long long>(max_cut));
    else if (outcome.too_many)
        std::printf(" Result:    beyond the set: %llu slices to rebuild, more than the %zu a repair takes\n",
                    static_cast<unsigned long long>(outcome.bad()), recovery::max_solved_slices);
    else if (!outcome.failure.empty())
        std::printf(" Result:    not repaired: %s\n", outcome.failure.c_str());
    else if (outcome.needed > 0)
        std::printf(" Result:    beyond the set: %llu slice%s to rebuild, %zu more recovery slice%s needed\n",
                    static_cast<unsigned long long>(outcome.bad()), plural(outcome.bad()), outcome.needed,
                    plural(outcome.needed));
    else if (!outcome.why.empty())
        std::printf(" Result:    cannot be repaired: %s\n", outcome.why.c_str());
    else
        std::printf(" Result:    intact\n");
}

}  // namespace kestrav3
