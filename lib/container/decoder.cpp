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
#include "platform/terminal.h"
#include "progress/progress.h"
#include "shared/failure.h"
#include "shared/options.h"
#include "shared/results.h"
#include "textconv/native_text.h"
#include "textconv/visible_text.h"
#include "transform/transform.h"

namespace kestrav3 {

namespace {

// Writes every block in order, each batch in one call; a block whose digest
// differs from its record is listed and still written. A file that ends
// early stops the restore.
int restore_blocks(std::FILE* in, PartialOutput& out, const HeaderRecord& record, BlockList& damaged) {
    const int result = walk_groups(in, record, [&](const GroupBatch& batch, int count, int n, long long first) {
        std::array<platform::WritePiece, batch_size> pieces{};
        for (int k = 0; k < count; ++k) {
            if (!batch.intact(k)) damaged.add(first + k);
            pieces[k] = {batch.blocks[k], static_cast<std::size_t>(n)};
        }
        if (!platform::write_gathered(out.get(), pieces.data(), static_cast<std::size_t>(count)))
            return static_cast<int>(ERR_IO_STOPPED);
        // The device writes what came before while the next batches are decoded.
        out.wrote();
        return 0;
    });
    return result == groups_ended ? ERR_IO_STOPPED : result;
}

// The restored name may replace a file only when the coded file carries the
// name the coder gives that stored name; a renamed coded file, or one made
// elsewhere, never replaces a file of the folder.
int check_restored_name(const char* path, const std::string& out_path, const HeaderRecord& record) {
    // Asked for by the many-file form without -f: no file is replaced at all.
    if (refuse_existing != 0 && platform::entry_kind(out_path.c_str()) != platform::EntryKind::missing)
        return fail(ERR_NAME_TAKEN, out_path,
                    std::string(base_name(out_path)) + " already exists; not replaced (-f replaces it)");
    const std::string coded = safe_ascii_name(record.name + ".archi");
    if (force_replace != 0 || platform::same_entry_name(base_name(path), coded)) return 0;
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

int decode_streams(const char* path, const char* key, RestoreOutcome& outcome) {
    outcome = RestoreOutcome{};
    Stream in;
    HeaderRecord record;
    int result = open_coded_file(path, key, RecordUse::blocks, ERR_IO_STOPPED, in, record);
    if (result != 0) return result;
    const std::string out_path = output_folder_for(directory_part(path)) + record.name;
    written_path = out_path;
    if (platform::same_file(path, out_path.c_str()))
        return fail(ERR_HEADER, path, "its header names the coded file itself");
    // A folder under the name could never be replaced: say so before decoding.
    if (platform::entry_kind(out_path.c_str()) == platform::EntryKind::directory)
        return fail(ERR_READ, out_path, "is a folder");
    if ((result = check_restored_name(path, out_path, record)) != 0) return result;

    platform::clear_last_error();
    PartialOutput out(out_path);
    if (!out) return fail(ERR_IO_STOPPED, out_path, "cannot be created: " + platform::last_error_text());
    BlockList damaged;
    if ((result = restore_blocks(in.get(), out, record, damaged)) != 0)
        return restore_failed(result, out_path, path, in.get());
    in.close();
    platform::clear_last_error();
    // A file that had the name passes on its mode, owner and attributes; a
    // new one takes the coded file's mode and times.
    const bool replaces_file = platform::entry_kind(out_path.c_str()) == platform::EntryKind::file &&
                               platform::path_info(out_path.c_str()).kind == platform::PathKind::regular;
    result = replaces_file ? out.keep(out_path, platform::restored_over_file)
                           : out.keep(path, platform::restored_from_coded);
    if (result != 0) return fail(result, out_path, platform::last_error_text());

    // Only a restore that is complete logs its damaged blocks, all at once.
    outcome.name = record.name;
    outcome.log = out_path + ".err";
    outcome.damaged = damaged;
    if (damaged.count() > 0) outcome.logged = write_damage_log(outcome.log, damaged, outcome.log_failure);
    return damaged.count() > INT_MAX ? INT_MAX : static_cast<int>(damaged.count());
}

int decode_streams(const char* path, const char* key) {
    static RestoreOutcome outcome;
    return decode_streams(path, key, outcome);
}

void print_restore_report(const RestoreOutcome& outcome) {
    progress_line_end();
    const bool terminal = platform::output_is_terminal();
    const auto shown = [&](const std::string& text) { return terminal ? visible_text(text) : text; };
    std::printf(" Restored:  %s\n", shown(outcome.name).c_str());
    const long long n = outcome.damaged.count();
    if (n == 0) return;
    const char* failed = n == 1 ? "block failed its check" : "blocks failed their check";
    if (outcome.logged)
        std::printf(" Damaged:   %lld %s, listed in %s\n", n, failed, shown(outcome.log).c_str());
    else
        std::printf(" Damaged:   %lld %s (%s), not listed: %s cannot be written: %s\n", n, failed,
                    outcome.damaged.text().c_str(), shown(outcome.log).c_str(), outcome.log_failure.c_str());
}

}  // namespace kestrav3
