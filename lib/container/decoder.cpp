// The decoder: restores the plain file and checks every block's digest.
#include <cstdio>
#include <cstring>
#include <string>

#include "container/chunk_io.h"
#include "container/container.h"
#include "container/header.h"
#include "container/transform.h"
#include "interface/options.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "textconv/native_text.h"

namespace kestrav3 {

namespace {

constexpr int record_size = 40;
constexpr long long max_blocks = 2147483647;

struct Geometry {
    std::string name;
    long long blocksize;
    long long nblocks;
    long long rest;
};

int read_headers(std::FILE* in, HeaderBlock& copy1, HeaderBlock& copy2) {
    int result = read_chunk(in, copy1.data(), BLOCK_SIZE, ERR_READ, ERR_IO_STOPPED);
    return result != 0 ? result : read_chunk(in, copy2.data(), BLOCK_SIZE, ERR_READ, ERR_IO_STOPPED);
}

// A restored name must stay a plain file name inside the coded file's folder.
bool safe_file_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '/' || c == '\\' || (!platform::native_text_is_utf8 && c == ':')) return false;
    }
    return true;
}

int read_geometry(const HeaderBlock& copy1, const HeaderBlock& copy2, Geometry& geometry) {
    const auto name = lookup_field(copy1, copy2, "FN");
    const auto blocksize = lookup_field(copy1, copy2, "BLOCKSIZE");
    const auto nblocks = lookup_field(copy1, copy2, "NBLOCKS");
    const auto rest = lookup_field(copy1, copy2, "REST");
    if (!name || !blocksize || !nblocks || !rest) return ERR_EMPTY;

    geometry.name = code_utf8 == 1 ? utf8_to_native(name->c_str(), static_cast<int>(name->size())) : *name;
    geometry.blocksize = parse_number(*blocksize);
    geometry.nblocks = parse_number(*nblocks);
    geometry.rest = parse_number(*rest);
    if (geometry.blocksize > BLOCK_SIZE) return ERR_NOMEM;
    if (geometry.blocksize <= 0 || geometry.nblocks < 0 || geometry.nblocks > max_blocks || geometry.rest < 0 ||
        geometry.rest > BLOCK_SIZE || !safe_file_name(geometry.name))
        return ERR_HEADER;
    return 0;
}

// Decodes one block (with its record) into block, checks it and writes it.
int restore_block(std::FILE* in, PartialOutput& out, HeaderBlock& block, int n, long long number,
                  ProgressSteps* progress, long long index) {
    std::uint8_t record[record_size];
    int result = read_chunk(in, record, record_size, ERR_IO_STOPPED, ERR_IO_STOPPED);
    if (result != 0) return result;
    result = read_chunk(in, block.data(), n, ERR_IO_STOPPED, ERR_IO_STOPPED);
    if (result != 0) return result;
    if (progress != nullptr) progress->block_done(index);

    char digest[33];
    int seed = 0;
    md5cnt(block.data(), n, digest, &seed);
    // Equal as texts: 32 digits and the NUL; bytes 33 to 39 carry nothing.
    if (std::memcmp(digest, record, sizeof digest) != 0) write_hash_error_to_file(out.path(), number);

    std::fwrite(block.data(), static_cast<std::size_t>(n), 1, out.get());
    std::fflush(out.get());
    return std::ferror(out.get()) ? ERR_IO_STOPPED : 0;
}

int restore_blocks(std::FILE* in, PartialOutput& out, const Geometry& geometry, HeaderBlock& block) {
    if (geometry.nblocks > 0) {
        ProgressSteps progress(geometry.nblocks);
        progress.open_window(win_progress_onoff != 0);
        const int n = static_cast<int>(geometry.blocksize);
        for (long long j = 0; j < geometry.nblocks; ++j) {
            const int result = restore_block(in, out, block, n, j, &progress, j);
            if (result != 0) return result;
        }
    }
    if (geometry.rest <= 0) return 0;
    return restore_block(in, out, block, static_cast<int>(geometry.rest), geometry.nblocks + 1, nullptr, 0);
}

}  // namespace

int write_hash_error_to_file(const std::string& name, long long number) {
    const std::string log = name + ".err";
    Stream err(log.c_str(), "a");
    if (err) std::fprintf(err.get(), "%lld\n", number);
    return 0;
}

int decode_streams(const char* path, const char* key) {
    int result = check_key(key);
    if (result != 0) return result;
    if (!holds_first_header(path)) return ERR_READ;

    gen_kmatrix(key);
    Stream in(path, "rb");
    if (!in) return ERR_READ;
    static HeaderBlock copy1, copy2;  // copy 1 becomes the block buffer
    if ((result = read_headers(in.get(), copy1, copy2)) != 0) return result;

    Geometry geometry;
    if ((result = read_geometry(copy1, copy2, geometry)) != 0) return result;
    const std::string out_path = std::string(directory_part(path)) + geometry.name;
    if (platform::same_file(path, out_path.c_str())) return ERR_HEADER;

    PartialOutput out(out_path);
    if (!out) return ERR_READ;
    if ((result = restore_blocks(in.get(), out, geometry, copy1)) != 0) return result;
    in.close();
    return out.keep() ? 0 : ERR_IO_STOPPED;
}

}  // namespace kestrav3
