// Windows side of the platform seam.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace kestrav3::platform {

PathInfo path_info(const char* path) {
    struct _stat64 st {};
    if (_stat64(path, &st) != 0) return {PathKind::missing, 0};
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return {PathKind::other, 0};
    return {PathKind::regular, static_cast<std::int64_t>(st.st_size)};
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

namespace {

// Volume serial number and file index: the identity of an open file.
bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    // Folders open only with backup semantics; no access right is needed
    // to read the identity.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, info);
    CloseHandle(h);
    return ok != 0;
}

}  // namespace

bool same_file(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION ia {}, ib {};
    if (!file_identity(a, &ia) || !file_identity(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

namespace {

// Filled before the handler is installed, read only by it (on the thread
// the console starts for the event).
char interrupted_output[4096];
volatile LONG output_armed = 0;
bool handler_installed = false;
HANDLE main_thread = nullptr;

// The runtime opens files without delete sharing, so the output cannot be
// removed while its stream is open. With the working thread stopped, the
// system handle behind the output's descriptor is closed; the process then
// ends at once, without the runtime's exit work (which could wait for a
// lock the stopped thread holds).
void close_descriptors_of(const char* path) {
    BY_HANDLE_FILE_INFORMATION target {};
    if (!file_identity(path, &target)) return;
    for (int fd = 3; fd < 2048; ++fd) {
        const intptr_t os = _get_osfhandle(fd);
        if (os == -1 || os == -2) continue;
        BY_HANDLE_FILE_INFORMATION info {};
        const HANDLE h = reinterpret_cast<HANDLE>(os);
        if (GetFileInformationByHandle(h, &info) && info.dwVolumeSerialNumber == target.dwVolumeSerialNumber &&
            info.nFileIndexHigh == target.nFileIndexHigh && info.nFileIndexLow == target.nFileIndexLow)
            CloseHandle(h);
    }
}

BOOL WINAPI remove_and_end(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    if (output_armed == 0) return FALSE;  // the default handler ends the process
    if (main_thread != nullptr) SuspendThread(main_thread);
    close_descriptors_of(interrupted_output);
    DeleteFileA(interrupted_output);
    // The status the default handler gives an interrupted console program.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void remove_on_interrupt(const char* path) {
    output_armed = 0;
    if (std::snprintf(interrupted_output, sizeof interrupted_output, "%s", path) >=
        static_cast<int>(sizeof interrupted_output))
        return;
    if (main_thread == nullptr)
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                        THREAD_SUSPEND_RESUME, FALSE, 0);
    output_armed = 1;
    if (!handler_installed) handler_installed = SetConsoleCtrlHandler(remove_and_end, TRUE) != 0;
}

void keep_on_interrupt() { output_armed = 0; }

bool realtime_clock(std::int64_t* seconds, long* nanoseconds) {
    // 100-nanosecond intervals since 1601-01-01, moved to the Unix epoch.
    constexpr std::uint64_t unix_epoch = 116444736000000000ULL;
    FILETIME ft {};
    GetSystemTimePreciseAsFileTime(&ft);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    if (ticks < unix_epoch) return false;
    const std::uint64_t since = ticks - unix_epoch;
    *seconds = static_cast<std::int64_t>(since / 10000000ULL);
    *nanoseconds = static_cast<long>((since % 10000000ULL) * 100);
    return true;
}

bool shared_block_open(const char* name, std::size_t size, SharedBlock* block) {
    // Backed by the paging file; an existing object of the name is opened.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name);
    if (mapping == nullptr) return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (view == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    block->handle = mapping;
    block->view = static_cast<unsigned char*>(view);
    block->size = size;
    std::snprintf(block->name, sizeof block->name, "%s", name);
    return true;
}

void shared_block_close(SharedBlock* block) {
    if (block->view != nullptr) UnmapViewOfFile(block->view);
    if (block->handle != nullptr) CloseHandle(static_cast<HANDLE>(block->handle));
    *block = SharedBlock{};
}

const char* const progress_program_file = "Kestrav_progress_bar.exe";
const char* const progress_program_command = "Kestrav_progress_bar.exe";

namespace {

// WriteFile takes one buffer: a batch's pieces are gathered here first, so
// that the batch still costs one call. The largest batch fits whole.
constexpr std::size_t gather_size = 256 * 1024;
unsigned char gathered[gather_size];

// Writes n bytes, continuing a call the system completes only in part.
bool write_all(HANDLE file, const unsigned char* bytes, std::size_t n) {
    while (n > 0) {
        DWORD done = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(n), &done, nullptr) || done == 0) return false;
        bytes += done;
        n -= done;
    }
    return true;
}

}  // namespace

bool write_gathered(std::FILE* out, const WritePiece* pieces, std::size_t count) {
    // The stream is unbuffered, so nothing of it waits in the runtime.
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    if (file == INVALID_HANDLE_VALUE) return false;
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto* bytes = static_cast<const unsigned char*>(pieces[i].data);
        std::size_t left = pieces[i].size;
        while (left > 0) {
            if (used == gather_size) {
                if (!write_all(file, gathered, used)) return false;
                used = 0;
            }
            const std::size_t part = left < gather_size - used ? left : gather_size - used;
            std::memcpy(gathered + used, bytes, part);
            used += part;
            bytes += part;
            left -= part;
        }
    }
    return write_all(file, gathered, used);
}

std::FILE* child_open(const char* command) {
    std::fflush(stdout);  // the child must not inherit unwritten console text
    return _popen(command, "r");
}

int child_close(std::FILE* pipe) { return _pclose(pipe); }

}  // namespace kestrav3::platform
