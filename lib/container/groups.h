// The groups after the header of a coded file (record noise, record, block
// noise, block), read in batches: each batch in one call, decoded where it
// landed, and its blocks digested side by side. The restore and the test
// walk the groups the same way; only what they do with each block differs.
#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "container/batch_size.h"
#include "container/header.h"
#include "container/progress_steps.h"
#include "md5/md5.h"
#include "shared/options.h"
#include "shared/results.h"
#include "transform/transform.h"

namespace kestrav3 {

// A group as stored: record noise, record, block noise, block.
constexpr std::size_t group_bytes(int n) { return 2 * record_size + 2 * static_cast<std::size_t>(n); }

struct GroupBatch {
    std::array<std::uint8_t, batch_size * group_bytes(BLOCK_SIZE)> raw;
    std::array<const std::uint8_t*, batch_size> records;
    std::array<const std::uint8_t*, batch_size> blocks;
    char digests[batch_size][33];

    // The block's digest equals its record as texts: 32 digits and the NUL;
    // bytes 33 to 39 of the record carry nothing.
    bool intact(int k) const;
};

// Reads up to want groups of n-byte blocks, decodes them and digests their
// blocks. Returns how many came whole.
int read_groups(std::FILE* in, GroupBatch& batch, int want, int n);

// The batch the walk reads into (one per process, like the other buffers).
GroupBatch& group_batch();

// Counts what follows the last group, reading it through to the end: 0, or
// ERR_IO_STOPPED on a read error.
int count_trailing(std::FILE* in, long long& trailing);

// walk_groups' result when the file ended before its last group was whole.
constexpr int groups_ended = 1;

// Visits, in file order, every batch of whole groups that the record
// describes: visit(batch, count, n, first), where the batch's first count
// groups hold n-byte blocks numbered from first in the log's numbering (full
// blocks from 0, the rest block NBLOCKS + 1). A visit that returns non-zero
// ends the walk with that result. The console progress line (and the
// window, when asked for) advances per full block once its batch has been
// visited. Returns 0 when every group was visited, groups_ended when the
// file ended early, or ERR_IO_STOPPED on a read error.
template <typename Visit>
int walk_groups(std::FILE* in, const HeaderRecord& record, Visit&& visit) {
    GroupBatch& batch = group_batch();
    const auto walk_batch = [&](int want, int n, long long first, ProgressSteps* progress) {
        const int count = read_groups(in, batch, want, n);
        if (count > 0) {
            const int result = visit(static_cast<const GroupBatch&>(batch), count, n, first);
            if (result != 0) return result;
        }
        if (progress != nullptr)
            for (int k = 0; k < count; ++k) progress->block_done(first + k);
        if (count == want) return 0;
        return std::ferror(in) ? static_cast<int>(ERR_IO_STOPPED) : groups_ended;
    };
    if (record.nblocks > 0) {
        ProgressSteps progress(record.nblocks);
        progress.open_window(win_progress_onoff != 0);
        const int n = static_cast<int>(record.blocksize);
        for (long long first = 0; first < record.nblocks; first += batch_size) {
            const int want = static_cast<int>(std::min<long long>(batch_size, record.nblocks - first));
            const int result = walk_batch(want, n, first, &progress);
            if (result != 0) return result;
        }
    }
    if (record.rest <= 0) return 0;
    return walk_batch(1, static_cast<int>(record.rest), record.nblocks + 1, nullptr);
}

}  // namespace kestrav3
