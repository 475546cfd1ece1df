// The PAR 2.0 pieces on their own: packets written and read back through
// damage, a set written while its bytes go by and read back, the names
// par2cmdline gives recovery files, and the solver, with a choice of
// recovery slices whose matrix is singular.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "md5/md5.h"
#include "platform/fast_paths.h"
#include "recovery/gf16.h"
#include "recovery/par2_packets.h"
#include "recovery/par2_reader.h"
#include "recovery/par2_solver.h"
#include "recovery/par2_writer.h"
#include "sets/set_files.h"

namespace kestrav3::recovery {
namespace {

std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
    return bytes;
}

// What a SetWriter writes, as the bytes of its files.
std::vector<std::uint8_t> written(const SetWriter& writer, const Volume* volume) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    EXPECT_TRUE(volume == nullptr ? writer.write_index(file) : writer.write_volume(file, *volume));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    return bytes;
}

TEST(Md5Stream, PiecesOfAnySizeGiveTheOneShotDigest) {
    const auto data = random_bytes(5000, 1);
    for (const std::size_t step : {1, 3, 63, 64, 65, 1000}) {
        Md5Stream stream;
        for (std::size_t at = 0; at < data.size(); at += step)
            stream.update(data.data() + at, std::min(step, data.size() - at));
        md5(data.data(), data.size());
        const Md5Digest digest = stream.digest();
        EXPECT_EQ(digest[0] | digest[1] << 8 | digest[2] << 16 | static_cast<std::uint32_t>(digest[3]) << 24, h0)
            << "step " << step;
        EXPECT_EQ(digest, md5_digest(data.data(), data.size()));
    }
    // Two streams side by side, at different offsets within their chunks.
    for (const std::size_t lead : {0, 1, 17, 63}) {
        Md5Stream a, b;
        a.update(data.data(), lead);
        Md5Stream::update_two(a, data.data() + lead, 4000, b, data.data() + 100, 4321);
        Md5Stream::update_two(a, data.data() + lead + 4000, 3, b, data.data() + 4421, 0);
        EXPECT_EQ(a.digest(), md5_digest(data.data(), lead + 4003)) << lead;
        EXPECT_EQ(b.digest(), md5_digest(data.data() + 100, 4321)) << lead;
    }
    // RFC 1321's example: MD5("abc").
    const Md5Digest abc = md5_digest("abc", 3);
    EXPECT_EQ(abc[0], 0x90);
    EXPECT_EQ(abc[15], 0x72);
}

// The slices' MD5s side by side equal their MD5s one by one on every lane
// path the processor has: lengths with no tail, a tail of one chunk and of
// two, a slice of the default unit (not whole chunks); counts below, at and
// past each lane width, each message at its own misaligned address.
TEST(Md5Stream, SlicesSideBySideEqualOneByOne) {
    using platform::FastPath;
    using platform::FastUnit;
    const auto data = random_bytes(40 * 8300, 2);
    std::vector<const std::uint8_t*> messages;
    for (std::size_t i = 0; i < 40; ++i) messages.push_back(data.data() + i * 8300 + i % 7);
    for (const FastPath path : {FastPath::reference, FastPath::sse2, FastPath::avx2, FastPath::avx512_128,
                                FastPath::avx512_256, FastPath::avx512, FastPath::automatic}) {
        if (!platform::choose_path(FastUnit::md5_lanes, path)) continue;
        for (const std::size_t size : {0, 1, 55, 56, 63, 64, 119, 120, 4096, 8272}) {
            for (const std::size_t count : {1, 3, 4, 8, 15, 16, 17, 40}) {
                std::vector<Md5Digest> digests(count);
                md5_digests(messages.data(), count, size, digests.data());
                for (std::size_t i = 0; i < count; ++i)
                    ASSERT_EQ(digests[i], md5_digest(messages[i], size))
                        << "path " << static_cast<int>(path) << " size " << size << " count " << count << " i " << i;
            }
        }
    }
    platform::choose_path(FastUnit::md5_lanes, FastPath::automatic);
}

