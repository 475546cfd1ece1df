#include "container/recovery_sets.h"

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
#include "shared/results.h"
#include "shared/sizes.h"

namespace kestrav3 {

namespace {

constexpr std::int64_t headers_size = 4 * BLOCK_SIZE;
constexpr std::int64_t group_size = 2 * record_size + 2 * BLOCK_SIZE;
constexpr std::size_t read_buffer = 1 << 20;

const char* plural(std::uint64_t n) { return n == 1 ? "" : "s"; }

// The set files beside a coded file: NAME.par2 first, then every
// NAME.vol*.par2, in name order. Links and anything but plain files are
// passed over: the set is never read through a link.
std::vector<std::string> set_files_of(const std::string& coded_path) {
    const std::string folder(directory_part(coded_path));
    const std::string base(base_name(coded_path));
    std::vector<std::string> volumes;
    const std::string prefix = base + ".vol";
    constexpr std::string_view suffix = ".par2";
    for (const std::string& name : platform::folder_names(folder)) {
        if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
        volumes.push_back(name);
    }
    std::sort(volumes.begin(), volumes.end());
    std::vector<std::string> files;
    files.push_back(folder + recovery::index_name(base));
    for (const std::string& name : volumes) files.push_back(folder + name);
    files.erase(std::remove_if(
                    files.begin(), files.end(),
                    [](const std::string& f) { return platform::entry_kind(f.c_str()) != platform::EntryKind::file; }),
                files.end());
    return files;
}

// A name par2cmdline gives a recovery file: NAME.vol<digits>+<digits>.par2.
bool volume_file_of(std::string_view name, std::string_view base) {
    const std::string prefix = std::string(base) + ".vol";
    constexpr std::string_view suffix = ".par2";
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix) return false;
    if (name.substr(name.size() - suffix.size()) != suffix) return false;
    const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t plus = middle.find('+');
    if (plus == std::string_view::npos || plus == 0 || plus + 1 == middle.size()) return false;
    return std::all_of(middle.begin(), middle.end(), [](char c) { return c == '+' || (c >= '0' && c <= '9'); }) &&
           middle.find('+', plus + 1) == std::string_view::npos;
}

// Removes a set file: a link as a link, never what it points at; a folder
// of that name stays. Whether it removed one.
bool remove_set_file(const std::string& path) {
    return platform::entry_kind(path.c_str()) != platform::EntryKind::directory && platform::remove_entry(path.c_str());
}

// Removes the recovery files named for base in folder but those in keep:
// how many.
std::size_t remove_volumes(const std::string& folder, const std::string& base, const std::vector<std::string>& keep) {
    std::size_t removed = 0;
    for (const std::string& name : platform::folder_names(folder)) {
        const std::string path = folder + name;
        if (volume_file_of(name, base) && std::find(keep.begin(), keep.end(), path) == keep.end())
            removed += remove_set_file(path) ? 1 : 0;
    }
    return removed;
}

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

}  // namespace

bool coded_file_size(std::int64_t size) {
    // The headers alone are the coded file of an empty file.
    if (size < headers_size) return false;
    // A rest group is 80 bytes and twice the rest (1 to 4095 bytes).
    const std::int64_t tail = (size - headers_size) % group_size;
    return tail == 0 || (tail > 2 * record_size && tail % 2 == 0);
}

std::uint64_t coded_size_of(long long nblocks, long long rest) {
    return static_cast<std::uint64_t>(headers_size) + static_cast<std::uint64_t>(nblocks) * group_size +
           (rest > 0 ? static_cast<std::uint64_t>(2 * record_size + 2 * rest) : 0);
}

int write_set_files(const std::string& coded_path, const recovery::SetWriter& writer,
                    std::vector<std::string>& written) {
    const std::string folder(directory_part(coded_path));
    const std::string base(base_name(coded_path));
    const std::uint32_t count = writer.plan().recovery_slices;
    const auto volumes = recovery::split_volumes(count);
    written.clear();
    const auto undo = [&](int result) {
        for (const std::string& name : written) platform::remove_entry(name.c_str());
        written.clear();
        return result;
    };
    for (std::size_t v = 0; v <= volumes.size(); ++v) {
        const std::string name =
            folder + (v == 0 ? recovery::index_name(base) : recovery::volume_name(base, volumes[v - 1], count));
        if (platform::entry_kind(name.c_str()) == platform::EntryKind::directory) return undo(ERR_READ);
        PartialOutput out(name);
        if (!out) return undo(ERR_READ);
        const bool ok = v == 0 ? writer.write_index(out.get()) : writer.write_volume(out.get(), volumes[v - 1]);
        if (!ok) return undo(ERR_IO_STOPPED);
        const int result = out.keep(coded_path, platform::set_from_coded);
        if (result != 0) return undo(result);
        written.push_back(name);
    }
    // Recovery files of an earlier set under this name would describe other
    // bytes; the new set replaces them.
    remove_volumes(folder, base, written);
    return 0;
}

