#include "worker_protocol.h"

#include <cstdio>
#include <cstdlib>

#include "system/program.h"

namespace kestrav3::cmd {

namespace {

Entry entry_of_record(const std::string& record) {
    Entry entry;
    char* end = nullptr;
    entry.walked.device = std::strtoull(record.c_str(), &end, 10);
    entry.walked.inode = std::strtoull(end, &end, 10);
    entry.path = *end == ' ' ? std::string(end + 1) : std::string();
    if (entry.path.empty()) entry.problem = "its worker process was sent no file";
    return entry;
}

// A worker's standard output in text mode (Windows) ends its lines in CR LF.
std::string without_carriage_returns(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

}  // namespace

bool read_record(std::string& record) {
    record.clear();
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        if (c == record_end) return true;
        record.push_back(static_cast<char>(c));
    }
    return false;
}

std::string file_record(const Entry& entry) {
    return std::to_string(entry.walked.device) + ' ' + std::to_string(entry.walked.inode) + ' ' + entry.path +
           record_end;
}

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

std::vector<std::string> worker_arguments(const Operation& operation, const BatchOptions& options) {
    std::vector<std::string> args{"kestrav3", std::string(operation.flag), "--worker"};
    if (options.force) args.push_back("-f");
    if (options.remove_input) args.push_back("--rm");
    if (!options.output_dir.empty()) args.insert(args.end(), {"--output-dir", options.output_dir});
    if (options.recovery > 0) args.push_back("--recovery=" + std::to_string(options.recovery));
    if (options.terminal) args.push_back("--terminal");
    return args;
}

Report worker_report(const std::string& file, const std::string& raw) {
    const std::string output = without_carriage_returns(raw);
    const std::size_t letter = output.empty() ? std::string_view::npos : outcome_letters.find(output[0]);
    if (letter == std::string_view::npos || output.size() < 2 || output[1] != '\n')
        return failure(file, "its worker process answered out of turn");
    return {static_cast<Outcome>(letter), output.substr(2)};
}

}  // namespace kestrav3::cmd
