#include "container/chunk_io.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "container/transform.h"
#include "interface/options.h"
#include "platform/platform.h"
#include "progress/progress.h"

namespace kestrav3 {

Stream::Stream(const char* path, const char* mode)
    : file_(std::fopen(path, (std::string(mode) + platform::private_stream_mode).c_str())) {}

Stream Stream::reader(const char* path, std::size_t input_buffer) {
    Stream in(path, "rb");
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

Stream Stream::writer(const char* path) {
    Stream out(path, "wb");
    if (out) std::setvbuf(out.file_, nullptr, _IONBF, 0);
    return out;
}

bool Stream::close() {
    if (file_ == nullptr) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

namespace {

// Interrupted or killed, a restore must not leave a truncated file that looks
// complete: the clean-up is armed before the file exists, so no signal can
// fall between its creation and the arming.
Stream create_armed(const std::string& path) {
    platform::remove_on_interrupt(path.c_str());
    Stream stream = Stream::writer(path.c_str());
    if (!stream) platform::keep_on_interrupt();
    return stream;
}

}  // namespace

PartialOutput::PartialOutput(std::string path)
    : path_(std::move(path)), stream_(create_armed(path_)), created_(static_cast<bool>(stream_)) {}

PartialOutput::~PartialOutput() {
    if (kept_ || !created_) return;
    stream_.close();
    std::remove(path_.c_str());
    platform::keep_on_interrupt();
}

bool PartialOutput::keep() {
    platform::keep_on_interrupt();
    if (!stream_.close()) return false;
    kept_ = true;
    return true;
}

int check_key(const char* key) {
    const std::size_t length = std::strlen(key);
    if (length > 40) return ERR_KEY_TOO_LONG;
    if (length <= 3) return ERR_KEY_TOO_SHORT;
    return 0;
}

bool holds_first_header(const char* path) {
    const platform::PathInfo info = platform::path_info(path);
    return info.kind == platform::PathKind::regular && info.size >= 2 * BLOCK_SIZE;
}

int code_chunk(std::uint8_t* data, int n, bool dense) {
    if (!dense || code_block(data, n) == -1) code_block_fast(data, n);
    return permut(data, n) < 0 ? ERR_NOMEM : 0;
}

int write_chunk(std::FILE* out, const std::uint8_t* data, int n) {
    const auto size = static_cast<std::size_t>(n);
    const platform::WritePiece pieces[] = {{vizard.data(), size}, {data, size}};
    return platform::write_gathered(out, pieces, 2) ? 0 : ERR_IO_STOPPED;
}

int read_chunk(std::FILE* in, std::uint8_t* data, int n, int error_result, int short_read_result) {
    const auto wanted = static_cast<std::size_t>(n);
    const std::size_t noise = std::fread(vizard.data(), 1, wanted, in);
    const std::size_t bytes = noise == wanted ? std::fread(data, 1, wanted, in) : 0;
    if (std::ferror(in)) return error_result;
    if (bytes != wanted) return short_read_result;
    swap_and_decode(data, n);
    return 0;
}

void ProgressSteps::open_window(bool wanted) { window_ = wanted && open_win_progress_bar() == 1; }

void ProgressSteps::block_done(long long i) {
    const auto percent = static_cast<int>((i + 1) * 100 / nblocks_);
    if (percent <= shown_) return;
    progress_bar(percent);
    ++shown_;
    if (window_) shmem_sender_gprg(percent);
}

void ProgressSteps::close_window() {
    if (window_) close_win_progress_bar();
    window_ = false;
}

namespace {

std::size_t after_last_separator(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (platform::is_separator(path[i - 1])) return i;
    return 0;
}

}  // namespace

std::string_view directory_part(std::string_view path) { return path.substr(0, after_last_separator(path)); }

std::string_view base_name(std::string_view path) { return path.substr(after_last_separator(path)); }

}  // namespace kestrav3
