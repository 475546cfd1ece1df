// Reading a PAR 2.0 recovery set back from files that may be damaged: every
// packet is found by its magic, its length checked against what is left of
// the file and its MD5 against its bytes before anything in it is used;
// damaged packets are skipped and the good ones, from whichever file, used.
// Recovery data is not held in memory here, only where it lies.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "md5/md5.h"
#include "recovery/par2_packets.h"

namespace kestrav3::recovery {

// Where one good Recovery Slice packet's data lies.
struct RecoveryLocation {
    std::size_t file = 0;      // index into the files read
    std::uint64_t offset = 0;  // of the recovery data in that file
    std::uint32_t exponent = 0;
};

// What a scan found in one file of a set.
struct SetFileScan {
    std::string path;
    bool readable = false;
    std::uint32_t good_packets = 0;
    std::uint32_t damaged_packets = 0;  // a magic and a header, but a wrong MD5 or length
};

// Every good packet of the files, sorted by set, and the set chosen.
class SetReader {
public:
    // Scans the file at path (already known to be a regular file, no link).
    void scan(const std::string& path);
    // Packets of the same kind and for bytes given as text (the fuzz target).
    void scan_bytes(const std::uint8_t* bytes, std::size_t size);

    const std::vector<SetFileScan>& files() const { return files_; }

    // Chooses the set that describes one file named name: its Main, File
    // Description and slice checksum packets all found and agreeing. Among
    // several such sets, the one with the most recovery slices. False when
    // there is none; why() then says what was missing.
    bool choose(std::string_view name);
    const char* why() const { return why_; }

    // The chosen set.
    const Md5Digest& set_id() const { return chosen_.set_id; }
    std::uint64_t slice_size() const { return chosen_.slice_size; }
    const FileDescription& file() const { return chosen_.file; }
    const std::vector<SliceCheck>& checks() const { return chosen_.checks; }
    // One location per exponent, in ascending order of exponent.
    const std::vector<RecoveryLocation>& recovery() const { return chosen_.recovery; }

    // Reads one recovery slice's data (slice_size bytes) into out.
    bool read_recovery(const RecoveryLocation& where, std::uint8_t* out) const;

private:
    struct Found {
        Md5Digest set_id;
        PacketType type;
        std::vector<std::uint8_t> body;  // empty for recovery slices
        RecoveryLocation where;
        std::uint64_t recovery_size = 0;
    };
    struct Choice {
        Md5Digest set_id{};
        std::uint64_t slice_size = 0;
        FileDescription file;
        std::vector<SliceCheck> checks;
        std::vector<RecoveryLocation> recovery;
    };
    void keep(PacketHeader header, std::vector<std::uint8_t> body, std::size_t file, std::uint64_t offset,
              std::uint32_t exponent);
    bool choose_set(const Md5Digest& set_id, std::string_view name, Choice& choice);

    std::vector<SetFileScan> files_;
    std::vector<Found> packets_;
    std::vector<std::vector<std::uint8_t>> texts_;  // files given as bytes
    const char* why_ = "no set file could be read";
    Choice chosen_;
};

// The most bytes a packet other than a recovery slice may have: a slice
// checksum packet for 32768 slices with room to spare.
constexpr std::uint64_t max_kept_packet = 1 << 20;

// The largest slice a set is used with: repairing holds a few slices in
// memory. par2 itself makes slices this large only for files of a terabyte.
constexpr std::uint64_t max_slice_size = 1ull << 30;

}  // namespace kestrav3::recovery
