#include "batch_options.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "keys.h"
#include "recovery_commands.h"
#include "system/terminal.h"
#include "worker_protocol.h"

namespace kestrav3::cmd {

namespace {

constexpr int max_jobs = 64;
constexpr std::size_t min_key_length = 4;
constexpr std::size_t max_key_length = 40;

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

}  // namespace

bool is_batch_option(std::string_view word) {
    if (word == "--") return true;
    const std::size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string_view::npos;
    return find_option(word.substr(0, equals)) != nullptr;
}

bool parse_batch(const Operation& operation, int argc, char** argv, BatchOptions& options, std::string& error) {
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

}  // namespace kestrav3::cmd
