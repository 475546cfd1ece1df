#include "shared/failure.h"

namespace kestrav3 {

FailureDetail failure_detail;

int fail(int code, std::string_view file, std::string_view cause) {
    failure_detail.file.assign(file);
    failure_detail.cause.assign(cause);
    return code;
}

void clear_failure() { failure_detail = FailureDetail{}; }

}  // namespace kestrav3
