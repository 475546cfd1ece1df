// What a run leaves to other users and to a crash: outputs private while
// written and given their final mode, owner, attributes and times; data on
// the device before a name; the window program only from beside the
// library, with a channel of the run's own; the .met companion read only
// when it is safe; keys the coder refuses.
#if !defined(_WIN32)  // POSIX only: modes, owners, signals, strace
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>

#include "cli_support.h"
#include "kestrav3lib.h"

namespace kestrav3::testing {
namespace {

struct stat status_of(const fs::path& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

unsigned mode_of(const fs::path& path) { return status_of(path).st_mode & 07777; }

void set_times(const fs::path& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::int64_t mtime_of(const fs::path& path) { return status_of(path).st_mtim.tv_sec; }

// The hidden file of a restore of name in dir, or an empty path.
fs::path hidden_file(const fs::path& dir, const std::string& name) {
    const std::string prefix = "." + name + ".";
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return entry.path();
    return {};
}

bool have(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " > /dev/null 2>&1").c_str()) == 0;
}

// Output and input modes -------------------------------------------------------

TEST(PrivateFiles, ARestoreOfAPrivateFileIsNeverReadableByOthers) {
    TempDir dir;
    write_file(dir / "secret.bin", pattern_bytes(48 * 1024 * 1024 + 7, 3));
    fs::permissions(dir / "secret.bin", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(run_cli({"-c", "secret.bin", "private key"}, dir.path()).status, 0);
    EXPECT_EQ(mode_of(dir / "secret.bin.archi"), 0600u) << "the coded file takes the plain file's mode";
    fs::remove(dir / "secret.bin");

    unsigned seen = 0;
    const RunResult r = run_cli_when_ready(
        {"-d", "secret.bin.archi", "private key"}, dir.path(),
        [&] {
            const fs::path hidden = hidden_file(dir.path(), "secret.bin");
            if (hidden.empty()) return false;
            seen = mode_of(hidden);
            return seen != 0;
        },
        [](int) {});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(seen, 0600u) << "the hidden file must be private while it is written";
    EXPECT_EQ(mode_of(dir / "secret.bin"), 0600u);
}

TEST(PrivateFiles, ModesAndTimesPassFromFileToFile) {
    TempDir dir;
    constexpr std::int64_t plain_time = 981173106;   // 2001-02-03
    constexpr std::int64_t coded_time = 1262304000;  // 2010-01-01
    write_file(dir / "m.bin", pattern_bytes(3 * 4096 + 5, 4));
    fs::permissions(dir / "m.bin", static_cast<fs::perms>(0640));
    set_times(dir / "m.bin", plain_time);
    ASSERT_EQ(run_cli({"-c", "m.bin", "mode key"}, dir.path()).status, 0);
    EXPECT_EQ(mode_of(dir / "m.bin.archi"), 0640u);
    EXPECT_EQ(mtime_of(dir / "m.bin.archi"), plain_time);

    // A new restored file: the coded file's mode and times.
    fs::rename(dir / "m.bin", dir / "m.orig");
    fs::permissions(dir / "m.bin.archi", static_cast<fs::perms>(0604));
    set_times(dir / "m.bin.archi", coded_time);
    ASSERT_EQ(run_cli({"-d", "m.bin.archi", "mode key"}, dir.path()).status, 0);
    EXPECT_EQ(mode_of(dir / "m.bin"), 0604u);
    EXPECT_EQ(mtime_of(dir / "m.bin"), coded_time);

    // Over an existing file: that file's permission bits, never its set-id bits.
    fs::permissions(dir / "m.bin", static_cast<fs::perms>(04751));
    ASSERT_EQ(run_cli({"-d", "m.bin.archi", "mode key"}, dir.path()).status, 0);
    EXPECT_EQ(mode_of(dir / "m.bin"), 0751u);
    EXPECT_TRUE(same_contents(dir / "m.bin", dir / "m.orig"));
}

TEST(PrivateFiles, ARestoreAsRootKeepsTheOwnerOfTheFileItReplaces) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    TempDir dir;
    write_file(dir / "o.bin", pattern_bytes(2 * 4096 + 9, 5));
    ASSERT_EQ(run_cli({"-c", "o.bin", "owner key"}, dir.path()).status, 0);
    write_file(dir / "o.bin", "the other user's old version");
    ASSERT_EQ(chown((dir / "o.bin").c_str(), 12345, 23456), 0);
    fs::permissions(dir / "o.bin", static_cast<fs::perms>(0640));
    ASSERT_EQ(run_cli({"-d", "o.bin.archi", "owner key"}, dir.path()).status, 0);
    const struct stat st = status_of(dir / "o.bin");
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

std::string attribute(const fs::path& path, const char* name) {
    char value[256];
    const ssize_t n = lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, static_cast<std::size_t>(n));
}

TEST(PrivateFiles, ARestoreKeepsTheExtendedAttributesAndTheAccessList) {
    TempDir dir;
    write_file(dir / "x.bin", pattern_bytes(4096 + 1, 6));
    ASSERT_EQ(run_cli({"-c", "x.bin", "attr key"}, dir.path()).status, 0);
    if (lsetxattr((dir / "x.bin").c_str(), "user.origin", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system holds no user attributes";
    const bool with_acl =
        have("setfacl") && std::system(("setfacl -m u:12345:rw,m::r " + (dir / "x.bin").string()).c_str()) == 0;
    const std::string acl = attribute(dir / "x.bin", "system.posix_acl_access");
    const unsigned mode = mode_of(dir / "x.bin");
    ASSERT_EQ(run_cli({"-d", "x.bin.archi", "attr key"}, dir.path()).status, 0);
    EXPECT_EQ(attribute(dir / "x.bin", "user.origin"), "kept");
    if (with_acl) {
        EXPECT_NE(acl, "<none>");
        EXPECT_EQ(attribute(dir / "x.bin", "system.posix_acl_access"), acl);
        // The mask stays the mask: group access is no wider than it was.
        EXPECT_EQ(mode_of(dir / "x.bin"), mode);
    }
}

TEST(PrivateFiles, FileCapabilitiesStayWithTheOldContents) {
    if (geteuid() != 0) GTEST_SKIP() << "setting file capabilities needs root";
    TempDir dir;
    write_file(dir / "cap.bin", pattern_bytes(4096 + 2, 12));
    ASSERT_EQ(run_cli({"-c", "cap.bin", "caps key"}, dir.path()).status, 0);
    // Version 2 capabilities, effective, permitting cap_net_raw (13).
    const std::uint32_t capability[5] = {0x02000001, 1u << 13, 0, 0, 0};
    if (lsetxattr((dir / "cap.bin").c_str(), "security.capability", capability, sizeof capability, 0) != 0)
        GTEST_SKIP() << "this file system holds no file capabilities";
    ASSERT_EQ(run_cli({"-d", "cap.bin.archi", "caps key"}, dir.path()).status, 0);
    EXPECT_EQ(attribute(dir / "cap.bin", "security.capability"), "<none>");
}

// Durability -----------------------------------------------------------------------

// The traced calls of one run, one per line, with the paths of descriptors.
std::vector<std::string> traced(const std::vector<std::string>& args, const fs::path& dir) {
    std::vector<std::string> command = {"strace",
                                        "-f",
                                        "-y",
                                        "-o",
                                        (dir / "trace.txt").string(),
                                        "-e",
                                        "trace=fsync,fdatasync,rename,renameat,renameat2",
                                        KESTRAV3_CLI};
    command.insert(command.end(), args.begin(), args.end());
    // LeakSanitizer cannot run under a tracer; the sanitized build's leak
    // check is left to the untraced tests.
    std::string line = "cd '" + dir.string() + "' && ASAN_OPTIONS=detect_leaks=0 ";
    for (const auto& word : command) line += "'" + word + "' ";
    EXPECT_EQ(std::system((line + "> /dev/null 2>&1").c_str()), 0) << line;
    std::istringstream in(read_file(dir / "trace.txt"));
    std::vector<std::string> calls;
    for (std::string call; std::getline(in, call);)
        if (call.find("+++") == std::string::npos) calls.push_back(call);
    fs::remove(dir / "trace.txt");
    return calls;
}

// The index of the first call that holds every piece, or -1.
int find_call(const std::vector<std::string>& calls, const std::vector<std::string>& pieces) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        bool all = true;
        for (const auto& piece : pieces) all = all && calls[i].find(piece) != std::string::npos;
        if (all) return static_cast<int>(i);
    }
    return -1;
}

TEST(Durability, DataIsFlushedBeforeTheRenameAndTheFolderAfterIt) {
    if (!have("strace")) GTEST_SKIP() << "strace is not installed (scripts/install-deps.sh installs it)";
    TempDir dir;
    const std::string folder = fs::canonical(dir.path()).string();
    write_file(dir / "d.bin", pattern_bytes(300 * 1024 + 11, 7));
    std::vector<std::string> calls = traced({"-c", "d.bin", "durable key"}, dir.path());
    // The coded file too is written under a hidden name and renamed.
    const int file_flushed = find_call(calls, {"sync(", "/.d.bin.archi."});
    const int coded_renamed = find_call(calls, {"rename", "\"d.bin.archi\""});
    const int folder_flushed = find_call(calls, {"fsync(", "<" + folder + ">"});
    EXPECT_GE(file_flushed, 0) << ::testing::PrintToString(calls);
    EXPECT_GT(coded_renamed, file_flushed) << ::testing::PrintToString(calls);
    EXPECT_GT(folder_flushed, coded_renamed) << ::testing::PrintToString(calls);

    fs::rename(dir / "d.bin", dir / "d.orig");
    calls = traced({"-d", "d.bin.archi", "durable key"}, dir.path());
    const int data_flushed = find_call(calls, {"sync(", "/.d.bin."});
    const int renamed = find_call(calls, {"rename", "\"d.bin\""});
    const int names_flushed = find_call(calls, {"fsync(", "<" + folder + ">"});
    EXPECT_GE(data_flushed, 0) << ::testing::PrintToString(calls);
    EXPECT_GT(renamed, data_flushed) << ::testing::PrintToString(calls);
    EXPECT_GT(names_flushed, renamed) << ::testing::PrintToString(calls);
    EXPECT_TRUE(same_contents(dir / "d.bin", dir / "d.orig"));
}

// The window program ---------------------------------------------------------------

// A folder holding a copy of the built library, and beside it a stand-in
// window program that records its argument, the mode of the block it is
// named, and that it ran.
class WindowProgram : public ::testing::Test {
protected:
    TempDir dir;
    TempDir library;