std::size_t remove_old_set(const std::string& coded_path) {
    const std::string folder(directory_part(coded_path));
    const std::string base(base_name(coded_path));
    const std::size_t removed =
        remove_volumes(folder, base, {}) + (remove_set_file(folder + recovery::index_name(base)) ? 1 : 0);
    // Durable, so that a crash cannot bring the stale set back.
    if (removed > 0) platform::flush_folder_of(coded_path.c_str());
    return removed;
}

namespace {

int protect_file(const char* path, int percent, ProtectOutcome& outcome) {
    outcome = ProtectOutcome{};
    outcome.path = path;
    if (platform::entry_kind(path) != platform::EntryKind::file) return ERR_READ;
    const platform::PathInfo info = platform::path_info(path);
    if (info.kind != platform::PathKind::regular) return ERR_READ;
    if (!coded_file_size(info.size)) return ERR_NOT_CODED;
    if (!recovery::plan_set(static_cast<std::uint64_t>(info.size), percent, 0, outcome.plan)) return ERR_NOT_CODED;

    static recovery::SetWriter writer;
    if (!writer.start(outcome.plan)) return ERR_NOMEM;
    {
        Stream in = Stream::reader(path, 0);
        if (!in) return ERR_READ;
        std::vector<std::uint8_t> buffer(read_buffer);
        std::size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) writer.add(buffer.data(), got);
        if (std::ferror(in.get())) return ERR_IO_STOPPED;
    }
    // A file that changed while it was read gives no set.
    if (!writer.finish(base_name(path))) return ERR_IO_STOPPED;
    return write_set_files(path, writer, outcome.written);
}

}  // namespace

void print_protect_report(const ProtectOutcome& outcome) {
    const recovery::SetPlan& plan = outcome.plan;
    std::printf(" File:      %s (%llu bytes)\n", outcome.path.c_str(),
                static_cast<unsigned long long>(plan.file_length));
    std::printf(" Slices:    %u of %llu bytes\n", plan.input_slices, static_cast<unsigned long long>(plan.slice_size));
    std::printf(" Recovery:  %u slice%s\n", plan.recovery_slices, plural(plan.recovery_slices));
    for (const std::string& name : outcome.written) std::printf(" Wrote:     %s\n", name.c_str());
}

namespace {

// The slices a repair reads at a time: as many as the MD5 lanes take, within
// check_batch_bytes (at least one slice).
constexpr std::size_t check_batch_bytes = std::size_t{32} << 20;

std::size_t check_batch(std::uint64_t slice_size, std::size_t slices) {
    const std::uint64_t fit = check_batch_bytes / std::max<std::uint64_t>(1, slice_size);
    return static_cast<std::size_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>({fit, max_md5_lanes, slices})));
}

