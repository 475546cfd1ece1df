// The many-file form: kestrav3 OPERATION [OPTION...] FILE...
// One line per file on standard output (failures on standard error), then a
// summary line; exit status 1 when any file failed, else 3 when any was
// damaged, else 0; 2 for a command line not understood.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrav3lib.h"
#include "keys.h"
#include "operations.h"
#include "recovery_commands.h"
#include "system/program.h"
#include "system/terminal.h"
#include "visible.h"

namespace kestrav3::cmd {

namespace {

constexpr int max_jobs = 64;
constexpr std::size_t min_key_length = 4;
constexpr std::size_t max_key_length = 40;

enum class KeySource { ask, file, variable };

struct BatchOptions {
    KeySource key_source = KeySource::ask;
    std::string key_argument;  // the FILE of -k, the VAR of -E
    int key_options = 0;       // how many key options were given
    bool recurse = false;
    bool force = false;
    bool remove_input = false;
    std::string output_dir;
    bool quiet = false;
    int jobs = 1;
    int recovery = 0;     // coding: the percent of the recovery set, 0 none
    bool worker = false;  // a worker of -j: the key and the files come on standard input
    // The program's standard output is a terminal; a worker is told so by
    // --terminal, since its own output is a pipe to the program.
    bool terminal = false;
    std::vector<std::string> arguments;
};

// One option of the form: its name, whether it takes a value, and what it sets.
struct OptionRow {
    std::string_view name;
    bool takes_value;
    // False with a reason when the value is not acceptable.
    bool (*apply)(BatchOptions& options, const std::string& value, std::string& error);
};

bool set_key_file(BatchOptions& o, const std::string& value, std::string&) {
    o.key_source = KeySource::file;
    o.key_argument = value;
    ++o.key_options;
    return true;
}

bool set_key_variable(BatchOptions& o, const std::string& value, std::string&) {
    o.key_source = KeySource::variable;
    o.key_argument = value;
    ++o.key_options;
    return true;
}

bool set_jobs(BatchOptions& o, const std::string& value, std::string& error) {
    char* end = nullptr;
    const long jobs = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || jobs < 1 || jobs > max_jobs) {
        error = "-j takes a number of files at a time from 1 to " + std::to_string(max_jobs) + ", not '" + value + "'";
        return false;
    }
    o.jobs = static_cast<int>(jobs);
    return true;
}

bool set_recovery(BatchOptions& o, const std::string& value, std::string& error) {
    o.recovery = recovery_percent_value(value);
    if (o.recovery > 0) return true;
    error = "--recovery takes a percent of recovery slices from 1 to 100, not '" + value + "'";
    return false;
}

constexpr std::array<OptionRow, 11> option_rows{{
    {"-k", true, set_key_file},
    {"-E", true, set_key_variable},
    {"-r", false, [](BatchOptions& o, const std::string&, std::string&) { return o.recurse = true; }},
    {"-f", false, [](BatchOptions& o, const std::string&, std::string&) { return o.force = true; }},
    {"--rm", false, [](BatchOptions& o, const std::string&, std::string&) { return o.remove_input = true; }},
    {"--output-dir", true,
     [](BatchOptions& o, const std::string& v, std::string&) { return !(o.output_dir = v).empty(); }},
    {"-q", false, [](BatchOptions& o, const std::string&, std::string&) { return o.quiet = true; }},
    {"-j", true, set_jobs},
    {"--recovery", true, set_recovery},
    // How the program starts its own workers for -j; not for users.
    {"--worker", false, [](BatchOptions& o, const std::string&, std::string&) { return o.worker = true; }},
    {"--terminal", false, [](BatchOptions& o, const std::string&, std::string&) { return o.terminal = true; }},
}};

const OptionRow* find_option(std::string_view word) {
    for (const auto& row : option_rows)
        if (row.name == word) return &row;
    return nullptr;
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "kestrav3: %s\nkestrav3: see kestrav3 --help\n", problem.c_str());
    return exit_usage;
}

