// Windows-1250 <-> UTF-8 conversion and reduction to safe ASCII, driven by
// the coder's own fixed tables. The tables are part of the stored format:
// names and metadata in existing coded files were written with them, so they
// are kept exactly as they are, including the rows that differ from the
// published Windows-1250 mapping. Every position is a linear search from the
// first row on, and the first matching row wins.
#include "textconv/textconv.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace kestrav3 {
namespace {

using Byte = std::uint8_t;

struct ConvRow {
    Byte w1250, utf_0, utf_1;
};

// Windows-1250 byte -> UTF-8 pair, ascending by the Windows-1250 byte.
// 81, 83, 88, 90, 98, A0 and A1 have no row. Three pairs stand in two rows
// (C4 B9: BC and C5; C4 BA: BE and E5; C2 9E: 8E and 9E); the UTF-8 side
// finds the earlier row.
constexpr std::array<ConvRow, 121> kConvRows = {{
    {0x80, 0xC2, 0x80}, {0x82, 0xC2, 0x82}, {0x84, 0xC2, 0x84}, {0x85, 0xC2, 0x85}, {0x86, 0xC2, 0x86},
    {0x87, 0xC2, 0x87}, {0x89, 0xC2, 0x89}, {0x8A, 0xC2, 0x8A}, {0x8B, 0xC2, 0x8B}, {0x8C, 0xC5, 0x9A},
    {0x8D, 0xC5, 0xA4}, {0x8E, 0xC2, 0x9E}, {0x8F, 0xC5, 0xB9}, {0x91, 0xC2, 0x91}, {0x92, 0xC2, 0x92},
    {0x93, 0xC2, 0x93}, {0x94, 0xC2, 0x94}, {0x95, 0xC2, 0x95}, {0x96, 0xC2, 0x96}, {0x97, 0xC2, 0x97},
    {0x99, 0xC2, 0x99}, {0x9A, 0xC2, 0x9A}, {0x9B, 0xC2, 0x9B}, {0x9C, 0xC5, 0x9B}, {0x9D, 0xC2, 0x9D},
    {0x9E, 0xC2, 0x9E}, {0x9F, 0xC5, 0xBA}, {0xA2, 0xCB, 0x98}, {0xA3, 0xC5, 0x81}, {0xA4, 0xC2, 0xA4},
    {0xA5, 0xC4, 0x84}, {0xA6, 0xC2, 0xA6}, {0xA7, 0xC2, 0xA7}, {0xA8, 0xC2, 0xA8}, {0xA9, 0xC2, 0xA9},
    {0xAA, 0xC5, 0x9E}, {0xAB, 0xC2, 0xAB}, {0xAC, 0xC2, 0xAC}, {0xAD, 0xC2, 0xAD}, {0xAE, 0xC2, 0xAE},
    {0xAF, 0xC5, 0xBB}, {0xB0, 0xC2, 0xB0}, {0xB1, 0xC2, 0xB1}, {0xB2, 0xC2, 0xB2}, {0xB3, 0xC5, 0x82},
    {0xB4, 0xC2, 0xB4}, {0xB5, 0xC2, 0xB5}, {0xB6, 0xC2, 0xB6}, {0xB7, 0xC2, 0xB7}, {0xB8, 0xC2, 0xB8},
    {0xB9, 0xC4, 0x85}, {0xBA, 0xC5, 0x9F}, {0xBB, 0xC2, 0xBB}, {0xBC, 0xC4, 0xB9}, {0xBD, 0xCB, 0x9C},
    {0xBE, 0xC4, 0xBA}, {0xBF, 0xC5, 0xBC}, {0xC0, 0xC5, 0x94}, {0xC1, 0xC3, 0x81}, {0xC2, 0xC3, 0x82},
    {0xC3, 0xC4, 0x82}, {0xC4, 0xC3, 0x84}, {0xC5, 0xC4, 0xB9}, {0xC6, 0xC4, 0x86}, {0xC7, 0xC3, 0x87},
    {0xC8, 0xC4, 0x8C}, {0xC9, 0xC3, 0x89}, {0xCA, 0xC4, 0x98}, {0xCB, 0xC3, 0x8B}, {0xCC, 0xC4, 0x94},
    {0xCD, 0xC3, 0x8D}, {0xCE, 0xC3, 0x8E}, {0xCF, 0xC4, 0x8E}, {0xD0, 0xC3, 0x90}, {0xD1, 0xC5, 0x83},
    {0xD2, 0xC5, 0x87}, {0xD3, 0xC3, 0x93}, {0xD4, 0xC3, 0x94}, {0xD5, 0xC5, 0x90}, {0xD6, 0xC3, 0x96},
    {0xD7, 0xC3, 0x97}, {0xD8, 0xC5, 0x98}, {0xD9, 0xC5, 0xAE}, {0xDA, 0xC3, 0x9A}, {0xDB, 0xC5, 0xB0},
    {0xDC, 0xC3, 0x9C}, {0xDD, 0xC3, 0x9D}, {0xDE, 0xC5, 0xA6}, {0xDF, 0xC3, 0x9F}, {0xE0, 0xC5, 0x95},
    {0xE1, 0xC3, 0xA1}, {0xE2, 0xC3, 0xA2}, {0xE3, 0xC4, 0x83}, {0xE4, 0xC3, 0xA4}, {0xE5, 0xC4, 0xBA},
    {0xE6, 0xC4, 0x87}, {0xE7, 0xC3, 0xA7}, {0xE8, 0xC4, 0x8D}, {0xE9, 0xC4, 0x97}, {0xEA, 0xC4, 0x99},
    {0xEB, 0xC3, 0xAB}, {0xEC, 0xC4, 0x9B}, {0xED, 0xC3, 0xAD}, {0xEE, 0xC3, 0xAE}, {0xEF, 0xC4, 0x8F},
    {0xF0, 0xC4, 0x91}, {0xF1, 0xC5, 0x84}, {0xF2, 0xC5, 0x88}, {0xF3, 0xC3, 0xB3}, {0xF4, 0xC3, 0xB4},
    {0xF5, 0xC5, 0x91}, {0xF6, 0xC3, 0xB6}, {0xF7, 0xC3, 0xB7}, {0xF8, 0xC5, 0x99}, {0xF9, 0xC5, 0xAF},
    {0xFA, 0xC3, 0xBA}, {0xFB, 0xC5, 0xB1}, {0xFC, 0xC3, 0xBC}, {0xFD, 0xC3, 0xBD}, {0xFE, 0xC5, 0xA3},
    {0xFF, 0xCB, 0x99},
}};

struct FilterRow {
    Byte w1250;
    char ascii;
};

// Windows-1250 byte -> replacement ASCII letter, ascending by the byte.
constexpr std::array<FilterRow, 83> kFilterRows = {{
    {0x8A, 'S'}, {0x8C, 'S'}, {0x8D, 'T'}, {0x8E, 'Z'}, {0x8F, 'Z'}, {0x9A, 's'}, {0x9C, 's'}, {0x9D, 't'}, {0x9E, 'z'},
    {0x9F, 'z'}, {0xA3, 'L'}, {0xA5, 'A'}, {0xAA, 'S'}, {0xAF, 'Z'}, {0xB3, 'l'}, {0xB5, 'm'}, {0xB6, 'p'}, {0xB9, 'a'},
    {0xBA, 's'}, {0xBC, 'L'}, {0xBE, 'l'}, {0xBF, 'z'}, {0xC0, 'R'}, {0xC1, 'A'}, {0xC2, 'A'}, {0xC3, 'A'}, {0xC4, 'A'},
    {0xC5, 'L'}, {0xC6, 'C'}, {0xC7, 'C'}, {0xC8, 'C'}, {0xC9, 'E'}, {0xCA, 'E'}, {0xCB, 'E'}, {0xCC, 'E'}, {0xCD, 'I'},
    {0xCE, 'I'}, {0xCF, 'D'}, {0xD0, 'D'}, {0xD1, 'N'}, {0xD2, 'N'}, {0xD3, 'O'}, {0xD4, 'O'}, {0xD5, 'O'}, {0xD6, 'O'},
    {0xD8, 'R'}, {0xD9, 'U'}, {0xDA, 'U'}, {0xDB, 'U'}, {0xDC, 'U'}, {0xDD, 'Y'}, {0xDE, 'T'}, {0xDF, 'S'}, {0xE0, 'r'},
    {0xE1, 'a'}, {0xE2, 'a'}, {0xE3, 'a'}, {0xE4, 'a'}, {0xE5, 'l'}, {0xE6, 'c'}, {0xE7, 'c'}, {0xE8, 'c'}, {0xE9, 'e'},
    {0xEA, 'e'}, {0xEB, 'e'}, {0xEC, 'e'}, {0xED, 'i'}, {0xEE, 'i'}, {0xEF, 'd'}, {0xF0, 'd'}, {0xF1, 'n'}, {0xF2, 'n'},
    {0xF3, 'o'}, {0xF4, 'o'}, {0xF5, 'o'}, {0xF6, 'o'}, {0xF8, 'r'}, {0xF9, 'u'}, {0xFA, 'u'}, {0xFB, 'u'}, {0xFC, 'u'},
    {0xFD, 'y'}, {0xFE, 't'},
}};

template <typename Row, std::size_t N, typename Field>
constexpr std::array<Field, N> column(const std::array<Row, N>& rows, Field Row::*field) {
    std::array<Field, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = rows[i].*field;
    return out;
}

// The conversion table's row for a Windows-1250 byte, or -1.
constexpr int conv_row_of(Byte b) {
    for (std::size_t i = 0; i < kConvRows.size(); ++i)
        if (kConvRows[i].w1250 == b) return static_cast<int>(i);
    return -1;
}

constexpr bool every_filter_byte_has_conv_row() {
    for (const FilterRow& row : kFilterRows)
        if (conv_row_of(row.w1250) < 0) return false;
    return true;
}

template <typename Row, std::size_t N>
constexpr bool strictly_ascending(const std::array<Row, N>& rows) {
    for (std::size_t i = 1; i < N; ++i)
        if (rows[i - 1].w1250 >= rows[i].w1250) return false;
    return true;
}

static_assert(kConvRows.size() == 121 && kFilterRows.size() == 83);
static_assert(strictly_ascending(kConvRows) && strictly_ascending(kFilterRows));
static_assert(every_filter_byte_has_conv_row(), "a filter byte lacks a conversion row");

// A filter row's UTF-8 pair is the one the conversion table gives its byte.
template <Byte ConvRow::*Field>
constexpr std::array<Byte, 83> filter_utf_column() {
    std::array<Byte, 83> out{};
    for (std::size_t i = 0; i < kFilterRows.size(); ++i)
        out[i] = kConvRows[static_cast<std::size_t>(conv_row_of(kFilterRows[i].w1250))].*Field;
    return out;
}

constexpr std::array<Byte, 121> w1250 = column(kConvRows, &ConvRow::w1250);
constexpr std::array<Byte, 121> utf_0 = column(kConvRows, &ConvRow::utf_0);
constexpr std::array<Byte, 121> utf_1 = column(kConvRows, &ConvRow::utf_1);

constexpr std::array<Byte, 83> filter_w1250 = column(kFilterRows, &FilterRow::w1250);
constexpr std::array<Byte, 83> filter_utf_0 = filter_utf_column<&ConvRow::utf_0>();
constexpr std::array<Byte, 83> filter_utf_1 = filter_utf_column<&ConvRow::utf_1>();
constexpr std::array<char, 83> filter_ascii = column(kFilterRows, &FilterRow::ascii);

static_assert(filter_utf_0[0] == 0xC2 && filter_utf_1[0] == 0x8A);    // 8A
static_assert(filter_utf_0[82] == 0xC5 && filter_utf_1[82] == 0xA3);  // FE

// First row whose byte column holds b, or -1.
template <std::size_t N>
int find_byte(const std::array<Byte, N>& bytes, Byte b) {
    for (std::size_t i = 0; i < N; ++i)
        if (bytes[i] == b) return static_cast<int>(i);
    return -1;
}

// First row whose pair columns hold (b0, b1), or -1.
template <std::size_t N>
int find_pair(const std::array<Byte, N>& first, const std::array<Byte, N>& second, Byte b0, Byte b1) {
    for (std::size_t i = 0; i < N; ++i)
        if (first[i] == b0 && second[i] == b1) return static_cast<int>(i);
    return -1;
}

Byte at(const char* s, int i) { return static_cast<Byte>(s[i]); }

// Hyphen, full stop, digits and letters stay; everything else is '_'.
char safe_ascii(Byte b) {
    const bool keep =
        b == '-' || b == '.' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    return keep ? static_cast<char>(b) : '_';
}

// The filter table's letter for a Windows-1250 byte, or its safe-ASCII form.
char filtered(Byte b) {
    const int row = find_byte(filter_w1250, b);
    return row >= 0 ? filter_ascii[static_cast<std::size_t>(row)] : safe_ascii(b);
}

// Code points of the Windows-1250 bytes 80..FF (0 where the code page has no
// character), asked of the platform once.
const std::array<char32_t, 128>& upper_code_points() {
    static const std::array<char32_t, 128> points = [] {
        std::array<char32_t, 128> out{};
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = platform::cp1250_code_point(static_cast<unsigned char>(0x80 + i));
        return out;
    }();
    return points;
}

char32_t code_point_of(Byte b) { return b < 0x80 ? b : upper_code_points()[b - 0x80u]; }

// The Windows-1250 byte of a code point from U+0080 on, or 0 when the code
// page has no such character.
Byte cp1250_byte_of(char32_t point) {
    const auto& points = upper_code_points();
    for (std::size_t i = 0; i < points.size(); ++i)
        if (points[i] == point) return static_cast<Byte>(0x80 + i);
    return 0;
}

struct Sequence {
    char32_t point;
    int length;  // 0: no well-formed sequence starts here
};

// The well-formed UTF-8 sequence of two to four bytes at src[j], reading no
// byte past src[last].
Sequence utf8_sequence_at(const char* src, int j, int last) {
    const Byte lead = at(src, j);
    int length = 0;
    char32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07u;
    } else {
        return {0, 0};
    }
    for (int i = 1; i < length; ++i) {
        if (j + i > last || (at(src, j + i) & 0xC0) != 0x80) return {0, 0};
        point = point << 6 | (at(src, j + i) & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no characters.
    constexpr std::array<char32_t, 5> least = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[static_cast<std::size_t>(length)] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
        return {0, 0};
    return {point, length};
}

// UTF-8 of a code point of the Basic Multilingual Plane, where every
// Windows-1250 character lies.
void append_utf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | point >> 6);
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | point >> 12);
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// The Windows-1250 character a table pair C2 80..C2 9F stands for, or 0.
char32_t windows_pair_at(const char* src, int j) {
    if (at(src, j) != 0xC2 || at(src, j + 1) < 0x80 || at(src, j + 1) > 0x9F) return 0;
    const int row = find_pair(utf_0, utf_1, 0xC2, at(src, j + 1));
    return row >= 0 ? code_point_of(w1250[static_cast<std::size_t>(row)]) : 0;
}

}  // namespace

