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

// The magic search over one source through a window of piece bytes, so that
// each byte is read once however many candidates lie close together.
class MagicSearch {
public:
    explicit MagicSearch(const Source& source) : source_(source), window_(piece) {}

    // The offset of the next magic at or after from, or the size when there is none.
    std::uint64_t next(std::uint64_t from) {
        const std::size_t magic = packet_magic.size();
        while (from + magic <= source_.size) {
            if (from < at_ || from + magic > at_ + length_) {
                length_ = static_cast<std::size_t>(std::min<std::uint64_t>(piece, source_.size - from));
                at_ = from;
                if (!source_.read(at_, window_.data(), length_)) return source_.size;
            }
            const auto begin = window_.begin() + static_cast<std::ptrdiff_t>(from - at_);
            const auto end = window_.begin() + static_cast<std::ptrdiff_t>(length_);
            const auto found = std::search(begin, end, packet_magic.begin(), packet_magic.end());
            if (found != end) return at_ + static_cast<std::uint64_t>(found - window_.begin());
            if (at_ + length_ == source_.size) break;
            from = at_ + length_ - (magic - 1);  // a magic may straddle two windows
        }
        return source_.size;
    }

private:
    const Source& source_;
    std::vector<std::uint8_t> window_;
    std::uint64_t at_ = 0;
    std::size_t length_ = 0;
};

// Checks the packet's MD5 and keeps its body.
bool packet_checks_out(const Source& source, std::uint64_t offset, const PacketHeader& header,
                       std::vector<std::uint8_t>& body) {
    Md5Stream hash;
    std::uint8_t head[32];
    if (!source.read(offset + 32, head, sizeof head)) return false;
    hash.update(head, sizeof head);
    body.resize(static_cast<std::size_t>(header.length - packet_header_size));
    if (!body.empty() && !source.read(offset + packet_header_size, body.data(), body.size())) return false;
    hash.update(body.data(), body.size());
    return hash.digest() == header.packet_md5;
}

// The packets a set is read for; others (Creator, unknown ones) are passed over.
bool wanted(const PacketType& type) {
    return type == main_type || type == file_description_type || type == slice_checksum_type;
}

// A good packet as the scan hands it on.
struct Good {
    PacketHeader header;
    std::vector<std::uint8_t> body;  // empty for a recovery slice
    std::uint64_t offset = 0;
    std::uint32_t exponent = 0;  // of a recovery slice
};

// Every candidate packet in the source: a recovery slice is handed on
// unchecked (its MD5 is checked only if it is used) and the search goes on
// inside it, so a false length hides nothing; any other packet is checked
// within the file's budget and, when good, skipped whole.
template <typename Found>
void scan_source(const Source& source, SetFileScan& scan, Found&& found) {
    MagicSearch search(source);
    std::uint64_t offset = search.next(0);
    while (offset + packet_header_size <= source.size) {
        std::uint8_t head[packet_header_size + 4];
        const std::size_t head_size =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof head, source.size - offset));
        if (!source.read(offset, head, head_size)) return;
        const auto header = parse_header(head, source.size - offset);
        std::uint64_t next = offset + 1;
        if (!header) {
            ++scan.damaged_packets;
        } else if (header->type == recovery_slice_type) {
            if (header->length >= packet_header_size + 4 && head_size == sizeof head)
                found(Good{*header, {}, offset, load_u32(head + packet_header_size)});
            next = offset + packet_header_size;
        } else if (!wanted(header->type)) {
            next = offset + packet_header_size;
        } else if (header->length <= max_kept_packet && header->length <= scan.budget) {
            scan.budget -= header->length;
            Good packet{*header, {}, offset, 0};
            if (packet_checks_out(source, offset, *header, packet.body)) {
                ++scan.good_packets;
                found(std::move(packet));
                next = offset + header->length;
            } else {
                ++scan.damaged_packets;
            }
        } else {
            ++scan.damaged_packets;  // too long to keep, or past the budget
        }
        offset = search.next(next);
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
        scan.size = static_cast<std::uint64_t>(info.size);
        scan.budget = hash_budget(scan.size);
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
    scan.size = size;
    scan.budget = hash_budget(size);
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
    if (packets_.size() >= max_found_packets) return;
    Found packet{header.set_id, header.type, std::move(body), {file, 0, exponent, header.packet_md5}, 0};
    if (header.type == recovery_slice_type) {
        if (header.length < packet_header_size + 4) return;
        packet.where.offset = offset + packet_header_size + 4;
        packet.recovery_size = header.length - packet_header_size - 4;
    } else {
        // A packet repeated in every file is kept once (the same MD5 is the
        // same packet), and the bodies kept stay within max_kept_bytes.
        if (packet.body.size() > max_kept_bytes - kept_bytes_ || !kept_.insert(header.packet_md5).second) return;
        kept_bytes_ += packet.body.size();
    }
    packets_.push_back(std::move(packet));
}

