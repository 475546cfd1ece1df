// Everything the operating system or the processor provides. The rest of
// the library includes no system header; it asks these functions instead.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrav3::platform {

// File system -----------------------------------------------------------------

enum class PathKind { missing, regular, other };

struct PathInfo {
    PathKind kind;
    std::int64_t size;  // bytes, for a regular file
};

PathInfo path_info(const char* path);

// Hands n bytes to the system at once, through the descriptor of an
// unbuffered stream where the platform has one, so nothing is left waiting
// in a buffer; false when not all of them could be written.
bool write_through(std::FILE* out, const void* data, std::size_t n);

// True when c separates directories in a path on this platform.
bool is_separator(char c);

// True when both paths name the same existing file.
bool same_file(const char* a, const char* b);

// While set, an interrupt or termination signal removes this file (and the
// progress block, if open) before the process ends as the signal asks.
void remove_on_interrupt(const char* path);
void keep_on_interrupt();

// Clock and processor ---------------------------------------------------------

// The real-time clock; false when it cannot be read.
bool realtime_clock(std::int64_t* seconds, long* nanoseconds);

// CPUID: highest basic leaf at least 1 and leaf 1 ECX bit 30 (RDRAND) set.
bool cpu_has_rdrand();

// One RDRAND attempt; false when the instruction reported no value.
bool rdrand64(std::uint64_t* out);

// Shared memory and the progress window program --------------------------------

struct SharedBlock {
    void* handle = nullptr;          // mapping object (Windows)
    unsigned char* view = nullptr;   // the mapped bytes
    std::size_t size = 0;
    char name[64] = {};              // the name the block was opened under
};

// Creates (or opens) the named block of size bytes and maps it read-write.
bool shared_block_open(const char* name, std::size_t size, SharedBlock* block);
// Unmaps the view and releases the object (removing its name where the
// platform keeps one).
void shared_block_close(SharedBlock* block);

// The command that starts the progress window program through the command
// interpreter: the program in the current folder when there is one, else
// the one installed with kestrav3 (POSIX: the libexec folder that belongs
// to the library's folder; Windows: the program's own folder). Empty when
// neither exists.
std::string progress_program_command();

// Starts command with its standard output on a pipe the caller holds.
std::FILE* child_open(const char* command);
// Closes the pipe and waits for the child to end.
int child_close(std::FILE* pipe);

}  // namespace kestrav3::platform

namespace kestrav3::platform {

// Appended to every fopen mode: streams the library opens are not inherited
// by the progress window program it starts.
#if defined(_WIN32)
inline constexpr const char* private_stream_mode = "N";
#else
inline constexpr const char* private_stream_mode = "e";
#endif

// Names and metadata arrive in the platform's native text: UTF-8 on POSIX,
// Windows-1250 on Windows.
#if defined(_WIN32)
inline constexpr bool native_text_is_utf8 = false;
#else
inline constexpr bool native_text_is_utf8 = true;
#endif

}  // namespace kestrav3::platform
