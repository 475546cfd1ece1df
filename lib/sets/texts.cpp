#include "sets/texts.h"

#include "container/files.h"
#include "shared/failure.h"
#include "shared/results.h"

namespace kestrav3 {

std::string system_cause(const char* fallback) {
    std::string text = platform::last_error_text();
    return text.empty() ? fallback : text;
}

int not_a_coded_file(const char* path, const platform::PathInfo& info) {
    if (platform::entry_kind(path) == platform::EntryKind::link)
        return fail(ERR_READ, path, "is a symbolic link, which is not followed");
    return fail(ERR_READ, path, not_a_file_cause(path, info.kind == platform::PathKind::missing));
}

int named_failure(int code, const char* path, const std::string& cause) {
    if (code >= 0 || !failure_detail.file.empty()) return code;
    if (!cause.empty()) return fail(code, path, cause);
    return fail(code, path, code == ERR_NOMEM ? "not enough memory" : platform::last_error_text());
}

}  // namespace kestrav3