TEST(Par2Names, AsPar2cmdlineNamesThem) {
    // par2cmdline splits 100 recovery slices 1, 2, 4, ..., 32 and the rest.
    const auto volumes = split_volumes(100);
    ASSERT_EQ(volumes.size(), 7u);
    EXPECT_EQ(volumes.back().first, 63u);
    EXPECT_EQ(volumes.back().count, 37u);
    EXPECT_EQ(volume_name("a.archi", volumes[0], 100), "a.archi.vol000+01.par2");
    EXPECT_EQ(volume_name("a.archi", volumes[6], 100), "a.archi.vol063+37.par2");
    // The first number as wide as the recovery count, the second as the
    // largest count: 15 splits 1, 2, 4, 8; 9 splits 1, 2, 4, 2.
    EXPECT_EQ(volume_name("a.archi", split_volumes(15)[3], 15), "a.archi.vol07+8.par2");
    EXPECT_EQ(volume_name("a.archi", split_volumes(9)[3], 9), "a.archi.vol7+2.par2");
    EXPECT_EQ(volume_name("a.archi", {0, 1}, 1), "a.archi.vol0+1.par2");
    EXPECT_EQ(index_name("a.archi"), "a.archi.par2");
}

TEST(Par2Plan, DefaultSlicesAreWholeGroupsWithinTheTarget) {
    for (const std::uint64_t length : {16466ull, 24656ull, 6369280ull, 541000000ull, 1ull << 40}) {
        SetPlan plan;
        ASSERT_TRUE(plan_set(length, 5, 0, plan)) << length;
        EXPECT_EQ(plan.slice_size % slice_unit, 0u);
        EXPECT_LE(plan.input_slices, default_slice_target);
        EXPECT_GE(plan.recovery_slices, 1u);
        EXPECT_EQ(plan.recovery_slices, (plan.input_slices * 5 + 99) / 100);
    }
    SetPlan plan;
    EXPECT_FALSE(plan_set(100, 5, 6, plan)) << "a slice size that is no multiple of 4";
    EXPECT_FALSE(plan_set(1 << 20, 5, 4, plan)) << "more than 32768 slices";
    EXPECT_FALSE(plan_set(100, 0, 0, plan));
    EXPECT_FALSE(plan_set(100, 101, 0, plan));
}

class Par2Set : public ::testing::Test {
protected:
    std::vector<std::uint8_t> file = random_bytes(100003, 7);
    SetWriter writer;
    SetPlan plan;

    void write_set(std::uint64_t slice_size, int percent) {
        ASSERT_TRUE(plan_set(file.size(), percent, slice_size, plan));
        ASSERT_TRUE(writer.start(plan));
        // Uneven pieces, odd ones too, as the coder hands them over.
        for (std::size_t at = 0, step = 1; at < file.size(); at += step, step = step * 3 % 5001 + 1)
            writer.add(file.data() + at, std::min(step, file.size() - at));
        ASSERT_TRUE(writer.finish("t.archi"));
    }
};

TEST_F(Par2Set, ReadsBackWhatItWrote) {
    write_set(4096, 20);
    SetReader reader;
    reader.scan_bytes(written(writer, nullptr).data(), written(writer, nullptr).size());
    for (const Volume& v : split_volumes(plan.recovery_slices)) {
        const auto bytes = written(writer, &v);
        reader.scan_bytes(bytes.data(), bytes.size());
    }
    ASSERT_TRUE(reader.choose("t.archi")) << reader.why();
    EXPECT_EQ(reader.set_id(), writer.set_id());
    EXPECT_EQ(reader.slice_size(), 4096u);
    EXPECT_EQ(reader.file().length, file.size());
    EXPECT_EQ(reader.file().md5, md5_digest(file.data(), file.size()));
    EXPECT_EQ(reader.file().md5_16k, md5_digest(file.data(), 16384));
    ASSERT_EQ(reader.checks().size(), 25u);
    // The last slice is checked as if padded with zeros.
    std::vector<std::uint8_t> last(4096, 0);
    std::memcpy(last.data(), file.data() + 24 * 4096, file.size() - 24 * 4096);
    EXPECT_EQ(reader.checks()[24].md5, md5_digest(last.data(), last.size()));
    ASSERT_EQ(reader.recovery().size(), 5u);
    for (std::uint32_t e = 0; e < 5; ++e) EXPECT_EQ(reader.recovery()[e].exponent, e);

    // Recovery slice 0 is the plain XOR of all input slices (every constant to the power 0 is 1).
    std::vector<std::uint8_t> sum(4096, 0), read(4096);
    for (std::size_t i = 0; i < file.size(); ++i) sum[i % 4096] ^= file[i];
    ASSERT_TRUE(reader.read_recovery(reader.recovery()[0], read.data()));
    EXPECT_EQ(read, sum);
    // Exponent 1 weighs slice i by its constant.
    std::vector<std::uint8_t> weighted(4096, 0);
    for (std::uint32_t i = 0; i < 25; ++i) {
        std::vector<std::uint8_t> slice(4096, 0);
        std::memcpy(slice.data(), file.data() + i * 4096, std::min<std::size_t>(4096, file.size() - i * 4096));
        gf_mul_add_region(weighted.data(), slice.data(), 4096, input_constant(i));
    }
    ASSERT_TRUE(reader.read_recovery(reader.recovery()[1], read.data()));
    EXPECT_EQ(read, weighted);
}