    void SetUp() override {
        fs::copy_file(KESTRAV3_LIBRARY, library / fs::path(KESTRAV3_LIBRARY).filename());
        install(library / "Kestrav_progress_bar.exe", library / "ran.txt");
        write_file(dir / "w.bin", pattern_bytes(8 * 1024 * 1024 + 3, 8));
    }
    static void install(const fs::path& program, const fs::path& record) {
        write_file(program, "#!/bin/sh\necho \"$1\" >> '" + record.string() + "'\nstat -c %a \"/dev/shm/$1\" >> '" +
                                record.string() + "'\n");
        fs::permissions(program, fs::perms::owner_all);
    }
    RunResult run(const std::vector<std::string>& args, const std::string& display) {
        return run_cli_with_environment(args, dir.path(),
                                        {"LD_LIBRARY_PATH=" + library.path().string(), "DISPLAY=" + display});
    }
};

TEST_F(WindowProgram, OnlyTheOneBesideTheLibraryRunsWithABlockOfItsOwn) {
    install(dir / "Kestrav_progress_bar.exe", dir / "planted.txt");
    ASSERT_EQ(run({"-cg", "w.bin", "window key"}, ":kestrav3-test").status, 0);
    EXPECT_FALSE(fs::exists(dir / "planted.txt")) << "a program in the current folder ran";
    std::istringstream seen(read_file(library / "ran.txt"));
    std::string name, mode;
    ASSERT_TRUE(std::getline(seen, name) && std::getline(seen, mode)) << "the installed program did not run";
    EXPECT_NE(name, "MyFileMappingObject") << "the block must have a name of the run's own";
    EXPECT_EQ(mode, "600");
    EXPECT_FALSE(fs::exists("/dev/shm/" + name)) << "the block outlived the run";

    fs::remove(library / "ran.txt");
    fs::rename(dir / "w.bin", dir / "w.orig");
    ASSERT_EQ(run({"-dg", "w.bin.archi", "window key"}, ":kestrav3-test").status, 0);
    EXPECT_FALSE(fs::exists(dir / "planted.txt"));
    std::istringstream again(read_file(library / "ran.txt"));
    std::string second;
    ASSERT_TRUE(std::getline(again, second));
    EXPECT_NE(second, name) << "each run names a fresh block";
}

TEST_F(WindowProgram, NothingStartsWithoutADisplay) {
    install(dir / "Kestrav_progress_bar.exe", dir / "planted.txt");
    ASSERT_EQ(run({"-cg", "w.bin", "window key"}, "").status, 0);
    EXPECT_FALSE(fs::exists(library / "ran.txt"));
    EXPECT_FALSE(fs::exists(dir / "planted.txt"));
}

TEST_F(WindowProgram, TheProgramIsStartedWithoutAShell) {
    if (!have("strace")) GTEST_SKIP() << "strace is not installed (scripts/install-deps.sh installs it)";
    const std::string trace = (dir / "exec.txt").string();
    const std::string command = "cd '" + dir.path().string() + "' && LD_LIBRARY_PATH='" + library.path().string() +
                                "' ASAN_OPTIONS=detect_leaks=0 DISPLAY=:kestrav3-test strace -f -e trace=execve -o '" +
                                trace + "' '" + KESTRAV3_CLI + "' -cg w.bin 'window key' > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string calls = read_file(trace);
    EXPECT_NE(calls.find("execve(\"" + (library / "Kestrav_progress_bar.exe").string() + "\""), std::string::npos)
        << calls;
    EXPECT_EQ(calls.find("\"-c\", \"Kestrav"), std::string::npos) << "started through a command interpreter: " << calls;
}

// Signals ------------------------------------------------------------------------

TEST(PromptSignals, EveryEndingSignalAtTheKeyPromptGivesTheEchoBack) {
    TempDir dir;
    write_file(dir / "p.bin", pattern_bytes(5000));
    for (const int sig : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU}) {
        const PromptSignalOutcome outcome = signal_at_prompt({"-c", "p.bin", "-"}, dir.path(), sig);
        ASSERT_TRUE(outcome.prompted) << "signal " << sig;
        EXPECT_FALSE(outcome.echo_at_prompt) << "signal " << sig;
        EXPECT_EQ(outcome.status, 128 + sig) << "signal " << sig;
        EXPECT_TRUE(outcome.echo_after) << "the terminal was left without echo by signal " << sig;
    }
}

// A process using the library keeps the handlers it set: only signals left to
// their default action are taken over while a hidden file exists.
volatile std::sig_atomic_t host_signals = 0;
extern "C" void count_host_signal(int) { host_signals = host_signals + 1; }

TEST(HostSignals, ARunLeavesTheCallersHandlersInPlace) {
    TempDir dir;
    write_file(dir / "h.bin", pattern_bytes(20000));
    struct sigaction host {
    }, before{}, after{};
    host.sa_handler = count_host_signal;
    sigemptyset(&host.sa_mask);
    for (const int sig : {SIGALRM, SIGUSR1, SIGPROF}) ASSERT_EQ(sigaction(sig, &host, &before), 0);
    ASSERT_EQ(kestrav3code((dir / "h.bin").string().c_str(), "host signal key", 0), 0);
    ASSERT_EQ(kestrav3decode((dir / "h.bin.archi").string().c_str(), "host signal key", 0), 0);
    host_signals = 0;
    for (const int sig : {SIGALRM, SIGUSR1, SIGPROF}) {
        ASSERT_EQ(sigaction(sig, nullptr, &after), 0);
        EXPECT_EQ(after.sa_handler, count_host_signal) << "signal " << sig;
        raise(sig);
    }
    EXPECT_EQ(host_signals, 3);
    // Back to the defaults for the tests that follow.
    for (const int sig : {SIGALRM, SIGUSR1, SIGPROF}) signal(sig, SIG_DFL);
}

// The .met companion -------------------------------------------------------------

class Companion : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override { write_file(dir / "c.bin", pattern_bytes(3000, 9)); }
    RunResult code() {
        fs::remove(dir / "c.bin.archi");
        return run_cli({"-c", "c.bin", "companion key"}, dir.path());
    }
    std::string described() { return run_cli({"-m", "c.bin.archi", "companion key"}, dir.path()).out; }
};

