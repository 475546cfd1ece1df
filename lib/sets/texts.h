// What the recovery-set jobs share in what they say: failures that name the
// file concerned and why (plural endings are the reports' own, plural in
// container/tester.h).
#pragma once
#include <cstdint>
#include <string>

#include "container/tester.h"
#include "platform/platform.h"

namespace kestrav3 {

// The system's text for the last failure, or fallback when it gave none.
std::string system_cause(const char* fallback);

// ERR_READ, naming why the name is no file to protect or repair: a link is
// neither read nor replaced.
int not_a_coded_file(const char* path, const platform::PathInfo& info);

// A failure names the file and why, as every other failure does: the
// cause the job gave, or the system's.
int named_failure(int code, const char* path, const std::string& cause);

}  // namespace kestrav3
