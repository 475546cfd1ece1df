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

// What a file's contents are known by at one moment (a link at the name
// followed): its size, its modification time and which file it is. A
// change in any of them while the file is read means it was written to or
// replaced meanwhile.
struct FileStamp {
    bool known = false;
    std::int64_t size = 0;
    std::int64_t modified = 0;   // in the platform's finest unit
    std::uint64_t device = 0;    // the file system (POSIX) or volume (Windows)
    std::uint64_t identity = 0;  // the inode (POSIX) or file index (Windows)
};
FileStamp file_stamp(const char* path);
inline bool same_stamp(const FileStamp& a, const FileStamp& b) {
    return a.known && b.known && a.size == b.size && a.modified == b.modified && a.device == b.device &&
           a.identity == b.identity;
}

// The system's text for the error of the call that failed last (errno; on
// Windows the system's own last error where the C library left none).
std::string last_error_text();
// Forgets the last error, so that last_error_text tells only of what
// fails after this.
void clear_last_error();

// True when a and b name the same entry of one folder: the same bytes, and
// on Windows, whose names are blind to case, also ASCII letters of either case.
bool same_entry_name(std::string_view a, std::string_view b);

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
// a link included, already has the name. No link is ever followed. The file
// is private (POSIX mode 0600) while it is written; it gets its final mode
// from take_over_metadata.
std::FILE* create_new(const char* path);

// Like create_new, for a hidden temporary file that an interrupt or
// termination signal removes (with the progress block, if open) before the
// process ends as the signal asks, until keep_on_interrupt. Creating and
// arming are one step: no signal finds the file created but not armed, nor
// armed with a name this call did not create.
std::FILE* create_temporary(const char* path);
void keep_on_interrupt();

// What a finished file takes over from another file before it gets its
// name. Only the permission bits pass, never set-user or set-group bits.
struct Takeover {
    bool mode;        // permission bits
    bool times;       // modification and access time
    bool owner;       // owner and group, as far as the process may set them
    bool attributes;  // extended attributes, the access control list among them
};
// A coded file, from its plain input.
inline constexpr Takeover coded_from_input{true, true, false, false};
// A restored file, from the file whose name it replaces.
inline constexpr Takeover restored_over_file{true, false, true, true};
// A restored file under a new name, from its coded file.
inline constexpr Takeover restored_from_coded{true, true, false, false};
// A recovery file, from the coded file it protects: private when that is.
inline constexpr Takeover set_from_coded{true, false, false, false};
// A repaired coded file, from the damaged one it replaces: the same bytes
// as before the damage, so everything but the bytes stays.
inline constexpr Takeover repaired_over_coded{true, true, true, true};

// Gives the open file what from (a regular file; a link there is not
// followed) has, as what asks. False when from is no regular file; a part
// the system refuses (an owner a user may not give, an attribute of a
// namespace it may not write) is left as it was.
bool take_over_metadata(std::FILE* file, const char* from, Takeover what);

// How far the device has got with a file written front to back.
struct WritebackPace {
    std::int64_t started = 0;   // its writeback is started for the bytes before this
    std::int64_t previous = 0;  // where the window started last begins
    std::int64_t settled = 0;   // the bytes before this are on the device
};

// Called after each write to out: once a window of bytes (16 MiB) has been
// written since the last start, starts the device writing them without
// waiting, and waits until the window before the previous one is on the
// device. The device so stays busy while the next bytes are made, in large
// requests, with at most three windows of dirty pages, and a later
// flush_file waits only for the tail (Linux; elsewhere nothing, and the
// final flush writes everything).
void pace_writeback(std::FILE* out, WritebackPace& pace);

// Makes the file size bytes long, the bytes past what was written zeros
// (which the file system need not store); false when it refuses.
bool extend_with_zeros(std::FILE* file, std::int64_t size);

// Waits until everything written to file, and its metadata, is on the
// device; false when the device reports an error.
bool flush_file(std::FILE* file);

// Makes the entries of the folder that holds path durable: a rename or a
// creation there survives a crash once this returns (POSIX; on Windows the
// file system journals its names and nothing is needed).
bool flush_folder_of(const char* path);

// Renames from to to in one step, replacing whatever to names (a link
// itself, not its target); a reader of to sees the old file or the new one.
bool replace_name(const char* from, const char* to);

// Renames from to to, never replacing anything: taken when to already
// names an entry (a link included), failed for any other refusal.
enum class NewName { renamed, taken, failed };
NewName rename_to_new(const char* from, const char* to);

// Opens path for reading without following a link at the name, and only
// when it is the file of this device and identity (inode on POSIX, volume
// serial and file index on Windows). Null otherwise; swapped is set when a
// link or another file now has the name.
std::FILE* open_input_as_walked(const char* path, std::uint64_t device, std::uint64_t identity, bool& swapped);

// Opens path for appending text, creating it when missing; fails rather
// than follow a link at the name.
std::FILE* open_append_no_link(const char* path);

// Why a companion text file was not opened.
enum class CompanionRefusal { none, missing, not_regular, foreign_link };

// Opens path for reading text when it is a regular file, without blocking
// on a FIFO or a device. Through a symbolic link only when the link and its
// target have the same owner (POSIX), so that nobody's link makes the run
// read a file of another user. Null with the reason otherwise; missing also
// stands for a file that cannot be opened.
std::FILE* open_companion(const char* path, CompanionRefusal& refusal);

// Flushes the file at path to the device, and on POSIX the folder that holds
// its name too, so the file and its name survive a crash. False when either
// flush fails. A link at path is not followed.
bool flush_to_device(const char* path);
// Moves a stream to offset bytes from the start, with 64-bit offsets on
// every platform.
bool seek_to(std::FILE* file, std::int64_t offset);

// The names in a folder (empty text: the current folder), without "." and
// "..", in no particular order; none when it cannot be read.
std::vector<std::string> folder_names(const std::string& folder);

// Terminal --------------------------------------------------------------------

// True when standard output is a terminal (a console on Windows): what the
// library prints there shows stored names and metadata escaped.
bool output_is_terminal();

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

// Creates the block of size bytes and maps it read-write. Windows: the
// mapping object named name, in the session's namespace (an existing one
// is opened). POSIX: a new object private to this user (mode 0600) under a
// fresh name that starts with name, created exclusively, so no other
// process holds or shares it. block->name holds the name to pass to the
// window program.
bool shared_block_open(const char* name, std::size_t size, SharedBlock* block);
// Unmaps the view and releases the object (removing its name where the
// platform keeps one).
void shared_block_close(SharedBlock* block);

// The progress window program to start, or empty when there is none or no
// window can be shown (POSIX: no DISPLAY). POSIX: only the one installed
// with the library: in the library's own folder (the build tree) or in the
// libexec folder that belongs to it (an install); never the current
// folder's. Windows: the one in the program's own folder, else the one in
// the current folder.
std::string progress_program_path();

// Starts program directly, without a command interpreter, with argument as
// its one argument, its standard input on the null device and its standard
// output on a pipe the caller holds. Null when it cannot be started.
std::FILE* child_open(const std::string& program, const char* argument);
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
