// Recovery sets through the program: -p, -c --recovery=P and --repair, and
// what -t and -d say about a set beside a coded file. The interoperability
// cases run Debian's par2 itself (POSIX only: Wine has no par2): it must
// verify and repair every set kestrav3 writes, and kestrav3 must repair
// sets that par2 made.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_support.h"
#include "md5/md5.h"

namespace kestrav3::testing {
namespace {

constexpr std::size_t header_copy2 = 12288;
constexpr std::size_t first_group = 16384;
constexpr std::size_t group = 8272;

// The names in a folder.
std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

std::set<std::string> set_files_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& name : names_in(dir))
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".par2") == 0) names.insert(name);
    return names;
}

void flip(std::string& bytes, std::size_t at, std::size_t count = 16) {
    for (std::size_t i = at; i < at + count && i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
}

// PAR 2.0 packets by hand, as the format defines them: the magic, the
// length, the MD5 of everything from the set ID on, the set ID, the type
// and the body. Integers are little-endian.
const std::string packet_magic("PAR2\0PKT", 8);
const std::string main_type("PAR 2.0\0Main\0\0\0\0", 16);
const std::string description_type("PAR 2.0\0FileDesc", 16);
const std::string checksums_type("PAR 2.0\0IFSC\0\0\0\0", 16);

std::string little_endian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i, value >>= 8) text += static_cast<char>(value & 0xFF);
    return text;
}

std::string md5_of(const std::string& bytes) {
    const Md5Digest digest = md5_digest(bytes.data(), bytes.size());
    return std::string(digest.begin(), digest.end());
}

std::string packet(const std::string& set_id, const std::string& type, const std::string& body) {
    const std::string hashed = set_id + type + body;
    return packet_magic + little_endian(64 + body.size(), 8) + md5_of(hashed) + hashed;
}

struct Packet {
    std::string set_id, type, body;
};

// The packets of a well-formed set file, in order.
std::vector<Packet> packets_in(const std::string& file) {
    std::vector<Packet> packets;
    for (std::size_t at = 0; at + 64 <= file.size();) {
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(file[at + 8 + i]);
        packets.push_back({file.substr(at + 32, 16), file.substr(at + 48, 16), file.substr(at + 64, length - 64)});
        at += length;
    }
    return packets;
}

Packet packet_of_type(const std::string& file, const std::string& type) {
    for (const Packet& p : packets_in(file))
        if (p.type == type) return p;
    return {};
}

class RecoveryCli : public ::testing::Test {
protected:
    TempDir dir;
    std::string coded;

    // Codes size bytes as "r.bin" (optionally with a set) and keeps the coded bytes.
    void code(std::size_t size, int percent = 0) {
        write_file(dir / "r.bin", pattern_bytes(size, 29));
        std::vector<std::string> args = {"-c", "r.bin", "recovery key"};
        // A set while coding is the many-file form's option: the key from a file.
        if (percent > 0) {
            write_file(dir / "key.txt", "recovery key\n");
            args = {"-c", "--recovery=" + std::to_string(percent), "-k", "key.txt", "r.bin"};
        }
        const RunResult r = run_cli(args, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        coded = read_file(dir / "r.bin.archi");
    }
    RunResult protect(int percent = 0) {
        std::vector<std::string> args = {"-p", "r.bin.archi"};
        if (percent > 0) args.insert(args.begin() + 1, "--recovery=" + std::to_string(percent));
        return run_cli(args, dir.path());
    }
    RunResult repair() { return run_cli({"--repair", "r.bin.archi"}, dir.path()); }
    void store(const std::string& bytes) { write_file(dir / "r.bin.archi", bytes); }
    // Codes the file again and puts the earlier set back beside it (kept
    // aside meanwhile, as coding removes it).
    void code_again_beside_the_old_set(std::size_t size) {
        fs::create_directory(dir / "aside");
        for (const auto& name : set_files_in(dir.path())) fs::rename(dir / name, dir / "aside" / name);
        code(size);
        for (const auto& entry : fs::directory_iterator(dir / "aside"))
            fs::rename(entry.path(), dir.path() / entry.path().filename());
        fs::remove(dir / "aside");
    }
    bool restored() { return read_file(dir / "r.bin.archi") == coded; }
};

TEST_F(RecoveryCli, ProtectWritesTheSetAndRepairRebuildsDamageAndTruncation) {
    code(100000);
    const RunResult p = protect(10);
    ASSERT_EQ(p.status, 0) << p.out;
    EXPECT_NE(p.out.find(" Wrote:     r.bin.archi.par2"), std::string::npos) << p.out;
    EXPECT_EQ(set_files_in(dir.path()),
              (std::set<std::string>{"r.bin.archi.par2", "r.bin.archi.vol0+1.par2", "r.bin.archi.vol1+2.par2"}));

    RunResult r = repair();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(" Result:    intact"), std::string::npos) << r.out;

