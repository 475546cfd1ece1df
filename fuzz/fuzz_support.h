// Shared by the fuzz targets: a private folder for the coded file under
// test, and a check that nothing appears outside that folder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrav3::fuzzing {

// Writes the input as the coded file "in.archi" in the private folder and
// returns its path. The library is set quiet: no console line, no window.
std::string stage_input(const std::uint8_t* data, std::size_t size);

// Removes what a run restored next to the input, and aborts when a file
// turned up beside that folder, or when the folder holds more than the run
// may leave: its hash-error log, and the restored file when restored.
void clean_up_after_run(bool restored = false);

// Aborts when the private folder holds anything but the input: for a run
// that must write nothing.
void expect_only_input();

constexpr const char* fuzz_key = "fuzz key";

}  // namespace kestrav3::fuzzing