// The slices of a coded file read a batch at a time, each padded with zeros
// to the slice size as the set's checksums are.
class SliceBatches {
public:
    explicit SliceBatches(const recovery::SetReader& set)
        : size_(static_cast<std::size_t>(set.slice_size())),
          length_(set.file().length),
          slices_(static_cast<std::uint32_t>(set.checks().size())),
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

// Pass 1: every slice against its MD5, a batch of slices side by side in the
// MD5 lanes.
int check_slices(const char* path, const recovery::SetReader& set, RepairOutcome& outcome) {
    const std::size_t size = static_cast<std::size_t>(set.slice_size());
    const auto& checks = set.checks();
    Stream in = Stream::reader(path, read_buffer);
    if (!in) return ERR_READ;
    SliceBatches batches(set);
    std::array<const std::uint8_t*, max_md5_lanes> slices{};
    std::array<Md5Digest, max_md5_lanes> digests{};
    while (batches.next(in.get())) {
        for (std::size_t k = 0; k < batches.count(); ++k) slices[k] = batches.slice(k);
        md5_digests(slices.data(), batches.count(), size, digests.data());
        for (std::size_t k = 0; k < batches.count(); ++k) {
            const std::uint32_t i = batches.first() + static_cast<std::uint32_t>(k);
            if (batches.got(k) == 0)
                outcome.missing.add(i);
            else if (batches.got(k) < batches.want(k) || digests[k] != checks[i].md5)
                outcome.damaged.add(i);
        }
    }
    return std::ferror(in.get()) ? ERR_IO_STOPPED : 0;
}

std::vector<std::uint32_t> bad_slices(std::uint32_t count, const std::vector<bool>& bad_flags) {
    std::vector<std::uint32_t> bad;
    for (std::uint32_t i = 0; i < count; ++i)
        if (bad_flags[i]) bad.push_back(i);
    return bad;
}

// The recovery slices for the bad ones, loaded into the rebuilder: needed
// says how many more it would take when the set has too few independent
// ones.
int load_equations(const recovery::SetReader& set, const std::vector<std::uint32_t>& bad,
                   recovery::Rebuilder& rebuilder, std::size_t& needed) {
    std::vector<std::uint32_t> exponents;
    for (const auto& where : set.recovery()) exponents.push_back(where.exponent);
    const std::vector<std::size_t> rows = recovery::choose_rows(bad, exponents);
    if (rows.size() < bad.size()) {
        // Fewer recovery slices than bad ones, or not enough independent ones.
        needed = bad.size() - rows.size();
        return 0;
    }
    std::vector<std::uint32_t> chosen;
    for (const std::size_t r : rows) chosen.push_back(exponents[r]);
    if (!rebuilder.start(bad, chosen, static_cast<std::size_t>(set.slice_size()))) return ERR_NOMEM;
    for (std::size_t j = 0; j < rows.size(); ++j)
        if (!set.read_recovery(set.recovery()[rows[j]], rebuilder.equation(j))) return ERR_NO_SET;
    return 0;
}

// Pass 2: the file's bytes into a hidden file beside it, the intact slices'
// shares taken off the equations as they go by; then the bad slices solved,
// each checked against its MD5 and written over its place, and the hidden
// file renamed over the damaged one.
//
// The whole file's MD5 is not computed again: every slice of the new file
// has been checked against its own MD5 (the intact ones in pass 1, the
// rebuilt ones here) and the new file has the set's length, so the whole
// file's MD5 could only fail if two different slices had the same MD5.
// It would cost a serial pass as long as all the rest.
int rebuild_and_replace(const char* path, const recovery::SetReader& set, const std::vector<std::uint32_t>& bad,
                        const std::vector<bool>& bad_flags, recovery::Rebuilder& rebuilder) {
    const std::size_t size = static_cast<std::size_t>(set.slice_size());
    Stream in = Stream::reader(path, read_buffer);
    if (!in) return ERR_READ;
    PartialOutput out(path);
    if (!out) return ERR_READ;
    SliceBatches batches(set);
    std::array<const std::uint8_t*, max_md5_lanes> intact{};
    std::array<std::uint32_t, max_md5_lanes> indexes{};
    while (batches.next(in.get())) {
        // Bad slices are written as read, to keep their places, and
        // overwritten once rebuilt.
        const platform::WritePiece piece{batches.slice(0), batches.file_bytes()};
        if (!platform::write_gathered(out.get(), &piece, 1)) return ERR_IO_STOPPED;
        std::size_t n = 0;
        for (std::size_t k = 0; k < batches.count(); ++k) {
            const std::uint32_t i = batches.first() + static_cast<std::uint32_t>(k);
            if (bad_flags[i]) continue;
            intact[n] = batches.slice(k);
            indexes[n++] = i;
        }
        if (!bad.empty() && n > 0) rebuilder.add_intact(indexes.data(), intact.data(), n);
    }
    if (std::ferror(in.get())) return ERR_IO_STOPPED;
    in.close();
    if (!bad.empty()) {
        if (!rebuilder.solve()) return ERR_NO_SET;
        for (std::size_t k = 0; k < bad.size(); ++k)
            if (!slice_checks_out(rebuilder.slice(k), size, set.checks()[bad[k]])) return ERR_NO_SET;
        for (std::size_t k = 0; k < bad.size(); ++k) {
            const platform::WritePiece piece{rebuilder.slice(k), slice_length(set.file().length, size, bad[k])};
            if (!platform::seek_to(out.get(), static_cast<std::int64_t>(bad[k]) * static_cast<std::int64_t>(size)) ||
                !platform::write_gathered(out.get(), &piece, 1))
                return ERR_IO_STOPPED;
        }
    }
    return out.keep(path, platform::repaired_over_coded);
}

int repair_file(const char* path, RepairOutcome& outcome) {
    outcome = RepairOutcome{};
    outcome.path = path;
    if (platform::entry_kind(path) != platform::EntryKind::file) return ERR_READ;
    const platform::PathInfo info = platform::path_info(path);
    if (info.kind != platform::PathKind::regular) return ERR_READ;
    outcome.file_size = info.size;

    static recovery::SetReader set;
    set = recovery::SetReader();
    outcome.set_files = set_files_of(path);
    for (const std::string& name : outcome.set_files) set.scan(name);
    for (const auto& file : set.files()) outcome.damaged_packets += file.damaged_packets;
    if (!set.choose(base_name(path))) {
        outcome.why = outcome.set_files.empty() ? "no recovery files beside it" : set.why();
        return ERR_NO_SET;
    }
    outcome.slice_size = set.slice_size();
    outcome.input_slices = static_cast<std::uint32_t>(set.checks().size());
    outcome.recovery_slices = set.recovery().size();
    outcome.set_length = set.file().length;

    int result = check_slices(path, set, outcome);
    if (result != 0) return result;
    // Every slice checks out and nothing follows the last: the file is the
    // one the set describes.
    const bool right_length = static_cast<std::uint64_t>(info.size) == set.file().length;
    if (outcome.bad() == 0 && right_length) return 0;

    // A file none of whose slices matches is not the file the set was made
    // for (a coded file made again under the same name, say): rebuilding it
    // from the set would bring back the other file.
    if (outcome.input_slices > 1 && outcome.bad() == outcome.input_slices) {
        outcome.why = "no slice of the file matches the set, which was made for another file";
        return ERR_NO_SET;
    }
    std::vector<bool> bad_flags(set.checks().size(), false);
    for (const auto& list : {outcome.damaged, outcome.missing})
        for (const auto& [first, last] : list.runs())
            for (long long i = first; i <= last; ++i) bad_flags[static_cast<std::size_t>(i)] = true;
    const std::vector<std::uint32_t> bad = bad_slices(outcome.input_slices, bad_flags);
    static recovery::Rebuilder rebuilder;
    if (!bad.empty()) {
        result = load_equations(set, bad, rebuilder, outcome.needed);
        if (result == ERR_NO_SET) outcome.why = "the recovery slices do not rebuild slices that check out";
        if (result != 0) return result;
        if (outcome.needed > 0) return static_cast<int>(std::min<std::size_t>(outcome.needed, 0x7fffffff));
    }
    result = rebuild_and_replace(path, set, bad, bad_flags, rebuilder);
    if (result == ERR_NO_SET) outcome.why = "the recovery slices do not rebuild slices that check out";
    if (result != 0) return result;
    outcome.repaired = true;
    return 0;
}

}  // namespace

