// Header records: the field lookup, the number rule, and the decoder's and
// metadata reader's refusal of headers that would be unsafe to act on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "cli_support.h"
#include "container/chunks.h"
#include "container/container.h"
#include "container/header.h"
#include "shared/results.h"
#include "transform/transform.h"

namespace kestrav3::testing {
namespace {

TEST(SelectValue, PlainSubstringSearchUpToTheNextAmpersand) {
    const std::string record = "FN=a.txt&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=0&";
    std::string out;
    EXPECT_EQ(select_value(record, "FN", out), 0);
    EXPECT_EQ(out, "a.txt");
    EXPECT_EQ(select_value(record, "REST", out), 0);
    EXPECT_EQ(out, "5");
    EXPECT_EQ(select_value(record, "SIZE", out), 0);  // the end of BLOCKSIZE matches too
    EXPECT_EQ(out, "4096");
    EXPECT_EQ(select_value(record, "MD5", out), -1);
    EXPECT_EQ(out, "NULL");
    EXPECT_EQ(select_value("FN=", "FN", out), -1);
    EXPECT_EQ(out, "NULL");
    EXPECT_EQ(select_value("FN=abc", "FN", out), -1);  // no closing '&'
    EXPECT_EQ(select_value("FN=&X=1&", "FN", out), 0);
    EXPECT_EQ(out, "");
    // A name holding a later key hides that field: the first occurrence wins.
    EXPECT_EQ(select_value("FN=xREST=9&BLOCKSIZE=4096&REST=5&", "REST", out), 0);
    EXPECT_EQ(out, "9");
}

TEST(SelectValue, LookupNeverLeavesTheBlock) {
    HeaderBlock no_nul;
    no_nul.fill('A');
    std::memcpy(no_nul.data() + 4090, "FN=ab", 5);
    EXPECT_EQ(record_text(no_nul).size(), 4096u);
    EXPECT_FALSE(lookup_field(no_nul, no_nul, "FN").has_value());
}

HeaderBlock copy_of(const std::string& record) {
    HeaderBlock copy{};
    std::memcpy(copy.data(), record.c_str(), record.size() + 1);
    return copy;
}

constexpr std::array<const char*, 5> fields = {"FN", "BLOCKSIZE", "NBLOCKS", "REST", "LENMET"};

// Every field as the plain lookup gives it from copy 1, else copy 2.
std::vector<std::optional<std::string>> by_lookup(const HeaderBlock& copy1, const HeaderBlock& copy2) {
    std::vector<std::optional<std::string>> values;
    for (const char* field : fields) {
        std::string value;
        select_value(record_text(copy1), field, value);
        if (value == "NULL") select_value(record_text(copy2), field, value);
        values.push_back(value == "NULL" ? std::nullopt : std::optional<std::string>(value));
    }
    return values;
}

std::vector<std::optional<std::string>> by_reader(const HeaderBlock& copy1, const HeaderBlock& copy2) {
    std::vector<std::optional<std::string>> values;
    for (const char* field : fields) values.push_back(lookup_field(copy1, copy2, field));
    return values;
}

TEST(RecordShape, RecordsWithoutAmpersandsOrKeysInTheNameReadAsBefore) {
    const HeaderBlock good = copy_of("FN=report.pdf&BLOCKSIZE=4096&NBLOCKS=2&REST=1808&LENMET=0&");
    for (const std::string record : {
             "FN=a.txt&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=0&",
             "FN=a=b.txt&BLOCKSIZE=4096&NBLOCKS=0012&REST=0&LENMET=17&",
             // Damaged copies, which lack the shape: a bad digit, a lost key,
             // a lost "&", a tail with more after it, a sign.
             "FN=a.txt&BLOCKSIZE=40x6&NBLOCKS=0&REST=5&LENMET=0&",
             "XN=a.txt&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=0&",
             "FN=a.txt&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=0",
             "FN=a.txt&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=0&x",
             "FN=a.txt&BLOCKSIZE=4096&NBLOCKS=-1&REST=5&LENMET=0&",
             "",
         }) {
        const HeaderBlock copy = copy_of(record);
        EXPECT_EQ(by_reader(copy, good), by_lookup(copy, good)) << record;
        EXPECT_EQ(by_reader(good, copy), by_lookup(good, copy)) << record;
    }
}

TEST(RecordShape, TheNameIsEverythingBeforeTheTail) {
    const std::string tail = "&BLOCKSIZE=4096&NBLOCKS=2&REST=1808&LENMET=9&";
    for (const std::string& name :
         std::vector<std::string>{"Tom & Jerry.txt", "&notes.txt", "FOREST=green.txt", "xLENMET=2999.txt",
                                  "report&NBLOCKS=0&REST=0&.txt", "a" + tail, "&", "FN=", "NULL"}) {
        // A name once taken for a missing field now reads as itself.
        const std::string record = "FN=" + name + tail;
        const auto fields = record_fields(record);
        ASSERT_TRUE(fields.has_value()) << name;
        EXPECT_EQ(fields->name, name);
        EXPECT_EQ(fields->blocksize, "4096");
        EXPECT_EQ(fields->nblocks, "2");
        EXPECT_EQ(fields->rest, "1808");
        EXPECT_EQ(fields->lenmet, "9");
    }
    // Copy 1 lost its name's key: the field comes whole from copy 2.
    const HeaderBlock damaged = copy_of("XN=Tom & Jerry.txt" + tail);
    const HeaderBlock good = copy_of("FN=Tom & Jerry.txt" + tail);
    bool from_copy2 = false;
    EXPECT_EQ(lookup_field(damaged, good, "FN", &from_copy2), "Tom & Jerry.txt");
    EXPECT_TRUE(from_copy2);
    // A damaged digit in a copy of the right shape is still taken: the
    // copies are not compared.
    const HeaderBlock digit = copy_of("FN=Tom & Jerry.txt&BLOCKSIZE=4096&NBLOCKS=2&REST=1807&LENMET=9&");
    EXPECT_EQ(lookup_field(digit, good, "REST"), "1807");
}

// The independent writer's files: every field as the plain lookup gives it.
TEST(RecordShape, TheIndependentWritersRecordsReadAsBefore) {
    for (const auto& [file, key] : {std::pair<const char*, const char*>{"abc.txt.archi", "abcd"},
                                    {"report.pdf.archi", "correct horse battery"},
                                    {"two-blocks-damaged.archi", "block-key"}}) {
        gen_kmatrix(key);
        std::FILE* in = std::fopen(test_data(file).string().c_str(), "rb");
        ASSERT_NE(in, nullptr) << file;
        HeaderBlock copy1{}, copy2{};
        ASSERT_EQ(read_header_copies(in, copy1, copy2, ERR_READ), 0) << file;
        std::fclose(in);
        EXPECT_TRUE(record_fields(record_text(copy1)).has_value()) << file;
        EXPECT_EQ(by_reader(copy1, copy2), by_lookup(copy1, copy2)) << file;
        // With copy 1 damaged anywhere in its record, as before too.
        const std::size_t length = record_text(copy1).size();
        for (std::size_t at = 0; at < length; ++at) {
            HeaderBlock broken = copy1;
            broken[at] ^= 0x11;
            EXPECT_EQ(by_reader(broken, copy2), by_lookup(broken, copy2)) << file << " at " << at;
        }
    }
}

TEST(ParseNumber, FollowsTheAtoiRule) {
    EXPECT_EQ(parse_number("4096"), 4096);
    EXPECT_EQ(parse_number("  \t-12x"), -12);
    EXPECT_EQ(parse_number("+7"), 7);
    EXPECT_EQ(parse_number("abc"), 0);
    EXPECT_EQ(parse_number(""), 0);
    EXPECT_EQ(parse_number("- 5"), 0);
    EXPECT_EQ(parse_number("99999999999999999999999"), std::numeric_limits<long long>::max());
}

// Writes a coded file whose two header copies hold record (and, at offset
// 800, meta), followed by trailing coded bytes of plain data.
void write_crafted(const fs::path& path, const std::string& record, const std::string& meta = "", int data_chunks = 2) {
    gen_kmatrix("craft key");
    HeaderBlock header{};
    std::memcpy(header.data(), record.c_str(), record.size() + 1);
    std::memcpy(header.data() + metadata_offset, meta.c_str(), meta.size() + 1);
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int copy = 0; copy < 2; ++copy) {
        HeaderBlock coded = header;
        code_chunk(coded.data(), BLOCK_SIZE, false);
        write_chunk(f, coded.data(), BLOCK_SIZE);
    }
    for (int i = 0; i < data_chunks; ++i) {
        HeaderBlock data{};
        code_chunk(data.data(), BLOCK_SIZE, false);
        write_chunk(f, data.data(), BLOCK_SIZE);
    }
    std::fclose(f);
}

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

TEST(CraftedHeader, UnsafeOrImpossibleHeadersAreRefusedBeforeAnyFileExists) {
    TempDir dir;
    const fs::path coded = dir / "c.archi";
    const std::string rest = "&BLOCKSIZE=4096&NBLOCKS=1&REST=5&LENMET=0&";
    std::vector<std::string> records = {
        "FN=" + rest,
        "FN=." + rest,
        "FN=.." + rest,
        "FN=../escape.bin" + rest,
        "FN=sub/x.bin" + rest,
        "FN=/tmp/x.bin" + rest,
        "FN=tab\there" + rest,
        "FN=new\nline" + rest,
        "FN=del\x7f" + rest,
        "FN=c.archi" + rest,
        "FN=x.bin&BLOCKSIZE=0&NBLOCKS=1&REST=5&LENMET=0&",
        "FN=x.bin&BLOCKSIZE=-4096&NBLOCKS=1&REST=5&LENMET=0&",
        "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=-1&REST=5&LENMET=0&",
        "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=99999999999&REST=5&LENMET=0&",
        "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=1&REST=-1&LENMET=0&",
        "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=1&REST=4097&LENMET=0&",
    };
#if defined(_WIN32)
    // Windows only: a separator, a drive ("C:x.bin" is relative to another
    // folder), a stream of a file, the coded file under another case, names
    // Windows cannot hold or gives to a device. On POSIX a backslash is an
    // ordinary character.
    for (const char* name :
         {"back\\slash", "C:x.bin", "x.bin:hidden", "C.ARCHI", "a?b", "a*b", "a|b", "dot.", "nul", "Com1.txt"})
        records.push_back("FN=" + std::string(name) + rest);
#endif
    for (const auto& record : records) {
        write_crafted(coded, record);
        EXPECT_EQ(decode_streams(coded.string().c_str(), "craft key"), ERR_HEADER) << record;
        EXPECT_EQ(entries(dir.path()), 1u) << "a file was created for " << record;
    }
    write_crafted(coded, "FN=x.bin&BLOCKSIZE=5000&NBLOCKS=1&REST=5&LENMET=0&");
    EXPECT_EQ(decode_streams(coded.string().c_str(), "craft key"), ERR_NOMEM);
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(CraftedHeader, TheProgramFramesTheRefusals) {
    TempDir dir;
    write_crafted(dir / "c.archi", "FN=../up.bin&BLOCKSIZE=4096&NBLOCKS=1&REST=5&LENMET=0&");
    RunResult r = run_cli({"-d", "c.archi", "craft key"}, dir.path());
    EXPECT_EQ(r.out,
              " \n Cannot decode the header [12]\n \n c.archi: its header names a file that cannot be restored here\n");
    EXPECT_EQ(r.status, 1);
    write_crafted(dir / "c.archi", "FN=x.bin&BLOCKSIZE=5000&NBLOCKS=1&REST=5&LENMET=-4&");
    r = run_cli({"-d", "c.archi", "craft key"}, dir.path());
    EXPECT_EQ(r.out, " \n Cannot allocate memory [3]\n \n c.archi: its header gives a block size above 4096\n");
    r = run_cli({"-m", "c.archi", "craft key"}, dir.path());
    EXPECT_EQ(r.out, " \n Cannot decode the header [12]\n \n c.archi: its header holds impossible sizes\n\n End.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(CraftedHeader, AFileEndingBeforeItsRestGetsZerosForIt) {
    TempDir dir;
    const fs::path coded = dir / "c.archi";
    // A rest of the largest allowed length, but only one chunk after the headers.
    write_crafted(coded, "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=4096&LENMET=0&", "", 1);
    EXPECT_EQ(decode_streams(coded.string().c_str(), "craft key"), 1);
    EXPECT_EQ(read_file(dir / "x.bin"), std::string(4096, '\0'));
}

TEST(CraftedHeader, MetadataLengthOutsideTheHeaderIsRefused) {
    TempDir dir;
    const fs::path coded = dir / "m.archi";
    char text[3000];
    for (const std::string length : {"-1", "3000", "100000"}) {
        write_crafted(coded, "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=" + length + "&");
        EXPECT_EQ(decode_met(coded.string().c_str(), "craft key", text), ERR_HEADER) << length;
    }
    const std::string longest(2999, 'm');
    write_crafted(coded, "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=2999&", longest);
    ASSERT_EQ(decode_met(coded.string().c_str(), "craft key", text), 0);
    EXPECT_EQ(std::string(text), longest);
}

TEST(CraftedHeader, MetadataTextIsAlwaysTerminated) {
    TempDir dir;
    const fs::path coded = dir / "m.archi";
    // LENMET shorter than the stored text: the byte after it is not a NUL.
    write_crafted(coded, "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=3&", "abcdef");
    char text[3000];
    std::memset(text, 'z', sizeof text);
    ASSERT_EQ(decode_met(coded.string().c_str(), "craft key", text), 0);
    EXPECT_EQ(std::string(text), "abc");
}

// A coded file from the other system's coder: "šťastný Žralok.txt" with
// metadata, stored as that coder stores them, restores under the letters.
TEST(CraftedHeader, NamesAndMetadataFromTheOtherSystemKeepTheirLetters) {
#if defined(_WIN32)
    // The POSIX coder stores real UTF-8, which the table lacks for š, ť, Ž, €.
    const std::string name = "šťastný Žralok.txt";
    const std::string meta = "Popis: šťastný Žralok za 5 €\n";
#else
    // The Windows coder stores the Windows-1250 bytes 80..9F as the table's
    // pairs C2 80..C2 9F, which are control characters in UTF-8.
    const std::string name =
        "\xC2\x9A\xC2\x9D"
        "astn\xC3\xBD \xC2\x9Eralok.txt";
    const std::string meta =
        "Popis: \xC2\x9A\xC2\x9D"
        "astn\xC3\xBD \xC2\x9Eralok za 5 \xC2\x80\n";
#endif
    TempDir dir;
    const fs::path coded = dir / "c.archi";
    write_crafted(coded, "FN=" + name + "&BLOCKSIZE=4096&NBLOCKS=0&REST=0&LENMET=" + std::to_string(meta.size()) + "&",
                  meta, 0);
    ASSERT_EQ(decode_streams(coded.string().c_str(), "craft key"), 0);
    EXPECT_TRUE(fs::exists(dir.path() / native_name(native("šťastný Žralok.txt"))));
    EXPECT_EQ(entries(dir.path()), 2u);
    char text[3000];
    ASSERT_EQ(decode_met(coded.string().c_str(), "craft key", text), 0);
    EXPECT_EQ(std::string(text), native("Popis: šťastný Žralok za 5 €\n"));
}

#if !defined(_WIN32)
// Read on POSIX, each pair C2 80 (the Windows coder's euro sign) grows into
// three bytes; the text stops at the last whole character that fits the
// caller's 3000 bytes.
TEST(CraftedHeader, MetadataGrownByReadingStaysInTheCallersBuffer) {
    TempDir dir;
    const fs::path coded = dir / "m.archi";
    std::string meta;
    for (int i = 0; i < 1499; ++i) meta += "\xC2\x80";
    meta += "a";
    write_crafted(coded, "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=0&LENMET=2999&", meta);
    // Room for the whole grown text, so that a write past 3000 bytes shows.
    std::array<char, 5000> text;
    text.fill('z');
    ASSERT_EQ(decode_met(coded.string().c_str(), "craft key", text.data()), 0);
    std::string euros;
    for (int i = 0; i < 999; ++i) euros += "€";
    const std::string shown(text.data());
    EXPECT_EQ(shown.size(), euros.size());
    EXPECT_TRUE(shown == euros) << "not 999 euro signs";
    EXPECT_TRUE(std::all_of(text.begin() + 3000, text.end(), [](char c) { return c == 'z'; }))
        << "written past 3000 bytes";
}
#endif

}  // namespace
}  // namespace kestrav3::testing