const std::string not_regular = "Note:    metadata file not read, it is not a regular file\nMeta:    0 chars\n";

TEST_F(Companion, AFifoOrADeviceIsNotReadAndSaysWhy) {
    ASSERT_EQ(mkfifo((dir / "c.bin.met").c_str(), 0600), 0);
    RunResult r = code();  // a FIFO nobody writes to would hold the run for ever
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(not_regular), std::string::npos) << r.out;
    fs::remove(dir / "c.bin.met");

    fs::create_symlink("/dev/zero", dir / "c.bin.met");
    r = code();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(not_regular), std::string::npos) << r.out;
}

TEST_F(Companion, ThroughALinkOnlyWhenLinkAndFileHaveOneOwner) {
    TempDir elsewhere;
    write_file(elsewhere / "notes.txt", "shared notes\n");
    fs::create_symlink(elsewhere / "notes.txt", dir / "c.bin.met");
    RunResult r = code();
    EXPECT_NE(r.out.find("\nMeta:    13 chars\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Note:"), std::string::npos) << r.out;
    EXPECT_NE(described().find("shared notes"), std::string::npos);

    if (geteuid() != 0) GTEST_SKIP() << "a link of another owner needs root to make";
    write_file(elsewhere / "root-only.txt", "root's secret\n");
    fs::permissions(elsewhere / "root-only.txt", fs::perms::owner_read);
    fs::remove(dir / "c.bin.met");
    fs::create_symlink(elsewhere / "root-only.txt", dir / "c.bin.met");
    ASSERT_EQ(lchown((dir / "c.bin.met").c_str(), 12345, 12345), 0);
    r = code();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(
        r.out.find("Note:    metadata file not read, it is a link to a file of another owner\nMeta:    0 chars\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(described().find("secret"), std::string::npos);
}

// Keys ------------------------------------------------------------------------------

TEST(CodingKeys, OnlyPrintableAsciiIsTakenForCoding) {
    TempDir dir;
    write_file(dir / "k.bin", pattern_bytes(5000, 10));
    for (const std::string& key :
         {std::string("caf\xc3\xa9 key"), std::string("tab\there"), std::string("bell\x07key")}) {
        const RunResult r = run_cli({"-c", "k.bin", key}, dir.path());
        EXPECT_EQ(r.status, 1) << key;
        EXPECT_EQ(r.out, " \n Password may hold only printable ascii chars [17]\n \n") << key;
        EXPECT_FALSE(fs::exists(dir / "k.bin.archi"));
    }
    // Readers take any key: a wrong one is a wrong key, not a refused one.
    ASSERT_EQ(run_cli({"-c", "k.bin", "plain key ~!"}, dir.path()).status, 0);
    const RunResult r = run_cli({"-m", "k.bin.archi", "caf\xc3\xa9 key"}, dir.path());
    EXPECT_EQ(r.out.find("[14]"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kestrav3::testing
#endif