TEST_F(Par2Set, DamagedPacketsAreSkippedAndGoodCopiesUsed) {
    write_set(8192, 25);
    auto index = written(writer, nullptr);
    const auto volumes = split_volumes(plan.recovery_slices);
    ASSERT_EQ(volumes.size(), 3u);
    auto first = written(writer, &volumes[0]);
    auto second = written(writer, &volumes[1]);
    // The index's Main packet damaged, the first volume's recovery data
    // damaged, the second's length field made to run past the end.
    index[70] ^= 1;
    first[200] ^= 1;
    second[8] = 0xF0;
    SetReader reader;
    for (const auto* bytes : {&index, &first, &second}) reader.scan_bytes(bytes->data(), bytes->size());
    EXPECT_EQ(reader.files()[0].damaged_packets, 1u);
    ASSERT_TRUE(reader.choose("t.archi")) << reader.why();
    // Recovery data is checked only when read: the damaged slice is found
    // out then. Only the first of the second volume's two slices was lost
    // with its length field; the other still counts.
    ASSERT_EQ(reader.recovery().size(), 2u);
    std::vector<std::uint8_t> slice(static_cast<std::size_t>(reader.slice_size()));
    EXPECT_EQ(reader.recovery()[0].exponent, 0u);
    EXPECT_FALSE(reader.read_recovery(reader.recovery()[0], slice.data()));
    EXPECT_EQ(reader.recovery()[1].exponent, 2u);
    EXPECT_TRUE(reader.read_recovery(reader.recovery()[1], slice.data()));
    EXPECT_EQ(reader.checks().size(), 13u);
}

TEST_F(Par2Set, NoSetForAnotherNameOrWithoutChecksums) {
    write_set(8192, 10);
    const auto index = written(writer, nullptr);
    SetReader reader;
    reader.scan_bytes(index.data(), index.size());
    EXPECT_FALSE(reader.choose("other.archi"));
    // Cut before the slice checksum packet ends.
    SetReader cut;
    cut.scan_bytes(index.data(), index.size() - 200);
    EXPECT_FALSE(cut.choose("t.archi"));
    EXPECT_STREQ(cut.why(), "no readable slice checksum packet for the file");
}

TEST(Par2Packets, HeaderLengthsAreCheckedAgainstTheRoom) {
    const auto packet = make_packet(Md5Digest{}, creator_type, creator_body("x"));
    ASSERT_EQ(packet.size(), 68u);
    EXPECT_TRUE(parse_header(packet.data(), packet.size()));
    EXPECT_FALSE(parse_header(packet.data(), packet.size() - 4)) << "a length past the end";
    auto odd = packet;
    odd[8] = 66;
    EXPECT_FALSE(parse_header(odd.data(), odd.size())) << "a length that is no multiple of 4";
    auto small = packet;
    small[8] = 32;
    EXPECT_FALSE(parse_header(small.data(), small.size())) << "a length shorter than the header";
    // Bodies whose sizes and counts disagree.
    std::vector<std::uint8_t> main = main_body(4096, Md5Digest{});
    EXPECT_TRUE(parse_main(main.data(), main.size()));
    main[8] = 2;  // two files, one ID
    EXPECT_FALSE(parse_main(main.data(), main.size()));
    EXPECT_FALSE(parse_main(main.data(), main.size() - 4));
    EXPECT_FALSE(parse_slice_checksums(main.data(), 30));
    EXPECT_FALSE(parse_file_description(main.data(), 40));
}

