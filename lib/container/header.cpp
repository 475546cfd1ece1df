#include "container/header.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "container/chunk_io.h"
#include "container/container.h"
#include "shared/results.h"

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

std::optional<std::string> lookup_field(const HeaderBlock& copy1, const HeaderBlock& copy2, std::string_view name) {
    std::string value;
    select_value(record_text(copy1), name, value);
    if (value == "NULL") select_value(record_text(copy2), name, value);
    if (value == "NULL") return std::nullopt;
    return value;
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

void build_header_block(HeaderBlock& block, std::string_view stored_name, long long nblocks, int rest,
                        std::string_view metadata) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (auto& byte : block) byte = static_cast<std::uint8_t>(std::rand() & 0xFF);

    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "&BLOCKSIZE=%d&NBLOCKS=%lld&REST=%d&LENMET=%d&", BLOCK_SIZE, nblocks,
                  rest, static_cast<int>(metadata.size()));
    const std::string record = "FN=" + std::string(stored_name) + numbers;
    std::memcpy(block.data(), record.c_str(), record.size() + 1);
    if (!metadata.empty()) {
        std::memcpy(block.data() + metadata_offset, metadata.data(), metadata.size());
        block[metadata_offset + metadata.size()] = 0;
    }
}

}  // namespace kestrav3
