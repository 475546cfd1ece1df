#include "sets/reports.h"

#include <cstdio>
#include <string>
#include <vector>

#include "container/names.h"
#include "platform/platform.h"
#include "recovery/par2_reader.h"
#include "sets/repair.h"
#include "sets/set_files.h"
#include "sets/texts.h"

namespace kestrav3 {

namespace {

// Reads the set beside the coded file at path into set; false when there
// is none (no set file beside it). The set is read once; the coded file
// only when -t or -d found damage.
bool read_set_beside(const char* path, recovery::SetReader& set) {
    const std::vector<std::string> files = set_files_of(path);
    if (files.empty()) return false;
    set = recovery::SetReader();
    for (const std::string& name : files) set.scan(name);
    return true;
}

// Counts the slices of the coded file at path that fail the chosen set's
// checksums; false when the set cannot tell (packets that disagree, which
// --repair decides by the data, or a slice size no such file has).
bool count_bad_slices(const char* path, const recovery::SetReader& set, std::uint64_t& bad,
                      const WalkedInput& walked = {}) {
    const platform::PathInfo info = platform::path_info(path);
    if (set.versions().size() != 1 || info.kind != platform::PathKind::regular ||
        set.slice_size() > static_cast<std::uint64_t>(info.size) + set_bytes(set))
        return false;
    RepairOutcome slices;
    slices.file_size = info.size;
    if (check_slices(path, set, slices, walked) != 0) return false;
    bad = slices.bad();
    return true;
}

// True when no slice checks out and the headers do not match either: the
// set was made for another file, and --repair refuses it.
bool made_for_another_file(const char* path, const recovery::SetReader& set, std::uint64_t bad,
                           const WalkedInput& walked = {}) {
    return bad == set.checks().size() && !headers_match(path, set.file(), walked);
}

}  // namespace

bool set_can_repair(const char* path, const WalkedInput& walked) {
    static recovery::SetReader set;
    if (!read_set_beside(path, set) || !set.choose(base_name(path))) return false;
    std::uint64_t bad = 0;
    return count_bad_slices(path, set, bad, walked) && !made_for_another_file(path, set, bad, walked) &&
           bad <= set.recovery_count();
}

void print_set_notice(const char* path, long long damaged_blocks, bool other_damage) {
    static recovery::SetReader set;
    if (!read_set_beside(path, set)) return;
    const std::string index = index_name(base_name(path));
    if (!set.choose(base_name(path))) {
        std::printf(" Recovery:  %s beside it, not usable (%s)\n", index.c_str(), set.why());
        return;
    }
    const std::size_t usable = set.recovery_count();
    std::printf(" Recovery:  %s beside it, %zu recovery slice%s usable\n", index.c_str(), usable, plural(usable));
    if (damaged_blocks == 0 && !other_damage) return;
    // The blocks name the damage; the set's own checksums say which slices
    // it touches, and so whether the set holds enough to rebuild them.
    std::uint64_t bad = 0;
    if (!count_bad_slices(path, set, bad)) return;
    if (made_for_another_file(path, set, bad))
        std::printf(" Repair:    beyond kestrav3 --repair: the set was made for another file\n");
    else if (bad <= usable)
        std::printf(" Repair:    kestrav3 --repair can repair %s (%llu damaged slice%s)\n",
                    damaged_blocks == 1 ? "it" : "them", static_cast<unsigned long long>(bad), plural(bad));
    else
        std::printf(" Repair:    beyond kestrav3 --repair: %llu damaged slice%s, %llu more recovery slice%s needed\n",
                    static_cast<unsigned long long>(bad), plural(bad), static_cast<unsigned long long>(bad - usable),
                    plural(bad - usable));
}

}  // namespace kestrav3
