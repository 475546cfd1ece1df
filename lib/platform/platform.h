// Everything the operating system or the processor provides. The rest of
// the library includes no system header; it asks these functions instead.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace kestrav3::platform {

// File system -----------------------------------------------------------------

enum class PathKind { missing, regular, other };

struct PathInfo {
    PathKind kind;
    std::int64_t size;  // bytes, for a regular file
};

PathInfo path_info(const char* path);

// One piece of a gathering write.
struct WritePiece {
    const void* data;
    std::size_t size;
};

// Hands the pieces, in order, to the system behind an unbuffered stream:
// one gathering call for a batch where the platform has one, so nothing is
// left waiting in a buffer. A call the system completes only in part is
// continued from the first byte it did not take. False when the system
// refuses the rest (full disk, size limit); everything it took before then
// is in the file, in order, and nothing after it.
bool write_gathered(std::FILE* out, const WritePiece* pieces, std::size_t count);

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

// File name the library looks for in the current folder, and the command it
// starts through the command interpreter.
extern const char* const progress_program_file;
extern const char* const progress_program_command;

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
