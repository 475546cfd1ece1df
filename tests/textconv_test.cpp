#include "textconv/textconv.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>

namespace {

using kestrav3::conv_cp1250_to_utf8;
using kestrav3::conv_stored_utf8_to_cp1250;
using kestrav3::conv_stored_utf8_to_utf8;
using kestrav3::conv_utf8_to_cp1250;
using kestrav3::filter_utf8_name_to_ascii;
using kestrav3::filter_utf8_to_ascii;
using kestrav3::filter_w1250_to_ascii;

// The source is copied into a string, so the byte after the counted length
// is the string's NUL unless the caller passes a longer text and a shorter
// length. Output buffers are pre-filled so a missing terminator shows.
std::string to_utf8(const std::string& src, int* out_len_ret = nullptr) {
    std::string dst(2 * src.size() + 1, '#');
    int out_len = -1;
    conv_cp1250_to_utf8(src.c_str(), static_cast<int>(src.size()), dst.data(), &out_len);
    EXPECT_EQ(dst[static_cast<std::size_t>(out_len)], '\0');
    if (out_len_ret) *out_len_ret = out_len;
    return dst.substr(0, static_cast<std::size_t>(out_len));
}

std::string to_cp1250(const std::string& src, int len, int* out_len_ret = nullptr) {
    std::string dst(static_cast<std::size_t>(len) + 1, '#');
    int out_len = -1;
    conv_utf8_to_cp1250(src.c_str(), len, dst.data(), &out_len);
    EXPECT_EQ(dst[static_cast<std::size_t>(out_len)], '\0');
    if (out_len_ret) *out_len_ret = out_len;
    return dst.substr(0, static_cast<std::size_t>(out_len));
}
std::string to_cp1250(const std::string& src) { return to_cp1250(src, static_cast<int>(src.size())); }

std::string w1250_filtered(const std::string& src) {
    std::string dst(src.size() + 1, '#');
    filter_w1250_to_ascii(src.data(), static_cast<int>(src.size()), dst.data());
    EXPECT_EQ(dst[src.size()], '\0');
    return dst.substr(0, src.size());
}

std::string utf8_filtered(const std::string& src, int len) {
    std::string dst(static_cast<std::size_t>(len) + 1, '#');
    filter_utf8_to_ascii(src.c_str(), len, dst.data());
    return std::string(dst.c_str());
}
std::string utf8_filtered(const std::string& src) { return utf8_filtered(src, static_cast<int>(src.size())); }

std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

// Code point of a two-byte UTF-8 sequence.
int code_point(const std::string& pair) {
    const auto b0 = static_cast<unsigned char>(pair[0]), b1 = static_cast<unsigned char>(pair[1]);
    return ((b0 & 0x1f) << 6) | (b1 & 0x3f);
}

TEST(TextConv, EmptySourceGivesEmptyTerminatedOutput) {
    int out_len = -1;
    EXPECT_EQ(to_utf8("", &out_len), "");
    EXPECT_EQ(out_len, 0);
    EXPECT_EQ(to_cp1250("", 0, &out_len), "");
    EXPECT_EQ(out_len, 0);
    EXPECT_EQ(w1250_filtered(""), "");
    EXPECT_EQ(utf8_filtered(""), "");
}

TEST(TextConv, AsciiPassesThroughBothConversions) {
    std::string ascii;
    for (int b = 1; b < 0x80; ++b) ascii += static_cast<char>(b);
    int out_len = -1;
    EXPECT_EQ(to_utf8(ascii, &out_len), ascii);
    EXPECT_EQ(out_len, static_cast<int>(ascii.size()));
    EXPECT_EQ(to_cp1250(ascii, static_cast<int>(ascii.size()), &out_len), ascii);
    EXPECT_EQ(out_len, static_cast<int>(ascii.size()));
    // A zero byte inside the counted length is copied like any other byte.
    EXPECT_EQ(to_utf8(std::string("a\0\xE8", 3)), std::string("a\0\xC4\x8D", 4));
}

TEST(TextConv, DocumentedConversions) {
    int out_len = -1;
    EXPECT_EQ(to_utf8("\xE8", &out_len), "\xC4\x8D");
    EXPECT_EQ(out_len, 2);
    EXPECT_EQ(to_cp1250("\xC4\x8D", 2, &out_len), "\xE8");
    EXPECT_EQ(out_len, 1);
    // Pairs standing in two rows come back as the earlier row's byte.
    EXPECT_EQ(to_utf8("\xC5"), "\xC4\xB9");
    EXPECT_EQ(to_cp1250("\xC4\xB9"), "\xBC");
    EXPECT_EQ(to_utf8("\xE5"), "\xC4\xBA");
    EXPECT_EQ(to_cp1250("\xC4\xBA"), "\xBE");
    EXPECT_EQ(to_utf8("\x9E"), "\xC2\x9E");
    EXPECT_EQ(to_cp1250("\xC2\x9E"), "\x8E");
    // Bytes and pairs without a row are copied unchanged.
    EXPECT_EQ(to_utf8("\x81"), "\x81");
    EXPECT_EQ(to_cp1250("\xC5\xBE", 2, &out_len), "\xC5\xBE");
    EXPECT_EQ(out_len, 2);
    EXPECT_EQ(to_cp1250("ab\xC4", 3, &out_len), "ab\xC4");
    EXPECT_EQ(out_len, 3);
    // A mixed text, converted and back.
    const std::string word = "P\xF8\xEDli\x9A \xBEluou\xE8k\xFD";
    EXPECT_EQ(to_cp1250(to_utf8(word)), word);
}

TEST(TextConv, ByteAfterCountedLengthCanCompleteAPair) {
    const std::string text = "x\xC4\x8D";  // only "x\xC4" is counted
    int out_len = -1;
    EXPECT_EQ(to_cp1250(text, 2, &out_len), "x\xE8");
    EXPECT_EQ(out_len, 2);
    EXPECT_EQ(utf8_filtered(text, 2), "xc");
    // A byte after the length that completes no pair is not copied.
    EXPECT_EQ(to_cp1250("x\xC4y", 2), "x\xC4");
}

TEST(TextConv, EveryRowRoundTripsExceptTheDuplicatePairs) {
    const std::map<int, int> comes_back_as = {{0xC5, 0xBC}, {0xE5, 0xBE}, {0x9E, 0x8E}};
    const std::array<int, 7> without_row = {0x81, 0x83, 0x88, 0x90, 0x98, 0xA0, 0xA1};
    int rows = 0;
    std::string all;
    for (int b = 0x80; b <= 0xFF; ++b) {
        all += static_cast<char>(b);
        const std::string utf = to_utf8(byte(b));
        if (std::find(without_row.begin(), without_row.end(), b) != without_row.end()) {
            EXPECT_EQ(utf, byte(b)) << std::hex << b;
            continue;
        }
        ++rows;
        ASSERT_EQ(utf.size(), 2u) << std::hex << b;
        const auto it = comes_back_as.find(b);
        EXPECT_EQ(to_cp1250(utf), byte(it == comes_back_as.end() ? b : it->second)) << std::hex << b;
    }
    EXPECT_EQ(rows, 121);
    int out_len = -1;
    EXPECT_EQ(to_utf8(all, &out_len).size(), 128u + 121u);
    EXPECT_EQ(out_len, 128 + 121);
}

// Published Windows-1250 code points of A0..FF (taken from Python's cp1250
// codec), against which the table's rows are checked.
constexpr std::array<int, 96> kPublishedA0 = {
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD,
    0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
    0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9,
    0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A,
    0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3,
    0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};

TEST(TextConv, RowsMatchPublishedCodePointsExceptKnownDifferences) {
    // Where the coder's table deliberately differs from the published mapping.
    const std::map<int, int> own = {{0xB2, 0x00B2},
                                    {0xBC, 0x0139},
                                    {0xBD, 0x02DC},
                                    {0xBE, 0x013A},
                                    {0xCC, 0x0114},
                                    {0xD0, 0x00D0},
                                    {0xDE, 0x0166},
                                    {0xE9, 0x0117},
                                    // 80..9F give U+0080..U+009F except these published letters (and 8E).
                                    {0x8C, 0x015A},
                                    {0x8D, 0x0164},
                                    {0x8E, 0x009E},
                                    {0x8F, 0x0179},
                                    {0x9C, 0x015B},
                                    {0x9F, 0x017A}};
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (b == 0xA0 || b == 0xA1) continue;  // no row
        const std::string utf = to_utf8(byte(b));
        if (utf.size() == 1) continue;  // 81, 83, 88, 90, 98: checked above
        int expected = b < 0xA0 ? b : kPublishedA0[static_cast<std::size_t>(b - 0xA0)];
        if (const auto it = own.find(b); it != own.end()) expected = it->second;
        EXPECT_EQ(code_point(utf), expected) << "byte " << std::hex << b;
    }
    EXPECT_EQ(code_point(to_utf8("\xE8")), 0x010D);
    EXPECT_EQ(code_point(to_utf8("\xBC")), 0x0139);
}

