// Protecting coded files with recovery sets: adding a set to a coded file,
// and coding a file with its set kept true to it. A set is standard PAR 2.0
// over the coded bytes, so no key is needed to make, check or use it.
#pragma once
#include <string>
#include <vector>

#include "recovery/par2_writer.h"
#include "shared/run_settings.h"

namespace kestrav3 {

// Codes the file at path as combine_streams does, and keeps the recovery
// set beside its coded file true to it: the set of the coded file it
// replaces is removed before the new one takes its name, and with a
// settings.recovery_percent above 0 a new set is computed from the coded
// bytes as they are written and written only once the coded file is
// complete: a failed coding leaves no set.
int code_streams(const char* path, const char* key, const RunSettings& settings, RunResult& run);

struct ProtectOutcome {
    std::string path;
    recovery::SetPlan plan;
    std::vector<std::string> written;
};

// Reads the coded file at path once and writes a set of percent recovery
// beside it. No key: the set covers the coded bytes. ERR_READ for a link,
// a missing or unreadable file, ERR_NOT_CODED for a size no coded file has.
int protect_streams(const char* path, int percent, ProtectOutcome& outcome);
void print_protect_report(const ProtectOutcome& outcome);

}  // namespace kestrav3
