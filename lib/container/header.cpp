#include "container/header.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "container/chunks.h"
#include "container/container.h"
#include "container/files.h"
#include "container/names.h"
#include "container/run_buffers.h"
#include "platform/platform.h"
#include "shared/failure.h"
#include "shared/options.h"
#include "shared/results.h"
#include "textconv/native_text.h"

namespace kestrav3 {

int select_value(std::string_view record, std::string_view name, std::string& out) {
    out = "NULL";
    if (record.size() <= 3) return -1;
    const std::string key = std::string(name) + "=";
    const std::size_t found = record.find(key);
    if (found == std::string_view::npos) return -1;
    const std::size_t equals = record.find('=', found);
    const std::size_t amp = record.find('&', found);
    if (amp == std::string_view::npos || amp < equals) return -1;
    out.assign(record.substr(equals + 1, amp - equals - 1));
    return 0;
}

std::string_view record_text(const HeaderBlock& copy) {
    const auto* text = reinterpret_cast<const char*>(copy.data());
    const void* nul = std::memchr(text, '\0', copy.size());
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : copy.size();
    return {text, length};
}

int read_header_copies(std::FILE* in, HeaderBlock& copy1, HeaderBlock& copy2, int short_read_result) {
    const int result = read_chunk(in, copy1.data(), BLOCK_SIZE, ERR_READ, short_read_result);
    return result != 0 ? result : read_chunk(in, copy2.data(), BLOCK_SIZE, ERR_READ, short_read_result);
}

namespace {

// Digits, then the next key's "&" (or the end): the rest after it.
bool take_digits(std::string_view& text, std::string_view& value) {
    std::size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
    if (n == 0 || n >= text.size() || text[n] != '&') return false;
    value = text.substr(0, n);
    text.remove_prefix(n);
    return true;
}

bool take(std::string_view& text, std::string_view literal) {
    if (text.substr(0, literal.size()) != literal) return false;
    text.remove_prefix(literal.size());
    return true;
}

}  // namespace

std::optional<std::string_view> RecordFields::field(std::string_view key) const {
    if (key == "FN") return name;
    if (key == "BLOCKSIZE") return blocksize;
    if (key == "NBLOCKS") return nblocks;
    if (key == "REST") return rest;
    if (key == "LENMET") return lenmet;
    return std::nullopt;
}

std::optional<RecordFields> record_fields(std::string_view record) {
    if (record.substr(0, 3) != "FN=") return std::nullopt;
    // The tail holds digits only, so its "&BLOCKSIZE=" is the last one.
    const std::size_t tail = record.rfind("&BLOCKSIZE=");
    if (tail == std::string_view::npos || tail < 3) return std::nullopt;
    RecordFields fields;
    fields.name = record.substr(3, tail - 3);
    std::string_view rest = record.substr(tail);
    if (!take(rest, "&BLOCKSIZE=") || !take_digits(rest, fields.blocksize) || !take(rest, "&NBLOCKS=") ||
        !take_digits(rest, fields.nblocks) || !take(rest, "&REST=") || !take_digits(rest, fields.rest) ||
        !take(rest, "&LENMET=") || !take_digits(rest, fields.lenmet) || rest != "&")
        return std::nullopt;
    return fields;
}

std::optional<std::string> copy_field(const HeaderBlock& copy, std::string_view name) {
    const std::string_view record = record_text(copy);
    if (const auto fields = record_fields(record)) {
        if (const auto value = fields->field(name)) return std::string(*value);
    }
    std::string value;
    select_value(record, name, value);
    if (value == "NULL") return std::nullopt;
    return value;
}

std::optional<std::string> lookup_field(const HeaderBlock& copy1, const HeaderBlock& copy2, std::string_view name,
                                        bool* from_copy2) {
    if (auto value = copy_field(copy1, name)) return value;
    auto value = copy_field(copy2, name);
    if (value && from_copy2 != nullptr) *from_copy2 = true;
    return value;
}

std::string HeaderCheck::fault() const {
    if (lost) return "header copies 1 and 2";
    if (differs == 0) return "";
    return damaged == 0 ? "a header copy" : "header copy " + std::to_string(damaged);
}

std::string HeaderCheck::note() const {
    if (lost)
        return "both header copies are damaged: the layout follows from the file's size, the name from the "
               "coded file's";
    if (differs == 0) return "";
    std::vector<const char*> areas;
    if ((differs & area_record) != 0) areas.push_back("record");
    if ((differs & area_metadata) != 0) areas.push_back("metadata");
    if ((differs & area_filler) != 0) areas.push_back("filler");
    std::string text = "header copies differ in the ";
    for (std::size_t i = 0; i < areas.size(); ++i)
        text += std::string(i == 0 ? "" : i + 1 == areas.size() ? " and " : ", ") + areas[i];
    text += "; copy " + std::to_string(used) + " used";
    if (*why != '\0') text += std::string(" (") + why + ")";
    if (name_from_copy1) text += ", the name from copy 1";
    return text;
}

namespace {

// The two header copies of the coded file being read, per run.
std::array<HeaderBlock, 2> header_copies;

// Where a copy's record area ends: after its record text and NUL, and never
// past the metadata.
std::size_t record_end(const HeaderBlock& copy) {
    return std::min<std::size_t>(record_text(copy).size() + 1, metadata_offset);
}

// A copy's LENMET when it gives one in range, else -1.
long long metadata_length(const HeaderBlock& copy) {
    const auto value = copy_field(copy, "LENMET");
    const long long n = value ? parse_number(*value) : -1;
    return n >= 0 && n <= max_metadata ? n : -1;
}

bool bytes_differ(const HeaderBlock& a, const HeaderBlock& b, std::size_t from, std::size_t to) {
    return from < to && std::memcmp(a.data() + from, b.data() + from, to - from) != 0;
}

unsigned differing_areas(const HeaderBlock& a, const HeaderBlock& b) {
    if (a == b) return 0;
    const std::size_t record = std::max(record_end(a), record_end(b));
    const long long longest = std::max(metadata_length(a), metadata_length(b));
    const std::size_t metadata = metadata_offset + (longest > 0 ? static_cast<std::size_t>(longest) + 1 : 0);
    unsigned areas = 0;
    if (bytes_differ(a, b, 0, record)) areas |= area_record;
    if (bytes_differ(a, b, metadata_offset, metadata)) areas |= area_metadata;
    if (bytes_differ(a, b, record, metadata_offset) || bytes_differ(a, b, metadata, BLOCK_SIZE)) areas |= area_filler;
    return areas;
}

// The metadata reader would print different texts from the two copies: each
// copy's text is its LENMET bytes and the NUL after them.
bool metadata_texts_differ(const HeaderBlock& a, const HeaderBlock& b) {
    long long na = metadata_length(a), nb = metadata_length(b);
    if (na < 0) na = nb;
    if (nb < 0) nb = na;
    return na != nb || (na > 0 && bytes_differ(a, b, metadata_offset, metadata_offset + na + 1));
}

// The record's sizes are the ones the coded file's size has.
bool agrees_with_size(const RecordFields& fields, std::int64_t size) {
    const long long nblocks = parse_number(fields.nblocks), rest = parse_number(fields.rest);
    if (parse_number(fields.blocksize) != BLOCK_SIZE || nblocks > max_blocks || rest >= BLOCK_SIZE) return false;
    return coded_size_of(nblocks, rest) == static_cast<std::uint64_t>(size);
}

// Which copy a reader takes its fields from, and what the copies' difference says.
HeaderCheck compare_copies(const HeaderBlock& copy1, const HeaderBlock& copy2, std::int64_t size, RecordUse use) {
    HeaderCheck check;
    check.differs = differing_areas(copy1, copy2);
    if (check.differs == 0) return check;
    check.metadata_differs = metadata_texts_differ(copy1, copy2);
    const auto whole1 = record_fields(record_text(copy1));
    const auto whole2 = record_fields(record_text(copy2));
    if (!whole1 && whole2) {
        check.used = 2;
        check.damaged = 1;
        check.why = "copy 1's record is broken, copy 2's is whole";
    } else if (whole1 && !whole2) {
        check.damaged = 2;
        check.why = "copy 2's record is broken";
    } else if (whole1 && whole2) {
        const bool agrees1 = agrees_with_size(*whole1, size), agrees2 = agrees_with_size(*whole2, size);
        if (agrees1 != agrees2) check.damaged = agrees1 ? 2 : 1;
        // The sizes decide for the readers of blocks; the metadata reader
        // prints copy 1's text whenever copy 1's record is whole.
        if (agrees1 != agrees2 && use == RecordUse::blocks) {
            check.used = agrees1 ? 1 : 2;
            check.why = "its NBLOCKS and REST agree with the file's size";
            check.name_from_copy1 = check.used == 2 && whole1->name != whole2->name;
        }
    }
    return check;
}

// Looks up the named fields in order, from the copy used first; false when
// one is missing from both copies.
class FieldReader {
public:
    FieldReader(const HeaderBlock& copy1, const HeaderBlock& copy2, HeaderRecord& record)
        : first_(record.header.used == 2 ? copy2 : copy1), second_(copy2), record_(record) {}

