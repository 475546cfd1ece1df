// The files a run owns: open streams closed on every way out, and the
// output of a coding or a restore, written under a hidden name and renamed
// when complete.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "shared/run_settings.h"

namespace kestrav3 {

// One open stream, closed when the owner goes out of scope.
class Stream {
public:
    Stream(const char* path, const char* mode);
    // An input read front to back with a buffer of the given size. Reads of
    // at least the buffer's size go straight into the caller's memory,
    // without a copy through the buffer; with a size of 0 every read does,
    // in one call of the size asked for. The input a folder walk saw
    // (walked) is opened as that very file, never through a link put under
    // its name since.
    static Stream reader(const char* path, std::size_t buffer_size, const WalkedInput& walked = {});
    // Owns a stream opened elsewhere (by the platform layer); null is allowed.
    explicit Stream(std::FILE* file) : file_(file) {}
    Stream() : file_(nullptr) {}
    Stream(Stream&& other) noexcept : file_(other.file_), buffer_(std::move(other.buffer_)) { other.file_ = nullptr; }
    Stream& operator=(Stream&& other) noexcept {
        if (this != &other) {
            close();
            file_ = other.file_;
            buffer_ = std::move(other.buffer_);
            other.file_ = nullptr;
        }
        return *this;
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { close(); }

    explicit operator bool() const { return file_ != nullptr; }
    std::FILE* get() const { return file_; }
    // Closes now; false when the stream reported an error on closing.
    bool close();

private:
    std::FILE* file_;
    // The stdio buffer of a reader; it outlives the stream, which is closed first.
    std::unique_ptr<char[]> buffer_;
};

// The failure of a reader that did not open: ERR_READ, with the cause the
// reader gave or else the system's.
int reader_failed(const char* path);

// Gives a finished output its final metadata, taken from the file from as
// what asks, and waits until its data and metadata are on the device:
// 0, or ERR_IO_STOPPED when the device reports an error.
int seal_output(std::FILE* out, const char* from, platform::Takeover what);

// The output of a coding or a restore. It is written into a new hidden file
// beside its name, private to the owner (mode 0600) while written, and
// renamed over that name only once it is complete, sealed and on the device, so
// whatever had the name stays untouched unless the restore succeeds, and a
// link there is replaced, never written through. After the rename the
// folder is flushed, so the new name survives a crash. Unless kept, the
// hidden file is closed and removed on scope exit; an interrupt removes it
// too.
class PartialOutput {
public:
    explicit PartialOutput(std::string path);
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;
    ~PartialOutput();

    explicit operator bool() const { return static_cast<bool>(stream_); }
    std::FILE* get() const { return stream_.get(); }
    // The name it is written for.
    const std::string& path() const { return path_; }
    // Keeps the device writing behind the writes: called after each one.
    void wrote() { platform::pace_writeback(stream_.get(), pace_); }
    // Seals the finished file with the metadata of from (as what asks),
    // closes it, renames it over its name and flushes the folder: 0, or
    // ERR_IO_STOPPED when sealing, closing or the folder's flush failed,
    // ERR_READ when the rename did.
    int keep(const std::string& from, platform::Takeover what);
    // keep in two steps, for outputs that take their names together once
    // all are complete: seal (0 or ERR_IO_STOPPED) leaves the sealed file
    // under its hidden name, still removed unless named; name renames it
    // over its name and flushes the folder, as keep does.
    int seal(const std::string& from, platform::Takeover what);
    int name();
    // Like keep, but never replaces anything: under its name when that is
    // free, else under the first free one of its name + suffix, + suffix +
    // ".1", ".2" and on; path() then gives the name used.
    int keep_new(std::string_view suffix, const std::string& from, platform::Takeover what);

private:
    std::string path_;
    std::string temporary_;
    Stream stream_;
    platform::WritebackPace pace_;
    bool kept_ = false;
};

// Why path cannot be read as a file: when missing (a status call has just
// failed), the system's text; otherwise what the name is instead.
std::string not_a_file_cause(const char* path, bool missing);

// The hidden name a coding or a restore writes first: in the restored name's folder,
// a dot, the name (cut to leave room), a dot and six random letters or digits.
std::string temporary_name(std::string_view path, std::string_view suffix);

}  // namespace kestrav3
