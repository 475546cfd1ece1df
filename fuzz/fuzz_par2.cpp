// The PAR 2.0 reader and the repair on arbitrary set files: the input is
// the index file beside a fixed coded file. Every length and count in it
// must be checked before use; the repair may replace the coded file only
// with bytes that match the set, and must leave nothing else behind.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "recovery/par2_reader.h"
#include "sets/repair.h"

namespace {

// The coded file the kept corpus's sets were made for: the size of a coded
// 1-byte file, bytes (31 i + 7) mod 251.
std::vector<std::uint8_t> fixed_coded_file() {
    std::vector<std::uint8_t> bytes(16466);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((31 * i + 7) % 251);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrav3;
    namespace fs = std::filesystem;

    recovery::SetReader reader;
    reader.scan_bytes(data, size);
    if (reader.choose("in.archi") && reader.slice_size() <= (1u << 20)) {
        // Every candidate slice may be read; its MD5 says whether it is good.
        std::vector<std::uint8_t> slice(static_cast<std::size_t>(reader.slice_size()));
        for (const auto& where : reader.recovery()) reader.read_recovery(where, slice.data());
    }

    static const std::vector<std::uint8_t> coded = fixed_coded_file();
    const fs::path path = fuzzing::stage_input(coded.data(), coded.size());
    const fs::path set = fs::path(path).concat(".par2");
    std::ofstream(set, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    static RepairOutcome outcome;
    const int result = repair_streams(path.string().c_str(), outcome);
    // Beyond the set: recovery slices short, too many bytes to cut, or too
    // many slices to rebuild. A repair cuts no more than one group.
    if (result > 0 && outcome.needed == 0 && outcome.cut_refused == 0 && !outcome.too_many) __builtin_trap();
    constexpr std::uintmax_t one_group = 8272;
    if (outcome.repaired && fs::file_size(path) + one_group < coded.size()) __builtin_trap();
    if (outcome.repaired && result != 0) __builtin_trap();
    fs::remove(set);
    // No hidden file may be left, and nothing beside the folder.
    fuzzing::expect_only_input();
    return 0;
}
