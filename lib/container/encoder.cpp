// The encoder: one plain file into its coded file, front to back.
#include <algorithm>
#include <array>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

#include "container/batch_size.h"
#include "container/chunks.h"
#include "container/container.h"
#include "container/files.h"
#include "container/header.h"
#include "container/names.h"
#include "container/progress_steps.h"
#include "container/run_buffers.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "random/fast_noise.h"
#include "shared/failure.h"
#include "shared/options.h"
#include "shared/results.h"
#include "shared/run_settings.h"
#include "textconv/native_text.h"
#include "transform/transform.h"

namespace kestrav3 {

namespace {

constexpr long long dense_limit = 3145727;  // largest file coded with dense noise

struct Plan {
    long long size;
    long long nblocks;
    int rest;
    bool dense;
    platform::FileStamp before;  // the input as it was when its size was taken
};

int plan_file(const char* path, const RunSettings& settings, Plan& plan) {
    const platform::PathInfo info = platform::path_info(path);
    if (info.kind != platform::PathKind::regular)
        return fail(ERR_READ, path, not_a_file_cause(path, info.kind == platform::PathKind::missing));
    if (info.size <= 0 && !settings.code_empty) return fail(ERR_EMPTY, path, "is empty");
    if (info.size / BLOCK_SIZE > max_blocks) return fail(ERR_READ, path, "is too large to be coded");
    plan = {info.size, info.size / BLOCK_SIZE, static_cast<int>(info.size % BLOCK_SIZE), info.size <= dense_limit,
            platform::file_stamp(path)};
    return 0;
}

void print_summary(const Plan& plan) {
    std::printf("Size:    %lld B\n", plan.size);
    std::printf("Sblock:  %d B\n", BLOCK_SIZE);
    std::printf("Nblocks: %lld\n", plan.nblocks);
    std::printf("Rest:    %d B\n", plan.rest);
    std::puts(plan.dense ? "Noise:   dense" : "Noise:   normal");
}

// The line that says why a companion file that is there was not read.
void say_why_not_read(platform::CompanionRefusal refusal) {
    if (refusal == platform::CompanionRefusal::not_regular)
        std::puts("Note:    metadata file not read, it is not a regular file");
    if (refusal == platform::CompanionRefusal::foreign_link)
        std::puts("Note:    metadata file not read, it is a link to a file of another owner");
}

// The companion "<path>.met", read as text in pieces of at most 99 bytes;
// the first piece that would pass 2999 bytes ends the reading. Only a
// regular file is read, and through a link only one of the link's owner.
std::string read_metadata(const char* path) {
    const std::string name = std::string(path) + ".met";
    platform::CompanionRefusal refusal = platform::CompanionRefusal::none;
    Stream met(platform::open_companion(name.c_str(), refusal));
    say_why_not_read(refusal);
    if (!met) return {};
    std::string text;
    char line[100];
    while (std::fgets(line, sizeof line, met.get()) != nullptr) {
        const std::size_t piece = std::strlen(line);
        if (text.size() + piece > max_metadata) break;
        text.append(line, piece);
    }
    if (code_utf8 == 1) {
        text = native_to_utf8(text);
        if (text.size() > max_metadata) text.resize(max_metadata);
    }
    return text;
}

// The name stored in the record (the base name, as UTF-8 when converting)
// and the coded file's name; both must fit, the coded one in a folder.
int coded_names(const char* path, std::string& stored, std::string& coded) {
    const std::string_view base = base_name(path);
    constexpr std::string_view too_long = "its name is too long to be stored, or its coded name too long for a folder";
    if (base.size() + 6 > max_stored_name) return fail(ERR_NAME_TOO_LONG, path, too_long);
    stored = code_utf8 == 1 ? native_to_utf8(base) : std::string(base);
    coded = safe_ascii_name(std::string(base) + ".archi");
    if (stored.size() > max_stored_name || coded.size() > max_file_name) return fail(ERR_NAME_TOO_LONG, path, too_long);
    return 0;
}

// The coded file as the coder writes it: every piece goes to the file, then
// to the hooks' observer when there is one (a recovery set's writer, which
// so needs no second read).
struct CodedSink {
    std::FILE* file;
    const std::function<void(const std::uint8_t*, std::size_t)>& observe;
};

int write_pieces(const CodedSink& out, const platform::WritePiece* pieces, std::size_t count) {
    if (!platform::write_gathered(out.file, pieces, count)) return ERR_IO_STOPPED;
    if (out.observe)
        for (std::size_t k = 0; k < count; ++k)
            out.observe(static_cast<const std::uint8_t*>(pieces[k].data), pieces[k].size);
    return 0;
}

// The masked noise in vizard, then the coded chunk.
int write_coded_chunk(const CodedSink& out, const std::uint8_t* data, int n) {
    const auto size = static_cast<std::size_t>(n);
    const platform::WritePiece pieces[] = {{vizard.data(), size}, {data, size}};
    return write_pieces(out, pieces, 2);
}

int code_and_write(const CodedSink& out, std::uint8_t* data, int n, bool dense) {
    const int result = code_chunk(data, n, dense);
    return result != 0 ? result : write_coded_chunk(out, data, n);
}

// Reads exactly n plain bytes; a short read means the file changed under us.
bool read_plain(std::FILE* in, std::uint8_t* data, int n) {
    return std::fread(data, 1, static_cast<std::size_t>(n), in) == static_cast<std::size_t>(n) && !std::ferror(in);
}

// Digest record of n plain bytes, coded and written before the block.
int write_record(const CodedSink& out, const std::uint8_t* data, int n, bool dense) {
    std::uint8_t record[record_size] = {};
    int seed = 0;
    md5cnt(data, n, reinterpret_cast<char*>(record), &seed);
    return code_and_write(out, record, record_size, dense);
}

int write_headers(const CodedSink& out, const HeaderBlock& header, bool dense) {
    HeaderBlock copy = header;
    int result = code_and_write(out, copy.data(), BLOCK_SIZE, dense);
    if (result != 0) return result;
    copy = header;
    return code_and_write(out, copy.data(), BLOCK_SIZE, dense);
}

// Block groups are prepared a batch at a time: their digests and their fast
// noise are independent of each other, and computing them side by side keeps
// the processor busy. The coded groups then go to the file in one gathering
// write, in order.
struct Batch {
    std::array<Block, batch_size> blocks;
    std::uint8_t records[batch_size][record_size];
    // The fresh noise of each chunk, masked in place as the chunk is coded:
    // what the file stores before the chunk. A record uses only the first 40
    // bytes of its noise refill, so only those are made: the same first
    // draws of the same two seeded passes.
    std::array<Block, batch_size> block_noise;
    std::uint8_t record_noise[batch_size][record_size];
    char digests[batch_size][33];
};

// The input buffer holds one batch, so a whole batch is read straight into
// the blocks in one call.
constexpr std::size_t batch_bytes = static_cast<std::size_t>(batch_size) * BLOCK_SIZE;
static_assert(sizeof(Batch::blocks) == batch_bytes, "the blocks of a batch lie end to end");
static_assert(std::is_trivially_copyable_v<Batch>, "a batch is plain bytes");

// The coder's per-run buffers: the batch of groups, the rest block, and the
// plain header block.
Batch coder_batch;
Block coder_rest;
HeaderBlock coder_header;

// Reads up to want plain blocks; returns how many were read whole. Those
// before a failed or short read are still good and get written, as they
// would have been had each block been read on its own.
int read_batch(std::FILE* in, Batch& batch, int want) {
    return static_cast<int>(std::fread(batch.blocks.data(), BLOCK_SIZE, static_cast<std::size_t>(want), in));
}

void prepare_batch(Batch& batch, int count, bool dense) {
    std::array<const std::uint8_t*, batch_size> blocks{};
    std::array<std::uint8_t*, batch_size> noise{};
    for (int k = 0; k < count; ++k) blocks[k] = batch.blocks[k].data();
    md5_blocks(blocks.data(), count, batch.digests);
    if (dense) return;
    for (int k = 0; k < count; ++k) noise[k] = batch.record_noise[k];
    noise_gen_unix_many(true, noise.data(), count, record_size);
    for (int k = 0; k < count; ++k) noise[k] = batch.block_noise[k].data();
    noise_gen_unix_many(true, noise.data(), count);
}

// Codes a chunk with its prepared fast noise, or with fresh dense noise;
// noise then holds the masked noise stored before the chunk.
int code_prepared(std::uint8_t* data, int n, bool dense, std::uint8_t* noise) {
    if (!dense) {
        code_and_swap_with_noise(data, n, noise, noise);
        return 0;
    }
    const int result = code_chunk(data, n, true);
    std::memcpy(noise, vizard.data(), static_cast<std::size_t>(n));
    return result;
}

// Block group k of the batch: its digest record, then the block.
int code_group(Batch& batch, int k, bool dense) {
    std::uint8_t* record = batch.records[k];
    std::memset(record, 0, record_size);
    std::memcpy(record, batch.digests[k], sizeof batch.digests[k]);
    const int result = code_prepared(record, record_size, dense, batch.record_noise[k]);
    return result != 0 ? result : code_prepared(batch.blocks[k].data(), BLOCK_SIZE, dense, batch.block_noise[k].data());
}

// Codes the groups in order; coded is how many are ready when one fails.
int code_batch(Batch& batch, int count, bool dense, int& coded) {
    for (coded = 0; coded < count; ++coded) {
        const int result = code_group(batch, coded, dense);
        if (result != 0) return result;
    }
    return 0;
}

// The first count coded groups in one call, each as the file stores it:
// record noise, record, block noise, block.
int write_batch(const CodedSink& out, const Batch& batch, int count) {
    std::array<platform::WritePiece, 4 * batch_size> pieces{};
    for (int k = 0; k < count; ++k) {
        pieces[4 * k] = {batch.record_noise[k], record_size};
        pieces[4 * k + 1] = {batch.records[k], record_size};
        pieces[4 * k + 2] = {batch.block_noise[k].data(), BLOCK_SIZE};
        pieces[4 * k + 3] = {batch.blocks[k].data(), BLOCK_SIZE};
    }
    return write_pieces(out, pieces.data(), 4 * static_cast<std::size_t>(count));
}

// A read that ends early: the input is shorter than its size said (it
// changed), or the system reported an error.
int read_ended(const char* path, std::FILE* in) {
    if (std::ferror(in)) return fail(ERR_IO_STOPPED, path, platform::last_error_text());
    return fail(ERR_INPUT_CHANGED, path, "ended before the size it had when coding began");
}

int write_blocks(const char* path, std::FILE* in, PartialOutput& out, const CodedSink& sink, const Plan& plan) {
    Batch& batch = coder_batch;
    ProgressSteps progress(plan.nblocks);
    progress.open_window(win_progress_onoff != 0);
    for (long long first = 0; first < plan.nblocks; first += batch_size) {
        const int want = static_cast<int>(std::min<long long>(batch_size, plan.nblocks - first));
        const int count = read_batch(in, batch, want);
        prepare_batch(batch, count, plan.dense);
        int coded = 0;
        const int result = code_batch(batch, count, plan.dense, coded);
        // The groups coded before a failure still reach the file.
        if (write_batch(sink, batch, coded) != 0) return ERR_IO_STOPPED;
        // The device writes what came before while the next batches are
        // coded, so the final flush waits only for the tail.
        out.wrote();
        for (int k = 0; k < coded; ++k) progress.block_done(first + k);
        if (result != 0) return result;
        // The groups read whole are written before a short read ends the run.
        if (count < want) return read_ended(path, in);
    }
    return 0;
}

int write_rest(const char* path, std::FILE* in, const CodedSink& out, const Plan& plan) {
    Block& block = coder_rest;
    if (plan.rest == 0) return 0;
    if (!read_plain(in, block.data(), plan.rest)) return read_ended(path, in);
    const int result = write_record(out, block.data(), plan.rest, plan.dense);
    return result != 0 ? result : code_and_write(out, block.data(), plan.rest, plan.dense);
}

// Whose coded file a file under the coded name is: this input's own earlier
// one (a regular file, no link, that opens with this key and stores this
// name), another input's (it opens with this key and stores another name),
// or one that cannot be told (a link, another key, damage, no coded file,
// or a file that cannot be read).
enum class Holder { own, other, unknown };

struct HeldBy {
    Holder holder = Holder::unknown;
    std::string name;  // other: the name it stores
    std::string why;   // unknown: a reason the system gave, "" for none
};

HeldBy holder_of(const char* out_path, const char* key, const std::string& stored) {
    if (platform::entry_kind(out_path) != platform::EntryKind::file) return {};
    Stream old;
    HeaderRecord record;
    platform::clear_last_error();
    const int code = open_coded_file(out_path, key, RecordUse::metadata, ERR_READ, old, record);
    // Long enough to be a coded file, and still not opened: the system's reason.
    if (code == ERR_READ && !old && holds_first_header(out_path)) return {Holder::unknown, "", failure_detail.cause};
    if (code != 0) return {};
    if (record.name == stored) return {Holder::own, "", ""};
    return {Holder::other,
            code_utf8 == 1 ? utf8_to_native(record.name.c_str(), static_cast<int>(record.name.size())) : record.name,
            ""};
}

// The refusal of a file under the coded name that is not this input's own.
// The design's forms keep their one text; the many-file form (-f, no
// console lines) says whose the file is, or that it cannot be told.
int refuse_coded_name(const std::string& out_path, const HeldBy& held, const RunSettings& settings) {
    if (settings.console_lines && !settings.force_replace)
        return fail(ERR_OTHER_ARCHIVE, out_path,
                    "is not this file's coded file with this key; to go on, remove or rename it");
    const std::string name(base_name(out_path));
    if (held.holder == Holder::other)
        return fail(ERR_OTHER_ARCHIVE, out_path,
                    name + " holds " + held.name +
                        "; -f does not replace another file's coded file: to go on, code into another folder "
                        "(--output-dir) or rename one of the two");
    if (!held.why.empty()) return fail(ERR_READ, out_path, name + " cannot be read: " + held.why);
    return fail(ERR_OTHER_ARCHIVE, out_path,
                name +
                    " does not open with this key (another key, damage, or no coded file), so whose it is "
                    "cannot be told; -f replaces it");
}

// The coded file replaces only this input's own earlier coded file; a
// folder, a link, another file's coded file, one made with another key, or
// the input itself under that name are refused before anything is written.
// -f of the many-file form replaces what cannot be told to be another
// input's, never a coded file that opens with this key and holds another
// name: that may be the only copy of that input.
int check_coded_name(const char* path, const std::string& out_path, const char* key, const std::string& stored,
                     const RunSettings& settings) {
    switch (platform::entry_kind(out_path.c_str())) {
    case platform::EntryKind::missing: return 0;
    case platform::EntryKind::directory: return fail(ERR_READ, out_path, "is a folder");
    default: break;
    }
    if (platform::only_name_of(out_path.c_str(), path))
        return fail(ERR_NAME_REFUSED, out_path, "is the file to be coded");
    const HeldBy held = holder_of(out_path.c_str(), key, stored);
    if (held.holder == Holder::own) return 0;
    if (settings.force_replace && held.holder == Holder::unknown) return 0;
    return refuse_coded_name(out_path, held, settings);
}

// The input's bytes are all read and it is still the file it was.
int check_unchanged(const char* path, std::FILE* in, const Plan& plan) {
    if (std::fgetc(in) != EOF || !platform::same_stamp(plan.before, platform::file_stamp(path)))
        return fail(ERR_INPUT_CHANGED, path, "was written to or replaced while it was coded");
    return 0;
}

// One coding's inputs beyond the file and its key.
struct Coding {
    const RunSettings& settings;
    const CodingHooks& hooks;
};

// Writes the coded file into a hidden file beside its name, renamed over it
// only when complete and the input unchanged; on failure the hidden file is
// removed and whatever had the name stays.
int code_file(const char* path, const std::string& out_path, const char* key, const Plan& plan,
              const HeaderBlock& header, const Coding& coding) {
    platform::clear_last_error();
    Stream in = Stream::reader(path, batch_bytes, coding.settings.walked_input);
    if (!in) return reader_failed(path);
    PartialOutput out(out_path);
    if (!out) return fail(ERR_IO_STOPPED, out_path, "cannot be created: " + platform::last_error_text());
    const CodedSink sink{out.get(), coding.hooks.observe};

    // A failure that names no file yet is the coded file's: a write refused.
    const auto failed = [&](int code) {
        return failure_detail.file.empty() ? fail(code, out_path, platform::last_error_text()) : code;
    };
    gen_kmatrix(key);
    int result = write_headers(sink, header, plan.dense);
    if (result != 0) return failed(result);
    if (coding.settings.console_lines) std::puts("\nStart coder:");
    if (plan.nblocks > 0 && (result = write_blocks(path, in.get(), out, sink, plan)) != 0) return failed(result);
    if ((result = write_rest(path, in.get(), sink, plan)) != 0) return failed(result);
    if ((result = check_unchanged(path, in.get(), plan)) != 0) return result;
    in.close();
    platform::clear_last_error();
    if (coding.hooks.before_naming) coding.hooks.before_naming(out_path);
    // The input's mode and times, and everything on the device, before the
    // run reports success: a user may delete the plain file next.
    if ((result = out.keep(path, platform::coded_from_input)) != 0)
        return fail(result, out_path, platform::last_error_text());
    return 0;
}

}  // namespace

void clear_coder_buffers() {
    std::memset(&coder_batch, 0, sizeof coder_batch);
    coder_rest.fill(0);
    coder_header.fill(0);
}

int combine_streams(const char* path, const char* key, const RunSettings& settings, RunResult& run,
                    const CodingHooks& hooks) {
    Plan plan{};
    std::string name, out_name;
    int result = check_key(key);
    if (result == 0) result = check_coding_key(key);
    if (result == 0) result = plan_file(path, settings, plan);
    // A name the decoder would not restore is refused before anything shows.
    if (result == 0 && !restorable_name(base_name(path)))
        result = fail(ERR_NAME_REFUSED, path, "its name holds a character that cannot be restored");
    if (result == 0) result = coded_names(path, name, out_name);
    const std::string out_path = settings.output_folder_for(directory_part(path)) + out_name;
    if (result == 0) result = check_coded_name(path, out_path, key, name, settings);
    if (result != 0) return result;
    if (settings.console_lines) print_summary(plan);

    const std::string metadata = read_metadata(path);
    if (settings.console_lines) std::printf("Meta:    %d chars\n", static_cast<int>(metadata.size()));

    HeaderBlock& header = coder_header;
    HeaderRecord record;
    record.name = name;
    record.blocksize = BLOCK_SIZE;
    record.nblocks = plan.nblocks;
    record.rest = plan.rest;
    record.lenmet = static_cast<long long>(metadata.size());
    record.metadata = metadata;
    build_header_block(header, record);

    std::setlocale(LC_ALL, "");
    if (settings.console_lines) std::printf("\nSave: %s\n", out_name.c_str());
    run.written_path = out_path;
    if (hooks.begin && (result = hooks.begin(coded_size_of(plan.nblocks, plan.rest))) != 0) return result;
    return code_file(path, out_path, key, plan, header, Coding{settings, hooks});
}

int combine_streams(const char* path, const char* key) {
    RunResult run;
    return combine_streams(path, key, RunSettings{}, run, CodingHooks{});
}

}  // namespace kestrav3