    // 27 slices of 8272 bytes, 3 recovery slices: a flipped block and a
    // tail cut off, then both header copies.
    std::string damaged = coded;
    flip(damaged, first_group + 3 * group + 100);
    store(damaged.substr(0, damaged.size() - 1000));
    r = repair();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(" Result:    repaired (2 slices rebuilt"), std::string::npos) << r.out;
    EXPECT_TRUE(restored());
    damaged = coded;
    flip(damaged, 100);
    flip(damaged, header_copy2 + 100);
    store(damaged);
    r = repair();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(restored());
    // Bytes after the end are dropped.
    store(coded + "extra");
    EXPECT_EQ(repair().status, 0);
    EXPECT_TRUE(restored());
    // Nothing but the coded file, the plain file and the set is left.
    EXPECT_EQ(names_in(dir.path()).size(), 5u);
}

TEST_F(RecoveryCli, DamageBeyondTheSetLeavesTheFileUntouched) {
    code(100000);
    ASSERT_EQ(protect(5).status, 0);  // 2 recovery slices
    std::string damaged = coded;
    for (const std::size_t group_number : {0, 5, 10}) flip(damaged, first_group + group_number * group + 4000);
    store(damaged);
    const auto before = names_in(dir.path());
    const RunResult r = repair();
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("1 more recovery slice needed"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(dir / "r.bin.archi"), damaged);
    EXPECT_EQ(names_in(dir.path()), before);
}

TEST_F(RecoveryCli, DamagedIndexAndRecoveryFilesAreTolerated) {
    code(200000);
    ASSERT_EQ(protect(10).status, 0);  // 51 slices, 6 recovery slices in 3 files
    std::string index = read_file(dir / "r.bin.archi.par2");
    flip(index, 70, 400);  // every critical packet of the index file
    write_file(dir / "r.bin.archi.par2", index);
    std::string volume = read_file(dir / "r.bin.archi.vol1+2.par2");
    flip(volume, 200);  // the first of its two recovery slices
    write_file(dir / "r.bin.archi.vol1+2.par2", volume);
    // Five slices to rebuild from the five good recovery slices: the damaged
    // one is found out when it is read, and passed over.
    std::string damaged = coded;
    for (const std::size_t group_number : {2, 9, 20, 30, 40}) flip(damaged, first_group + group_number * group + 4000);
    store(damaged);
    const RunResult r = repair();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("damaged packet"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("repaired (5 slices rebuilt"), std::string::npos) << r.out;
    EXPECT_TRUE(restored());
}

TEST_F(RecoveryCli, WhatCannotBeRepairedFailsWithStatus1) {
    code(5000);
    // No set.
    RunResult r = repair();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(framed_message(-18)), std::string::npos) << r.out;
    // A size no coded file has.
    write_file(dir / "odd.archi", std::string(20001, 'x'));
    r = run_cli({"-p", "odd.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(framed_message(-19)), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "odd.archi.par2"));
    // Percentages outside 1 to 100 are not understood.
    EXPECT_EQ(run_cli({"-p", "--recovery=0", "r.bin.archi"}, dir.path()).status, 2);
    EXPECT_EQ(run_cli({"-p", "--recovery=101", "r.bin.archi"}, dir.path()).status, 2);
    EXPECT_EQ(run_cli({"--repair"}, dir.path()).status, 2);
    EXPECT_TRUE(set_files_in(dir.path()).empty());
    // A set made for another coded file of the same name (kept aside while
    // the file is coded again, as coding removes it): no slice matches, and
    // the file is not turned into that other file.
    ASSERT_EQ(protect(100).status, 0);
    const std::string first = coded;
    code_again_beside_the_old_set(5000);
    ASSERT_NE(coded, first);
    r = repair();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("made for another file"), std::string::npos) << r.out;
    EXPECT_TRUE(restored());
    for (const auto& name : set_files_in(dir.path())) fs::remove(dir / name);
#if !defined(_WIN32)
    // A link at the coded file's name is neither read nor replaced.
    ASSERT_EQ(protect().status, 0);
    fs::rename(dir / "r.bin.archi", dir / "real.archi");
    fs::create_symlink("real.archi", dir / "r.bin.archi");
    EXPECT_EQ(repair().status, 1);
    EXPECT_TRUE(fs::is_symlink(dir / "r.bin.archi"));
#endif
}

