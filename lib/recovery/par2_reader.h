// Reading a PAR 2.0 recovery set back from files that may be damaged: every
// packet is found by its magic, its length checked against what is left of
// the file and its MD5 against its bytes before anything in it is used;
// damaged packets are skipped and the good ones, from whichever file, used.
// Recovery data is not held in memory here, only where it lies, and its MD5
// is checked only when a repair reads it.
//
// The work is bounded by the files' sizes, whatever they hold: the bytes
// hashed in a file (candidate packets, recovery data read) stay within
// hash_budget(size); a candidate past the budget counts as damaged unread.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "md5/md5.h"
#include "recovery/par2_packets.h"

namespace kestrav3::recovery {

// Where one good Recovery Slice packet's data lies.
// Where one Recovery Slice packet's data lies; its MD5 is not checked yet.
struct RecoveryLocation {
    std::size_t file = 0;      // index into the files read
    std::uint64_t offset = 0;  // of the recovery data in that file
    std::uint32_t exponent = 0;
    Md5Digest packet_md5{};  // from the packet's header
};

// What one file's packets may cost to check: a few times the file's size.
constexpr std::uint64_t hash_budget(std::uint64_t size) { return 3 * size + (1u << 16); }

// One reading of the file the set describes: its File Description and the
// slice checksums for it. A set whose packets disagree has several.
struct SetVersion {
    FileDescription file;
    std::vector<SliceCheck> checks;
};

// The most versions a set may offer; with more the set is refused.
constexpr std::size_t max_versions = 4;

// What a scan found in one file of a set.
struct SetFileScan {
    std::string path;
    bool readable = false;
    std::uint32_t good_packets = 0;
    std::uint32_t damaged_packets = 0;  // a magic and a header, but a wrong MD5 or length
    std::uint64_t size = 0;
    std::uint64_t budget = 0;  // bytes that may still be hashed
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
    // Description and slice checksum packets all found and fitting together.
    // Among several such sets, the one with the most recovery slices. False
    // when there is none; why() then says what was missing. Packets of the
    // set that disagree give it several versions(), for the caller to decide
    // between by the file's bytes; the first is in use until select().
    bool choose(std::string_view name);
    const char* why() const { return why_; }

    // The chosen set.
    const Md5Digest& set_id() const { return chosen_.set_id; }
    std::uint64_t slice_size() const { return chosen_.slice_size; }
    const std::vector<SetVersion>& versions() const { return chosen_.versions; }
    void select(std::size_t version) { version_ = version; }
    const FileDescription& file() const { return chosen_.versions[version_].file; }
    const std::vector<SliceCheck>& checks() const { return chosen_.versions[version_].checks; }
    // Every candidate recovery slice, in ascending order of exponent (one
    // exponent may have several, from different files); none overlaps another.
    const std::vector<RecoveryLocation>& recovery() const { return chosen_.recovery; }
    // How many exponents have a candidate.
    std::size_t recovery_count() const { return chosen_.exponents; }

    // Reads one recovery slice's data (slice_size bytes) into out and checks
    // its packet's MD5: false when it cannot be read, fails, or its file's
    // budget is spent.
    bool read_recovery(const RecoveryLocation& where, std::uint8_t* out);

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
        std::vector<SetVersion> versions;
        std::vector<RecoveryLocation> recovery;
        std::size_t exponents = 0;
    };
    void keep(PacketHeader header, std::vector<std::uint8_t> body, std::size_t file, std::uint64_t offset,
              std::uint32_t exponent);
    bool choose_set(const Md5Digest& set_id, std::string_view name, Choice& choice);
    std::optional<MainPacket> main_of(const Md5Digest& set_id);
    bool find_versions(const Md5Digest& set_id, const MainPacket& main, std::string_view name, Choice& choice);
    void find_recovery(const Md5Digest& set_id, std::uint64_t slice_size, Choice& choice) const;

    std::vector<SetFileScan> files_;
    std::vector<Found> packets_;
    std::vector<std::vector<std::uint8_t>> texts_;  // files given as bytes
    std::set<Md5Digest> kept_;                      // the MD5s of the packets kept, but recovery slices
    std::uint64_t kept_bytes_ = 0;
    const char* why_ = "no set file could be read";
    Choice chosen_;
    std::size_t version_ = 0;
};

// The most bytes a packet other than a recovery slice may have: a slice
// checksum packet for 32768 slices with room to spare.
constexpr std::uint64_t max_kept_packet = 1 << 20;

// The most bytes of such packets kept from all the files of a set, and the
// most packets found (recovery slices among them, which PAR 2.0 numbers up
// to 65535); more are passed over. Together with a repair's buffers they
// keep its memory under 64 MiB besides the recovery slices in use.
constexpr std::uint64_t max_kept_bytes = std::uint64_t{8} << 20;
constexpr std::size_t max_found_packets = std::size_t{1} << 16;

// The largest slice a set is used with: repairing holds a few slices in
// memory. par2 itself makes slices this large only for files of a terabyte.
constexpr std::uint64_t max_slice_size = 1ull << 30;

}  // namespace kestrav3::recovery
