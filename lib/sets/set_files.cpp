#include "sets/set_files.h"

#include <algorithm>
#include <memory>

#include "container/files.h"
#include "container/names.h"
#include "platform/platform.h"
#include "sets/texts.h"
#include "shared/failure.h"
#include "shared/results.h"

namespace kestrav3 {

namespace {

std::string padded(std::uint32_t value, std::size_t width) {
    std::string text = std::to_string(value);
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return text;
}

}  // namespace

std::string index_name(std::string_view name) { return std::string(name) + ".par2"; }

std::string volume_name(std::string_view name, const recovery::Volume& volume, std::uint32_t recovery_slices) {
    std::uint32_t largest = 0;
    for (const recovery::Volume& v : recovery::split_volumes(recovery_slices)) largest = std::max(largest, v.count);
    const std::size_t first_width = std::to_string(recovery_slices).size();
    const std::size_t count_width = std::to_string(largest).size();
    return std::string(name) + ".vol" + padded(volume.first, first_width) + "+" + padded(volume.count, count_width) +
           ".par2";
}

namespace {

// A recovery file of the set of base: NAME.vol*.par2, which takes in the
// names par2cmdline gives (NAME.vol<first>+<count>.par2) and the first and
// last exponent of PAR 2.0's own naming (NAME.vol<first>-<last>.par2) alike.
bool volume_file_of(std::string_view name, std::string_view base) {
    const std::string prefix = std::string(base) + ".vol";
    constexpr std::string_view suffix = ".par2";
    return name.size() >= prefix.size() + suffix.size() && name.substr(0, prefix.size()) == prefix &&
           name.substr(name.size() - suffix.size()) == suffix;
}

}  // namespace

std::vector<std::string> set_files_of(const std::string& coded_path) {
    const std::string folder(directory_part(coded_path));
    const std::string base(base_name(coded_path));
    std::vector<std::string> volumes;
    for (const std::string& name : platform::folder_names(folder))
        if (volume_file_of(name, base)) volumes.push_back(name);
    std::sort(volumes.begin(), volumes.end());
    std::vector<std::string> files;
    files.push_back(folder + index_name(base));
    for (const std::string& name : volumes) files.push_back(folder + name);
    files.erase(std::remove_if(
                    files.begin(), files.end(),
                    [](const std::string& f) { return platform::entry_kind(f.c_str()) != platform::EntryKind::file; }),
                files.end());
    return files;
}

namespace {

// Removes a set file: a link as a link, never what it points at; a folder
// of that name stays. Whether it removed one.
bool remove_set_file(const std::string& path) {
    return platform::entry_kind(path.c_str()) != platform::EntryKind::directory && platform::remove_entry(path.c_str());
}

// Removes the recovery files named for base in folder but those in keep:
// how many.
std::size_t remove_volumes(const std::string& folder, const std::string& base, const std::vector<std::string>& keep) {
    std::size_t removed = 0;
    for (const std::string& name : platform::folder_names(folder)) {
        const std::string path = folder + name;
        if (volume_file_of(name, base) && std::find(keep.begin(), keep.end(), path) == keep.end())
            removed += remove_set_file(path) ? 1 : 0;
    }
    return removed;
}

}  // namespace

int write_set_files(const std::string& coded_path, const recovery::SetWriter& writer,
                    std::vector<std::string>& written) {
    const std::string folder(directory_part(coded_path));
    const std::string base(base_name(coded_path));
    const std::uint32_t count = writer.plan().recovery_slices;
    const auto volumes = recovery::split_volumes(count);
    written.clear();
    // Every file is written and sealed under a hidden name first; the
    // names are taken only once all are on the device, so a failure or a
    // signal before then leaves the earlier set as it was.
    std::vector<std::unique_ptr<PartialOutput>> outputs;
    for (std::size_t v = 0; v <= volumes.size(); ++v) {
        const std::string name = folder + (v == 0 ? index_name(base) : volume_name(base, volumes[v - 1], count));
        if (platform::entry_kind(name.c_str()) == platform::EntryKind::directory)
            return fail(ERR_READ, name, "a folder has the name");
        platform::clear_last_error();
        outputs.push_back(std::make_unique<PartialOutput>(name));
        PartialOutput& out = *outputs.back();
        if (!out) return fail(ERR_IO_STOPPED, name, "cannot be created: " + platform::last_error_text());
        const bool ok = v == 0 ? writer.write_index(out.get()) : writer.write_volume(out.get(), volumes[v - 1]);
        if (!ok || out.seal(coded_path, platform::set_from_coded) != 0)
            return fail(ERR_IO_STOPPED, name, system_cause("cannot be written"));
    }
    for (const auto& out : outputs) {
        platform::clear_last_error();
        const int result = out->name();
        if (result != 0) return fail(result, out->path(), system_cause("cannot be put in place"));
        written.push_back(out->path());
    }
    // Recovery files of an earlier set under this name would describe other
    // bytes; the new set replaces them.
    if (remove_volumes(folder, base, written) > 0) platform::flush_folder_of(coded_path.c_str());
    return 0;
}

std::size_t remove_old_set(const std::string& coded_path) {
    const std::string folder(directory_part(coded_path));
    const std::string base(base_name(coded_path));
    const std::size_t removed = remove_volumes(folder, base, {}) + (remove_set_file(folder + index_name(base)) ? 1 : 0);
    // Durable, so that a crash cannot bring the stale set back.
    if (removed > 0) platform::flush_folder_of(coded_path.c_str());
    return removed;
}

}  // namespace kestrav3
