// The whole coder and decoder on every way of computing noise, digests and
// seeds, in process so that each way can be forced: files coded on one way
// restore on every other, and a damaged block is caught on each.
#include <gtest/gtest.h>

#include <vector>

#include "cli_support.h"
#include "container/container.h"
#include "transform/transform.h"
#include "md5/md5_lanes.h"
#include "random/fast_noise_paths.h"
#include "random/first_rand.h"

namespace kestrav3::testing {
namespace {

std::vector<NoisePath> noise_paths() {
    std::vector<NoisePath> paths;
    for (NoisePath p : {NoisePath::scalar, NoisePath::avx2, NoisePath::avx512, NoisePath::avx512_ifma})
        if (fast_noise_path_supported(p)) paths.push_back(p);
    return paths;
}

std::vector<Md5LanesPath> md5_paths() {
    std::vector<Md5LanesPath> paths;
    for (Md5LanesPath p : {Md5LanesPath::scalar, Md5LanesPath::sse2, Md5LanesPath::avx2, Md5LanesPath::avx512_x4,
                           Md5LanesPath::avx512_x8, Md5LanesPath::avx512_x16})
        if (md5_lanes_supported(p)) paths.push_back(p);
    return paths;
}

// Puts every path back to its default when a test ends.
struct DefaultPaths {
    ~DefaultPaths() {
        set_fast_noise_path(NoisePath::automatic);
        set_md5_lanes_path(Md5LanesPath::automatic);
        set_first_rand_shortcut(true);
        set_wide_transforms(true);
    }
};

class FastPaths : public ::testing::Test {
protected:
    TempDir dir;
    DefaultPaths restore;
    // More than two coder batches and a decoder batch left over, plus a rest.
    const std::string plain = pattern_bytes(37 * 4096 + 1001);
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(FastPaths, FilesCodedOnEveryPathRestoreOnEveryPath) {
    for (NoisePath noise : noise_paths()) {
        for (bool shortcut : {true, false}) {
            ASSERT_TRUE(set_fast_noise_path(noise));
            set_first_rand_shortcut(shortcut);
            set_wide_transforms(shortcut);  // the narrow transforms with the plain seeding
            ASSERT_EQ(set_md5_lanes_path(md5_paths().back()), 0);
            write_file(dir / "p.bin", plain);
            ASSERT_EQ(combine_streams(path("p.bin").c_str(), "paths key"), 0);
            fs::remove(dir / "p.bin");
            for (Md5LanesPath md5 : md5_paths()) {
                SCOPED_TRACE(::testing::Message() << "noise " << static_cast<int>(noise) << " shortcut " << shortcut
                                                  << " md5 " << static_cast<int>(md5));
                ASSERT_EQ(set_md5_lanes_path(md5), 0);
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
    for (Md5LanesPath md5 : md5_paths()) {
        SCOPED_TRACE(static_cast<int>(md5));
        ASSERT_EQ(set_md5_lanes_path(md5), 0);
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
