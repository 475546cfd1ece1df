// The shared library offers exactly the operations its header declares and
// nothing else: the header, the two export lists the linker is given and the
// built library's dynamic symbol table all name the same functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

using Names = std::set<std::string>;

// The operations, one per line.
const Names operations = {
    "kestrav3code", "kestrav3code_g",  "kestrav3code_recovery", "kestrav3decode", "kestrav3decode_g",
    "kestrav3desc", "kestrav3protect", "kestrav3repair",        "kestrav3run",    "kestrav3target",
    "kestrav3test", "kestrav3ver",     "kestrav3visible",       "print_help",     "switch_utf_converting",
};

std::string source(const char* name) { return std::string(KESTRAV3_LIB_SOURCE) + "/" + name; }

std::string trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// Every function the header declares with the export mark.
Names declared_in_header() {
    std::ifstream header(source("include/kestrav3lib.h"));
    EXPECT_TRUE(header) << "cannot read the header";
    Names names;
    for (std::string line; std::getline(header, line);) {
        line = trimmed(line);
        const auto open = line.find('(');
        if (line.rfind("KESTRAV3_API ", 0) != 0 || open == std::string::npos) continue;
        const auto start = line.find_last_of(" *", open);
        names.insert(line.substr(start + 1, open - start - 1));
    }
    return names;
}

// The names between "global:" and "local:" of the version script.
Names listed_in_version_script() {
    std::ifstream script(source("kestrav3lib.map"));
    EXPECT_TRUE(script) << "cannot read the version script";
    Names names;
    bool global = false;
    for (std::string line; std::getline(script, line);) {
        line = trimmed(line);
        if (line == "global:" || line == "local:")
            global = line == "global:";
        else if (global && !line.empty() && line.back() == ';')
            names.insert(line.substr(0, line.size() - 1));
    }
    return names;
}

// The names after "EXPORTS" in the module-definition file.
Names listed_in_module_definition() {
    std::ifstream def(source("kestrav3lib.def"));
    EXPECT_TRUE(def) << "cannot read the module-definition file";
    Names names;
    bool exports = false;
    for (std::string line; std::getline(def, line);) {
        line = trimmed(line);
        if (line.empty() || line[0] == ';') continue;
        if (exports) names.insert(line);
        exports = exports || line == "EXPORTS";
    }
    return names;
}

TEST(Exports, ExportListsNameExactlyTheHeaderFunctions) {
    EXPECT_EQ(declared_in_header(), operations);
    EXPECT_EQ(listed_in_version_script(), operations);
    EXPECT_EQ(listed_in_module_definition(), operations);
}

#if !defined(_WIN32)  // nm reads the ELF library; the DLL's export table is checked by tests/windows_binaries_test.sh
// Every defined dynamic symbol counts, whatever its kind: functions, data,
// weak and GNU-unique symbols alike.
TEST(Exports, LibraryDefinesOnlyTheHeaderFunctions) {
    const std::string command = std::string("nm -D --defined-only '") + KESTRAV3_LIBRARY + "'";
    std::FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    Names symbols;
    char line[512];
    while (std::fgets(line, sizeof line, nm) != nullptr) {
        char address[64], kind[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3)
            symbols.insert(name);
        else
            ADD_FAILURE() << "unexpected nm line: " << line;
    }
    ASSERT_EQ(pclose(nm), 0);
    EXPECT_EQ(symbols, operations);
}

// Code only the tests call (tests/reference) stays out of the product: the
// library's full symbol table names none of it, and does name the fast
// forms the tests compare it with, so the table was read at all.
TEST(Exports, LibraryHoldsNoTestReferenceCode) {
    const std::string command = std::string("nm -C --defined-only '") + KESTRAV3_LIBRARY + "'";
    std::FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::string table;
    char line[1024];
    while (std::fgets(line, sizeof line, nm) != nullptr) table += line;
    ASSERT_EQ(pclose(nm), 0);
    for (const char* fast : {"kestrav3::RSA_rand()", "kestrav3::prand_true()", "kestrav3::clock_seed(",
                             "kestrav3::first_rands_after(", "kestrav3::swap_and_decode("})
        EXPECT_NE(table.find(fast), std::string::npos) << fast << " is missing: the symbol table was not read";
    for (const char* reference : {"kestrav3::multiply(", "kestrav3::multiply_rnd(", "kestrav3::mod(",
                                  "kestrav3::mod_rnd(", "kestrav3::RSA_rand_decimal(", "kestrav3::prand_true_decimal(",
                                  "kestrav3::clock_seed_decimal(", "kestrav3::code_block_with_noise(",
                                  "kestrav3::decode_block(", "glibc_first_rand", "kestrav3::reference_first_rand("})
        EXPECT_EQ(table.find(reference), std::string::npos) << reference << " is in the library";
}
#endif

}  // namespace
