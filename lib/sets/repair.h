// Repairing a coded file from the recovery set beside it (standard PAR 2.0
// over the coded bytes, so no key is needed), and checking a coded file's
// slices against a set, which the notices of the test and the restore use
// too.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "container/tester.h"
#include "recovery/par2_reader.h"
#include "shared/run_settings.h"

namespace kestrav3 {

struct RepairOutcome {
    std::string path;
    std::vector<std::string> set_files;  // the set files found
    std::uint32_t damaged_packets = 0;   // packets skipped in them
    std::string why;                     // why no set could be used
    std::uint64_t slice_size = 0;
    std::uint32_t input_slices = 0;
    std::size_t recovery_slices = 0;  // usable
    BlockList damaged;                // slices that fail their checksums
    BlockList missing;                // slices the file ends before
    std::int64_t file_size = 0;
    std::uint64_t set_length = 0;   // the length the set gives the file
    std::size_t needed = 0;         // more recovery slices it would take
    std::uint64_t cut_refused = 0;  // bytes after the end, more than a repair cuts
    bool too_many = false;          // more bad slices than a repair rebuilds
    std::string failure;            // why a repair that was under way failed
    bool repaired = false;

    std::uint64_t bad() const {
        return static_cast<std::uint64_t>(damaged.count()) + static_cast<std::uint64_t>(missing.count());
    }
};

// Checks every slice of the coded file at path against its set, rebuilds
// the damaged and missing ones, checks each rebuilt slice and only then
// replaces the file through a hidden file and a rename. The set must show
// it belongs to the file first: the MD5 of the file's first 16 KiB, or a
// slice that checks out. Returns 0 when the file is intact or repaired, the
// number of recovery slices more it would need when the damage is beyond
// the set (1 when it would cut more than one group after the end, or
// rebuild more slices than a repair takes), the file untouched; ERR_READ
// when the file cannot be read, ERR_NO_SET when no usable set is beside it.
int repair_streams(const char* path, RepairOutcome& outcome);
void print_repair_report(const RepairOutcome& outcome);

// Checks every slice the coded file at path has against the selected
// version of set, a batch of slices side by side in the MD5 lanes: those
// that fail their MD5 or that the file cuts short go to outcome.damaged,
// those the file ends before to outcome.missing. outcome.file_size is the
// file's size. 0, ERR_READ or ERR_IO_STOPPED.
int check_slices(const char* path, const recovery::SetReader& set, RepairOutcome& outcome,
                 const WalkedInput& walked = {});

// Whether the file's first 16 KiB (the two header copies, fresh noise for
// every coding) have the MD5 the set's File Description gives them.
bool headers_match(const char* path, const recovery::FileDescription& file, const WalkedInput& walked = {});

// The set files' bytes together.
std::uint64_t set_bytes(const recovery::SetReader& set);

}  // namespace kestrav3