TEST(TextConv, W1250FilterGivesSafeAsciiNames) {
    EXPECT_EQ(w1250_filtered("\x8E\x6C\x75\x9D\x6F\x75\xE8\x6B\xFD\x20\x6B\xF9\xF2\x2E\x74\x78\x74"),
              "Zlutoucky_kun.txt");
    EXPECT_EQ(w1250_filtered("a/b:c-d\xD7"
                             "e\xF7"),
              "a_b_c-d_e_");
    EXPECT_EQ(w1250_filtered("\xDF\xB5\xB6\xBC\xC5\xA0\x81\xFF"), "SmpLL___");
    EXPECT_EQ(w1250_filtered(std::string("a\0b", 3)), "a_b");
    std::string kept, changed;
    for (int b = 1; b < 0x80; ++b) {
        const bool keep = b == '-' || b == '.' || std::isalnum(b);
        (keep ? kept : changed) += static_cast<char>(b);
    }
    EXPECT_EQ(w1250_filtered(kept), kept);
    EXPECT_EQ(w1250_filtered(changed), std::string(changed.size(), '_'));
}

TEST(TextConv, W1250FilterLettersForTheUpperHalf) {
    // Letters by byte, 16 a line; '_' where no filter row exists.
    const std::string expected =
        "__________S_STZZ"   // 80..8F
        "__________s_stzz"   // 90..9F
        "___L_A____S____Z"   // A0..AF
        "___l_mp__as_L_lz"   // B0..BF
        "RAAAALCCCEEEEIID"   // C0..CF
        "DNNOOOO_RUUUUYTS"   // D0..DF
        "raaaalccceeeeiid"   // E0..EF
        "dnnoooo_ruuuuyt_";  // F0..FF
    std::string upper;
    for (int b = 0x80; b <= 0xFF; ++b) upper += static_cast<char>(b);
    EXPECT_EQ(w1250_filtered(upper), expected);
}

