// The decoder: restores the plain file and checks every block's digest.
#include "container/decoder.h"

#include <array>
#include <climits>
#include <cstdio>
#include <string>

#include "container/container.h"
#include "container/files.h"
#include "container/groups.h"
#include "container/header.h"
#include "container/names.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "progress/progress.h"
#include "shared/failure.h"
#include "shared/options.h"
#include "shared/results.h"
#include "shared/run_settings.h"
#include "textconv/native_text.h"
#include "transform/transform.h"

namespace kestrav3 {

namespace {

// Zeros in place of the blocks a coded file that ends early lacks: the
// file grows to the stored size, and the file system need not store them.
int write_missing(PartialOutput& out, const HeaderRecord& record) {
    const long long size = record.nblocks * record.blocksize + record.rest;
    return platform::extend_with_zeros(out.get(), size) ? 0 : ERR_IO_STOPPED;
}

// Writes every block in order, each batch in one call; a block whose digest
// differs from its record is listed and still written. A file that ends
// early gives back its whole groups, and zeros for the rest; what follows
// the last group is counted.
int restore_blocks(std::FILE* in, PartialOutput& out, const HeaderRecord& record, RestoreOutcome& outcome) {
    const int result = walk_groups(in, record, [&](const GroupBatch& batch, int count, int n, long long first) {
        std::array<platform::WritePiece, batch_size> pieces{};
        outcome.complete += count;
        for (int k = 0; k < count; ++k) {
            if (!batch.intact(k)) outcome.damaged.add(first + k);
            pieces[k] = {batch.blocks[k], static_cast<std::size_t>(n)};
        }
        if (!platform::write_gathered(out.get(), pieces.data(), static_cast<std::size_t>(count)))
            return static_cast<int>(ERR_IO_STOPPED);
        // The device writes what came before while the next batches are decoded.
        out.wrote();
        return 0;
    });
    if (result == 0) return count_trailing(in, outcome.trailing);
    if (result != groups_ended) return result;
    outcome.missing = missing_blocks(record, outcome.complete);
    return write_missing(out, record);
}

// The restored name may replace a file only when the coded file carries the
// name the coder gives that stored name; a renamed coded file, or one made
// elsewhere, never replaces a file of the folder.
int check_restored_name(const char* path, const std::string& out_path, const HeaderRecord& record,
                        const RunSettings& settings) {
    // Asked for by the many-file form without -f: no file is replaced at all.
    if (settings.refuse_existing && platform::entry_kind(out_path.c_str()) != platform::EntryKind::missing)
        return fail(ERR_NAME_TAKEN, out_path,
                    std::string(base_name(out_path)) + " already exists; not replaced (-f replaces it)");
    // Both header copies lost: the restore is damaged and so replaces nothing.
    if (record.header.lost) return 0;
    const std::string coded = safe_ascii_name(record.name + ".archi");
    if (settings.force_replace || platform::same_entry_name(base_name(path), coded)) return 0;
    if (platform::entry_kind(out_path.c_str()) == platform::EntryKind::missing) return 0;
    return fail(ERR_NAME_TAKEN, out_path,
                "exists, and the coded file " + std::string(base_name(path)) + " is not named after it (" + coded +
                    "); to go on, move one of them or rename the coded file");
}

// The decode failed after its own checks: a failure that names no file yet
// is the restored file's, a write the system refused.
int restore_failed(int code, const std::string& out_path, const char* path, std::FILE* in) {
    if (!failure_detail.file.empty()) return code;
    if (code == ERR_IO_STOPPED && !std::ferror(in) && std::feof(in))
        return fail(code, path, "ends before its last block");
    return fail(code, out_path, platform::last_error_text());
}

}  // namespace

bool write_damage_log(const std::string& log, const BlockList& damaged, std::string& why) {
    platform::clear_last_error();
    const bool new_log = platform::entry_kind(log.c_str()) == platform::EntryKind::missing;
    // A link under the log's name is not followed: nothing is written then.
    Stream err(platform::open_append_no_link(log.c_str()));
    if (!err) {
        why = platform::last_error_text();
        return false;
    }
    bool ok = true;
    damaged.for_each([&](long long number) { ok = ok && std::fprintf(err.get(), "%lld\n", number) > 0; });
    ok = std::fflush(err.get()) == 0 && ok;
    if (!ok) why = platform::last_error_text();
    if (!err.close() && ok) {
        why = platform::last_error_text();
        ok = false;
    }
    // A log this restore created and could not fill (a full disk) is not
    // left behind empty or cut short.
    if (!ok && new_log) platform::remove_entry(log.c_str());
    return ok;
}

namespace {

// Renames the finished restore into place. A whole one replaces a file of
// its name, which passes on its mode, owner and attributes; a new one takes
// the coded file's mode and times. A damaged one never replaces anything.
int keep_restore(PartialOutput& out, const char* path, RestoreOutcome& outcome) {
    const std::string out_path = out.path();
    if (outcome.damaged_restore()) {
        const int result = out.keep_new(".damaged", path, platform::restored_from_coded);
        if (result == 0 && out.path() != out_path) outcome.kept = outcome.name;
        outcome.name += out.path().substr(out_path.size());
        return result;
    }
    const bool replaces_file = platform::entry_kind(out_path.c_str()) == platform::EntryKind::file &&
                               platform::path_info(out_path.c_str()).kind == platform::PathKind::regular;
    return replaces_file ? out.keep(out_path, platform::restored_over_file)
                         : out.keep(path, platform::restored_from_coded);
}

}  // namespace

int decode_streams(const char* path, const char* key, const RunSettings& settings, RestoreOutcome& outcome,
                   RunResult& run) {
    outcome = RestoreOutcome{};
    outcome.path = path;
    Stream in;
    HeaderRecord record;
    int result = open_coded_file(path, key, RecordUse::blocks, ERR_IO_STOPPED, in, record, settings.walked_input);
    if (result != 0) return result;
    outcome.header = record.header;
    const std::string out_path = settings.output_folder_for(directory_part(path)) + record.name;
    run.written_path = out_path;
    // Named after the coded file itself, a restore without a header is
    // damaged and so goes to a new name.
    if (!record.header.lost && platform::same_file(path, out_path.c_str()))
        return fail(ERR_HEADER, path, "its header names the coded file itself");
    // A folder under the name could never be replaced: say so before decoding.
    if (platform::entry_kind(out_path.c_str()) == platform::EntryKind::directory)
        return fail(ERR_READ, out_path, "is a folder");
    if ((result = check_restored_name(path, out_path, record, settings)) != 0) return result;

    platform::clear_last_error();
    PartialOutput out(out_path);
    if (!out) return fail(ERR_IO_STOPPED, out_path, "cannot be created: " + platform::last_error_text());
    if ((result = restore_blocks(in.get(), out, record, outcome)) != 0)
        return restore_failed(result, out_path, path, in.get());
    in.close();
    platform::clear_last_error();
    outcome.name = record.name;
    if ((result = keep_restore(out, path, outcome)) != 0) return fail(result, out.path(), platform::last_error_text());
    run.written_path = out.path();

    // Only a restore that is complete logs its damaged and missing blocks,
    // all at once, beside the file written.
    outcome.log = out.path() + ".err";
    const BlockList listed = outcome.listed();
    if (listed.count() > 0) outcome.logged = write_damage_log(outcome.log, listed, outcome.log_failure);
    return outcome.result();
}

int decode_streams(const char* path, const char* key) {
    static RestoreOutcome outcome;
    RunResult run;
    return decode_streams(path, key, RunSettings{}, outcome, run);
}

namespace {

// "2 blocks failed their check, 3 blocks missing (...)": what the log lists.
std::string damage_text(const RestoreOutcome& outcome) {
    const long long failed = outcome.damaged.count(), missing = outcome.missing.count();
    std::string text;
    if (failed > 0)
        text = std::to_string(failed) + (failed == 1 ? " block failed its check" : " blocks failed their check");
    if (missing > 0)
        text += (text.empty() ? "" : ", ") + std::to_string(missing) + " block" + plural(missing) +
                " missing (the coded file ends after " + std::to_string(outcome.complete) + " complete block" +
                plural(outcome.complete) + ", zeros written in their place)";
    return text;
}

}  // namespace

void print_restore_report(const RestoreOutcome& outcome) {
    progress_line_end();
    print_lost_headers(outcome.path, outcome.header);
    std::printf(" Restored:  %s\n", shown_in_report(outcome.name).c_str());
    if (outcome.header.any()) std::printf(" Note:      %s\n", outcome.header.note().c_str());
    if (!outcome.kept.empty())
        std::printf(" Note:      %s exists and stays untouched: a damaged restore replaces no file\n",
                    shown_in_report(outcome.kept).c_str());
    if (outcome.trailing > 0)
        std::printf(" Trailing:  %lld byte%s after the last group\n", outcome.trailing, plural(outcome.trailing));
    if (outcome.damaged.count() + outcome.missing.count() == 0) return;
    if (outcome.logged) {
        std::printf(" Damaged:   %s, listed in %s\n", damage_text(outcome).c_str(),
                    shown_in_report(outcome.log).c_str());
        return;
    }
    std::printf(" Damaged:   %s (%s), not listed: %s cannot be written: %s\n", damage_text(outcome).c_str(),
                outcome.listed().text().c_str(), shown_in_report(outcome.log).c_str(), outcome.log_failure.c_str());
}

}  // namespace kestrav3