bool SetReader::choose(std::string_view name) {
    why_ = files_.empty() ? "no set file was found" : "no set file holds a readable Main packet";
    version_ = 0;
    bool chosen = false;
    std::vector<Md5Digest> tried;
    for (const Found& packet : packets_) {
        if (packet.type != main_type) continue;
        if (std::find(tried.begin(), tried.end(), packet.set_id) != tried.end()) continue;
        tried.push_back(packet.set_id);
        Choice choice;
        if (!choose_set(packet.set_id, name, choice)) continue;
        if (chosen && choice.exponents <= chosen_.exponents) continue;
        chosen_ = std::move(choice);
        chosen = true;
    }
    return chosen;
}

// The set's Main packet. The set ID is the MD5 of its body, so a body with
// that MD5 is the set's own; without one, Main packets that differ leave
// the set undecided.
std::optional<MainPacket> SetReader::main_of(const Md5Digest& set_id) {
    const std::vector<std::uint8_t>* body = nullptr;
    bool differ = false;
    for (const Found& packet : packets_) {
        if (packet.set_id != set_id || packet.type != main_type) continue;
        if (md5_digest(packet.body.data(), packet.body.size()) == set_id) {
            body = &packet.body;
            differ = false;
            break;
        }
        if (body != nullptr && *body != packet.body) differ = true;
        if (body == nullptr) body = &packet.body;
    }
    if (differ) {
        why_ = "conflicting packets";
        return std::nullopt;
    }
    return body != nullptr ? parse_main(body->data(), body->size()) : std::nullopt;
}

// The set's Main packet names one file, that file's description carries
// name, and a slice checksum packet lists as many slices as its length
// needs. Sets of several files are not taken: their recovery data depends
// on the other files too.
bool SetReader::choose_set(const Md5Digest& set_id, std::string_view name, Choice& choice) {
    const std::optional<MainPacket> main = main_of(set_id);
    if (!main) return false;
    if (main->recoverable.size() != 1 || main->nonrecoverable != 0) {
        why_ = "the set protects more than one file";
        return false;
    }
    if (main->slice_size > max_slice_size) {
        why_ = "the set's slices are larger than a repair takes";
        return false;
    }
    if (!find_versions(set_id, *main, name, choice)) return false;
    choice.set_id = set_id;
    choice.slice_size = main->slice_size;
    find_recovery(set_id, main->slice_size, choice);
    return true;
}

