// Coded files written by an independent writer restore and describe as
// that writer said they would.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_support.h"
#include "md5/md5.h"
#include "transform/transform.h"

namespace kestrav3::testing {
namespace {

TEST(Vectors, KeyFoldsToTheWritersSeedAndMatrix) {
    char text[33];
    int seed = 0;
    md5lib("abcd", text, &seed);
    EXPECT_EQ(static_cast<std::uint32_t>(seed), 0x1e57880du);
    gen_kmatrix("abcd");
    const std::uint8_t start[16] = {0x58, 0xa0, 0x45, 0xa6, 0x67, 0x4c, 0xe7, 0x08,
                                    0xc1, 0x9f, 0x07, 0x40, 0x81, 0xe0, 0xfa, 0x69};
    EXPECT_EQ(std::memcmp(kmatrix.data(), start, sizeof start), 0);
}

class VectorFiles : public ::testing::Test {
protected:
    TempDir dir;
    void copy_in(const std::string& name) { fs::copy_file(test_data(name), dir / name); }
};

TEST_F(VectorFiles, ThreeLetterFile) {
    copy_in("abc.txt.archi");
    const RunResult m = run_cli({"-m", "abc.txt.archi", "abcd"}, dir.path());
    EXPECT_EQ(m.out, "no added file description\n");
    const RunResult d = run_cli({"-d", "abc.txt.archi", "abcd"}, dir.path());
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.out, " Restored:  abc.txt\n");
    EXPECT_EQ(read_file(dir / "abc.txt"), "abc");
    EXPECT_FALSE(fs::exists(dir / "abc.txt.err"));
}

TEST_F(VectorFiles, ReportWithMetadata) {
    copy_in("report.pdf.archi");
    const RunResult m = run_cli({"-m", "report.pdf.archi", "correct horse battery"}, dir.path());
    EXPECT_EQ(m.status, 0);
    // Printed as native text: the expected file is UTF-8.
    EXPECT_EQ(m.out, native(read_file(test_data("report.pdf.met.expected"))) + "\n");
    const RunResult d = run_cli({"-d", "report.pdf.archi", "correct horse battery"}, dir.path());
    EXPECT_EQ(d.status, 0);
    EXPECT_TRUE(read_file(dir / "report.pdf") == read_file(test_data("report.pdf")));
    EXPECT_FALSE(fs::exists(dir / "report.pdf.err"));
}

TEST_F(VectorFiles, DamagedSecondBlockIsLoggedAndStillWritten) {
    copy_in("two-blocks-damaged.archi");
    const RunResult d = run_cli({"-d", "two-blocks-damaged.archi", "block-key"}, dir.path());
    EXPECT_EQ(d.status, 3);
    EXPECT_NE(
        d.out.find(" Restored:  two-blocks.bin\n Damaged:   1 block failed its check, listed in two-blocks.bin.err\n"),
        std::string::npos)
        << d.out;
    const std::string restored = read_file(dir / "two-blocks.bin");
    const std::string expected = read_file(test_data("two-blocks.bin"));
    ASSERT_EQ(restored.size(), 8192u);
    EXPECT_TRUE(restored.compare(0, 4096, expected, 0, 4096) == 0);
    EXPECT_FALSE(restored.compare(4096, 4096, expected, 4096, 4096) == 0);
    EXPECT_EQ(read_text_file(dir / "two-blocks.bin.err"), "1\n");
}

}  // namespace
}  // namespace kestrav3::testing
