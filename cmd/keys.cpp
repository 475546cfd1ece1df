#include "keys.h"

#include <cerrno>
#include <cstring>

#include "system/program.h"
#include "system/terminal.h"

namespace kestrav3::cmd {

KeyStatus checked_key(std::string& key) {
    if (key.find('\0') != std::string::npos) return KeyStatus::holds_nul;
    return key.size() > max_key_line ? KeyStatus::too_long : KeyStatus::ok;
}

KeyStatus read_key_line(std::FILE* in, std::string& key) {
    key.clear();
    // One byte more than a line may hold, and one for a carriage return.
    for (int c = std::getc(in); c != EOF && c != '\n'; c = std::getc(in)) {
        key.push_back(static_cast<char>(c));
        if (key.size() > max_key_line + 1) return KeyStatus::too_long;
    }
    if (!key.empty() && key.back() == '\r') key.pop_back();
    return checked_key(key);
}

KeyStatus read_key_file(const char* path, std::string& key, std::string& why) {
    if (std::string(path) == "-") return read_key_line(stdin, key);
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        why = std::strerror(errno);
        return KeyStatus::unreadable;
    }
    const KeyStatus status = read_key_line(file, key);
    const bool failed = std::ferror(file) != 0;
    if (failed) why = std::strerror(errno);
    std::fclose(file);
    return failed ? KeyStatus::unreadable : status;
}

KeyStatus read_key_variable(const char* name, std::string& key) {
    if (!system::environment_value(name, key)) return KeyStatus::unreadable;
    return checked_key(key);
}

KeyStatus ask_key(bool confirm, std::string& key) {
    using namespace system;
    if (!input_is_terminal()) return read_key_line(stdin, key);
    key.clear();
    if (!read_hidden_line(" Key: ", key)) return KeyStatus::ok;
    std::string again;
    if (confirm && !(read_hidden_line(" Key: ", again) && again == key)) return KeyStatus::mismatch;
    return checked_key(key);
}

}  // namespace kestrav3::cmd