// Every distinct pair of a File Description for the file and a slice
// checksum packet that fits it. Packets repeated in several files are one.
bool SetReader::find_versions(const Md5Digest& set_id, const MainPacket& main, std::string_view name, Choice& choice) {
    std::vector<FileDescription> files;
    std::vector<SliceChecksums> lists;
    bool described = false;
    for (const Found& packet : packets_) {
        if (packet.set_id != set_id) continue;
        if (packet.type == file_description_type) {
            auto file = parse_file_description(packet.body.data(), packet.body.size());
            if (!file || file->file_id != main.recoverable[0] || file->name != name) continue;
            described = true;
            const std::uint64_t slices = (file->length + main.slice_size - 1) / main.slice_size;
            if (file->length == 0 || slices > input_constant_count) continue;
            if (std::none_of(files.begin(), files.end(), [&](const FileDescription& f) {
                    return f.md5 == file->md5 && f.md5_16k == file->md5_16k && f.length == file->length;
                }))
                files.push_back(std::move(*file));
        } else if (packet.type == slice_checksum_type) {
            auto list = parse_slice_checksums(packet.body.data(), packet.body.size());
            if (!list || list->file_id != main.recoverable[0]) continue;
            if (std::none_of(lists.begin(), lists.end(),
                             [&](const SliceChecksums& l) { return l.slices == list->slices; }))
                lists.push_back(std::move(*list));
        }
        if (files.size() * std::max<std::size_t>(1, lists.size()) > max_versions) {
            why_ = "conflicting packets";
            return false;
        }
    }
    for (const FileDescription& file : files)
        for (const SliceChecksums& list : lists)
            if (list.slices.size() == (file.length + main.slice_size - 1) / main.slice_size)
                choice.versions.push_back({file, list.slices});
    if (choice.versions.empty())
        why_ = !described      ? "no readable File Description packet names the file"
               : files.empty() ? "the set's file length and slice size do not fit together"
                               : "no readable slice checksum packet for the file";
    return !choice.versions.empty();
}

// The recovery slices of the set's slice size, by exponent. Candidates
// that overlap one taken before them in the same file are passed over: the
// slices' data then adds up to no more than the set files hold.
void SetReader::find_recovery(const Md5Digest& set_id, std::uint64_t slice_size, Choice& choice) const {
    std::vector<RecoveryLocation> found;
    std::vector<std::uint64_t> end_of(files_.size() + 1, 0);
    for (const Found& packet : packets_) {
        if (packet.set_id != set_id || packet.type != recovery_slice_type || packet.recovery_size != slice_size)
            continue;
        std::uint64_t& end = end_of[packet.where.file];
        if (packet.where.offset < end) continue;
        end = packet.where.offset + slice_size;
        found.push_back(packet.where);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const RecoveryLocation& a, const RecoveryLocation& b) { return a.exponent < b.exponent; });
    choice.exponents = 0;
    for (std::size_t i = 0; i < found.size(); ++i)
        if (i == 0 || found[i].exponent != found[i - 1].exponent) ++choice.exponents;
    choice.recovery = std::move(found);
}

bool SetReader::read_recovery(const RecoveryLocation& where, std::uint8_t* out) {
    if (where.file >= files_.size()) return false;
    SetFileScan& scan = files_[where.file];
    const std::uint64_t cost = chosen_.slice_size + 36;
    if (cost > scan.budget) return false;
    scan.budget -= cost;
    bool read = false;
    const std::vector<std::uint8_t>& text = texts_[where.file];
    if (!text.empty()) {
        read = Source{nullptr, text.data(), text.size()}.read(where.offset, out, chosen_.slice_size);
    } else {
        const platform::PathInfo info = platform::path_info(scan.path.c_str());
        std::FILE* file = info.kind == platform::PathKind::regular ? std::fopen(scan.path.c_str(), "rb") : nullptr;
        if (file == nullptr) return false;
        read = Source{file, nullptr, static_cast<std::uint64_t>(info.size)}.read(where.offset, out, chosen_.slice_size);
        std::fclose(file);
    }
    if (!read) return false;
    // The packet's MD5 covers the set ID, the type, the exponent and the data.
    std::uint8_t head[36];
    std::memcpy(head, chosen_.set_id.data(), 16);
    std::memcpy(head + 16, recovery_slice_type.data(), 16);
    for (int b = 0; b < 4; ++b) head[32 + b] = static_cast<std::uint8_t>(where.exponent >> (8 * b));
    Md5Stream hash;
    hash.update(head, sizeof head);
    hash.update(out, static_cast<std::size_t>(chosen_.slice_size));
    return hash.digest() == where.packet_md5;
}

}  // namespace kestrav3::recovery
