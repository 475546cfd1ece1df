// The endings of the files the library writes beside a file, as the program
// knows them: a coded file, its metadata companion, its error log and its
// recovery set. The coded name itself is the library's (kestrav3target).
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace kestrav3::cmd {

constexpr std::string_view coded_ending = ".archi";
constexpr std::array<std::string_view, 4> written_endings{coded_ending, ".met", ".err", ".par2"};

inline bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The index file of the recovery set of the coded file coded.
inline std::string recovery_set_of(const std::string& coded) { return coded + ".par2"; }

}  // namespace kestrav3::cmd