TEST(TextConv, Utf8FilterAgreesWithW1250FilterOnConvertedBytes) {
    EXPECT_EQ(utf8_filtered("\xC5\xBE"), "__");
    EXPECT_EQ(utf8_filtered("a b\xC4"), "a_b_");
    // Each byte's UTF-8 pair filters to the byte's own letter, except 9E whose
    // pair belongs to row 8E first.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string w = w1250_filtered(byte(b));
        const std::string u = utf8_filtered(to_utf8(byte(b)));
        if (b == 0x9E) {
            EXPECT_EQ(w, "z");
            EXPECT_EQ(u, "Z");
        } else if (w != "_") {
            EXPECT_EQ(u, w) << std::hex << b;
        } else {
            EXPECT_EQ(u, std::string(to_utf8(byte(b)).size(), '_')) << std::hex << b;
        }
    }
    const std::string name = "\x8E\x6C\x75\x9D\x6F\x75\xE8\x6B\xFD\x20\x6B\xF9\xF2\x2E\x74\x78\x74";
    EXPECT_EQ(utf8_filtered(to_utf8(name)), "Zlutoucky_kun.txt");
}

// The Czech and Slovak alphabets' letters with a diacritic, as real UTF-8
// and as Windows-1250.
const std::string kLettersUtf8 =
    "áäčďéěíĺľňóôŕřšťúůýž"
    "ÁÄČĎÉĚÍĹĽŇÓÔŔŘŠŤÚŮÝŽ";
const std::string kLetters1250 =
    "\xE1\xE4\xE8\xEF\xE9\xEC\xED\xE5\xBE\xF2\xF3\xF4\xE0\xF8\x9A\x9D\xFA\xF9\xFD\x9E"
    "\xC1\xC4\xC8\xCF\xC9\xCC\xCD\xC5\xBC\xD2\xD3\xD4\xC0\xD8\x8A\x8D\xDA\xD9\xDD\x8E";

std::string read_as_utf8(const std::string& src, int len, std::size_t max_size = std::string::npos) {
    return conv_stored_utf8_to_utf8(src.c_str(), len, max_size);
}
std::string read_as_utf8(const std::string& src) { return read_as_utf8(src, static_cast<int>(src.size())); }

std::string read_as_cp1250(const std::string& src, int len, int* out_len_ret = nullptr) {
    std::string dst(static_cast<std::size_t>(len) + 1, '#');
    int out_len = -1;
    conv_stored_utf8_to_cp1250(src.c_str(), len, dst.data(), &out_len);
    EXPECT_EQ(dst[static_cast<std::size_t>(out_len)], '\0');
    if (out_len_ret) *out_len_ret = out_len;
    return dst.substr(0, static_cast<std::size_t>(out_len));
}
std::string read_as_cp1250(const std::string& src) { return read_as_cp1250(src, static_cast<int>(src.size())); }