// A set needs no key, so it must show it belongs to the file before it
// changes a byte, and packets of a set that disagree are decided by the
// file's bytes, never by their order. Each case makes its set, stores the
// file, and says what the repair must answer.
TEST_F(RecoveryCli, ASetMustVouchForTheFileBeforeItChangesAByte) {
    code(100000);  // 218384 bytes: 27 slices of 8272 bytes
    const std::string index_name = "r.bin.archi.par2";
    // Slice i's checksums entry in a slice checksum body: MD5 then CRC.
    const auto entry = [](std::size_t i) { return 16 + 20 * i; };
    const auto with_checksum_packet = [&](const std::string& body) {
        const std::string index = read_file(dir / index_name);
        const Packet checks = packet_of_type(index, checksums_type);
        write_file(dir / index_name, packet(checks.set_id, checksums_type, body) + index);
    };
    const auto slice_of = [](const std::string& bytes, std::size_t i) { return bytes.substr(i * group, group); };
    struct Case {
        const char* what;
        std::function<std::string()> make;  // the set beside it; returns the file to store
        int status;
        const char* says;
        bool repaired;  // or else untouched
    };
    const std::vector<Case> cases = {
        {"a set of the first groups only",
         [&] {
             fs::create_directory(dir / "part");
             write_file(dir / "part" / "r.bin.archi", coded.substr(0, 16544));
             EXPECT_EQ(run_cli({"-p", "--recovery=100", "r.bin.archi"}, dir / "part").status, 0);
             for (const auto& name : set_files_in(dir / "part")) fs::rename(dir / "part" / name, dir / name);
             return coded;
         },
         3, "it would cut 201840 bytes after its end", false},
        {"a forged checksum packet listing a damaged slice as it now is",
         [&] {
             EXPECT_EQ(protect(10).status, 0);
             std::string damaged = coded;
             flip(damaged, 7 * group + 10);
             std::string body = packet_of_type(read_file(dir / index_name), checksums_type).body;
             body.replace(entry(7), 16, md5_of(slice_of(damaged, 7)));
             with_checksum_packet(body);
             return damaged;
         },
         0, "repaired (1 slice rebuilt", true},
        {"a forged checksum packet that would block the repair",
         [&] {
             EXPECT_EQ(protect(10).status, 0);
             std::string body = packet_of_type(read_file(dir / index_name), checksums_type).body;
             body.replace(entry(12), 16, std::string(16, 'x'));
             with_checksum_packet(body);
             std::string damaged = coded;
             flip(damaged, first_group + 20 * group + 10);
             return damaged;
         },
         0, "repaired (1 slice rebuilt", true},
        {"packets the data cannot decide between",
         [&] {
             EXPECT_EQ(protect(5).status, 0);  // 2 recovery slices
             std::string body = packet_of_type(read_file(dir / index_name), checksums_type).body;
             body.replace(entry(12), 16, std::string(16, 'x'));
             with_checksum_packet(body);
             std::string damaged = coded;
             for (const std::size_t g : {1, 8, 20}) flip(damaged, first_group + g * group + 10);
             return damaged;
         },
         1, "cannot be repaired: conflicting packets", false},
        {"a 344-byte set claiming four slices of 1 GiB",
         [&] {
             const std::string file_id(16, 'f');
             const std::string main = little_endian(1ull << 30, 8) + little_endian(1, 4) + file_id;
             const std::string set_id = md5_of(main);
             const std::string description = file_id + std::string(16, 'm') + md5_of(coded.substr(0, 16384)) +
                                             little_endian(4ull << 30, 8) + "r.bin.archi" + '\0';
             write_file(dir / index_name, packet(set_id, main_type, main) +
                                              packet(set_id, description_type, description) +
                                              packet(set_id, checksums_type, file_id + std::string(80, 'c')));
             return coded.substr(0, 100000);
         },
         1, "the set's slices are larger than the file and its set together", false},
    };
    for (const Case& c : cases) {
        for (const auto& name : set_files_in(dir.path())) fs::remove(dir / name);
        const std::string stored = c.make();
        store(stored);
        const RunResult r = repair();
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_TRUE(read_file(dir / "r.bin.archi") == (c.repaired ? coded : stored)) << c.what;
    }
}

