// The decoder: restores the plain file and checks every block's digest.
#include <cstdio>
#include <string>

#include "container/chunk_io.h"
#include "container/container.h"
#include "container/groups.h"
#include "container/header.h"
#include "interface/options.h"
#include "platform/platform.h"

namespace kestrav3 {

namespace {

// Writes every block in order; a block whose digest differs from its record
// is logged and still written. A file that ends early stops the restore.
int restore_blocks(std::FILE* in, PartialOutput& out, const HeaderRecord& record) {
    const int result = walk_groups(in, record, [&](const std::uint8_t* block, int n, bool intact, long long number) {
        if (!intact) write_hash_error_to_file(out.path(), number);
        return platform::write_through(out.get(), block, static_cast<std::size_t>(n)) ? 0 : ERR_IO_STOPPED;
    });
    return result == groups_ended ? ERR_IO_STOPPED : result;
}

}  // namespace

int write_hash_error_to_file(const std::string& name, long long number) {
    const std::string log = name + ".err";
    Stream err(log.c_str(), "a");
    if (err) std::fprintf(err.get(), "%lld\n", number);
    return 0;
}

int decode_streams(const char* path, const char* key) {
    Stream in;
    HeaderRecord record;
    int result = open_coded_file(path, key, RecordUse::blocks, ERR_IO_STOPPED, in, record);
    if (result != 0) return result;
    const std::string out_path = std::string(directory_part(path)) + record.name;
    if (platform::same_file(path, out_path.c_str())) return ERR_HEADER;

    PartialOutput out(out_path);
    if (!out) return ERR_READ;
    if ((result = restore_blocks(in.get(), out, record)) != 0) return result;
    in.close();
    return out.keep() ? 0 : ERR_IO_STOPPED;
}

}  // namespace kestrav3