TEST(CodePage, PlatformMappingIsThePublishedOne) {
    using kestrav3::platform::cp1250_code_point;
    for (int b = 0; b < 0x80; ++b)
        EXPECT_EQ(cp1250_code_point(static_cast<unsigned char>(b)), static_cast<unsigned>(b));
    for (int b = 0xA0; b <= 0xFF; ++b)
        EXPECT_EQ(cp1250_code_point(static_cast<unsigned char>(b)), kPublishedA0[static_cast<std::size_t>(b - 0xA0)])
            << std::hex << b;
    EXPECT_EQ(cp1250_code_point(0x80), 0x20ACu);  // euro sign
    EXPECT_EQ(cp1250_code_point(0x84), 0x201Eu);  // low double quotation mark
    EXPECT_EQ(cp1250_code_point(0x8A), 0x0160u);
    EXPECT_EQ(cp1250_code_point(0x9A), 0x0161u);
    EXPECT_EQ(cp1250_code_point(0x9D), 0x0165u);
    EXPECT_EQ(cp1250_code_point(0x9E), 0x017Eu);
    for (int b : {0x81, 0x83, 0x88, 0x90, 0x98}) EXPECT_EQ(cp1250_code_point(static_cast<unsigned char>(b)), 0u) << b;
}

TEST(StoredText, WindowsPairsAreReadAsTheLettersTheyStandFor) {
    // What the Windows coder stores for "šťastný Žralok.txt".
    EXPECT_EQ(read_as_utf8("\xC2\x9A\xC2\x9D"
                           "astn\xC3\xBD \xC2\x9Eralok.txt"),
              "šťastný Žralok.txt");
    // Ť (8D) has a row with its real letter; the pair stays as it is.
    EXPECT_EQ(read_as_utf8("\xC2\x8A\xC5\xA4"), "ŠŤ");
    // The pair both 8E and 9E are stored as reads as the first row's Ž.
    EXPECT_EQ(read_as_utf8("\xC2\x9E"), "Ž");
    // Punctuation of 80..9F grows into three bytes.
    EXPECT_EQ(read_as_utf8("\xC2\x80 \xC2\x84x\xC2\x93 \xC2\x85\xC2\x96\xC2\x99"), "€ „x“ …–™");
    // Pairs of 80..9F that no table row gives, and any other pair, stay.
    for (const std::string kept : {"\xC2\x81", "\xC2\x8D", "\xC2\x8E", "\xC2\x9F", "\xC2\xA0", "\xC2\x7F"})
        EXPECT_EQ(read_as_utf8(kept), kept);
    // Whatever a UTF-8 coder stores reads as itself, well-formed or not.
    const std::string utf8 = "Příliš žluťoučký kůň, Αλφα, 日本語 🐎 ĺ ľ é ė Ě \xFF\xC3(\xE2\x82 \xF0\x9F";
    EXPECT_EQ(read_as_utf8(utf8), utf8);
    EXPECT_EQ(read_as_utf8(kLettersUtf8), kLettersUtf8);
}

TEST(StoredText, Utf8ReaderAtTheCountedLength) {
    // A pair split at the counted length is read as a whole, like a table pair.
    EXPECT_EQ(read_as_utf8("x\xC2\x9A", 2), "xš");
    // A real letter split there keeps only its counted lead byte, as before.
    EXPECT_EQ(read_as_utf8("x\xC5\xA1", 2), "x\xC5");
    // A lone lead byte before the terminator is copied.
    EXPECT_EQ(read_as_utf8("ab\xC2"), "ab\xC2");
    EXPECT_EQ(read_as_utf8("ab\xE2\x82"), "ab\xE2\x82");
    // The result stops before a character that would pass the limit.
    std::string euros;
    for (int i = 0; i < 4; ++i) euros += "\xC2\x80";
    EXPECT_EQ(read_as_utf8(euros, 8, 11), "€€€");
    EXPECT_EQ(read_as_utf8(euros, 8, 12), "€€€€");
    EXPECT_EQ(read_as_utf8("ab\xC5\xA1", 4, 3), "ab");
    EXPECT_EQ(read_as_utf8("ab\xC5\xA1", 4, 0), "");
}

