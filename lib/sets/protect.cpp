#include "sets/protect.h"

#include <cstdio>
#include <new>

#include "container/container.h"
#include "container/files.h"
#include "container/names.h"
#include "platform/platform.h"
#include "sets/set_files.h"
#include "sets/texts.h"
#include "shared/failure.h"
#include "shared/results.h"
#include "shared/sizes.h"

namespace kestrav3 {

namespace {

// The set the coder computed, written beside its coded file, now in place:
// a set that fails is the file's failure, with the coded file kept.
int write_coders_set(const std::string& coded_path, recovery::SetWriter& writer, const RunSettings& settings,
                     RunResult& run) {
    run.recovery_set_failed = true;
    if (!writer.finish(base_name(coded_path)))
        return fail(ERR_IO_STOPPED, coded_path, "the coded file changed while its set was computed");
    std::vector<std::string> written;
    const int result = write_set_files(coded_path, writer, written);
    if (result != 0) return result;
    run.recovery_set_failed = false;
    const std::uint32_t slices = writer.plan().recovery_slices;
    if (settings.console_lines)
        std::printf("\nRecovery: %s and %zu recovery file%s, %u recovery slice%s\n",
                    std::string(base_name(written.front())).c_str(), written.size() - 1, plural(written.size() - 1),
                    slices, plural(slices));
    return 0;
}

}  // namespace

int code_streams(const char* path, const char* key, const RunSettings& settings, RunResult& run) {
    const int percent = settings.recovery_percent;
    static recovery::SetWriter writer;
    CodingHooks hooks;
    // A set beside the coded file this one replaces describes bytes that
    // are about to go (par2 would rebuild them over the new ones): it goes
    // first, durably, so no crash leaves it beside the new coded file.
    hooks.before_naming = [&](const std::string& coded_path) {
        if (remove_old_set(coded_path) > 0 && percent <= 0) run.removed_old_set = true;
    };
    if (percent > 0) {
        hooks.begin = [&](std::uint64_t coded_size) -> int {
            recovery::SetPlan plan;
            if (!recovery::plan_set(coded_size, percent, 0, plan)) return ERR_READ;
            return writer.start(plan) ? 0 : ERR_NOMEM;
        };
        hooks.observe = [&](const std::uint8_t* data, std::size_t size) { writer.add(data, size); };
    }
    run.recovery_set_failed = false;
    const int result = combine_streams(path, key, settings, run, hooks);
    if (result != 0 || percent <= 0) return result;
    return write_coders_set(run.written_path, writer, settings, run);
}

namespace {

constexpr std::size_t read_buffer = 1 << 20;

int protect_file(const char* path, int percent, ProtectOutcome& outcome) {
    outcome = ProtectOutcome{};
    outcome.path = path;
    const platform::PathInfo info = platform::path_info(path);
    if (platform::entry_kind(path) != platform::EntryKind::file || info.kind != platform::PathKind::regular)
        return not_a_coded_file(path, info);
    if (!coded_file_size(info.size) ||
        !recovery::plan_set(static_cast<std::uint64_t>(info.size), percent, 0, outcome.plan))
        return fail(ERR_NOT_CODED, path, "its size, " + std::to_string(info.size) + " bytes, is no coded file's size");

    static recovery::SetWriter writer;
    if (!writer.start(outcome.plan)) return fail(ERR_NOMEM, path, "no memory for the recovery slices");
    {
        Stream in = Stream::reader(path, 0);
        if (!in) return fail(ERR_READ, path, platform::last_error_text());
        std::vector<std::uint8_t> buffer(read_buffer);
        std::size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) writer.add(buffer.data(), got);
        if (std::ferror(in.get())) return fail(ERR_IO_STOPPED, path, platform::last_error_text());
    }
    // A file that changed while it was read gives no set.
    if (!writer.finish(base_name(path))) return fail(ERR_IO_STOPPED, path, "changed while its set was computed");
    return write_set_files(path, writer, outcome.written);
}

}  // namespace

int protect_streams(const char* path, int percent, ProtectOutcome& outcome) {
    int result = ERR_NOMEM;
    try {
        result = protect_file(path, percent, outcome);
    } catch (const std::bad_alloc&) {
    }
    return named_failure(result, path, "");
}

void print_protect_report(const ProtectOutcome& outcome) {
    const recovery::SetPlan& plan = outcome.plan;
    std::printf(" File:      %s (%llu bytes)\n", outcome.path.c_str(),
                static_cast<unsigned long long>(plan.file_length));
    std::printf(" Slices:    %u of %llu bytes\n", plan.input_slices, static_cast<unsigned long long>(plan.slice_size));
    std::printf(" Recovery:  %u slice%s\n", plan.recovery_slices, plural(plan.recovery_slices));
    for (const std::string& name : outcome.written) std::printf(" Wrote:     %s\n", name.c_str());
}

}  // namespace kestrav3
