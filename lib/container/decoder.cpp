// The decoder: restores the plain file and checks every block's digest.
#include <algorithm>
#include <array>
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

// Groups are read and decoded a few at a time so that their digests can be
// computed side by side; each is then checked and written in order.
constexpr int batch_size = max_md5_lanes;

// A group as stored: record noise, record, block noise, block.
constexpr std::size_t group_bytes(int n) { return 2 * record_size + 2 * static_cast<std::size_t>(n); }
constexpr std::size_t batch_bytes = batch_size * group_bytes(BLOCK_SIZE);

// The groups of a batch are read in one call, straight from the file into
// raw, and decoded in place there; records and blocks point into it.
struct Batch {
    std::array<std::uint8_t, batch_bytes> raw;
    std::array<const std::uint8_t*, batch_size> records;
    std::array<const std::uint8_t*, batch_size> blocks;
    char digests[batch_size][33];
};

// Reads and decodes up to want groups of n-byte blocks; count is how many
// came whole. A short or failed read stops the restore after those.
int read_batch(std::FILE* in, Batch& batch, int want, int n, int& count) {
    const std::size_t size = group_bytes(n);
    count = static_cast<int>(std::fread(batch.raw.data(), size, static_cast<std::size_t>(want), in));
    for (int k = 0; k < count; ++k) {
        std::uint8_t* group = batch.raw.data() + static_cast<std::size_t>(k) * size;
        std::uint8_t* record = group + record_size;
        std::uint8_t* block = group + 2 * record_size + n;
        swap_and_decode_with(record, record_size, group);
        swap_and_decode_with(block, n, group + 2 * record_size);
        batch.records[k] = record;
        batch.blocks[k] = block;
    }
    return count < want ? ERR_IO_STOPPED : 0;
}

void digest_batch(Batch& batch, int count, int n) {
    if (n == BLOCK_SIZE) {
        md5_blocks(batch.blocks.data(), count, batch.digests);
        return;
    }
    int seed = 0;
    for (int k = 0; k < count; ++k) md5cnt(batch.blocks[k], n, batch.digests[k], &seed);
}

// Logs each block whose digest differs from its record, block k under the
// number first + k.
void check_batch(const PartialOutput& out, const Batch& batch, int count, long long first) {
    for (int k = 0; k < count; ++k) {
        // Equal as texts: 32 digits and the NUL; bytes 33 to 39 carry nothing.
        if (std::memcmp(batch.digests[k], batch.records[k], sizeof batch.digests[k]) != 0)
            write_hash_error_to_file(out.path(), first + k);
    }
}

// The count restored blocks, in order, in one call.
int write_batch(PartialOutput& out, const Batch& batch, int count, int n) {
    std::array<platform::WritePiece, batch_size> pieces{};
    for (int k = 0; k < count; ++k) pieces[k] = {batch.blocks[k], static_cast<std::size_t>(n)};
    return platform::write_gathered(out.get(), pieces.data(), static_cast<std::size_t>(count)) ? 0 : ERR_IO_STOPPED;
}

// Restores want groups numbered from first (or, without progress, the rest
// block, logged under its own number).
int restore_batch(std::FILE* in, PartialOutput& out, int want, int n, long long first, ProgressSteps* progress,
                  long long log_number) {
    static Batch batch;
    int count = 0;
    const int stopped = read_batch(in, batch, want, n, count);
    digest_batch(batch, count, n);
    check_batch(out, batch, count, progress != nullptr ? first : log_number);
    const int result = write_batch(out, batch, count, n);
    if (result != 0) return result;
    if (progress != nullptr)
        for (int k = 0; k < count; ++k) progress->block_done(first + k);
    return stopped;
}

int restore_blocks(std::FILE* in, PartialOutput& out, const Geometry& geometry) {
    if (geometry.nblocks > 0) {
        ProgressSteps progress(geometry.nblocks);
        progress.open_window(win_progress_onoff != 0);
        const int n = static_cast<int>(geometry.blocksize);
        for (long long first = 0; first < geometry.nblocks; first += batch_size) {
            const int want = static_cast<int>(std::min<long long>(batch_size, geometry.nblocks - first));
            const int result = restore_batch(in, out, want, n, first, &progress, 0);
            if (result != 0) return result;
        }
    }
    if (geometry.rest <= 0) return 0;
    return restore_batch(in, out, 1, static_cast<int>(geometry.rest), 0, nullptr, geometry.nblocks + 1);
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
    // No buffer: each batch is read straight into the batch in one call.
    Stream in = Stream::reader(path, 0);
    if (!in) return ERR_READ;
    static HeaderBlock copy1, copy2;
    if ((result = read_header_copies(in.get(), copy1, copy2, ERR_IO_STOPPED)) != 0) return result;

    Geometry geometry;
    if ((result = read_geometry(copy1, copy2, geometry)) != 0) return result;
    const std::string out_path = std::string(directory_part(path)) + geometry.name;
    if (platform::same_file(path, out_path.c_str())) return ERR_HEADER;

    PartialOutput out(out_path);
    if (!out) return ERR_READ;
    if ((result = restore_blocks(in.get(), out, geometry)) != 0) return result;
    in.close();
    return out.keep() ? 0 : ERR_IO_STOPPED;
}

}  // namespace kestrav3
