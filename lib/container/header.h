// The plain header block: its record text of five fields, and reading the
// fields back from the two decoded copies.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "shared/sizes.h"

namespace kestrav3 {

using HeaderBlock = std::array<std::uint8_t, BLOCK_SIZE>;

// The record text of a decoded copy: up to its first NUL, never past the block.
std::string_view record_text(const HeaderBlock& copy);

// Reads and decodes both header copies from the start of a coded file. A read
// error gives ERR_READ; a file ending inside them gives short_read_result.
int read_header_copies(std::FILE* in, HeaderBlock& copy1, HeaderBlock& copy2, int short_read_result);

// The field from copy 1, or from copy 2 when copy 1 lacks it; nothing when
// neither has it.
std::optional<std::string> lookup_field(const HeaderBlock& copy1, const HeaderBlock& copy2, std::string_view name);

// A number by the atoi rule (leading white space, one sign, digits up to the
// first other character, none gives 0), saturated to the range of long long.
long long parse_number(std::string_view text);

// Random filler, then the record text at offset 0 and the metadata (if any)
// with its NUL at offset 800.
void build_header_block(HeaderBlock& block, std::string_view stored_name, long long nblocks, int rest,
                        std::string_view metadata);

}  // namespace kestrav3
