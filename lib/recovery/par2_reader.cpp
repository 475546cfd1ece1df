#include "recovery/par2_reader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "platform/platform.h"
#include "recovery/gf16.h"

namespace kestrav3::recovery {

namespace {

// A set file as bytes at offsets: an open stream or bytes in memory.
struct Source {
    std::FILE* file = nullptr;
    const std::uint8_t* bytes = nullptr;
    std::uint64_t size = 0;

    bool read(std::uint64_t offset, void* out, std::size_t n) const {
        if (offset > size || n > size - offset) return false;
        if (bytes != nullptr) {
            std::memcpy(out, bytes + offset, n);
            return true;
        }
        return platform::seek_to(file, static_cast<std::int64_t>(offset)) && std::fread(out, 1, n, file) == n;
    }
};

constexpr std::size_t piece = 1 << 16;

// The offset of the next magic at or after from, or size when there is none.
std::uint64_t next_magic(const Source& source, std::uint64_t from, std::vector<std::uint8_t>& buffer) {
    const std::size_t magic = packet_magic.size();
    buffer.resize(piece);
    while (from + magic <= source.size) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece, source.size - from));
        if (!source.read(from, buffer.data(), n)) return source.size;
        const auto end = buffer.begin() + static_cast<std::ptrdiff_t>(n);
        const auto at = std::search(buffer.begin(), end, packet_magic.begin(), packet_magic.end());
        if (at != end) return from + static_cast<std::uint64_t>(at - buffer.begin());
        if (n < piece) break;
        from += n - (magic - 1);  // a magic may straddle two pieces
    }
    return source.size;
}

// Checks the packet's MD5 by reading it in pieces; keeps its body when asked.
bool packet_checks_out(const Source& source, std::uint64_t offset, const PacketHeader& header, bool keep,
                       std::vector<std::uint8_t>& body, std::vector<std::uint8_t>& buffer) {
    Md5Stream hash;
    std::uint8_t head[32];
    if (!source.read(offset + 32, head, sizeof head)) return false;
    hash.update(head, sizeof head);
    const std::uint64_t body_size = header.length - packet_header_size;
    if (keep) {
        body.resize(static_cast<std::size_t>(body_size));
        if (body_size > 0 && !source.read(offset + packet_header_size, body.data(), body.size())) return false;
        hash.update(body.data(), body.size());
    } else {
        buffer.resize(piece);
        for (std::uint64_t done = 0; done < body_size;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece, body_size - done));
            if (!source.read(offset + packet_header_size + done, buffer.data(), n)) return false;
            hash.update(buffer.data(), n);
            done += n;
        }
    }
    return hash.digest() == header.packet_md5;
}

// A good packet as the scan hands it on.
struct Good {
    PacketHeader header;
    std::vector<std::uint8_t> body;  // empty for a recovery slice
    std::uint64_t offset = 0;
    std::uint32_t exponent = 0;  // of a recovery slice
};

template <typename Found>
void scan_source(const Source& source, SetFileScan& scan, Found&& found) {
    std::vector<std::uint8_t> buffer;
    std::uint64_t offset = next_magic(source, 0, buffer);
    while (offset + packet_header_size <= source.size) {
        std::uint8_t head[packet_header_size + 4];
        const std::size_t head_size =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof head, source.size - offset));
        if (!source.read(offset, head, head_size)) return;
        const auto header = parse_header(head, source.size - offset);
        bool good = false;
        if (header) {
            const bool recovery = header->type == recovery_slice_type;
            Good packet{*header, {}, offset, 0};
            if (recovery && header->length >= packet_header_size + 4)
                packet.exponent = load_u32(head + packet_header_size);
            if ((recovery || header->length <= max_kept_packet) &&
                packet_checks_out(source, offset, *header, !recovery, packet.body, buffer)) {
                good = true;
                ++scan.good_packets;
                found(std::move(packet));
                offset += header->length;
            }
        }
        if (!good) ++scan.damaged_packets;
        offset = next_magic(source, good ? offset : offset + 1, buffer);
    }
}

}  // namespace

void SetReader::scan(const std::string& path) {
    SetFileScan scan;
    scan.path = path;
    const std::size_t index = files_.size();
    texts_.emplace_back();
    const platform::PathInfo info = platform::path_info(path.c_str());
    std::FILE* file = info.kind == platform::PathKind::regular ? std::fopen(path.c_str(), "rb") : nullptr;
    if (file != nullptr) {
        scan.readable = true;
        scan_source(Source{file, nullptr, static_cast<std::uint64_t>(info.size)}, scan, [&](Good packet) {
            keep(std::move(packet.header), std::move(packet.body), index, packet.offset, packet.exponent);
        });
        std::fclose(file);
    }
    files_.push_back(std::move(scan));
}

