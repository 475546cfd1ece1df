// Which file a failure concerns and why: set by the pipelines where they
// fail, printed after the framed message of the failure.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

struct FailureDetail {
    std::string file;   // the file concerned, as the caller named it; empty when none
    std::string cause;  // why, in words: the system's error text or the system's own
};

// Per run: the detail of the run's failure, cleared when a run begins.
extern FailureDetail failure_detail;

// Records the detail and returns code, so a pipeline can end with
// "return fail(ERR_READ, path, why)".
int fail(int code, std::string_view file, std::string_view cause);
void clear_failure();

}  // namespace kestrav3