    bool text(std::string_view name, std::string& value) {
        bool from_copy2 = false;
        auto found = lookup_field(first_, second_, name, &from_copy2);
        if (!found) return false;
        if (from_copy2 && record_.header.used == 1) record_.from_copy2.push_back(name);
        value = std::move(*found);
        return true;
    }
    bool number(std::string_view name, long long& value) {
        std::string found;
        if (!text(name, found)) return false;
        value = parse_number(found);
        return true;
    }

private:
    const HeaderBlock& first_;   // the copy used
    const HeaderBlock& second_;  // copy 2, for what copy 1 lacks
    HeaderRecord& record_;
};

std::string native_name(const std::string& name) {
    return code_utf8 == 1 ? utf8_to_native(name.c_str(), static_cast<int>(name.size())) : name;
}

int read_geometry(FieldReader& fields, const HeaderBlock& copy1, HeaderRecord& record) {
    std::string name;
    if (!fields.text("FN", name) || !fields.number("BLOCKSIZE", record.blocksize) ||
        !fields.number("NBLOCKS", record.nblocks) || !fields.number("REST", record.rest))
        return ERR_EMPTY;
    record.name = native_name(name);
    // Copy 2 gave the sizes; the name is copy 1's, unless copy 1's cannot be restored.
    if (record.header.name_from_copy1) {
        const std::string first = native_name(std::string(record_fields(record_text(copy1))->name));
        if (restorable_name(first))
            record.name = first;
        else
            record.header.name_from_copy1 = false;
    }
    if (record.blocksize > BLOCK_SIZE) return ERR_NOMEM;
    if (record.blocksize <= 0 || record.nblocks < 0 || record.nblocks > max_blocks || record.rest < 0 ||
        record.rest > BLOCK_SIZE)
        return ERR_HEADER;
    return restorable_name(record.name) ? 0 : ERR_NAME_REFUSED;
}

int read_metadata_length(FieldReader& fields, const HeaderBlock& copy1, const HeaderBlock& copy2,
                         HeaderRecord& record) {
    // The name's value is not used: finding it proves that the header decoded.
    if (!fields.text("FN", record.name) || !fields.number("LENMET", record.lenmet)) return ERR_EMPTY;
    if (record.lenmet < 0 || record.lenmet > max_metadata) return ERR_HEADER;
    // The text comes from copy 1, whichever copy gave its length, unless
    // copy 1's record is broken and copy 2 was read whole.
    const HeaderBlock& source = record.header.used == 2 ? copy2 : copy1;
    record.metadata.assign(reinterpret_cast<const char*>(source.data()) + metadata_offset,
                           static_cast<std::size_t>(record.lenmet) + 1);
    return 0;
}

// With the right key, a group's record decodes to 32 lower-case hexadecimal
// digits and a NUL; with a wrong one, almost never. Reads the first group's
// record and goes back to the first group.
bool first_record_has_its_shape(std::FILE* in) {
    std::array<std::uint8_t, record_size> digest{};
    const bool read = read_chunk(in, digest.data(), record_size, ERR_READ, ERR_READ) == 0;
    platform::seek_to(in, coded_headers_size);
    const auto hex = [](std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return read && digest[32] == 0 && std::all_of(digest.begin(), digest.begin() + 32, hex);
}

// Both copies lost: the layout that the file's size gives (whole groups, and
// a rest group when what is left has a rest group's size), under the coded
// file's name without ".archi".
int layout_from_size(const char* path, std::int64_t size, HeaderRecord& record) {
    const std::int64_t tail = (size - coded_headers_size) % coded_group_size;
    record.blocksize = BLOCK_SIZE;
    record.nblocks = (size - coded_headers_size) / coded_group_size;
    record.rest = tail > 2 * record_size && tail % 2 == 0 ? (tail - 2 * record_size) / 2 : 0;
    std::string_view name = base_name(path);
    constexpr std::string_view coded_suffix = ".archi";
    if (name.size() > coded_suffix.size() && name.substr(name.size() - coded_suffix.size()) == coded_suffix)
        name.remove_suffix(coded_suffix.size());
    record.name = std::string(name);
    record.header = HeaderCheck{};
    record.header.lost = true;
    return restorable_name(record.name) ? 0 : ERR_NAME_REFUSED;
}

// The detail of a header that decoded into no usable record.
int refuse_record(int result, const char* path, const char* key) {
    switch (result) {
    case ERR_EMPTY: {
        const std::string_view k(key);
        // A key read from a file written on Windows often keeps its line's end.
        const bool cr = !k.empty() && k.back() == '\r';
        return fail(result, path,
                    cr ? "the key is wrong (it ends in a carriage return), or this is not a coded file"
                       : "the key is wrong, or this is not a coded file");
    }
    case ERR_NOMEM: return fail(result, path, "its header gives a block size above 4096");
    case ERR_NAME_REFUSED: return fail(ERR_HEADER, path, "its header names a file that cannot be restored here");
    default: return result == 0 ? 0 : fail(result, path, "its header holds impossible sizes");
    }
}

}  // namespace

int check_key(const char* key) {
    const std::size_t length = std::strlen(key);
    if (length > 40) return ERR_KEY_TOO_LONG;
    if (length <= 3) return ERR_KEY_TOO_SHORT;
    return 0;
}

int check_coding_key(const char* key) {
    for (const char* c = key; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte > 0x7E) return ERR_KEY_NOT_ASCII;
    }
    return 0;
}

bool holds_first_header(const char* path) {
    const platform::PathInfo info = platform::path_info(path);
    return info.kind == platform::PathKind::regular && info.size >= 2 * BLOCK_SIZE;
}

namespace {

// ERR_READ with its cause for a name that holds no first header copy.
int check_coded_size(const char* path, std::int64_t& size) {
    const platform::PathInfo info = platform::path_info(path);
    size = info.size;
    if (info.kind != platform::PathKind::regular)
        return fail(ERR_READ, path, not_a_file_cause(path, info.kind == platform::PathKind::missing));
    if (info.size < 2 * BLOCK_SIZE)
        return fail(ERR_READ, path,
                    "is too short to be a coded file (" + std::to_string(info.size) +
                        " bytes; a coded file has at least " + std::to_string(2 * BLOCK_SIZE) + ")");
    return 0;
}

}  // namespace

int open_coded_file(const char* path, const char* key, RecordUse use, int short_read_result, Stream& in,
                    HeaderRecord& record, const WalkedInput& walked) {
    int result = check_key(key);
    if (result != 0) return result;
    std::int64_t size = 0;
    if ((result = check_coded_size(path, size)) != 0) return result;

    gen_kmatrix(key);
    // No buffer: each batch of groups is read straight into the batch, in
    // one call of its own size.
    platform::clear_last_error();
    in = Stream::reader(path, 0, walked);
    if (!in) return reader_failed(path);
    HeaderBlock& copy1 = header_copies[0];
    HeaderBlock& copy2 = header_copies[1];
    if ((result = read_header_copies(in.get(), copy1, copy2, short_read_result)) != 0)
        return fail(result, path, std::ferror(in.get()) ? platform::last_error_text() : "ends inside its header");

    record = HeaderRecord{};
    record.header = compare_copies(copy1, copy2, size, use);
    FieldReader fields(copy1, copy2, record);
    result = use == RecordUse::blocks ? read_geometry(fields, copy1, record)
                                      : read_metadata_length(fields, copy1, copy2, record);
    if (result == ERR_EMPTY && first_record_has_its_shape(in.get())) {
        if (use == RecordUse::metadata) return fail(ERR_HEADER, path, lost_headers);
        record = HeaderRecord{};
        result = layout_from_size(path, size, record);
    }
    return refuse_record(result, path, key);
}

long long parse_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr long long limit = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}

void build_header_block(HeaderBlock& block, const HeaderRecord& record) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (auto& byte : block) byte = static_cast<std::uint8_t>(std::rand() & 0xFF);

    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "&BLOCKSIZE=%lld&NBLOCKS=%lld&REST=%lld&LENMET=%lld&", record.blocksize,
                  record.nblocks, record.rest, record.lenmet);
    const std::string text = "FN=" + record.name + numbers;
    std::memcpy(block.data(), text.c_str(), text.size() + 1);
    if (!record.metadata.empty()) {
        std::memcpy(block.data() + metadata_offset, record.metadata.data(), record.metadata.size());
        block[metadata_offset + record.metadata.size()] = 0;
    }
}

void clear_header_copies() {
    for (HeaderBlock& copy : header_copies) copy.fill(0);
}

}  // namespace kestrav3
