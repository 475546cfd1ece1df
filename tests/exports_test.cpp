// The shared library offers exactly its nine operations and nothing else.
#if !defined(_WIN32)  // POSIX only: nm on the ELF library; the Windows DLL's export table is checked by tests/windows_binaries_test.sh
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

TEST(Exports, ExactlyTheNineOperations) {
    const std::string command = std::string("nm -D --defined-only '") + KESTRAV3_LIBRARY + "'";
    std::FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> functions;
    char line[512];
    while (std::fgets(line, sizeof line, nm) != nullptr) {
        char address[64], kind[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3 && std::string(kind) == "T")
            functions.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0);
    const std::set<std::string> expected = {"kestrav3code",   "kestrav3code_g", "kestrav3decode",
                                            "kestrav3decode_g", "kestrav3desc",  "kestrav3test",
                                            "kestrav3ver",
                                            "print_help",     "switch_utf_converting"};
    EXPECT_EQ(functions, expected);
}

}  // namespace
#endif
