// Everything the operating system or the processor provides. The rest of
// the library includes no system header; it asks these functions instead.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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

// True when this platform's file system can hold name as one file name in a
// folder: no separator, and on Windows none of  < > : " | ? * , no dot or
// space at the end, and no device name (CON, NUL, COM1, ...).
bool holdable_name(std::string_view name);

// True when both paths name the same existing file.
bool same_file(const char* a, const char* b);

// What a name itself is, without following a link at it.
enum class EntryKind { missing, link, directory, file };
EntryKind entry_kind(const char* path);

// True when name is no link, is the file that file names (a link there
// followed), and is that file's only name: removing it would lose the file.
bool only_name_of(const char* name, const char* file);

// Removes the name; a link is removed, never its target.
bool remove_entry(const char* path);

// Creates path as a new file for writing, unbuffered: fails when anything,
// a link included, already has the name. No link is ever followed.
std::FILE* create_new(const char* path);

// Like create_new, for a hidden temporary file that an interrupt or
// termination signal removes (with the progress block, if open) before the
// process ends as the signal asks, until keep_on_interrupt. Creating and
// arming are one step: no signal finds the file created but not armed, nor
// armed with a name this call did not create.
std::FILE* create_temporary(const char* path);
void keep_on_interrupt();

// Gives the finished temporary file what the name it replaces had: the
// permission bits of a file there (a link there is not followed).
void take_over_permissions(std::FILE* temporary, const char* name);

// Renames from to to in one step, replacing whatever to names (a link
// itself, not its target); a reader of to sees the old file or the new one.
bool replace_name(const char* from, const char* to);

// Opens path for appending text, creating it when missing; fails rather
// than follow a link at the name.
std::FILE* open_append_no_link(const char* path);

// Moves a stream to offset bytes from the start, with 64-bit offsets on
// every platform.
bool seek_to(std::FILE* file, std::int64_t offset);

// The names in a folder (empty text: the current folder), without "." and
// "..", in no particular order; none when it cannot be read.
std::vector<std::string> folder_names(const std::string& folder);

// Text ------------------------------------------------------------------------

// The Unicode code point of a Windows-1250 byte, by the system's own mapping
// of that code page; 0 for a byte the code page leaves undefined (81, 83,
// 88, 90, 98) or when the mapping cannot be had. ASCII bytes are their own
// code points.
std::uint32_t cp1250_code_point(unsigned char byte);

// Clock and processor ---------------------------------------------------------

// The real-time clock; false when it cannot be read.
bool realtime_clock(std::int64_t* seconds, long* nanoseconds);

// CPUID: highest basic leaf at least 1 and leaf 1 ECX bit 30 (RDRAND) set.
bool cpu_has_rdrand();

// One RDRAND attempt; false when the instruction reported no value.
bool rdrand64(std::uint64_t* out);

// The vector features the accelerated paths use, read from the processor
// once; all false on processors other than x86-64.
struct CpuFeatures {
    bool ssse3 = false;
    bool avx2 = false;
    bool avx512f = false;
    bool avx512dq = false;
    bool avx512vl = false;
    bool avx512bw = false;
    bool avx512ifma = false;
    bool avx512vbmi2 = false;
    bool bmi2 = false;
    bool popcnt = false;
    bool gfni = false;
    bool pclmul = false;
};
const CpuFeatures& cpu_features();

// C library ---------------------------------------------------------------------

// Whether the C library is glibc, whose srand and rand the noise seeding
// can form directly.
bool c_library_is_glibc();

// Shared memory and the progress window program --------------------------------

struct SharedBlock {
    void* handle = nullptr;         // mapping object (Windows)
    unsigned char* view = nullptr;  // the mapped bytes
    std::size_t size = 0;
    char name[64] = {};  // the name the block was opened under
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
