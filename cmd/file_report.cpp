#include "file_report.h"

#include "file_names.h"
#include "visible.h"

namespace kestrav3::cmd {

std::string shown(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n' || c == '\t' || c == '\r')
            out += c == '\n' ? "\\x0A" : c == '\t' ? "\\x09" : "\\x0D";
        else
            out += c;
    }
    return visible_text(out);
}

Report failure(const std::string& name, const std::string& why) {
    return {Outcome::failed, shown(name) + ": failed: " + why + "\n"};
}

namespace {

// Metadata as -m shows it, each line indented under its file's line, so
// that none can pass for a line of the report: escaped on a terminal, as
// stored elsewhere.
std::string shown_metadata(const char* text, bool terminal) {
    const std::string stored = terminal ? visible_text(text) : std::string(text);
    std::string out;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (i == 0 || stored[i - 1] == '\n') out += "  ";
        out += stored[i];
    }
    return out;
}

std::string test_findings(const kestrav3_result& result) {
    std::string text;
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
    if (result.header[0] != '\0') add(result.header);
    if (result.damaged_count > 0) add(result.damaged);
    if (result.missing_count > 0) add(std::string("missing ") + result.missing);
    if (result.trailing_bytes > 0)
        add(std::to_string(result.trailing_bytes) + " byte" + (result.trailing_bytes == 1 ? "" : "s") +
            " after the last group");
    return text;
}

// A damaged file whose recovery set can rebuild the damage says so.
std::string repairable(const kestrav3_result& result) {
    return result.repairable == 1 ? ", repairable with kestrav3 --repair" : "";
}

// The library's code for a restored name that is taken.
constexpr int refused_name = -16;

Report report_of(const Operation& operation, const BatchOptions& options, const std::string& name,
                 const kestrav3_result& result) {
    Report report;
    const std::string who = shown(name) + ": ";
    // A restore that would replace a file, without -f: that file is named,
    // and the other files go on.
    if (result.code == refused_name && operation.batch_operation == KESTRAV3_DECODE && result.detail[0] != '\0')
        return {Outcome::refused, who + "skipped: " + shown(result.detail) + "\n"};
    // The coded file is in place, its recovery set is not: a failure too.
    if (result.code < 0 && result.written[0] != '\0' && operation.batch_operation == KESTRAV3_CODE)
        return {Outcome::failed, who + "written " + shown(result.written) + ", recovery set failed: " +
                                     shown(result.detail[0] != '\0' ? result.detail : result.message) + "\n"};
    if (result.code < 0) {
        report = failure(name, result.message[0] != '\0' ? result.message : "error " + std::to_string(-result.code));
        if (result.detail[0] != '\0') report.text += who + shown(result.detail) + "\n";
        return report;
    }
    report.outcome = result.code > 0 ? Outcome::damaged : Outcome::done;
    switch (operation.batch_operation) {
    case KESTRAV3_TEST:
        report.text =
            who + (result.code > 0 ? "damaged: " + test_findings(result) + repairable(result) : "intact") + "\n";
        break;
    case KESTRAV3_DESCRIBE:
        report.text = who + "metadata" +
                      (result.header[0] != '\0' ? std::string(" (") + result.header + " damaged)" : "") + ":\n" +
                      shown_metadata(result.metadata, options.terminal) + "\n";
        break;
    default:
        report.text = who + "written " + shown(result.written);
        if (result.code > 0) report.text += ", damaged: " + test_findings(result) + repairable(result);
        // Header copies that differ leave the restored file right: named, not counted.
        if (result.code == 0 && result.header[0] != '\0') report.text += std::string(", ") + result.header + " damaged";
        if (options.recovery > 0) report.text += ", recovery set " + shown(recovery_set_of(result.written));
        if (result.old_set_removed == 1) report.text += ", old recovery set removed";
        if (result.removed == 1) report.text += ", input removed";
        report.text += "\n";
        break;
    }
    return report;
}

kestrav3_options library_options(const Operation& operation, const BatchOptions& options) {
    kestrav3_options settings{};
    settings.window = operation.window ? 1 : 0;
    settings.force = options.force ? 1 : 0;
    settings.remove_input = options.remove_input ? 1 : 0;
    settings.output_dir = options.output_dir.empty() ? nullptr : options.output_dir.c_str();
    settings.recovery = options.recovery;
    settings.refuse_existing = operation.batch_operation == KESTRAV3_DECODE && !options.force ? 1 : 0;
    // The progress line only where a person watches one file at a time.
    settings.progress = options.terminal && options.jobs == 1 && !options.quiet && !options.worker;
    return settings;
}

}  // namespace

Report run_file(const Operation& operation, const BatchOptions& options, const Entry& entry, const std::string& key) {
    if (entry.skipped) return {Outcome::skipped, shown(entry.path) + ": skipped: " + entry.problem + "\n"};
    if (!entry.problem.empty()) return failure(entry.path, entry.problem);
    static kestrav3_result result;
    kestrav3_options settings = library_options(operation, options);
    settings.input_device = entry.walked.device;
    settings.input_inode = entry.walked.inode;
    kestrav3run(operation.batch_operation, entry.path.c_str(), key.c_str(), &settings, &result);
    return report_of(operation, options, entry.path, result);
}

}  // namespace kestrav3::cmd