void conv_cp1250_to_utf8(const char* src, int len, char* dst, int* out_len) {
    int k = 0;
    for (int j = 0; j < len; ++j) {
        const int row = find_byte(w1250, at(src, j));
        if (row >= 0) {
            dst[k++] = static_cast<char>(utf_0[static_cast<std::size_t>(row)]);
            dst[k++] = static_cast<char>(utf_1[static_cast<std::size_t>(row)]);
        } else {
            dst[k++] = src[j];
        }
    }
    dst[k] = '\0';
    *out_len = k;
}

// src[j + 1] is read even when j is the last counted position: the callers'
// texts are followed by a readable byte, and a pair it completes is converted.
void conv_utf8_to_cp1250(const char* src, int len, char* dst, int* out_len) {
    int k = 0;
    for (int j = 0; j < len;) {
        const int row = find_pair(utf_0, utf_1, at(src, j), at(src, j + 1));
        if (row >= 0) {
            dst[k++] = static_cast<char>(w1250[static_cast<std::size_t>(row)]);
            j += 2;
        } else {
            dst[k++] = src[j++];
        }
    }
    dst[k] = '\0';
    *out_len = k;
}

void filter_w1250_to_ascii(const char* src, int len, char* dst) {
    int j = 0;
    for (; j < len; ++j) dst[j] = filtered(at(src, j));
    dst[j] = '\0';
}