// Reads the options and the files; false with a reason when the command
// line is not understood.
bool parse(const Operation& operation, int argc, char** argv, BatchOptions& options, std::string& error) {
    bool files_only = false;
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (files_only || word.size() < 2 || word[0] != '-') {
            options.arguments.push_back(word);
            continue;
        }
        if (word == "--") {
            files_only = true;
            continue;
        }
        std::string value;
        const std::size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        if (equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.resize(equals);
        }
        const OptionRow* row = find_option(word);
        if (row == nullptr) return (error = "unknown option " + word), false;
        if (row->takes_value && equals == std::string::npos) {
            if (i + 1 >= argc) return (error = word + " needs a value"), false;
            value = argv[++i];
        } else if (!row->takes_value && equals != std::string::npos) {
            return (error = word + " takes no value"), false;
        }
        if (!row->apply(options, value, error)) {
            if (error.empty()) error = word + " needs a value";
            return false;
        }
    }
    if (options.key_options > 1) return (error = "the key is given in two ways (use one of -k and -E, once)"), false;
    if (options.remove_input && operation.batch_operation != KESTRAV3_CODE)
        return (error = "--rm is for coding (-c, -cg) only"), false;
    if (options.recovery > 0 && operation.batch_operation != KESTRAV3_CODE)
        return (error = "--recovery is for coding (-c, -cg); kestrav3 -p adds a set to a coded file"), false;
    if (options.arguments.empty() != options.worker)
        return (error = options.worker ? "a worker takes its files on standard input" : "no file given"), false;
    return true;
}

// A worker of -j and the program talk in records ended by a NUL byte, which
// neither a key nor a path nor a report can hold. The program sends the key,
// then a file's path whenever the worker is free; the worker answers each
// file with the outcome's letter, a line feed and the report.
constexpr std::string_view outcome_letters = "dDFsS";
constexpr char record_end = '\0';

// The next record of standard input; false at its end.
bool read_record(std::string& record) {
    record.clear();
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        if (c == record_end) return true;
        record.push_back(static_cast<char>(c));
    }
    return false;
}

// The key, read once for the whole batch; false (after saying why on
// standard error) when there is none to use.
bool batch_key(const Operation& operation, const BatchOptions& options, std::string& key) {
    KeyStatus status = KeyStatus::ok;
    std::string why_not;
    if (options.worker) {
        status = read_record(key) ? checked_key(key) : KeyStatus::unreadable;
    } else if (options.key_source == KeySource::file) {
        status = read_key_file(options.key_argument.c_str(), key, why_not);
    } else if (options.key_source == KeySource::variable) {
        status = read_key_variable(options.key_argument.c_str(), key);
    } else {
        status = ask_key(operation.confirm_key, key);
    }
    const std::string source = options.key_source == KeySource::file       ? "key file " + options.key_argument
                               : options.key_source == KeySource::variable ? "variable " + options.key_argument
                                                                           : "key";
    switch (status) {
    case KeyStatus::ok:
    case KeyStatus::too_long: {
        // A key every file would refuse alike is refused once, before any file.
        const char* why = key.empty()                   ? "is empty"
                          : key.size() < min_key_length ? "Password too short min. 4 chars [8]"
                          : key.size() > max_key_length ? "Password too long max. 40 chars [7]"
                                                        : nullptr;
        if (why == nullptr) return true;
        const bool from_input = options.key_source == KeySource::ask
                                    ? !system::input_is_terminal()
                                    : options.key_source == KeySource::file && options.key_argument == "-";
        if (key.empty() && from_input)
            std::fputs("kestrav3: no key on standard input\n", stderr);
        else
            std::fprintf(stderr, "kestrav3: %s: %s\n", source.c_str(), why);
        break;
    }
    case KeyStatus::holds_nul: std::fprintf(stderr, "kestrav3: %s: the key holds a NUL byte\n", source.c_str()); break;
    case KeyStatus::mismatch: std::fputs("kestrav3: keys do not match\n", stderr); break;
    case KeyStatus::unreadable:
        std::fprintf(stderr, "kestrav3: %s: %s\n", source.c_str(),
                     options.key_source == KeySource::variable ? "not set" : ("cannot be read: " + why_not).c_str());
        break;
    }
    return false;
}