// A set in PAR 2.0's own naming (vol<first>-<last>) is the set as much as
// one in par2cmdline's: found by the repair, removed by a coding that
// replaces the coded file.
TEST_F(RecoveryCli, RecoveryFilesInEitherNamingAreTheSet) {
    code(100000);
    ASSERT_EQ(protect(10).status, 0);
    fs::rename(dir / "r.bin.archi.vol0+1.par2", dir / "r.bin.archi.vol0-0.par2");
    fs::rename(dir / "r.bin.archi.vol1+2.par2", dir / "r.bin.archi.vol01-02.par2");
    std::string damaged = coded;
    for (const std::size_t g : {3, 9, 15}) flip(damaged, first_group + g * group + 10);
    store(damaged);
    EXPECT_EQ(repair().status, 0);
    EXPECT_TRUE(restored());
    ASSERT_EQ(run_cli({"-c", "r.bin", "recovery key"}, dir.path()).status, 0);
    EXPECT_TRUE(set_files_in(dir.path()).empty());
}

#if !defined(_WIN32)
// A set's life leaves no stale set beside newer bytes, and every failure
// names the file and why: a -p that runs out of room keeps the earlier set
// as it was; a coding whose set fails says so, counts as failed and keeps
// the input; a repair that cannot write says it did not repair.
TEST_F(RecoveryCli, AFailedSetOrRepairLeavesNoStaleSetAndSaysWhy) {
    code(100000, 5);
    std::map<std::string, std::string> earlier;
    for (const auto& name : set_files_in(dir.path())) earlier[name] = read_file(dir / name);
    RunResult r = run_cli({"-p", "--recovery=60", "r.bin.archi"}, dir.path(), 40000);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" r.bin.archi.vol"), std::string::npos) << "the file and the cause\n" << r.out;
    std::map<std::string, std::string> now;
    for (const auto& name : set_files_in(dir.path())) now[name] = read_file(dir / name);
    EXPECT_TRUE(now == earlier);

    std::string damaged = coded;
    flip(damaged, first_group + 2 * group + 10);
    store(damaged);
    r = run_cli({"--repair", "r.bin.archi"}, dir.path(), 100000);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" r.bin.archi: cannot write the repaired file"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" Result:    not repaired: cannot write the repaired file"), std::string::npos) << r.out;
    EXPECT_TRUE(read_file(dir / "r.bin.archi") == damaged);

    // 27 slices, 27 recovery slices: the fifth recovery file cannot be made.
    fs::create_directory(dir / "r.bin.archi.vol15+12.par2");
    r = run_cli({"-c", "--recovery=100", "--rm", "-f", "-k", "key.txt", "r.bin"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("r.bin: written r.bin.archi, recovery set failed: a folder has the name\n"), std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists(dir / "r.bin"));
    EXPECT_TRUE(read_file(dir / "r.bin.archi") != damaged);
    EXPECT_EQ(set_files_in(dir.path()), (std::set<std::string>{"r.bin.archi.vol15+12.par2"}));
}
#endif

TEST_F(RecoveryCli, CodingWithRecoveryWritesTheSetAndAFailedCodingNone) {
    code(50000, 5);
    EXPECT_EQ(set_files_in(dir.path()), (std::set<std::string>{"r.bin.archi.par2", "r.bin.archi.vol0+1.par2"}));
    std::string damaged = coded;
    flip(damaged, first_group + 2 * group + 50);
    store(damaged);
    EXPECT_EQ(repair().status, 0);
    EXPECT_TRUE(restored());
#if !defined(_WIN32)
    // A size limit that stops the coded file half way: no set.
    TempDir other;
    write_file(other / "r.bin", pattern_bytes(50000, 29));
    write_file(other / "key.txt", "recovery key\n");
    const RunResult r = run_cli({"-c", "--recovery=5", "-k", "key.txt", "r.bin"}, other.path(), 60000);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(set_files_in(other.path()).empty());
#endif
}