void filter_utf8_to_ascii(const char* src, int len, char* dst) {
    int k = 0;
    for (int j = 0; j < len;) {
        const int row = find_pair(filter_utf_0, filter_utf_1, at(src, j), at(src, j + 1));
        if (row >= 0) {
            dst[k++] = filter_ascii[static_cast<std::size_t>(row)];
            j += 2;
        } else {
            dst[k++] = safe_ascii(at(src, j++));
        }
    }
    dst[k] = '\0';
}

// A pair C2 80..C2 9F is read only when it may end on src[len], like a table
// pair; any other sequence is copied whole, and only from the counted bytes,
// so a cut at max_size never splits a character.
std::string conv_stored_utf8_to_utf8(const char* src, int len, std::size_t max_size) {
    std::string out, piece;
    for (int j = 0; j < len;) {
        piece.clear();
        if (const char32_t point = windows_pair_at(src, j); point != 0) {
            append_utf8(piece, point);
            j += 2;
        } else {
            const int n = std::max(utf8_sequence_at(src, j, len - 1).length, 1);
            piece.assign(src + j, static_cast<std::size_t>(n));
            j += n;
        }
        if (out.size() + piece.size() > max_size) break;
        out += piece;
    }
    return out;
}

void conv_stored_utf8_to_cp1250(const char* src, int len, char* dst, int* out_len) {
    int k = 0;
    for (int j = 0; j < len;) {
        if (const int row = find_pair(utf_0, utf_1, at(src, j), at(src, j + 1)); row >= 0) {
            dst[k++] = static_cast<char>(w1250[static_cast<std::size_t>(row)]);
            j += 2;
            continue;
        }
        const Sequence seq = utf8_sequence_at(src, j, len);
        const Byte b = seq.length > 0 ? cp1250_byte_of(seq.point) : 0;
        if (b != 0) {
            dst[k++] = static_cast<char>(b);
            j += seq.length;
        } else {
            dst[k++] = src[j++];
        }
    }
    dst[k] = '\0';
    *out_len = k;
}

std::string filter_utf8_name_to_ascii(std::string_view name) {
    const char* src = name.data();
    const int len = static_cast<int>(name.size());
    std::string out;
    for (int j = 0; j < len;) {
        if (at(src, j) < 0x80) {
            out += safe_ascii(at(src, j++));
            continue;
        }
        const Sequence seq = utf8_sequence_at(src, j, len - 1);
        const Byte b = seq.length > 0 ? cp1250_byte_of(seq.point) : 0;
        out += b != 0 ? filtered(b) : '_';
        j += std::max(seq.length, 1);
    }
    return out;
}

}  // namespace kestrav3
