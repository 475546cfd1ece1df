// The whole coder and decoder on every way of computing noise, digests and
// seeds, in process so that each way can be forced: files coded on one way
// restore on every other, and a damaged block is caught on each.
#include <gtest/gtest.h>

#include <vector>

#include "cli_support.h"
#include "container/container.h"
#include "platform/fast_paths.h"
#include "transform/transform.h"

namespace kestrav3::testing {
namespace {

using platform::choose_path;
using platform::FastPath;
using platform::FastUnit;

constexpr FastUnit units[] = {FastUnit::md5_lanes,  FastUnit::fast_noise,  FastUnit::transforms,
                              FastUnit::first_rand, FastUnit::gf16_region, FastUnit::crc32};
constexpr FastPath all_paths[] = {FastPath::automatic, FastPath::reference,   FastPath::sse2,
                                  FastPath::avx2,      FastPath::avx512_128,  FastPath::avx512_256,
                                  FastPath::avx512,    FastPath::avx512_ifma, FastPath::ssse3,
                                  FastPath::avx2_gfni, FastPath::avx512_gfni};

// The unit's paths this machine can run, the reference first; automatic
// is left out.
std::vector<FastPath> possible_paths(FastUnit unit) {
    std::vector<FastPath> paths;
    for (FastPath p : all_paths)
        if (p != FastPath::automatic && platform::path_possible(unit, p)) paths.push_back(p);
    return paths;
}

// Puts every unit back on its automatic path when a test ends.
struct DefaultPaths {
    ~DefaultPaths() {
        for (FastUnit unit : units) choose_path(unit, FastPath::automatic);
    }
};

// Every unit can run automatically and its reference path; a path a unit
// does not have (or this processor cannot run) is refused and the unit's
// choice stays as it was.
TEST(FastPathChoice, ImpossiblePathsAreRefusedAndChangeNothing) {
    DefaultPaths restore;
    for (FastUnit unit : units) {
        SCOPED_TRACE(static_cast<int>(unit));
        EXPECT_TRUE(platform::path_possible(unit, FastPath::automatic));
        EXPECT_TRUE(platform::path_possible(unit, FastPath::reference));
        for (FastPath path : all_paths) {
            ASSERT_TRUE(choose_path(unit, FastPath::reference));
            const bool possible = platform::path_possible(unit, path);
            EXPECT_EQ(choose_path(unit, path), possible) << static_cast<int>(path);
            EXPECT_EQ(platform::chosen_path(unit), possible ? path : FastPath::reference) << static_cast<int>(path);
        }
        // A choice for one unit leaves the others alone.
        for (FastUnit other : units) {
            if (other != unit) {
                EXPECT_EQ(platform::chosen_path(other), FastPath::automatic);
            }
        }
        choose_path(unit, FastPath::automatic);
    }
    // Vector paths a unit was never given.
    EXPECT_FALSE(platform::path_possible(FastUnit::md5_lanes, FastPath::avx512_ifma));
    EXPECT_FALSE(platform::path_possible(FastUnit::fast_noise, FastPath::sse2));
    EXPECT_FALSE(platform::path_possible(FastUnit::transforms, FastPath::avx2));
    EXPECT_FALSE(platform::path_possible(FastUnit::first_rand, FastPath::avx512_256));
    EXPECT_FALSE(platform::path_possible(FastUnit::gf16_region, FastPath::sse2));
    EXPECT_FALSE(platform::path_possible(FastUnit::md5_lanes, FastPath::avx2_gfni));
    EXPECT_FALSE(platform::path_possible(FastUnit::crc32, FastPath::avx2));
}

class FastPaths : public ::testing::Test {
protected:
    TempDir dir;
    DefaultPaths restore;
    // More than two coder batches and a decoder batch left over, plus a rest.
    const std::string plain = pattern_bytes(37 * 4096 + 1001);
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(FastPaths, FilesCodedOnEveryPathRestoreOnEveryPath) {
    for (FastPath noise : possible_paths(FastUnit::fast_noise)) {
        for (FastPath shortcut : {FastPath::automatic, FastPath::reference}) {
            ASSERT_TRUE(choose_path(FastUnit::fast_noise, noise));
            ASSERT_TRUE(choose_path(FastUnit::first_rand, shortcut));
            ASSERT_TRUE(choose_path(FastUnit::transforms, shortcut));  // the narrow transforms with the plain seeding
            ASSERT_TRUE(choose_path(FastUnit::md5_lanes, possible_paths(FastUnit::md5_lanes).back()));
            write_file(dir / "p.bin", plain);
            ASSERT_EQ(combine_streams(path("p.bin").c_str(), "paths key"), 0);
            fs::remove(dir / "p.bin");
            for (FastPath md5 : possible_paths(FastUnit::md5_lanes)) {
                SCOPED_TRACE(::testing::Message() << "noise " << static_cast<int>(noise) << " shortcut "
                                                  << static_cast<int>(shortcut) << " md5 " << static_cast<int>(md5));
                ASSERT_TRUE(choose_path(FastUnit::md5_lanes, md5));
                ASSERT_EQ(decode_streams(path("p.bin.archi").c_str(), "paths key"), 0);
                EXPECT_TRUE(read_file(dir / "p.bin") == plain);
                EXPECT_FALSE(fs::exists(dir / "p.bin.err"));
                fs::remove(dir / "p.bin");
            }
        }
    }
}

// A flipped byte in block 20 (inside the decoder's third batch) is logged
// as that block on every digest path, and only that one.
TEST_F(FastPaths, EveryDigestPathFindsTheDamagedBlock) {
    write_file(dir / "d.bin", plain);
    ASSERT_EQ(combine_streams(path("d.bin").c_str(), "paths key"), 0);
    fs::remove(dir / "d.bin");
    std::string coded = read_file(dir / "d.bin.archi");
    // Two header copies of noise and data, then 20 groups of a 40-byte record
    // and a 4096-byte block, each stored as noise and data; byte 100 of the
    // data half of block 20.
    const std::size_t header = 2 * 2 * 4096, group = 2 * 40 + 2 * 4096;
    coded[header + 20 * group + 2 * 40 + 4096 + 100] ^= 0x5A;
    write_file(dir / "d.bin.archi", coded);
    for (FastPath md5 : possible_paths(FastUnit::md5_lanes)) {
        SCOPED_TRACE(static_cast<int>(md5));
        ASSERT_TRUE(choose_path(FastUnit::md5_lanes, md5));
        ASSERT_EQ(decode_streams(path("d.bin.archi").c_str(), "paths key"), 0);
        EXPECT_EQ(read_text_file(dir / "d.bin.err"), "20\n");
        std::string restored = read_file(dir / "d.bin");
        ASSERT_EQ(restored.size(), plain.size());
        EXPECT_NE(restored, plain);
        restored[20 * 4096 + 100 + (100 % 2 ? -1 : 1)] ^= 0x5A;  // the pair swap moved the flip
        EXPECT_TRUE(restored == plain);
        fs::remove(dir / "d.bin");
        fs::remove(dir / "d.bin.err");
    }
}

}  // namespace
}  // namespace kestrav3::testing
