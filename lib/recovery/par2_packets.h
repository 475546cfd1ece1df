// PAR 2.0 packets: the fixed header every packet starts with, the bodies of
// the five core packets (Main, File Description, Input File Slice Checksum,
// Recovery Slice, Creator), writing them, and checking and reading them back
// from bytes that may be damaged. Integers are little-endian, every packet a
// multiple of 4 bytes long, and a packet is good only when the MD5 in its
// header matches everything from the set ID to the end of its body.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "md5/md5.h"

namespace kestrav3::recovery {

// Magic (8), length (8), packet MD5 (16), set ID (16), type (16).
constexpr std::size_t packet_header_size = 64;
constexpr std::array<std::uint8_t, 8> packet_magic = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};

using PacketType = std::array<std::uint8_t, 16>;
extern const PacketType main_type;
extern const PacketType file_description_type;
extern const PacketType slice_checksum_type;
extern const PacketType recovery_slice_type;
extern const PacketType creator_type;

// One slice's checksums as the Input File Slice Checksum packet lists them.
struct SliceCheck {
    Md5Digest md5{};
    std::uint32_t crc = 0;
    bool operator==(const SliceCheck& other) const { return md5 == other.md5 && crc == other.crc; }
};

struct FileDescription {
    Md5Digest file_id{};
    Md5Digest md5{};      // of the whole file
    Md5Digest md5_16k{};  // of its first 16 KiB (the whole file when shorter)
    std::uint64_t length = 0;
    std::string name;
};

// The File ID: MD5 of the 16 KiB MD5, the length and the name.
Md5Digest file_id_of(const Md5Digest& md5_16k, std::uint64_t length, std::string_view name);

// Packet bodies. The Main packet's body also gives the set ID (its MD5).
std::vector<std::uint8_t> main_body(std::uint64_t slice_size, const Md5Digest& file_id);
std::vector<std::uint8_t> file_description_body(const FileDescription& file);
std::vector<std::uint8_t> slice_checksum_body(const Md5Digest& file_id, const std::vector<SliceCheck>& slices);
std::vector<std::uint8_t> creator_body(std::string_view text);

// A whole packet: header and body (padded with zeros to a multiple of 4).
std::vector<std::uint8_t> make_packet(const Md5Digest& set_id, const PacketType& type, std::vector<std::uint8_t> body);

// The header of a Recovery Slice packet whose recovery data is data.
std::array<std::uint8_t, packet_header_size + 4> recovery_packet_head(const Md5Digest& set_id, std::uint32_t exponent,
                                                                      const std::uint8_t* data, std::size_t size);

// A packet header as read, before its MD5 has been checked.
struct PacketHeader {
    std::uint64_t length = 0;  // of the whole packet, header included
    Md5Digest packet_md5{};
    Md5Digest set_id{};
    PacketType type{};
};

// The header at bytes (at least packet_header_size of them), when it starts
// with the magic and its length is a multiple of 4, holds the header and
// fits in room (the bytes from the magic to the end of the file).
std::optional<PacketHeader> parse_header(const std::uint8_t* bytes, std::uint64_t room);

// Bodies read back; each is empty when the body's lengths and counts do not
// agree with its size.
struct MainPacket {
    std::uint64_t slice_size = 0;
    std::vector<Md5Digest> recoverable;  // File IDs, sorted
    std::size_t nonrecoverable = 0;
};
std::optional<MainPacket> parse_main(const std::uint8_t* body, std::size_t size);
std::optional<FileDescription> parse_file_description(const std::uint8_t* body, std::size_t size);
struct SliceChecksums {
    Md5Digest file_id{};
    std::vector<SliceCheck> slices;
};
std::optional<SliceChecksums> parse_slice_checksums(const std::uint8_t* body, std::size_t size);

// Little-endian integers.
std::uint32_t load_u32(const std::uint8_t* p);
std::uint64_t load_u64(const std::uint8_t* p);
void append_u32(std::vector<std::uint8_t>& out, std::uint32_t v);
void append_u64(std::vector<std::uint8_t>& out, std::uint64_t v);

}  // namespace kestrav3::recovery
