// Recovery sets beside coded files: NAME.archi.par2 and its recovery files
// NAME.archi.vol<first>+<count>.par2, standard PAR 2.0 over the coded bytes,
// so that no key is needed to make, check or use them. Adding a set to a
// coded file, writing the set the coder computed while it wrote, repairing
// a coded file from its set, and what the test and the restore say about a
// set they find.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "container/tester.h"
#include "recovery/par2_writer.h"
#include "shared/run_settings.h"

namespace kestrav3 {

// Writes the finished set beside the coded file at coded_path: every file
// under a hidden name, sealed, and only then all renamed into place; then it
// removes recovery files of an earlier set of that name. On failure nothing
// of the earlier set has changed and what it wrote is removed; the failure
// names the set file and why. written receives the names written. 0,
// ERR_IO_STOPPED or ERR_READ.
int write_set_files(const std::string& coded_path, const recovery::SetWriter& writer,
                    std::vector<std::string>& written);

// Codes the file at path as combine_streams does, and keeps the recovery
// set beside its coded file true to it: the set of the coded file it
// replaces is removed before the new one takes its name, and with a
// settings.recovery_percent above 0 a new set is computed from the coded
// bytes as they are written and written only once the coded file is
// complete: a failed coding leaves no set.
int code_streams(const char* path, const char* key, const RunSettings& settings, RunResult& run);

// Removes the set beside the coded file at coded_path (NAME.par2 and its
// recovery files, never through a link): called once a coding that writes
// no set has replaced the coded file, which the set no longer describes.
// par2 would otherwise "repair" the new coded file back into the old one.
// How many files it removed.
std::size_t remove_old_set(const std::string& coded_path);

struct ProtectOutcome {
    std::string path;
    recovery::SetPlan plan;
    std::vector<std::string> written;
};

// Reads the coded file at path once and writes a set of percent recovery
// beside it. No key: the set covers the coded bytes. ERR_READ for a link,
// a missing or unreadable file, ERR_NOT_CODED for a size no coded file has.
int protect_streams(const char* path, int percent, ProtectOutcome& outcome);
void print_protect_report(const ProtectOutcome& outcome);

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

// What -t and -d say about a set beside the coded file, given the count of
// blocks they found damaged or missing and whether they found other damage
// (bytes after the last group, a damaged header copy): nothing when there is
// no set.
void print_set_notice(const char* path, long long damaged_blocks, bool other_damage);

// True when the set beside the coded file at path holds enough recovery
// slices to rebuild every damaged slice of it; prints nothing. A path that
// is the walked input is read as the file the walk saw.
bool set_can_repair(const char* path, const WalkedInput& walked);

}  // namespace kestrav3
