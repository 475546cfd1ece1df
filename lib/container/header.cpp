#include "container/header.h"

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

namespace {

// The two header copies of the coded file being read, per run.
std::array<HeaderBlock, 2> header_copies;

// Looks up the named fields in order; false when one is missing from both copies.
class FieldReader {
public:
    FieldReader(const HeaderBlock& copy1, const HeaderBlock& copy2, HeaderRecord& record)
        : copy1_(copy1), copy2_(copy2), record_(record) {}

    bool text(std::string_view name, std::string& value) {
        bool from_copy2 = false;
        auto found = lookup_field(copy1_, copy2_, name, &from_copy2);
        if (!found) return false;
        if (from_copy2) record_.from_copy2.push_back(name);
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
    const HeaderBlock& copy1_;
    const HeaderBlock& copy2_;
    HeaderRecord& record_;
};

int read_geometry(FieldReader& fields, HeaderRecord& record) {
    std::string name;
    if (!fields.text("FN", name) || !fields.number("BLOCKSIZE", record.blocksize) ||
        !fields.number("NBLOCKS", record.nblocks) || !fields.number("REST", record.rest))
        return ERR_EMPTY;
    record.name = code_utf8 == 1 ? utf8_to_native(name.c_str(), static_cast<int>(name.size())) : name;
    if (record.blocksize > BLOCK_SIZE) return ERR_NOMEM;
    if (record.blocksize <= 0 || record.nblocks < 0 || record.nblocks > max_blocks || record.rest < 0 ||
        record.rest > BLOCK_SIZE)
        return ERR_HEADER;
    return restorable_name(record.name) ? 0 : ERR_NAME_REFUSED;
}

int read_metadata_length(FieldReader& fields, const HeaderBlock& copy1, HeaderRecord& record) {
    // The name's value is not used: finding it proves that the header decoded.
    if (!fields.text("FN", record.name) || !fields.number("LENMET", record.lenmet)) return ERR_EMPTY;
    if (record.lenmet < 0 || record.lenmet > max_metadata) return ERR_HEADER;
    // The text always comes from copy 1, whichever copy gave its length.
    record.metadata.assign(reinterpret_cast<const char*>(copy1.data()) + metadata_offset,
                           static_cast<std::size_t>(record.lenmet) + 1);
    return 0;
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
int check_coded_size(const char* path) {
    const platform::PathInfo info = platform::path_info(path);
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
                    HeaderRecord& record) {
    int result = check_key(key);
    if (result != 0) return result;
    if ((result = check_coded_size(path)) != 0) return result;

    gen_kmatrix(key);
    // No buffer: each batch of groups is read straight into the batch, in
    // one call of its own size.
    platform::clear_last_error();
    in = Stream::reader(path, 0);
    if (!in) return reader_failed(path);
    HeaderBlock& copy1 = header_copies[0];
    HeaderBlock& copy2 = header_copies[1];
    if ((result = read_header_copies(in.get(), copy1, copy2, short_read_result)) != 0)
        return fail(result, path, std::ferror(in.get()) ? platform::last_error_text() : "ends inside its header");

    record = HeaderRecord{};
    FieldReader fields(copy1, copy2, record);
    result = use == RecordUse::blocks ? read_geometry(fields, record) : read_metadata_length(fields, copy1, record);
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
