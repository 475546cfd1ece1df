#include "recovery/par2_packets.h"

#include <algorithm>
#include <cstring>

namespace kestrav3::recovery {

namespace {

constexpr PacketType type_of(const char (&text)[17]) {
    PacketType type{};
    for (std::size_t i = 0; i < type.size(); ++i) type[i] = static_cast<std::uint8_t>(text[i]);
    return type;
}

// The packet MD5 covers the set ID, the type and the body.
constexpr std::size_t hashed_from = 32;

void append(std::vector<std::uint8_t>& out, const Md5Digest& digest) {
    out.insert(out.end(), digest.begin(), digest.end());
}

void pad_to_4(std::vector<std::uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

Md5Digest read_digest(const std::uint8_t* p) {
    Md5Digest digest{};
    std::memcpy(digest.data(), p, digest.size());
    return digest;
}

void store_u64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
}

}  // namespace

const PacketType main_type = type_of("PAR 2.0\0Main\0\0\0\0");
const PacketType file_description_type = type_of("PAR 2.0\0FileDesc");
const PacketType slice_checksum_type = type_of("PAR 2.0\0IFSC\0\0\0\0");
const PacketType recovery_slice_type = type_of("PAR 2.0\0RecvSlic");
const PacketType creator_type = type_of("PAR 2.0\0Creator\0");

std::uint32_t load_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t load_u64(const std::uint8_t* p) {
    return load_u32(p) | static_cast<std::uint64_t>(load_u32(p + 4)) << 32;
}

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i, v >>= 8) out.push_back(static_cast<std::uint8_t>(v));
}

void append_u64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8) out.push_back(static_cast<std::uint8_t>(v));
}

Md5Digest file_id_of(const Md5Digest& md5_16k, std::uint64_t length, std::string_view name) {
    std::vector<std::uint8_t> bytes;
    append(bytes, md5_16k);
    append_u64(bytes, length);
    bytes.insert(bytes.end(), name.begin(), name.end());
    return md5_digest(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> main_body(std::uint64_t slice_size, const Md5Digest& file_id) {
    std::vector<std::uint8_t> body;
    append_u64(body, slice_size);
    append_u32(body, 1);
    append(body, file_id);
    return body;
}

std::vector<std::uint8_t> file_description_body(const FileDescription& file) {
    std::vector<std::uint8_t> body;
    append(body, file.file_id);
    append(body, file.md5);
    append(body, file.md5_16k);
    append_u64(body, file.length);
    body.insert(body.end(), file.name.begin(), file.name.end());
    pad_to_4(body);
    return body;
}

std::vector<std::uint8_t> slice_checksum_body(const Md5Digest& file_id, const std::vector<SliceCheck>& slices) {
    std::vector<std::uint8_t> body;
    body.reserve(16 + 20 * slices.size());
    append(body, file_id);
    for (const SliceCheck& slice : slices) {
        append(body, slice.md5);
        append_u32(body, slice.crc);
    }
    return body;
}

std::vector<std::uint8_t> creator_body(std::string_view text) {
    std::vector<std::uint8_t> body(text.begin(), text.end());
    pad_to_4(body);
    return body;
}

std::vector<std::uint8_t> make_packet(const Md5Digest& set_id, const PacketType& type, std::vector<std::uint8_t> body) {
    pad_to_4(body);
    std::vector<std::uint8_t> packet(packet_header_size + body.size());
    if (!body.empty()) std::memcpy(packet.data() + packet_header_size, body.data(), body.size());
    std::memcpy(packet.data(), packet_magic.data(), packet_magic.size());
    store_u64(packet.data() + 8, packet.size());
    std::memcpy(packet.data() + 32, set_id.data(), set_id.size());
    std::memcpy(packet.data() + 48, type.data(), type.size());
    const Md5Digest hash = md5_digest(packet.data() + hashed_from, packet.size() - hashed_from);
    std::memcpy(packet.data() + 16, hash.data(), hash.size());
    return packet;
}

std::array<std::uint8_t, packet_header_size + 4> recovery_packet_head(const Md5Digest& set_id, std::uint32_t exponent,
                                                                      const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, packet_header_size + 4> head{};
    std::memcpy(head.data(), packet_magic.data(), packet_magic.size());
    store_u64(head.data() + 8, head.size() + size);
    std::memcpy(head.data() + 32, set_id.data(), set_id.size());
    std::memcpy(head.data() + 48, recovery_slice_type.data(), recovery_slice_type.size());
    for (int i = 0; i < 4; ++i) head[packet_header_size + i] = static_cast<std::uint8_t>(exponent >> (8 * i));
    Md5Stream hash;
    hash.update(head.data() + hashed_from, head.size() - hashed_from);
    hash.update(data, size);
    const Md5Digest digest = hash.digest();
    std::memcpy(head.data() + 16, digest.data(), digest.size());
    return head;
}

std::optional<PacketHeader> parse_header(const std::uint8_t* bytes, std::uint64_t room) {
    if (room < packet_header_size || std::memcmp(bytes, packet_magic.data(), packet_magic.size()) != 0)
        return std::nullopt;
    PacketHeader header;
    header.length = load_u64(bytes + 8);
    if (header.length < packet_header_size || header.length % 4 != 0 || header.length > room) return std::nullopt;
    header.packet_md5 = read_digest(bytes + 16);
    header.set_id = read_digest(bytes + 32);
    std::memcpy(header.type.data(), bytes + 48, header.type.size());
    return header;
}

std::optional<MainPacket> parse_main(const std::uint8_t* body, std::size_t size) {
    if (size < 12 || (size - 12) % 16 != 0) return std::nullopt;
    MainPacket main;
    main.slice_size = load_u64(body);
    const std::uint32_t files = load_u32(body + 8);
    const std::size_t ids = (size - 12) / 16;
    if (main.slice_size == 0 || main.slice_size % 4 != 0 || files == 0 || files > ids) return std::nullopt;
    for (std::uint32_t i = 0; i < files; ++i) main.recoverable.push_back(read_digest(body + 12 + 16 * i));
    main.nonrecoverable = ids - files;
    return main;
}

std::optional<FileDescription> parse_file_description(const std::uint8_t* body, std::size_t size) {
    if (size < 56) return std::nullopt;
    FileDescription file;
    file.file_id = read_digest(body);
    file.md5 = read_digest(body + 16);
    file.md5_16k = read_digest(body + 32);
    file.length = load_u64(body + 48);
    // The name is padded with up to 3 zeros; it is not terminated otherwise.
    std::size_t end = size;
    while (end > 56 && body[end - 1] == 0) --end;
    file.name.assign(reinterpret_cast<const char*>(body + 56), end - 56);
    return file;
}

std::optional<SliceChecksums> parse_slice_checksums(const std::uint8_t* body, std::size_t size) {
    if (size < 16 || (size - 16) % 20 != 0) return std::nullopt;
    SliceChecksums checks;
    checks.file_id = read_digest(body);
    const std::size_t count = (size - 16) / 20;
    checks.slices.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = body + 16 + 20 * i;
        checks.slices[i].md5 = read_digest(entry);
        checks.slices[i].crc = load_u32(entry + 16);
    }
    return checks;
}

}  // namespace kestrav3::recovery