int repair_streams(const char* path, RepairOutcome& outcome) {
    try {
        return repair_file(path, outcome);
    } catch (const std::bad_alloc&) {
        return ERR_NOMEM;
    }
}

int protect_streams(const char* path, int percent, ProtectOutcome& outcome) {
    try {
        return protect_file(path, percent, outcome);
    } catch (const std::bad_alloc&) {
        return ERR_NOMEM;
    }
}

void print_repair_report(const RepairOutcome& outcome) {
    std::printf(" File:      %s\n", outcome.path.c_str());
    if (outcome.set_files.empty()) {
        std::printf(" Set:       none (no %s beside it)\n", recovery::index_name(base_name(outcome.path)).c_str());
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

namespace kestrav3 {

namespace {

// Reads the set beside the coded file at path into set; false when there
// is none (no set file beside it).
bool read_set_beside(const char* path, recovery::SetReader& set) {
    const std::vector<std::string> files = set_files_of(path);
    if (files.empty()) return false;
    set = recovery::SetReader();
    for (const std::string& name : files) set.scan(name);
    return true;
}

}  // namespace

bool set_can_repair(const char* path) {
    static recovery::SetReader set;
    if (!read_set_beside(path, set) || !set.choose(base_name(path))) return false;
    RepairOutcome slices;
    return check_slices(path, set, slices) == 0 && slices.bad() <= set.recovery().size();
}

void print_set_notice(const char* path, long long damaged_blocks, bool other_damage) {
    static recovery::SetReader set;
    if (!read_set_beside(path, set)) return;
    const std::string index = recovery::index_name(base_name(path));
    if (!set.choose(base_name(path))) {
        std::printf(" Recovery:  %s beside it, not usable (%s)\n", index.c_str(), set.why());
        return;
    }
    const std::size_t usable = set.recovery().size();
    std::printf(" Recovery:  %s beside it, %zu recovery slice%s usable\n", index.c_str(), usable, plural(usable));
    if (damaged_blocks == 0 && !other_damage) return;
    // The blocks name the damage; the set's own checksums say which slices
    // it touches, and so whether the set holds enough to rebuild them.
    RepairOutcome slices;
    if (check_slices(path, set, slices) != 0) return;
    const std::uint64_t bad = slices.bad();
    if (bad <= usable)
        std::printf(" Repair:    kestrav3 --repair can repair %s (%llu damaged slice%s)\n",
                    damaged_blocks == 1 ? "it" : "them", static_cast<unsigned long long>(bad), plural(bad));
    else
        std::printf(" Repair:    beyond kestrav3 --repair: %llu damaged slice%s, %llu more recovery slice%s needed\n",
                    static_cast<unsigned long long>(bad), plural(bad), static_cast<unsigned long long>(bad - usable),
                    plural(bad - usable));
}

}  // namespace kestrav3