void SetReader::scan_bytes(const std::uint8_t* bytes, std::size_t size) {
    SetFileScan scan;
    scan.readable = true;
    const std::size_t index = files_.size();
    texts_.emplace_back(bytes, bytes + size);
    const std::vector<std::uint8_t>& text = texts_.back();
    scan_source(Source{nullptr, text.data(), text.size()}, scan, [&](Good packet) {
        keep(std::move(packet.header), std::move(packet.body), index, packet.offset, packet.exponent);
    });
    files_.push_back(std::move(scan));
}

void SetReader::keep(PacketHeader header, std::vector<std::uint8_t> body, std::size_t file, std::uint64_t offset,
                     std::uint32_t exponent) {
    Found packet{header.set_id, header.type, std::move(body), {file, 0, exponent}, 0};
    if (header.type == recovery_slice_type) {
        if (header.length < packet_header_size + 4) return;
        packet.where.offset = offset + packet_header_size + 4;
        packet.recovery_size = header.length - packet_header_size - 4;
    }
    packets_.push_back(std::move(packet));
}

bool SetReader::choose(std::string_view name) {
    why_ = files_.empty() ? "no set file was found" : "no set file holds a readable Main packet";
    bool chosen = false;
    std::vector<Md5Digest> tried;
    for (const Found& packet : packets_) {
        if (packet.type != main_type) continue;
        if (std::find(tried.begin(), tried.end(), packet.set_id) != tried.end()) continue;
        tried.push_back(packet.set_id);
        Choice choice;
        if (!choose_set(packet.set_id, name, choice)) continue;
        if (chosen && choice.recovery.size() <= chosen_.recovery.size()) continue;
        chosen_ = std::move(choice);
        chosen = true;
    }
    return chosen;
}

// The set's Main packet names one file, that file's description carries
// name, and a slice checksum packet lists as many slices as its length
// needs. Sets of several files are not taken: their recovery data depends
// on the other files too.
bool SetReader::choose_set(const Md5Digest& set_id, std::string_view name, Choice& choice) {
    std::optional<MainPacket> main;
    for (const Found& packet : packets_)
        if (packet.set_id == set_id && packet.type == main_type &&
            (main = parse_main(packet.body.data(), packet.body.size())))
            break;
    if (!main) return false;
    if (main->recoverable.size() != 1 || main->nonrecoverable != 0) {
        why_ = "the set protects more than one file";
        return false;
    }
    std::optional<FileDescription> file;
    for (const Found& packet : packets_) {
        if (packet.set_id != set_id || packet.type != file_description_type) continue;
        file = parse_file_description(packet.body.data(), packet.body.size());
        if (file && file->file_id == main->recoverable[0] && file->name == name) break;
        file.reset();
    }
    if (!file) {
        why_ = "no readable File Description packet names the file";
        return false;
    }
    const std::uint64_t slices = (file->length + main->slice_size - 1) / main->slice_size;
    if (file->length == 0 || slices > input_constant_count || main->slice_size > max_slice_size) {
        why_ = "the set's file length and slice size do not fit together";
        return false;
    }
    std::optional<SliceChecksums> checks;
    for (const Found& packet : packets_) {
        if (packet.set_id != set_id || packet.type != slice_checksum_type) continue;
        checks = parse_slice_checksums(packet.body.data(), packet.body.size());
        if (checks && checks->file_id == file->file_id && checks->slices.size() == slices) break;
        checks.reset();
    }
    if (!checks) {
        why_ = "no readable slice checksum packet for the file";
        return false;
    }
    std::map<std::uint32_t, RecoveryLocation> recovery;
    for (const Found& packet : packets_)
        if (packet.set_id == set_id && packet.type == recovery_slice_type && packet.recovery_size == main->slice_size)
            recovery.emplace(packet.where.exponent, packet.where);
    choice.set_id = set_id;
    choice.slice_size = main->slice_size;
    choice.file = std::move(*file);
    choice.checks = std::move(checks->slices);
    for (const auto& [exponent, where] : recovery) choice.recovery.push_back(where);
    return true;
}

bool SetReader::read_recovery(const RecoveryLocation& where, std::uint8_t* out) const {
    if (where.file >= files_.size()) return false;
    const std::vector<std::uint8_t>& text = texts_[where.file];
    if (!text.empty()) return Source{nullptr, text.data(), text.size()}.read(where.offset, out, chosen_.slice_size);
    const std::string& path = files_[where.file].path;
    const platform::PathInfo info = platform::path_info(path.c_str());
    if (info.kind != platform::PathKind::regular) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const bool ok =
        Source{file, nullptr, static_cast<std::uint64_t>(info.size)}.read(where.offset, out, chosen_.slice_size);
    std::fclose(file);
    return ok;
}

}  // namespace kestrav3::recovery