TEST(Par2Solver, ASingularChoiceOfSlicesIsPassedOver) {
    // Exponents 0 and 65535 give the same row (x^65535 = 1 for every
    // nonzero x), so the first two offered cannot solve two slices; the
    // solver passes over 65535 and takes exponent 1.
    const std::vector<std::uint32_t> damaged = {3, 10};
    const std::vector<std::uint32_t> offered = {0, 65535, 1};
    const auto rows = choose_rows(damaged, offered);
    ASSERT_EQ(rows, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(choose_rows(damaged, {0, 65535}).size(), 1u) << "rank 1 only";

    // The whole rebuild with those slices: 12 input slices, recovery data
    // made for all three exponents, slices 3 and 10 lost.
    constexpr std::size_t size = 1000;
    std::vector<std::vector<std::uint8_t>> slices;
    for (std::uint32_t i = 0; i < 12; ++i) slices.push_back(random_bytes(size, 100 + i));
    std::vector<std::vector<std::uint8_t>> recovery(3, std::vector<std::uint8_t>(size, 0));
    for (std::size_t j = 0; j < 3; ++j)
        for (std::uint32_t i = 0; i < 12; ++i)
            gf_mul_add_region(recovery[j].data(), slices[i].data(), size, gf_pow(input_constant(i), offered[j]));
    Rebuilder rebuilder;
    ASSERT_TRUE(rebuilder.start(damaged, {offered[rows[0]], offered[rows[1]]}, size));
    for (std::size_t j = 0; j < 2; ++j) std::memcpy(rebuilder.equation(j), recovery[rows[j]].data(), size);
    for (std::uint32_t i = 0; i < 12; ++i)
        if (i != 3 && i != 10) rebuilder.add_intact(i, slices[i].data());
    ASSERT_TRUE(rebuilder.solve());
    EXPECT_EQ(std::vector<std::uint8_t>(rebuilder.slice(0), rebuilder.slice(0) + size), slices[3]);
    EXPECT_EQ(std::vector<std::uint8_t>(rebuilder.slice(1), rebuilder.slice(1) + size), slices[10]);

    // Forced onto the singular pair, the solver says so rather than guess.
    Rebuilder singular;
    ASSERT_TRUE(singular.start(damaged, {0, 65535}, size));
    EXPECT_FALSE(singular.solve());
}

TEST(Par2Solver, ConsecutiveExponentsRebuildManySlices) {
    constexpr std::size_t size = 64;
    constexpr std::uint32_t count = 40;
    std::vector<std::vector<std::uint8_t>> slices;
    for (std::uint32_t i = 0; i < count; ++i) slices.push_back(random_bytes(size, 500 + i));
    const std::vector<std::uint32_t> damaged = {0, 1, 7, 20, 38, 39};
    std::vector<std::uint32_t> exponents;
    for (std::uint32_t e = 0; e < damaged.size(); ++e) exponents.push_back(e);
    ASSERT_EQ(choose_rows(damaged, exponents).size(), damaged.size());
    Rebuilder rebuilder;
    ASSERT_TRUE(rebuilder.start(damaged, exponents, size));
    for (std::size_t j = 0; j < exponents.size(); ++j)
        for (std::uint32_t i = 0; i < count; ++i)
            gf_mul_add_region(rebuilder.equation(j), slices[i].data(), size, gf_pow(input_constant(i), exponents[j]));
    // Taking the intact slices off twice would cancel them; once leaves only the damaged.
    for (std::uint32_t i = 0; i < count; ++i)
        if (std::find(damaged.begin(), damaged.end(), i) == damaged.end()) rebuilder.add_intact(i, slices[i].data());
    ASSERT_TRUE(rebuilder.solve());
    for (std::size_t k = 0; k < damaged.size(); ++k)
        EXPECT_EQ(std::vector<std::uint8_t>(rebuilder.slice(k), rebuilder.slice(k) + size), slices[damaged[k]]) << k;
}

}  // namespace
}  // namespace kestrav3::recovery