// Names are always shown escaped, in a pipe too, so that each file's line
// stays one line and no name can forge a line or an escape: a backslash is
// doubled, line feeds, tabs, carriage returns and every other control are
// written as \xHH (C1 controls as \u00HH).
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

// A file of the batch, or an argument that is none.
struct Entry {
    std::string path;
    std::string problem;  // why it is not run ("" when it is)
    // A file a folder walk found: which file it was then (inode 0 for a
    // file named on the command line), so that no other is opened.
    system::NodeId walked{};
    bool skipped = false;  // problem says why it is passed over, not failed
};

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// What -r takes from a folder: for coding, every regular file but coded
// files, metadata companions, error logs and recovery files; otherwise
// every coded file.
bool walk_takes(const Operation& operation, std::string_view name) {
    if (operation.batch_operation != KESTRAV3_CODE) return ends_with(name, ".archi");
    for (const char* skipped : {".archi", ".met", ".err", ".par2"})
        if (ends_with(name, skipped)) return false;
    return true;
}

void walk(const Operation& operation, const std::string& folder, std::vector<Entry>& entries) {
    std::vector<std::string> names;
    if (!system::list_folder(folder, names)) {
        entries.push_back({folder, "folder cannot be read"});
        return;
    }
    const bool separated = !folder.empty() && (folder.back() == '/' || folder.back() == system::path_separator());
    const std::string prefix = separated ? folder : folder + system::path_separator();
    for (const auto& name : names) {
        const std::string path = prefix + name;
        // Links, to folders and to files alike, are never followed.
        system::NodeId id;
        switch (system::node_kind(path)) {
        case system::NodeKind::folder: walk(operation, path, entries); break;
        case system::NodeKind::file:
            if (walk_takes(operation, name) && system::node_id(path, false, id)) entries.push_back({path, "", id});
            break;
        case system::NodeKind::link: entries.push_back({path, "a symbolic link", {}, true}); break;
        default: break;
        }
    }
}

