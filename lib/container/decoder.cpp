// The decoder: restores the plain file and checks every block's digest.
#include <array>
#include <cstdio>
#include <string>

#include "container/container.h"
#include "container/files.h"
#include "container/groups.h"
#include "container/header.h"
#include "container/names.h"
#include "container/tester.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "shared/options.h"
#include "shared/results.h"
#include "transform/transform.h"

namespace kestrav3 {

namespace {

// Writes every block in order, each batch in one call; a block whose digest
// differs from its record is logged and still written. A file that ends
// early stops the restore.
int restore_blocks(std::FILE* in, PartialOutput& out, const HeaderRecord& record, BlockList& damaged) {
    const int result = walk_groups(in, record, [&](const GroupBatch& batch, int count, int n, long long first) {
        std::array<platform::WritePiece, batch_size> pieces{};
        for (int k = 0; k < count; ++k) {
            if (!batch.intact(k)) {
                write_hash_error_to_file(out.path(), first + k);
                damaged.add(first + k);
            }
            pieces[k] = {batch.blocks[k], static_cast<std::size_t>(n)};
        }
        return platform::write_gathered(out.get(), pieces.data(), static_cast<std::size_t>(count)) ? 0 : ERR_IO_STOPPED;
    });
    return result == groups_ended ? ERR_IO_STOPPED : result;
}

}  // namespace

int write_hash_error_to_file(const std::string& name, long long number) {
    const std::string log = name + ".err";
    // A link under the log's name is not followed: nothing is written then.
    Stream err(platform::open_append_no_link(log.c_str()));
    if (err) std::fprintf(err.get(), "%lld\n", number);
    return 0;
}

int decode_streams(const char* path, const char* key, TestOutcome* damage) {
    static TestOutcome unused;
    TestOutcome& found = damage != nullptr ? *damage : unused;
    found = TestOutcome{};
    Stream in;
    HeaderRecord& record = found.record;
    int result = open_coded_file(path, key, RecordUse::blocks, ERR_IO_STOPPED, in, record);
    if (result != 0) return result;
    const std::string out_path = std::string(directory_part(path)) + record.name;
    if (platform::same_file(path, out_path.c_str())) return ERR_HEADER;
    // A folder under the name could never be replaced: say so before decoding.
    if (platform::entry_kind(out_path.c_str()) == platform::EntryKind::directory) return ERR_READ;

    PartialOutput out(out_path);
    if (!out) return ERR_READ;
    if ((result = restore_blocks(in.get(), out, record, found.damaged)) != 0) return result;
    in.close();
    return out.keep();
}

}  // namespace kestrav3
