// The plain header block: its record text of five fields, and reading the
// fields back from the two decoded copies.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "container/files.h"
#include "shared/buffers.h"
#include "shared/run_settings.h"
#include "shared/sizes.h"
#include "transform/transform.h"

namespace kestrav3 {

// ERR_KEY_TOO_LONG above 40 bytes, ERR_KEY_TOO_SHORT below 4, else 0.
int check_key(const char* key);
// A key the coder takes holds printable ASCII only (space to tilde): other
// bytes differ between the systems' code pages, and the file would open on
// one only. Readers take any key bytes, so files of other coders still open.
int check_coding_key(const char* key);
// A coded file is a regular file at least as long as its first header copy.
bool holds_first_header(const char* path);

// A header copy, plain or decoded.
using HeaderBlock = Block;

// The record text of a decoded copy: up to its first NUL, never past the block.
std::string_view record_text(const HeaderBlock& copy);

// Reads and decodes both header copies from the start of a coded file. A read
// error gives ERR_READ; a file ending inside them gives short_read_result.
int read_header_copies(std::FILE* in, HeaderBlock& copy1, HeaderBlock& copy2, int short_read_result);

// The five fields of a record text, when it has the shape every coder
// writes: "FN=" name "&BLOCKSIZE=" digits "&NBLOCKS=" digits "&REST="
// digits "&LENMET=" digits "&" and nothing after. Only the name may hold
// "&" or "=", so it is everything between "FN=" and that tail.
struct RecordFields {
    std::string_view name, blocksize, nblocks, rest, lenmet;
    // The named field's value ("FN", "BLOCKSIZE", ...); nothing for another name.
    std::optional<std::string_view> field(std::string_view key) const;
};
std::optional<RecordFields> record_fields(std::string_view record);

// A field of one copy: by the record's shape when it has it, else (a
// damaged copy) by select_value; nothing when the copy lacks the field.
std::optional<std::string> copy_field(const HeaderBlock& copy, std::string_view name);

// The field from copy 1, or from copy 2 when copy 1 lacks it (then
// *from_copy2 is set, when given); nothing when neither has it.
std::optional<std::string> lookup_field(const HeaderBlock& copy1, const HeaderBlock& copy2, std::string_view name,
                                        bool* from_copy2 = nullptr);

// A number by the atoi rule (leading white space, one sign, digits up to the
// first other character, none gives 0), saturated to the range of long long.
long long parse_number(std::string_view text);

// The areas of a header block: the record text with its NUL, the metadata
// text with its NUL (at offset 800), and the filler around them.
enum HeaderArea : unsigned { area_record = 1, area_metadata = 2, area_filler = 4 };

// How the two decoded header copies compare, which the reader used and why.
// The copies hold the same plain 4096 bytes, so any difference is damage.
struct HeaderCheck {
    unsigned differs = 0;           // the areas in which the copies differ
    int used = 1;                   // the copy whose fields were read (the other only for what it lacks)
    int damaged = 0;                // the copy found damaged (1 or 2); 0 when it cannot be told
    const char* why = "";           // why that copy was used, when it is not simply copy 1
    bool name_from_copy1 = false;   // copy 2 used, its name differing from copy 1's, which was kept
    bool metadata_differs = false;  // the copies give different metadata texts
    // Both copies lost, the key proven right by the first group's record: the
    // layout follows from the file's size, the name from the coded file's.
    bool lost = false;

    bool any() const { return differs != 0 || lost; }
    // "" when the copies agree; else the copy at fault, as the many-file lines
    // name it: "header copy 1", "header copy 2", "header copies 1 and 2", or
    // "a header copy" when the copies differ and neither can be blamed.
    std::string fault() const;
    // The note of the reports: the areas that differ and the copy used.
    std::string note() const;
};

// What a reader says of a coded file whose header copies are both lost
// while its first group's record shows the key is right.
inline constexpr std::string_view lost_headers = "the key is right, but both header copies are damaged";

// The header record of a coded file: what the coder writes, and what a
// reader takes from it.
struct HeaderRecord {
    std::string name;  // FN: as stored when written, in native text once read
    long long blocksize = 0;
    long long nblocks = 0;
    long long rest = 0;
    long long lenmet = 0;
    // The metadata as the coder stores it at offset 800; for the metadata
    // reader, the bytes from offset 800 of copy 1: the text and the byte
    // after it (a conversion may pair that byte with the last).
    std::string metadata;
    // Fields copy 1 lacked and copy 2 gave, in the order they were looked up.
    std::vector<std::string_view> from_copy2;
    // How the copies compared.
    HeaderCheck header;
};

// The fields a reader needs: restoring and testing need the name and the
// block geometry; the metadata reader needs the name and LENMET.
enum class RecordUse { blocks, metadata };

// The start that every reader of a coded file shares: the key checked, the
// file at least as long as one header copy, the key matrix derived, the file
// opened into in, both header copies read and decoded, the needed fields
// looked up and refused when missing (ERR_EMPTY, as a wrong key gives),
// unsafe or impossible (ERR_HEADER, or ERR_NOMEM for a block longer than
// 4096 bytes). The copies are compared (record.header): a copy whose record
// has the coder's shape beats one whose record has not; of two whole copies
// that differ, the one whose NBLOCKS and REST agree with the file's size
// wins, the name still taken from copy 1; otherwise copy 1 is read, copy 2
// asked for what it lacks. When neither copy gives the fields but the first
// group's record has its shape (so the key is right), the blocks' reader
// gets the layout from the file's size and the name from the coded file's
// (record.header.lost); the metadata reader fails with ERR_HEADER. in is
// left at the first group. short_read_result: the result for a file that
// ends inside the header copies. A path that is the walked input is opened
// as the file the walk saw.
int open_coded_file(const char* path, const char* key, RecordUse use, int short_read_result, Stream& in,
                    HeaderRecord& record, const WalkedInput& walked = {});

// decode_met, which also says how the header copies compared.
int decode_met(const char* path, const char* key, char* text, HeaderCheck& header, const RunSettings& settings = {});

// Random filler, then the record's text (FN, BLOCKSIZE, NBLOCKS, REST and
// LENMET) at offset 0 and its metadata (if any) with a NUL at offset 800.
void build_header_block(HeaderBlock& block, const HeaderRecord& record);

}  // namespace kestrav3
