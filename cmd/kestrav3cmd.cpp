// kestrav3: codes, restores, tests and describes files through kestrav3lib.
// Exit status: 0 success, 1 the operation failed, 2 the command line was not
// understood (the help text was printed), 3 the test found a coded file not
// intact (damaged or missing blocks, or bytes after the last group).
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "kestrav3lib.h"
#include "platform/terminal.h"
#include "recovery_commands.h"
#include "textconv/visible_text.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_not_intact = 3;

int status_of(int result) { return result < 0 ? exit_failed : exit_ok; }

int test(const char* file, const char* key) {
    const int result = kestrav3test(file, key, 1);
    return result < 0 ? exit_failed : result > 0 ? exit_not_intact : exit_ok;
}

int describe(const char* file, const char* key) {
    char text[3000];
    if (kestrav3desc(file, key, text, 1) < 0) {
        std::puts("\n End.");
        return exit_failed;
    }
    std::setlocale(LC_ALL, "");
    // On a terminal, control sequences hidden in the metadata are shown
    // escaped, not obeyed; a pipe or a file gets the bytes as stored.
    if (kestrav3::platform::output_is_terminal())
        std::puts(kestrav3::visible_text(text).c_str());
    else
        std::puts(text);
    return exit_ok;
}

// A key given as "-" is read instead: from the terminal without echo (twice
// when coding, so a typing error cannot lock the file away), or as one line
// from standard input when that is not a terminal. False: the keys typed
// did not match.
bool read_key(const char* option, std::string& key) {
    using namespace kestrav3::platform;
    if (!input_is_terminal()) {
        key.clear();
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) key.push_back(static_cast<char>(c));
        return true;
    }
    if (!read_hidden_line(" Key: ", key)) return true;
    const bool coding = std::strcmp(option, "-c") == 0 || std::strcmp(option, "-cg") == 0;
    std::string again;
    if (!coding || (read_hidden_line(" Key: ", again) && again == key)) return true;
    std::puts(" \n Keys do not match\n ");
    return false;
}

int run_operation(const char* option, const char* file, const char* key) {
    if (std::strcmp(option, "-c") == 0) return status_of(kestrav3code(file, key, 1));
    if (std::strcmp(option, "-cg") == 0) return status_of(kestrav3code_g(file, key, 1));
    if (std::strcmp(option, "-d") == 0) return status_of(kestrav3decode(file, key, 1));
    if (std::strcmp(option, "-dg") == 0) return status_of(kestrav3decode_g(file, key, 1));
    if (std::strcmp(option, "-t") == 0) return test(file, key);
    return describe(file, key);
}

bool is_operation(const char* option) {
    for (const char* known : {"-c", "-cg", "-d", "-dg", "-t", "-m"})
        if (std::strcmp(option, known) == 0) return true;
    return false;
}

bool is_version_option(const char* option) { return std::strcmp(option, "-v") == 0 || std::strcmp(option, "-vg") == 0; }

// What --help adds after the library's help text, in its layout.
constexpr const char* help_additions =
    "Test:      kestrav3 -t <file> <key>\n"
    "           (checks every block, writes nothing)\n"
    "           <file> - name of coded file\n"
    "           <key>  - required key for decoding\n"
    "\n"
    "Key -:     a key given as - is asked for on the terminal without echo\n"
    "           (twice when coding), or read as one line from standard input\n"
    "\n"
    "Status:    0 - done (-t: every block checks out)\n"
    "           1 - the operation failed\n"
    "           2 - the command line was not understood\n"
    "           3 - -t found damaged or missing blocks, or bytes after the end;\n"
    "               --repair found damage beyond the recovery set\n"
    "\n"
    "Read more: man kestrav3\n"
    "           kestrav3 --help, kestrav3 --version\n"
    "\n";

int print_full_help() {
    print_help();
    // The recovery commands' lines go after the test's, before the statuses.
    const std::string additions = help_additions;
    const std::size_t statuses = additions.find("Status:");
    std::fputs(additions.substr(0, statuses).c_str(), stdout);
    std::fputs(kestrav3::commands::help_text, stdout);
    std::fputs(additions.substr(statuses).c_str(), stdout);
    return exit_ok;
}

// The line -v prints, without its framing, as scripts expect it.
int print_version_line() {
    std::puts("kestrav3 " KESTRAV3_VERSION);
    return exit_ok;
}

}  // namespace

int main(int argc, char** argv) {
    kestrav3::platform::ignore_output_signals();
    switch_utf_converting(1);
    namespace commands = kestrav3::commands;
    if (argc >= 2 && std::strcmp(argv[1], "-p") == 0) return commands::protect(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "--repair") == 0) return commands::repair(argc - 2, argv + 2);
    if (argc >= 3 && std::strcmp(argv[1], "-c") == 0 && std::strncmp(argv[2], "--recovery=", 11) == 0)
        return commands::code_with_recovery(argc - 2, argv + 2);
    if (argc == 4 && is_operation(argv[1])) {
        // Keys longer than 40 bytes reach the library, which refuses them
        // with its framed message.
        std::string key = argv[3];
        if (key == "-" && !read_key(argv[1], key)) return exit_failed;
        return run_operation(argv[1], argv[2], key.c_str());
    }
    if (argc == 2 && is_version_option(argv[1])) {
        kestrav3ver(argv[1]);
        return exit_ok;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return print_full_help();
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return print_version_line();
    print_help();
    return exit_usage;
}
