#include "batch_files.h"

#include <cstdio>
#include <map>
#include <string_view>

#include "file_names.h"
#include "file_report.h"

namespace kestrav3::cmd {

namespace {

// What -r takes from a folder: for coding, every regular file but coded
// files, metadata companions, error logs and recovery files; otherwise
// every coded file.
bool walk_takes(const Operation& operation, std::string_view name) {
    if (operation.batch_operation != KESTRAV3_CODE) return ends_with(name, coded_ending);
    for (const std::string_view skipped : written_endings)
        if (ends_with(name, skipped)) return false;
    return true;
}

void walk(const Operation& operation, const std::string& folder, std::vector<Entry>& entries) {
    std::vector<std::string> names;
    if (!system::list_folder(folder, names)) {
        entries.push_back({folder, "folder cannot be read"});
        return;
    }
    const bool separated = !folder.empty() && (folder.back() == '/' || folder.back() == system::path_separator());
    const std::string prefix = separated ? folder : folder + system::path_separator();
    for (const auto& name : names) {
        const std::string path = prefix + name;
        // Links, to folders and to files alike, are never followed.
        system::NodeId id;
        switch (system::node_kind(path)) {
        case system::NodeKind::folder: walk(operation, path, entries); break;
        case system::NodeKind::file:
            if (walk_takes(operation, name) && system::node_id(path, false, id)) entries.push_back({path, "", id});
            break;
        case system::NodeKind::link: entries.push_back({path, "a symbolic link", {}, true}); break;
        default: break;
        }
    }
}

const char* separators() { return system::path_separator() == '/' ? "/" : "/\\"; }

// The folder part of a path ("." for none).
std::string folder_of(const std::string& path) {
    const std::size_t cut = path.find_last_of(separators());
    if (cut == std::string::npos) return ".";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

// Where an output goes, as its folder knows it: the folder itself (device
// and inode, however the path spells it) and the name as that folder
// compares names (ASCII letters of one case where it folds case).
struct Place {
    system::NodeId folder;
    std::string name;
    bool operator<(const Place& o) const { return folder == o.folder ? name < o.name : folder < o.folder; }
};

bool place_of(const std::string& target, Place& place) {
    const std::string folder = folder_of(target);
    if (!system::node_id(folder, true, place.folder)) return false;
    const std::size_t cut = target.find_last_of(separators());
    place.name = target.substr(cut == std::string::npos ? 0 : cut + 1);
    if (system::folder_folds_case(folder))
        for (char& c : place.name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return true;
}

}  // namespace

std::vector<Entry> collect(const Operation& operation, const BatchOptions& options, std::vector<std::string>& notes) {
    std::vector<Entry> found;
    for (const auto& argument : options.arguments) {
        for (const auto& path : system::expand_wildcards(argument)) {
            if (system::node_kind(path) != system::NodeKind::folder)
                found.push_back({path, ""});
            else if (options.recurse)
                walk(operation, path, found);
            else
                found.push_back({path, "is a folder (use -r to walk it)"});
        }
    }
    std::vector<Entry> entries;
    std::map<system::NodeId, std::string> seen;
    for (auto& entry : found) {
        system::NodeId id;
        if (entry.problem.empty() && system::node_id(entry.path, true, id)) {
            const auto [first, added] = seen.emplace(id, entry.path);
            if (!added) {
                notes.push_back("kestrav3: " + shown(entry.path) + " is " + shown(first->second) +
                                " again; it is run once");
                continue;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool refuse_collisions(const Operation& operation, const BatchOptions& options, const std::vector<Entry>& entries,
                       const std::string& key) {
    if (operation.batch_operation != KESTRAV3_CODE && operation.batch_operation != KESTRAV3_DECODE) return false;
    std::map<Place, std::pair<std::string, std::string>> writers;
    bool collided = false;
    static char target[4096];
    for (const auto& entry : entries) {
        if (!entry.problem.empty()) continue;
        const char* dir = options.output_dir.empty() ? nullptr : options.output_dir.c_str();
        Place place;
        if (kestrav3target(operation.batch_operation, entry.path.c_str(), key.c_str(), dir, target, sizeof target) !=
                0 ||
            !place_of(target, place))
            continue;
        const auto [first, added] = writers.emplace(place, std::make_pair(entry.path, std::string(target)));
        if (added) continue;
        const auto& [other, other_target] = first->second;
        std::fprintf(stderr, "kestrav3: %s and %s would both write %s; nothing written\n", shown(other).c_str(),
                     shown(entry.path).c_str(), shown(other_target).c_str());
        collided = true;
    }
    return collided;
}

}  // namespace kestrav3::cmd
