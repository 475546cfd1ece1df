#include "container/header.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "container/chunks.h"
#include "container/container.h"
#include "container/files.h"
#include "container/names.h"
#include "platform/platform.h"
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

std::optional<std::string> lookup_field(const HeaderBlock& copy1, const HeaderBlock& copy2, std::string_view name,
                                        bool* from_copy2) {
    std::string value;
    select_value(record_text(copy1), name, value);
    if (value == "NULL") {
        select_value(record_text(copy2), name, value);
        if (value != "NULL" && from_copy2 != nullptr) *from_copy2 = true;
    }
    if (value == "NULL") return std::nullopt;
    return value;
}

namespace {

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
        record.rest > BLOCK_SIZE || !restorable_name(record.name))
        return ERR_HEADER;
    return 0;
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

int open_coded_file(const char* path, const char* key, RecordUse use, int short_read_result, Stream& in,
                    HeaderRecord& record) {
    int result = check_key(key);
    if (result != 0) return result;
    if (!holds_first_header(path)) return ERR_READ;

    gen_kmatrix(key);
    // No buffer: each batch of groups is read straight into the batch, in
    // one call of its own size.
    in = Stream::reader(path, 0);
    if (!in) return ERR_READ;
    static HeaderBlock copy1, copy2;
    if ((result = read_header_copies(in.get(), copy1, copy2, short_read_result)) != 0) return result;

    record = HeaderRecord{};
    FieldReader fields(copy1, copy2, record);
    return use == RecordUse::blocks ? read_geometry(fields, record) : read_metadata_length(fields, copy1, record);
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

}  // namespace kestrav3
