// Windows side of the platform seam.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <string>

namespace kestrav3::platform {

PathInfo path_info(const char* path) {
    struct _stat64 st {};
    if (_stat64(path, &st) != 0) return {PathKind::missing, 0};
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return {PathKind::other, 0};
    return {PathKind::regular, static_cast<std::int64_t>(st.st_size)};
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool output_is_terminal() { return _isatty(1) != 0; }

namespace {
bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info);
}  // namespace

FileStamp file_stamp(const char* path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file_identity(path, &info)) return {};
    FileStamp stamp;
    stamp.known = true;
    stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    stamp.modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                               info.ftLastWriteTime.dwLowDateTime);
    stamp.device = info.dwVolumeSerialNumber;
    stamp.identity = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return stamp;
}

std::string last_error_text() {
    if (errno != 0) return std::strerror(errno);
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string out(text, length);
    // The system's texts end in a full stop and a line break.
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(code) : out;
}

void clear_last_error() {
    errno = 0;
    SetLastError(0);
}

bool same_entry_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

std::uint32_t cp1250_code_point(unsigned char byte) {
    if (byte < 0x80) return byte;
    const char in = static_cast<char>(byte);
    wchar_t out[2] = {};
    if (MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &in, 1, out, 2) != 1) return 0;
    // Windows maps the bytes that code page 1250 leaves undefined to the C1
    // control characters of the same value; they are no characters of it.
    const std::uint32_t point = static_cast<std::uint16_t>(out[0]);
    return point >= 0x80 && point <= 0x9F ? 0 : point;
}

namespace {

// Names Windows gives to devices, in any case, with or without an extension.
bool device_name(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    for (auto& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

}  // namespace

bool holdable_name(std::string_view name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    if (name.find_first_of("\\/:<>\"|?*") != std::string_view::npos) return false;
    return !device_name(name);
}

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

// The identity of the name itself: a link is opened, not its target.
bool entry_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, info);
    CloseHandle(h);
    return ok != 0;
}

// One file: the same volume and the same file index on it.
bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// A stream over a handle this library created; the handle is closed with it.
std::FILE* stream_of(HANDLE h, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (file == nullptr) _close(fd);
    return file;
}

// CREATE_NEW fails on any existing name, a link included. Deleting is
// shared, so an interrupt can remove the file while it is open.
std::FILE* open_new(const char* path, DWORD attributes) {
    HANDLE h =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    std::FILE* file = stream_of(h, 0, "wb");
    if (file == nullptr) {
        DeleteFileA(path);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace

EntryKind entry_kind(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::missing;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::directory;
    return EntryKind::file;
}

bool only_name_of(const char* name, const char* file) {
    BY_HANDLE_FILE_INFORMATION in{}, entry{};
    if (entry_kind(name) != EntryKind::file || !entry_identity(name, &entry) || !file_identity(file, &in)) return false;
    return same_identity(entry, in) && entry.nNumberOfLinks == 1;
}

bool remove_entry(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    // A link to a folder is removed as a folder; its target stays.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return RemoveDirectoryA(path) != 0;
    return DeleteFileA(path) != 0;
}

std::FILE* create_new(const char* path) { return open_new(path, FILE_ATTRIBUTE_NORMAL); }

namespace {

HANDLE handle_of(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

}  // namespace

bool take_over_metadata(std::FILE* file, const char* from, Takeover what) {
    // Windows files carry no permission bits and a new file inherits the
    // folder's access rights, so only the times pass over.
    HANDLE source = CreateFileA(from, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (source == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileInformationByHandle(source, &info) &&
                         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (regular && what.times) SetFileTime(handle_of(file), nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime);
    CloseHandle(source);
    return regular;
}

void pace_writeback(std::FILE*, WritebackPace&) {
    // The system writes back on its own; the final flush waits for the rest.
}

bool extend_with_zeros(std::FILE* file, std::int64_t size) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), size) == 0;
}

bool flush_file(std::FILE* file) { return std::fflush(file) == 0 && FlushFileBuffers(handle_of(file)) != 0; }

bool flush_folder_of(const char*) {
    // NTFS journals its names: a completed rename is durable.
    return true;
}

bool seek_to(std::FILE* file, std::int64_t offset) { return _fseeki64(file, offset, SEEK_SET) == 0; }

std::vector<std::string> folder_names(const std::string& folder) {
    std::vector<std::string> names;
    std::string pattern = folder.empty() ? std::string(".") : folder;
    if (!is_separator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found) != 0);
    FindClose(search);
    return names;
}

bool replace_name(const char* from, const char* to) {
    // The temporary file was hidden; the restored one is not.
    SetFileAttributesA(from, FILE_ATTRIBUTE_NORMAL);
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

NewName rename_to_new(const char* from, const char* to) {
    SetFileAttributesA(from, FILE_ATTRIBUTE_NORMAL);
    // Without MOVEFILE_REPLACE_EXISTING the move fails on a taken name.
    if (MoveFileExA(from, to, 0) != 0) return NewName::renamed;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? NewName::taken : NewName::failed;
}

std::FILE* open_input_as_walked(const char* path, std::uint64_t device, std::uint64_t identity, bool& swapped) {
    swapped = false;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        info.dwVolumeSerialNumber != device ||
        ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) != identity) {
        swapped = true;
        CloseHandle(h);
        return nullptr;
    }
    return stream_of(h, _O_RDONLY | _O_BINARY, "rb");
}