// --recovery=P is an option of the many-file form: each coded file gets its
// set, in its output folder, with -j too, and the line says so.
TEST_F(RecoveryCli, ManyFilesCodedWithTheirSets) {
    write_file(dir / "key.txt", "recovery key\n");
    write_file(dir / "a.bin", pattern_bytes(30000, 3));
    write_file(dir / "b.bin", pattern_bytes(9000, 5));
    fs::create_directory(dir / "out");
    RunResult r =
        run_cli({"-c", "--recovery=10", "-k", "key.txt", "--output-dir", "out", "a.bin", "b.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("a.bin: written out/a.bin.archi, recovery set out/a.bin.archi.par2\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(set_files_in(dir / "out"), (std::set<std::string>{"a.bin.archi.par2", "a.bin.archi.vol0+1.par2",
                                                                "b.bin.archi.par2", "b.bin.archi.vol0+1.par2"}));
    r = run_cli({"-c", "--recovery", "10", "-k", "key.txt", "-j", "2", "a.bin", "b.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(set_files_in(dir.path()).size(), 4u) << r.out;
    EXPECT_EQ(run_cli({"--repair", "a.bin.archi", "b.bin.archi"}, dir.path()).status, 0);
}

TEST_F(RecoveryCli, ProtectingAgainReplacesTheEarlierSet) {
    code(400000);
    ASSERT_EQ(protect(10).status, 0);  // 100 slices, 10 recovery slices in 4 files
    EXPECT_EQ(set_files_in(dir.path()).size(), 5u);
    ASSERT_EQ(protect(1).status, 0);  // 1 recovery slice
    EXPECT_EQ(set_files_in(dir.path()), (std::set<std::string>{"r.bin.archi.par2", "r.bin.archi.vol0+1.par2"}));
}

// Coding again without a set replaces the coded file under its set: the old
// set then describes bytes that are gone, and par2 would rebuild them over
// the new coded file. The coder removes it, and only once the coding is done.
TEST_F(RecoveryCli, CodingAgainWithoutASetRemovesTheOldSet) {
    code(60000, 100);
    ASSERT_FALSE(set_files_in(dir.path()).empty());
    fs::create_directory(dir / "r.bin.archi.vol90+1.par2");  // a folder of such a name stays
    write_file(dir / "s.bin.archi.par2", "another file's set");
    const std::set<std::string> before = set_files_in(dir.path());
#if !defined(_WIN32)
    // A coding that fails half way keeps the coded file and its set.
    const RunResult stopped = run_cli({"-c", "r.bin", "recovery key"}, dir.path(), 70000);
    EXPECT_NE(stopped.status, 0);
    EXPECT_EQ(read_file(dir / "r.bin.archi"), coded);
    EXPECT_EQ(set_files_in(dir.path()), before);
#endif
    write_file(dir / "key.txt", "recovery key\n");
    RunResult r = run_cli({"-c", "-k", "key.txt", "r.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("r.bin: written r.bin.archi, old recovery set removed\n"), std::string::npos) << r.out;
    EXPECT_EQ(set_files_in(dir.path()), (std::set<std::string>{"r.bin.archi.vol90+1.par2", "s.bin.archi.par2"}));
    EXPECT_TRUE(fs::is_directory(dir / "r.bin.archi.vol90+1.par2"));

    // The design's three-word form removes it too, and says nothing of it.
    ASSERT_EQ(protect(10).status, 0);
    r = run_cli({"-c", "r.bin", "recovery key"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("recovery set"), std::string::npos) << r.out;
    EXPECT_EQ(set_files_in(dir.path()).size(), 2u);
    EXPECT_EQ(run_cli({"-t", "r.bin.archi", "recovery key"}, dir.path()).status, 0);
}

#if !defined(_WIN32)
// A stop at any moment of coding over a coded file with a set leaves the old
// coded file (with or without its set) or the new one without a set, never
// the new bytes beside the old set, which par2 would revert them from. The
// tracer kills the coder at the n-th call of each kind that changes or
// flushes a name, for every n until a run gets past them all.
TEST_F(RecoveryCli, AStopAtAnyMomentLeavesNoOldSetBesideNewCodedBytes) {
    if (std::system("strace -V > /dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    const std::string calls = "rename,renameat,renameat2,unlink,unlinkat,fsync,fdatasync";
    for (int stop = 1; stop < 100; ++stop) {
        for (const auto& name : names_in(dir.path())) fs::remove_all(dir / name);
        code(100000, 5);
        const std::set<std::string> old_set = set_files_in(dir.path());
        const std::string line = "cd '" + dir.path().string() +
                                 "' && ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e trace=" + calls +
                                 " -e inject=" + calls + ":signal=KILL:when=" + std::to_string(stop) + " '" +
                                 KESTRAV3_CLI + "' -c r.bin 'recovery key' > /dev/null 2>&1";
        const int status = std::system(line.c_str());
        const std::set<std::string> left = set_files_in(dir.path());
        if (read_file(dir / "r.bin.archi") != coded)
            EXPECT_TRUE(left.empty()) << "killed at call " << stop << ": the new coded file beside the old set";
        else
            EXPECT_TRUE(std::includes(old_set.begin(), old_set.end(), left.begin(), left.end())) << stop;
        if (status == 0) return;  // this run got past every call
    }
    FAIL() << "the coder was killed at every call up to 100";
}
#endif

TEST_F(RecoveryCli, TestAndRestoreSayWhetherTheSetCanRepair) {
    code(100000);
    RunResult t = run_cli({"-t", "r.bin.archi", "recovery key"}, dir.path());
    EXPECT_EQ(t.out.find(" Recovery:"), std::string::npos) << "no set, no notice";
    ASSERT_EQ(protect(5).status, 0);
    t = run_cli({"-t", "r.bin.archi", "recovery key"}, dir.path());
    EXPECT_EQ(t.status, 0);
    EXPECT_NE(t.out.find(" Recovery:  r.bin.archi.par2 beside it, 2 recovery slices usable"), std::string::npos)
        << t.out;
    EXPECT_EQ(t.out.find(" Repair:"), std::string::npos);

    std::string damaged = coded;
    flip(damaged, first_group + 4 * group + 300);
    store(damaged);
    t = run_cli({"-t", "r.bin.archi", "recovery key"}, dir.path());
    EXPECT_EQ(t.status, 3);
    EXPECT_NE(t.out.find(" Repair:    kestrav3 --repair can repair it (1 damaged slice)"), std::string::npos) << t.out;
    fs::remove(dir / "r.bin");
    const RunResult d = run_cli({"-d", "r.bin.archi", "recovery key"}, dir.path());
    EXPECT_EQ(d.status, 3) << "a restore with damaged blocks";
    EXPECT_NE(d.out.find(" Repair:    kestrav3 --repair can repair it"), std::string::npos) << d.out;

    for (const std::size_t group_number : {0, 8}) flip(damaged, first_group + group_number * group + 300);
    store(damaged);
    t = run_cli({"-t", "r.bin.archi", "recovery key"}, dir.path());
    EXPECT_NE(t.out.find(" Repair:    beyond kestrav3 --repair: 3 damaged slices, 1 more recovery slice needed"),
              std::string::npos)
        << t.out;
}

#if !defined(_WIN32)

// Runs Debian's par2 in dir; its exit status.
int par2(const std::vector<std::string>& args, const fs::path& dir) {
    Launch launch;
    launch.args = {"par2"};
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.folder = dir;
    launch.quiet = true;
    Child child(launch);
    return child.started() ? child.wait() : -1;
}

class Par2Interop : public RecoveryCli {
protected:
    void SetUp() override {
        if (par2({"-V"}, dir.path()) != 0) GTEST_SKIP() << "par2 is not installed (scripts/install-deps.sh)";
    }
    void drop_backups() {
        for (const auto& name : names_in(dir.path()))
            if (name.rfind("r.bin.archi.", 0) == 0 && name.find(".par2") == std::string::npos) fs::remove(dir / name);
    }
};

TEST_F(Par2Interop, VerifyAcceptsEverySetKestrav3Writes) {
    for (const std::size_t size : {1u, 4095u, 4096u, 10000u, 3145728u, 64u << 20}) {
        code(size);
        const RunResult p = protect();
        ASSERT_EQ(p.status, 0) << p.out;
        EXPECT_EQ(par2({"verify", "r.bin.archi.par2"}, dir.path()), 0) << size << " bytes";
    }
    // Written while coding, too.
    for (const std::size_t size : {1u, 3145728u}) {
        code(size, 5);
        EXPECT_EQ(par2({"verify", "r.bin.archi.par2"}, dir.path()), 0) << size << " bytes, -c --recovery=5";
    }
}

TEST_F(Par2Interop, Par2RepairsDamageInKestrav3Sets) {
    code(3145728);
    ASSERT_EQ(protect(10).status, 0);
    struct Damage {
        const char* what;
        std::vector<std::size_t> at;
        std::size_t cut;
    };
    const std::vector<Damage> cases = {
        {"a data block", {first_group + 200 * group + 5000}, 0},
        {"header copy 1", {4096 + 300}, 0},
        {"both header copies", {4096 + 300, header_copy2 + 300}, 0},
        {"a truncated tail", {}, 30000},
    };
    for (const Damage& damage : cases) {
        std::string bytes = coded;
        for (const std::size_t at : damage.at) flip(bytes, at);
        store(bytes.substr(0, bytes.size() - damage.cut));
        EXPECT_EQ(par2({"repair", "r.bin.archi.par2"}, dir.path()), 0) << damage.what;
        EXPECT_TRUE(restored()) << damage.what;
        drop_backups();
    }
}

TEST_F(Par2Interop, Kestrav3RepairsSetsPar2Made) {
    code(3145728);
    // par2's default slicing, and slice sizes of its -s.
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-r5"}, {"-s65536", "-r5"}, {"-s4000", "-r2"}, {"-s1048576", "-r40"}}) {
        for (const auto& name : set_files_in(dir.path())) fs::remove(dir / name);
        std::vector<std::string> args = {"create", "-q"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("r.bin.archi");
        ASSERT_EQ(par2(args, dir.path()), 0) << options[0];
        std::string bytes = coded;
        flip(bytes, 5000);
        flip(bytes, first_group + 300 * group + 17);
        store(bytes.substr(0, bytes.size() - 10000));
        const RunResult r = repair();
        EXPECT_EQ(r.status, 0) << options[0] << "\n" << r.out;
        EXPECT_TRUE(restored()) << options[0];
    }
    // Slices over 16 MiB are read, checked and rebuilt in pieces.
    for (const auto& name : set_files_in(dir.path())) fs::remove(dir / name);
    code(std::size_t{20} << 20);
    ASSERT_EQ(par2({"create", "-q", "-s16777220", "-r50", "r.bin.archi"}, dir.path()), 0);
    std::string bytes = coded;
    flip(bytes, 20000000);
    store(bytes);
    const RunResult r = repair();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("repaired (1 slice rebuilt"), std::string::npos) << r.out;
    EXPECT_TRUE(restored());
}

// par2 makes one-slice sets (-b1), where no slice of a newer coded file
// can match: the headers' MD5 decides. A set of an earlier coding is
// refused; a one-slice set whose only slice is damaged still repairs. And
// a repair takes on at most 1024 slices, whatever the set holds.
TEST_F(Par2Interop, OneSliceSetsAndTheSolveCapAreKeptToTheirFile) {
    code(20000);
    ASSERT_EQ(par2({"create", "-q", "-b1", "-r100", "r.bin.archi"}, dir.path()), 0);
    std::string damaged = coded;
    flip(damaged, first_group + 2 * group + 10);
    store(damaged);
    RunResult r = repair();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(restored());

    code_again_beside_the_old_set(20000);
    r = repair();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("made for another file"), std::string::npos) << r.out;
    EXPECT_TRUE(restored());

    // 4117 slices of 4 bytes, 1112 recovery slices, 1100 slices damaged.
    for (const auto& name : set_files_in(dir.path())) fs::remove(dir / name);
    code(1);
    ASSERT_EQ(par2({"create", "-q", "-s4", "-r27", "r.bin.archi"}, dir.path()), 0);
    damaged = coded;
    flip(damaged, 100, 4400);
    store(damaged);
    r = repair();
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("1100 slices to rebuild, more than the 1024 a repair takes"), std::string::npos) << r.out;
    EXPECT_TRUE(read_file(dir / "r.bin.archi") == damaged);
}

#endif

}  // namespace
}  // namespace kestrav3::testing
