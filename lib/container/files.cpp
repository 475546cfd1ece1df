#include "container/files.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "container/names.h"
#include "platform/platform.h"
#include "shared/failure.h"
#include "shared/results.h"

namespace kestrav3 {

Stream::Stream(const char* path, const char* mode)
    : file_(std::fopen(path, (std::string(mode) + platform::private_stream_mode).c_str())) {}

Stream Stream::reader(const char* path, std::size_t input_buffer, const WalkedInput& walked) {
    bool swapped = false;
    Stream in = walked.inode != 0 && walked.path == path
                    ? Stream(platform::open_input_as_walked(path, walked.device, walked.inode, swapped))
                    : Stream(path, "rb");
    if (swapped) fail(ERR_READ, path, "was replaced (by a link or another file) since the folder was walked");
    if (!in) return in;
    if (input_buffer == 0) {
        std::setvbuf(in.file_, nullptr, _IONBF, 0);
        return in;
    }
    // The C library may ignore the size unless it is given the buffer too.
    in.buffer_.reset(new (std::nothrow) char[input_buffer]);
    if (in.buffer_ && std::setvbuf(in.file_, in.buffer_.get(), _IOFBF, input_buffer) != 0) in.buffer_.reset();
    return in;
}

int reader_failed(const char* path) {
    return failure_detail.file == path ? ERR_READ : fail(ERR_READ, path, platform::last_error_text());
}

bool Stream::close() {
    if (file_ == nullptr) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

std::string not_a_file_cause(const char* path, bool missing) {
    if (missing) return platform::last_error_text();
    return platform::entry_kind(path) == platform::EntryKind::directory ? "is a folder" : "is not a regular file";
}

// Room left in a 255-byte name for the dot, a second dot and the six letters.
constexpr std::size_t temporary_stem = 240;

std::string temporary_name(std::string_view path, std::string_view suffix) {
    std::string_view stem = base_name(path);
    if (stem.size() > temporary_stem) {
        // Not inside a UTF-8 sequence: back to the byte that starts one.
        std::size_t cut = temporary_stem;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem = stem.substr(0, cut);
    }
    std::string name(directory_part(path));
    name.append(".").append(stem).append(".").append(suffix);
    return name;
}

namespace {

constexpr int temporary_attempts = 16;

// Six letters or digits, different between runs and processes: the clock,
// a counter, and addresses that differ between processes.
std::string random_suffix() {
    static std::uint64_t counter = 0;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    platform::realtime_clock(&seconds, &nanoseconds);
    const int local = 0;
    std::uint64_t x = (static_cast<std::uint64_t>(seconds) << 30) ^ static_cast<std::uint64_t>(nanoseconds) ^
                      (++counter * 0x9E3779B97F4A7C15ULL) ^ reinterpret_cast<std::uintptr_t>(&local) ^
                      (reinterpret_cast<std::uintptr_t>(&counter) << 17);
    // splitmix64's finaliser spreads every input bit over the output.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    // Lower case only: the name stays unique on a case-blind file system.
    constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, '0');
    for (auto& c : suffix) {
        c = alphabet[x % alphabet.size()];
        x /= alphabet.size();
    }
    return suffix;
}

// The clean-up is armed as the file is created, so no signal can fall
// between its creation and the arming. A name that is taken (another run's
// hidden file) is passed over for a fresh one. name is left empty when no
// file could be created.
std::FILE* create_hidden_beside(const std::string& path, std::string& name) {
    for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
        std::string candidate = temporary_name(path, random_suffix());
        if (std::FILE* file = platform::create_temporary(candidate.c_str())) {
            name = std::move(candidate);
            return file;
        }
    }
    return nullptr;
}

}  // namespace

PartialOutput::PartialOutput(std::string path)
    : path_(std::move(path)), stream_(create_hidden_beside(path_, temporary_)) {}

PartialOutput::~PartialOutput() {
    if (kept_ || temporary_.empty()) return;
    stream_.close();
    platform::remove_entry(temporary_.c_str());
    platform::keep_on_interrupt();
}

int seal_output(std::FILE* out, const char* from, platform::Takeover what) {
    platform::take_over_metadata(out, from, what);
    return platform::flush_file(out) ? 0 : ERR_IO_STOPPED;
}

int finish_output(Stream& out, const std::string& path, const char* from, platform::Takeover what) {
    if (seal_output(out.get(), from, what) != 0 || !out.close()) return ERR_IO_STOPPED;
    return platform::flush_folder_of(path.c_str()) ? 0 : ERR_IO_STOPPED;
}

int PartialOutput::keep(const std::string& from, platform::Takeover what) {
    const int result = seal(from, what);
    return result != 0 ? result : name();
}

// Data and metadata reach the device before the name does: a crash leaves
// the old file or the complete new one, never an empty one.
int PartialOutput::seal(const std::string& from, platform::Takeover what) {
    return seal_output(stream_.get(), from.c_str(), what) != 0 || !stream_.close() ? ERR_IO_STOPPED : 0;
}

int PartialOutput::name() {
    if (!platform::replace_name(temporary_.c_str(), path_.c_str())) return ERR_READ;
    // Disarmed only now: an interrupt before the rename still removes the
    // hidden file; after it the name is gone and nothing is removed.
    platform::keep_on_interrupt();
    kept_ = true;
    return platform::flush_folder_of(path_.c_str()) ? 0 : ERR_IO_STOPPED;
}

int PartialOutput::keep_new(std::string_view suffix, const std::string& from, platform::Takeover what) {
    if (seal_output(stream_.get(), from.c_str(), what) != 0 || !stream_.close()) return ERR_IO_STOPPED;
    constexpr int names_tried = 1000;
    const std::string base = path_;
    platform::NewName renamed = platform::NewName::taken;
    for (int n = 0; n < names_tried && renamed == platform::NewName::taken; ++n) {
        path_ = n == 0 ? base : base + std::string(suffix) + (n == 1 ? "" : "." + std::to_string(n - 1));
        renamed = platform::rename_to_new(temporary_.c_str(), path_.c_str());
    }
    if (renamed != platform::NewName::renamed) return ERR_READ;
    platform::keep_on_interrupt();
    kept_ = true;
    return platform::flush_folder_of(path_.c_str()) ? 0 : ERR_IO_STOPPED;
}

}  // namespace kestrav3