std::FILE* open_append_no_link(const char* path) {
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return nullptr;
    }
    return stream_of(h, _O_APPEND | _O_TEXT, "a");
}

std::FILE* open_companion(const char* path, CompanionRefusal& refusal) {
    refusal = CompanionRefusal::missing;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    // A device or a pipe under the name is not read: it may never end.
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(h);
        refusal = CompanionRefusal::not_regular;
        return nullptr;
    }
    std::FILE* file = stream_of(h, _O_RDONLY | _O_TEXT, "r");
    if (file != nullptr) refusal = CompanionRefusal::none;
    return file;
}

bool same_file(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!file_identity(a, &ia) || !file_identity(b, &ib)) return false;
    return same_identity(ia, ib);
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
    BY_HANDLE_FILE_INFORMATION target{};
    if (!file_identity(path, &target)) return;
    for (int fd = 3; fd < 2048; ++fd) {
        const intptr_t os = _get_osfhandle(fd);
        if (os == -1 || os == -2) continue;
        BY_HANDLE_FILE_INFORMATION info{};
        const HANDLE h = reinterpret_cast<HANDLE>(os);
        if (GetFileInformationByHandle(h, &info) && same_identity(info, target)) CloseHandle(h);
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

std::FILE* create_temporary(const char* path) {
    output_armed = 0;
    if (std::snprintf(interrupted_output, sizeof interrupted_output, "%s", path) >=
        static_cast<int>(sizeof interrupted_output))
        return nullptr;
    if (main_thread == nullptr)
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                        THREAD_SUSPEND_RESUME, FALSE, 0);
    if (!handler_installed) handler_installed = SetConsoleCtrlHandler(remove_and_end, TRUE) != 0;
    // Armed only once the file is ours: an event in between leaves at most
    // this hidden file, never removes a name another process created.
    std::FILE* file = open_new(path, FILE_ATTRIBUTE_HIDDEN);
    if (file != nullptr) output_armed = 1;
    return file;
}

void keep_on_interrupt() { output_armed = 0; }

bool realtime_clock(std::int64_t* seconds, long* nanoseconds) {
    // 100-nanosecond intervals since 1601-01-01, moved to the Unix epoch.
    constexpr std::uint64_t unix_epoch = 116444736000000000ULL;
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    if (ticks < unix_epoch) return false;
    const std::uint64_t since = ticks - unix_epoch;
    *seconds = static_cast<std::int64_t>(since / 10000000ULL);
    *nanoseconds = static_cast<long>((since % 10000000ULL) * 100);
    return true;
}

// The Windows C runtime (msvcrt) is never glibc.
bool c_library_is_glibc() { return false; }

bool shared_block_open(const char* name, std::size_t size, SharedBlock* block) {
    // Backed by the paging file; an existing object of the name is opened.
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name);
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

namespace {

constexpr wchar_t progress_program_name[] = L"Kestrav_progress_bar.exe";

// The folder of the running program, without a trailing separator.
std::wstring program_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring current_folder() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::wstring path(n, L'\0');
    const DWORD got = GetCurrentDirectoryW(n, path.data());
    if (got == 0 || got >= n) return {};
    path.resize(got);
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

std::string utf8_of(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), n, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(n - 1));
    return text;
}

std::wstring wide_of(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text.data(), n);
    text.resize(static_cast<std::size_t>(n - 1));
    return text;
}

bool is_program_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The started window program, while it runs.
HANDLE child_process = nullptr;

}  // namespace

std::string progress_program_path() {
    // The program's own folder first: a program planted in the current
    // folder is run only when none was installed with kestrav3.
    for (const std::wstring& folder : {program_folder(), current_folder()}) {
        if (folder.empty()) continue;
        const std::wstring candidate = folder + L"\\" + progress_program_name;
        if (is_program_file(candidate)) return utf8_of(candidate);
    }
    return {};
}

std::FILE* child_open(const std::string& program, const char* argument) {
    std::fflush(stdout);  // the child must not inherit unwritten console text
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherited, 0)) return nullptr;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE null_input =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    const std::wstring path = wide_of(program);
    // Started directly: the program's path in quotes, then the block's name.
    std::wstring command = L"\"" + path + L"\" " + wide_of(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_input;
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = !path.empty() && CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                                         nullptr, nullptr, &startup, &process);
    CloseHandle(write_end);
    if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
    if (!started) {
        CloseHandle(read_end);
        return nullptr;
    }
    CloseHandle(process.hThread);
    std::FILE* pipe = stream_of(read_end, _O_RDONLY | _O_BINARY, "rb");
    if (pipe == nullptr) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        return nullptr;
    }
    child_process = process.hProcess;
    return pipe;
}

int child_close(std::FILE* pipe) {
    std::fclose(pipe);
    DWORD status = 0;
    if (child_process != nullptr) {
        WaitForSingleObject(child_process, INFINITE);
        GetExitCodeProcess(child_process, &status);
        CloseHandle(child_process);
    }
    child_process = nullptr;
    return static_cast<int>(status);
}

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

}  // namespace kestrav3::platform

namespace kestrav3::platform {

bool flush_to_device(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) != 0 && flushed;
}

}  // namespace kestrav3::platform