TEST(StoredText, RealUtf8OfWindows1250LettersIsReadAsTheirBytes) {
    // What the POSIX coder stores for "šťastný Žralok.txt".
    EXPECT_EQ(read_as_cp1250("šťastný Žralok.txt"),
              "\x9A\x9D"
              "astn\xFD \x8Eralok.txt");
    // Every letter comes back, but the pairs the table gives other bytes
    // first: C4 BA and C4 B9 are the table's ľ and Ľ.
    std::string expected = kLetters1250;
    std::replace(expected.begin(), expected.end(), '\xE5', '\xBE');
    std::replace(expected.begin(), expected.end(), '\xC5', '\xBC');
    int out_len = -1;
    EXPECT_EQ(read_as_cp1250(kLettersUtf8, static_cast<int>(kLettersUtf8.size()), &out_len), expected);
    EXPECT_EQ(out_len, static_cast<int>(expected.size()));
    EXPECT_EQ(read_as_cp1250("€ „x“ …–™ ˇ"), "\x80 \x84x\x93 \x85\x96\x99 \xA1");
    // Sequences of characters Windows-1250 lacks stay, and so do broken ones.
    EXPECT_EQ(read_as_cp1250("\xC2\xA0x"), "\xA0x");
    for (const std::string kept : {"Αλφα", "日本語", "🐎", "\xC2\x81", "\xC3(", "\xE2\x82(", "\xFF", "\xC0\x80"})
        EXPECT_EQ(read_as_cp1250(kept), kept);
}

TEST(StoredText, WindowsCodedTextReadsOnWindowsAsBefore) {
    // Every text the Windows coder can store reads as the table alone reads it.
    std::string all;
    for (int b = 1; b <= 0xFF; ++b) all += static_cast<char>(b);
    const std::string stored = to_utf8(all);
    EXPECT_EQ(read_as_cp1250(stored), to_cp1250(stored));
}

TEST(StoredText, Cp1250ReaderAtTheCountedLength) {
    int out_len = -1;
    EXPECT_EQ(read_as_cp1250("x\xC5\xA1", 2, &out_len), "x\x9A");
    EXPECT_EQ(out_len, 2);
    // A three-byte sequence may end on the byte after the counted length, but
    // no later byte is read.
    EXPECT_EQ(read_as_cp1250("x\xE2\x82\xAC", 3), "x\x80");
    EXPECT_EQ(read_as_cp1250("x\xE2\x82\xAC", 2), "x\xE2");
    // Lone lead bytes are copied.
    EXPECT_EQ(read_as_cp1250("ab\xC5", 3, &out_len), "ab\xC5");
    EXPECT_EQ(out_len, 3);
    EXPECT_EQ(read_as_cp1250("ab\xC5 ", 4), "ab\xC5 ");
}

TEST(StoredText, LettersCrossingBothWaysComeBackButTheDocumentedOnes) {
    // POSIX -> Windows -> POSIX: read on Windows, stored again by the Windows
    // coder, read on POSIX.
    const std::string windows = read_as_cp1250(kLettersUtf8);
    const std::string comes_back =
        "áäčďėěíĺĺňóôŕřšťúůýŽ"
        "ÁÄČĎÉĔÍĹĹŇÓÔŔŘŠŤÚŮÝŽ";
    EXPECT_EQ(read_as_utf8(to_utf8(windows)), comes_back);
    // Windows -> POSIX.
    EXPECT_EQ(read_as_utf8(to_utf8(kLetters1250)), comes_back);
    // The other marks the table pairs with real letters.
    EXPECT_EQ(read_as_utf8(to_utf8("\xD0\xDE\xB2\xBD")), "ÐŦ²˜");
}

TEST(SafeNames, Utf8NameIsMadeSafeLikeTheWindows1250Name) {
    EXPECT_EQ(filter_utf8_name_to_ascii("Žluťoučký kůň.txt"), "Zlutoucky_kun.txt");
    EXPECT_EQ(filter_utf8_name_to_ascii(kLettersUtf8), w1250_filtered(kLetters1250));
    // Each other character becomes one '_'; so does each byte of no character.
    EXPECT_EQ(filter_utf8_name_to_ascii("Αλφα-日本🐎.txt"), "____-___.txt");
    EXPECT_EQ(filter_utf8_name_to_ascii("a\xFF\xC5(b\xC5"), "a___b_");
    EXPECT_EQ(filter_utf8_name_to_ascii("\xC2\x9A\xC2\x80 \xE2\x82\xAC\xC2\xB5"),
              "___"
              "_m");
    EXPECT_EQ(filter_utf8_name_to_ascii(""), "");
}

}  // namespace
