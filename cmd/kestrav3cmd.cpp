// kestrav3: codes, restores, tests and describes files through kestrav3lib.
// Exit status: 0 success, 1 the operation failed, 2 the command line was not
// understood (the help text was printed), 3 the test found a coded file not
// intact (damaged or missing blocks, bytes after the last group, or header
// copies that differ), or the restore wrote the file with blocks that failed
// their check or are missing, or -m found header copies whose metadata
// differ, or --repair found damage beyond the recovery set.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "kestrav3lib.h"
#include "keys.h"
#include "operations.h"
#include "system/program.h"
#include "system/terminal.h"
#include "visible.h"

namespace kestrav3::cmd {

namespace {

int status_of(int result) { return result < 0 ? exit_failed : exit_ok; }

// -t and -d: a positive result counts damaged blocks.
int status_of_check(int result) { return result < 0 ? exit_failed : result > 0 ? exit_not_intact : exit_ok; }

}  // namespace

int code_plain(const char* file, const char* key) { return status_of(kestrav3code(file, key, 1)); }
int code_window(const char* file, const char* key) { return status_of(kestrav3code_g(file, key, 1)); }
int decode_plain(const char* file, const char* key) { return status_of_check(kestrav3decode(file, key, 1)); }
int decode_window(const char* file, const char* key) { return status_of_check(kestrav3decode_g(file, key, 1)); }

int test(const char* file, const char* key) { return status_of_check(kestrav3test(file, key, 1)); }

int describe(const char* file, const char* key) {
    char text[3000];
    const int result = kestrav3desc(file, key, text, 1);
    if (result < 0) {
        std::puts("\n End.");
        return exit_failed;
    }
    std::setlocale(LC_ALL, "");
    // On a terminal, control sequences hidden in the metadata are shown
    // escaped, not obeyed; a pipe or a file gets the bytes as stored.
    if (system::output_is_terminal())
        std::puts(visible_text(text).c_str());
    else
        std::puts(text);
    // The header copies give different metadata: the text may be wrong.
    return result > 0 ? exit_not_intact : exit_ok;
}

int finish_output(int status) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
    std::fprintf(stderr, "kestrav3: write error: %s\n", std::strerror(errno));
    return exit_failed;
}

}  // namespace kestrav3::cmd

namespace {

using namespace kestrav3::cmd;

// The key given as "-" in the three-word form, read by the rules of every
// key source. False ends the run: the keys typed did not match, or the key
// holds a NUL. A line too long is handed on cut short, so the library
// refuses it with its own message.
bool read_dash_key(const Operation& operation, std::string& key) {
    switch (ask_key(operation.confirm_key, key)) {
    case KeyStatus::mismatch: std::puts(" \n Keys do not match\n "); return false;
    case KeyStatus::holds_nul: std::puts(" \n Key holds a NUL byte\n "); return false;
    default: return true;
    }
}

// A key word that names a file or folder is most likely a second file (a
// shell's glob of two names): it is refused before anything is written,
// with the ways to say what was meant. The key "-" is the prompt.
bool key_names_a_file(const Operation& operation, const char* key_argument) {
    if (std::strcmp(key_argument, "-") == 0 || system::node_kind(key_argument) == system::NodeKind::missing)
        return false;
    const std::string shown = visible_text(key_argument);
    std::fprintf(stderr,
                 "kestrav3: the key '%s' names an existing file or folder; nothing done\n"
                 "kestrav3: to run %s on both, give the key with -k FILE or -E VAR, or end the options with --:"
                 " kestrav3 %s -- FILE...\n"
                 "kestrav3: to use it as the key, give it with -k FILE or -E VAR, or give - and type it\n",
                 shown.c_str(), std::string(operation.flag).c_str(), std::string(operation.flag).c_str());
    return true;
}

// The design's form: an operation, a file and a key.
int run_three_words(const Operation& operation, const char* file, const char* key_argument) {
    if (key_names_a_file(operation, key_argument)) return exit_usage;
    // Keys longer than 40 bytes reach the library, which refuses them
    // with its framed message.
    std::string key = key_argument;
    if (key == "-" && !read_dash_key(operation, key)) return exit_failed;
    const int status = operation.run_one(file, key.c_str());
    // Coding and restoring print only progress and notes: a closed pipe
    // there must not undo what was written, nor fail the run.
    return operation.batch_operation == KESTRAV3_CODE || operation.batch_operation == KESTRAV3_DECODE
               ? status
               : finish_output(status);
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
    "Many:      kestrav3 <operation> [option...] <file>...\n"
    "           <operation> - one of -c -cg -d -dg -t -m\n"
    "           -k FILE  key from the first line of FILE (- standard input)\n"
    "           -E VAR   key from the environment variable VAR\n"
    "                    (neither: asked once, twice when coding)\n"
    "           -r       walk folders (never through a link)\n"
    "           -f       replace what is otherwise refused\n"
    "           --rm     coding: remove each input once its coded file is safe\n"
    "           --output-dir DIR  write the coded or restored files into DIR\n"
    "           -q       print only failures and damaged files\n"
    "           -j N     run up to N files at a time\n"
    "           --recovery=P  coding: also write a PAR 2.0 recovery set of\n"
    "                    P percent (1 to 100) beside each coded file\n"
    "           --       every word after it is a file\n"
    "           One line per file and a summary on standard output;\n"
    "           failures on standard error\n"
    "\n"
    "Recovery:  kestrav3 -p [--recovery=P] <file.archi>...\n"
    "           (adds a PAR 2.0 recovery set beside each coded file, no key:\n"
    "           <file.archi>.par2 and <file.archi>.vol<first>+<count>.par2,\n"
    "           P percent of its slices, 1 to 100, 5 when not given)\n"
    "Repair:    kestrav3 --repair <file.archi>...\n"
    "           (checks every slice, rebuilds damaged and missing ones from\n"
    "           the set, no key; par2 verify and par2 repair read the set too)\n"
    "\n"
    "Status:    0 - done (-t: every block checks out)\n"
    "           1 - the operation failed\n"
    "           2 - the command line was not understood\n"
    "           3 - -t found damaged or missing blocks, bytes after the end,\n"
    "               or header copies that differ;\n"
    "               -d restored the file, but blocks failed their check or\n"
    "               are missing (a file of its name is never replaced then);\n"
    "               -m found header copies whose metadata differ\n"
    "               --repair found damage beyond the recovery set\n"
    "\n"
    "Read more: man kestrav3\n"
    "           kestrav3 --help, kestrav3 --version\n"
    "\n";

int print_full_help() {
    print_help();
    std::fputs(help_additions, stdout);
    return finish_output(exit_ok);
}

// The line -v prints, without its framing, as scripts expect it.
int print_version_line() {
    std::puts("kestrav3 " KESTRAV3_VERSION);
    return finish_output(exit_ok);
}

}  // namespace

int main(int argc, char** argv) {
    system::ignore_output_signals();
    switch_utf_converting(1);
    const Operation* operation = argc >= 2 ? find_operation(argv[1]) : nullptr;
    if (operation != nullptr && operation->run_files != nullptr) return operation->run_files(argc - 2, argv + 2);
    if (operation != nullptr) {
        if (argc == 4 && !is_batch_option(argv[2]) && !is_batch_option(argv[3]))
            return run_three_words(*operation, argv[2], argv[3]);
        if (argc >= 3) return run_batch(*operation, argc, argv);
    }
    if (argc == 2 && is_version_option(argv[1])) {
        kestrav3ver(argv[1]);
        return finish_output(exit_ok);
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return print_full_help();
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return print_version_line();
    print_help();
    return exit_usage;
}
