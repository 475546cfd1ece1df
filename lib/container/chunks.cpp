#include "container/chunks.h"

#include <cstdio>

#include "platform/platform.h"
#include "shared/buffers.h"
#include "shared/results.h"
#include "transform/transform.h"

namespace kestrav3 {

int code_chunk(std::uint8_t* data, int n, bool dense) {
    if (!dense || code_block(data, n) == -1) code_block_fast(data, n);
    return permut(data, n) < 0 ? ERR_NOMEM : 0;
}

int write_chunk(std::FILE* out, const std::uint8_t* data, int n) {
    const auto size = static_cast<std::size_t>(n);
    const platform::WritePiece pieces[] = {{vizard.data(), size}, {data, size}};
    return platform::write_gathered(out, pieces, 2) ? 0 : ERR_IO_STOPPED;
}

int read_chunk(std::FILE* in, std::uint8_t* data, int n, int error_result, int short_read_result) {
    const auto wanted = static_cast<std::size_t>(n);
    const std::size_t noise = std::fread(vizard.data(), 1, wanted, in);
    const std::size_t bytes = noise == wanted ? std::fread(data, 1, wanted, in) : 0;
    if (std::ferror(in)) return error_result;
    if (bytes != wanted) return short_read_result;
    swap_and_decode(data, n);
    return 0;
}

}  // namespace kestrav3
