#include "fuzz_support.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shared/options.h"

namespace kestrav3::fuzzing {

namespace fs = std::filesystem;

namespace {

// The input lies in <private>/in/; <private> itself must hold nothing else,
// so a restored name that climbs out of in/ is caught.
struct Sandbox {
    fs::path root;
    Sandbox() {
        // A restore of a cut file grows to the size its header claims, up to
        // terabytes: the runs' files are capped, as a full disk would cap
        // them, and a write past the cap fails instead of ending the process.
        constexpr rlim_t most = rlim_t{256} << 20;
        const rlimit limit{most, most};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        std::string pattern = (fs::temp_directory_path() / "kestrav3-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        root = fs::path(pattern) / "in";
        fs::create_directories(root);
    }
};

Sandbox& sandbox() {
    static Sandbox box;
    return box;
}

}  // namespace

std::string stage_input(const std::uint8_t* data, std::size_t size) {
    runlevel = -1;
    win_progress_onoff = 0;
    const fs::path path = sandbox().root / "in.archi";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path.string();
}

void clean_up_after_run(bool restored) {
    Sandbox& box = sandbox();
    for (const auto& entry : fs::directory_iterator(box.root.parent_path()))
        if (entry.path() != box.root) {
            std::fprintf(stderr, "a file was created beside the coded file's folder: %s\n", entry.path().c_str());
            std::abort();
        }
    // A failed run leaves nothing; a restore that succeeded adds only the
    // restored file and its hash-error log. Anything more is a stray file.
    int others = 0;
    for (const auto& entry : fs::directory_iterator(box.root)) {
        const std::string name = entry.path().filename().string();
        const bool log = name.size() > 4 && name.compare(name.size() - 4, 4, ".err") == 0;
        if (name != "in.archi" && !(log && restored) && ++others > (restored ? 1 : 0)) {
            std::fprintf(stderr, "a stray file was left: %s\n", entry.path().c_str());
            std::abort();
        }
    }
    for (const auto& entry : fs::directory_iterator(box.root))
        if (entry.path().filename() != "in.archi") fs::remove_all(entry.path());
}

void expect_only_input() {
    Sandbox& box = sandbox();
    for (const auto& entry : fs::directory_iterator(box.root))
        if (entry.path().filename() != "in.archi") {
            std::fprintf(stderr, "a run that must write nothing wrote %s\n", entry.path().c_str());
            std::abort();
        }
    clean_up_after_run();
}

}  // namespace kestrav3::fuzzing
