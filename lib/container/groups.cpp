#include "container/groups.h"

#include <cstring>

#include "container/run_buffers.h"

namespace kestrav3 {

bool GroupBatch::intact(int k) const { return std::memcmp(digests[k], records[k], sizeof digests[k]) == 0; }

GroupBatch& group_batch() {
    static GroupBatch batch;
    return batch;
}

void clear_group_batch() {
    GroupBatch& batch = group_batch();
    batch.raw.fill(0);
    batch.records.fill(nullptr);
    batch.blocks.fill(nullptr);
    std::memset(batch.digests, 0, sizeof batch.digests);
}

int read_groups(std::FILE* in, GroupBatch& batch, int want, int n) {
    const std::size_t size = group_bytes(n);
    const auto count = static_cast<int>(std::fread(batch.raw.data(), size, static_cast<std::size_t>(want), in));
    for (int k = 0; k < count; ++k) {
        std::uint8_t* group = batch.raw.data() + static_cast<std::size_t>(k) * size;
        std::uint8_t* record = group + record_size;
        std::uint8_t* block = group + 2 * record_size + n;
        swap_and_decode_with(record, record_size, group);
        swap_and_decode_with(block, n, group + 2 * record_size);
        batch.records[k] = record;
        batch.blocks[k] = block;
    }
    if (n == BLOCK_SIZE) {
        md5_blocks(batch.blocks.data(), count, batch.digests);
    } else {
        int seed = 0;
        for (int k = 0; k < count; ++k) md5cnt(batch.blocks[k], n, batch.digests[k], &seed);
    }
    return count;
}

int count_trailing(std::FILE* in, long long& trailing) {
    auto& buffer = group_batch().raw;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) trailing += static_cast<long long>(got);
    return std::ferror(in) ? ERR_IO_STOPPED : 0;
}

}  // namespace kestrav3