// The files of the command line and of the folders walked. A file named
// twice (in two spellings, or by two links) is run once, with a note.
std::vector<Entry> collect(const Operation& operation, const BatchOptions& options, std::vector<std::string>& notes) {
    std::vector<Entry> found;
    for (const auto& argument : options.arguments) {
        for (const auto& path : system::expand_wildcards(argument)) {
            if (system::node_kind(path) != system::NodeKind::folder)
                found.push_back({path, ""});
            else if (options.recurse)
                walk(operation, path, found);
            else
                found.push_back({path, "is a folder (use -r to walk it)"});
        }
    }
    std::vector<Entry> entries;
    std::map<system::NodeId, std::string> seen;
    for (auto& entry : found) {
        system::NodeId id;
        if (entry.problem.empty() && system::node_id(entry.path, true, id)) {
            const auto [first, added] = seen.emplace(id, entry.path);
            if (!added) {
                notes.push_back("kestrav3: " + shown(entry.path) + " is " + shown(first->second) +
                                " again; it is run once");
                continue;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

const char* separators() { return system::path_separator() == '/' ? "/" : "/\\"; }

// The folder part of a path ("." for none).
std::string folder_of(const std::string& path) {
    const std::size_t cut = path.find_last_of(separators());
    if (cut == std::string::npos) return ".";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

// Where an output goes, as its folder knows it: the folder itself (device
// and inode, however the path spells it) and the name as that folder
// compares names (ASCII letters of one case where it folds case).
struct Place {
    system::NodeId folder;
    std::string name;
    bool operator<(const Place& o) const { return folder == o.folder ? name < o.name : folder < o.folder; }
};

bool place_of(const std::string& target, Place& place) {
    const std::string folder = folder_of(target);
    if (!system::node_id(folder, true, place.folder)) return false;
    const std::size_t cut = target.find_last_of(separators());
    place.name = target.substr(cut == std::string::npos ? 0 : cut + 1);
    if (system::folder_folds_case(folder))
        for (char& c : place.name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return true;
}

// Two files of one batch that would write the same name of one folder are
// refused before anything is written.
bool refuse_collisions(const Operation& operation, const BatchOptions& options, const std::vector<Entry>& entries,
                       const std::string& key) {
    if (operation.batch_operation != KESTRAV3_CODE && operation.batch_operation != KESTRAV3_DECODE) return false;
    std::map<Place, std::pair<std::string, std::string>> writers;
    bool collided = false;
    static char target[4096];
    for (const auto& entry : entries) {
        if (!entry.problem.empty()) continue;
        const char* dir = options.output_dir.empty() ? nullptr : options.output_dir.c_str();
        Place place;
        if (kestrav3target(operation.batch_operation, entry.path.c_str(), key.c_str(), dir, target, sizeof target) !=
                0 ||
            !place_of(target, place))
            continue;
        const auto [first, added] = writers.emplace(place, std::make_pair(entry.path, std::string(target)));
        if (added) continue;
        const auto& [other, other_target] = first->second;
        std::fprintf(stderr, "kestrav3: %s and %s would both write %s; nothing written\n", shown(other).c_str(),
                     shown(entry.path).c_str(), shown(other_target).c_str());
        collided = true;
    }
    return collided;
}

// skipped: passed over on purpose (a link under -r), said on standard
// output; refused: not run, so as not to replace a file, said on standard
// error and failing the run.
enum class Outcome { done, damaged, failed, skipped, refused };

// What one file came to, and the lines that say so.
struct Report {
    Outcome outcome = Outcome::failed;
    std::string text;  // whole lines, each ending in a line feed
};

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

// A file that failed, and why: the line every failure of the form starts with.
Report failure(const std::string& name, const std::string& why) {
    return {Outcome::failed, shown(name) + ": failed: " + why + "\n"};
}

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
        if (options.recovery > 0) report.text += ", recovery set " + shown(std::string(result.written) + ".par2");
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

// A file as the program sends it to a worker: the device and inode a walk
// saw (0 0 for none), then the path.
std::string file_record(const Entry& entry) {
    return std::to_string(entry.walked.device) + ' ' + std::to_string(entry.walked.inode) + ' ' + entry.path +
           record_end;
}

Entry entry_of_record(const std::string& record) {
    Entry entry;
    char* end = nullptr;
    entry.walked.device = std::strtoull(record.c_str(), &end, 10);
    entry.walked.inode = std::strtoull(end, &end, 10);
    entry.path = *end == ' ' ? std::string(end + 1) : std::string();
    if (entry.path.empty()) entry.problem = "its worker process was sent no file";
    return entry;
}

// A worker runs file after file for as long as the program that started it
// is there: once it has gone, the worker starts no new file (and the
// system ends it in the middle of one, which leaves a coded file complete
// or not written, and the input in place).
int run_as_worker(const Operation& operation, const BatchOptions& options, const std::string& key) {
    system::end_with_program();
    std::string record;
    while (read_record(record) && system::program_still_there()) {
        const Report report = run_file(operation, options, entry_of_record(record), key);
        std::printf("%c\n%s%c", outcome_letters[static_cast<std::size_t>(report.outcome)], report.text.c_str(),
                    record_end);
        if (std::fflush(stdout) != 0) return exit_failed;
    }
    return finish_output(exit_ok);
}

struct Tally {
    long long files = 0;
    long long done = 0;
    long long damaged = 0;
    long long failed = 0;
    long long skipped = 0;  // passed over or refused
    long long refused = 0;
};

// Failures and refusals go to standard error; -q keeps only them and the
// damaged files.
void show(const Report& report, const BatchOptions& options, Tally& tally) {
    ++tally.files;
    switch (report.outcome) {
    case Outcome::done: ++tally.done; break;
    case Outcome::damaged: ++tally.damaged; break;
    case Outcome::failed: ++tally.failed; break;
    case Outcome::skipped: ++tally.skipped; break;
    case Outcome::refused:
        ++tally.skipped;
        ++tally.refused;
        break;
    }
    if (report.outcome == Outcome::failed || report.outcome == Outcome::refused) {
        std::fflush(stdout);
        std::fputs(report.text.c_str(), stderr);
        return;
    }
    if (!options.quiet || report.outcome == Outcome::damaged) std::fputs(report.text.c_str(), stdout);
    std::fflush(stdout);
}

std::vector<std::string> worker_arguments(const Operation& operation, const BatchOptions& options) {
    std::vector<std::string> args{"kestrav3", std::string(operation.flag), "--worker"};
    if (options.force) args.push_back("-f");
    if (options.remove_input) args.push_back("--rm");
    if (!options.output_dir.empty()) args.insert(args.end(), {"--output-dir", options.output_dir});
    if (options.recovery > 0) args.push_back("--recovery=" + std::to_string(options.recovery));
    if (options.terminal) args.push_back("--terminal");
    return args;
}

// A worker's standard output in text mode (Windows) ends its lines in CR LF.
std::string without_carriage_returns(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

Report worker_report(const std::string& file, const std::string& raw) {
    const std::string output = without_carriage_returns(raw);
    const std::size_t letter = output.empty() ? std::string_view::npos : outcome_letters.find(output[0]);
    if (letter == std::string_view::npos || output.size() < 2 || output[1] != '\n')
        return failure(file, "its worker process answered out of turn");
    return {static_cast<Outcome>(letter), output.substr(2)};
}

// One worker of -j: the process, the files sent to it in order (the one at
// hand first), and what it has answered so far.
struct Slot {
    system::Worker worker;
    bool unstartable = false;
    std::deque<std::size_t> files;
    std::string answer;

    bool alive() const { return worker.process != 0; }
};

// The reports of a batch run in workers, shown in the files' order as soon
// as every file before them has its own.
class InOrder {
public:
    InOrder(const BatchOptions& options, Tally& tally, std::size_t count)
        : options_(options), tally_(tally), reports_(count) {}
    void add(std::size_t index, Report report) {
        reports_[index] = std::move(report);
        // A file never run (the run was stopped) has no lines and is not counted.
        for (; shown_ < reports_.size() && reports_[shown_]; ++shown_)
            if (!reports_[shown_]->text.empty()) show(*reports_[shown_], options_, tally_);
    }

private:
    const BatchOptions& options_;
    Tally& tally_;
    std::vector<std::optional<Report>> reports_;
    std::size_t shown_ = 0;
};

// The state of a batch run with -j: the files not yet given to anyone, the
// workers, and the reports.
struct Crew {
    const Operation& operation;
    const BatchOptions& options;
    const std::vector<Entry>& entries;
    const std::string& key;
    std::string program;
    std::vector<std::string> args;
    std::deque<std::size_t> waiting;
    std::vector<Slot> slots;
    InOrder reports;
    std::size_t not_run = 0;  // files left when the run was stopped
};

// The run was stopped: the files not yet given to anyone are not run.
void drop_waiting(Crew& crew) {
    for (const std::size_t file : crew.waiting) crew.reports.add(file, Report{Outcome::skipped, ""});
    crew.not_run += crew.waiting.size();
    crew.waiting.clear();
}

bool start_slot(Crew& crew, Slot& slot) {
    slot = Slot{};
    slot.unstartable = !system::start_worker(crew.program, crew.args, slot.worker);
    if (slot.unstartable) return false;
    if (system::feed_worker(slot.worker, crew.key + record_end)) return true;
    system::finish_worker(slot.worker);
    slot = Slot{};
    slot.unstartable = true;
    return false;
}

// The line of a file whose worker ended before it answered. A worker the
// run's stop signal ended may have finished its file just before: with
// --rm, an input that is gone was removed only once its coded file was
// complete and on the device, and the line says so.
Report lost_file(const Crew& crew, const Entry& entry) {
    if (system::stop_signal() == 0) return failure(entry.path, "its worker process ended without a result");
    static char target[4096];
    const char* dir = crew.options.output_dir.empty() ? nullptr : crew.options.output_dir.c_str();
    if (crew.options.remove_input && system::node_kind(entry.path) == system::NodeKind::missing &&
        kestrav3target(KESTRAV3_CODE, entry.path.c_str(), crew.key.c_str(), dir, target, sizeof target) == 0)
        return {Outcome::done, shown(entry.path) + ": written " + shown(target) + ", input removed\n"};
    return failure(entry.path, "stopped with the run, by a signal");
}

// A worker that has gone failed the file at hand; the files queued behind
// it go back to the front of the waiting ones.
void lose_worker(Crew& crew, Slot& slot) {
    if (!slot.files.empty()) {
        const std::size_t lost = slot.files.front();
        slot.files.pop_front();
        crew.reports.add(lost, lost_file(crew, crew.entries[lost]));
        crew.waiting.insert(crew.waiting.begin(), slot.files.begin(), slot.files.end());
    }
    system::finish_worker(slot.worker);
    slot = Slot{};
}

// Reads what the slot's worker has sent; each whole answer is its oldest
// file's report.
void take_answers(Crew& crew, Slot& slot) {
    const bool open = system::read_worker(slot.worker, slot.answer);
    for (std::size_t end = slot.answer.find(record_end); end != std::string::npos && !slot.files.empty();
         end = slot.answer.find(record_end)) {
        const std::size_t file = slot.files.front();
        slot.files.pop_front();
        crew.reports.add(file, worker_report(crew.entries[file].path, slot.answer.substr(0, end)));
        slot.answer.erase(0, end + 1);
    }
    if (!open) lose_worker(crew, slot);
}

// Takes the answers that have come; waits for one when told to.
void take_ready_answers(Crew& crew, bool wait) {
    for (;;) {
        std::vector<system::Worker*> busy;
        std::vector<Slot*> owners;
        for (auto& slot : crew.slots) {
            if (slot.files.empty()) continue;
            busy.push_back(&slot.worker);
            owners.push_back(&slot);
        }
        const int ready = system::wait_for_workers(busy, wait);
        if (ready < 0) return;
        take_answers(crew, *owners[static_cast<std::size_t>(ready)]);
        wait = false;
    }
}

// Gives each worker files from the front of the waiting ones until it
// holds depth of them, starting workers as they are needed.
void feed_slots(Crew& crew, std::size_t depth) {
    for (auto& slot : crew.slots) {
        while (slot.files.size() < depth && !crew.waiting.empty() && !slot.unstartable) {
            if (!slot.alive() && !start_slot(crew, slot)) break;
            const std::size_t file = crew.waiting.front();
            crew.waiting.pop_front();
            slot.files.push_back(file);
            // A worker that cannot be fed has gone: what it answered before
            // still counts.
            if (!system::feed_worker(slot.worker, file_record(crew.entries[file])))
                while (slot.alive()) take_answers(crew, slot);
        }
    }
}

// options.jobs files at a time: the program runs one itself, and each of
// options.jobs - 1 workers, the program again started once, takes file
// after file. A worker holds the file at hand and the next one, so that it
// never waits while the program is busy with its own file.
void run_in_workers(const Operation& operation, const BatchOptions& options, const std::vector<Entry>& entries,
                    const std::string& key, Tally& tally) {
    Crew crew{operation,
              options,
              entries,
              key,
              system::own_program(),
              worker_arguments(operation, options),
              {},
              {},
              InOrder(options, tally, entries.size())};
    crew.slots.resize(static_cast<std::size_t>(options.jobs - 1));
    // A stop signal goes to the workers too, and the program waits for
    // them, so that what it prints is what was done.
    system::pass_stop_signals_to_workers();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].problem.empty())
            crew.waiting.push_back(i);
        else
            crew.reports.add(i, run_file(operation, options, entries[i], key));
    }
    for (;;) {
        if (system::stop_signal() != 0) drop_waiting(crew);
        feed_slots(crew, 1);
        if (crew.waiting.empty()) {
            if (std::none_of(crew.slots.begin(), crew.slots.end(), [](const Slot& s) { return !s.files.empty(); }))
                break;
            take_ready_answers(crew, true);
            continue;
        }
        const std::size_t own = crew.waiting.front();
        crew.waiting.pop_front();
        feed_slots(crew, 2);
        crew.reports.add(own, run_file(operation, options, entries[own], key));
        take_ready_answers(crew, false);
    }
    for (auto& slot : crew.slots)
        if (slot.alive()) system::finish_worker(slot.worker);
    if (system::stop_signal() != 0)
        std::fprintf(stderr, "kestrav3: stopped by a signal; %zu file%s not run\n", crew.not_run,
                     crew.not_run == 1 ? "" : "s");
}

// Coding and restoring count every file written, a damaged restore among
// them; the test and the metadata count the intact (or read) ones apart.
// Files passed over or refused are counted when there are any; under -q
// there is a summary only when something is not well.
void print_summary(const Operation& operation, const BatchOptions& options, const Tally& tally) {
    if (options.quiet && tally.damaged == 0 && tally.failed == 0 && tally.refused == 0) return;
    const bool writes = operation.batch_operation == KESTRAV3_CODE || operation.batch_operation == KESTRAV3_DECODE;
    const std::string skipped = tally.skipped > 0 ? ", " + std::to_string(tally.skipped) + " skipped" : "";
    std::printf("kestrav3: %lld file%s: %lld %s, %lld damaged%s, %lld failed\n", tally.files,
                tally.files == 1 ? "" : "s", writes ? tally.done + tally.damaged : tally.done,
                std::string(operation.done_word).c_str(), tally.damaged, skipped.c_str(), tally.failed);
}

int status_of(const Tally& tally) {
    if (tally.failed > 0 || tally.refused > 0) return exit_failed;
    return tally.damaged > 0 ? exit_not_intact : exit_ok;
}

}  // namespace

bool is_batch_option(std::string_view word) {
    if (word == "--") return true;
    const std::size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string_view::npos;
    return find_option(word.substr(0, equals)) != nullptr;
}

int run_batch(const Operation& operation, int argc, char** argv) {
    BatchOptions options;
    std::string error;
    if (!parse(operation, argc, argv, options, error)) return usage_error(error);
    if (!options.output_dir.empty() && !system::leads_to_folder(options.output_dir)) {
        std::fprintf(stderr, "kestrav3: --output-dir %s: not a folder\n", options.output_dir.c_str());
        return exit_failed;
    }
    if (!options.worker) options.terminal = system::output_is_terminal();
    std::string key;
    if (!batch_key(operation, options, key)) return exit_failed;
    if (options.worker) return run_as_worker(operation, options, key);
    std::vector<std::string> notes;
    const std::vector<Entry> entries = collect(operation, options, notes);
    if (refuse_collisions(operation, options, entries, key)) return exit_failed;
    if (!options.quiet)
        for (const auto& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
    if (operation.batch_operation == KESTRAV3_DESCRIBE) std::setlocale(LC_ALL, "");
    Tally tally;
    // Without its own path the program cannot start workers: it runs the files itself.
    if (options.jobs > 1 && entries.size() > 1 && !system::own_program().empty()) {
        run_in_workers(operation, options, entries, key, tally);
    } else {
        for (const auto& entry : entries) show(run_file(operation, options, entry, key), options, tally);
    }
    print_summary(operation, options, tally);
    const int status = finish_output(status_of(tally));
    // Stopped by a signal: what was done is said; the run ends as the
    // signal ends a program, so that the caller sees it.
    if (system::stop_signal() != 0) system::end_by_signal(system::stop_signal());
    return status;
}

}  // namespace kestrav3::cmd
