// The files of a recovery set beside a coded file: NAME.par2 and its
// recovery files NAME.vol<first>+<count>.par2. Their names are built and
// read here and nowhere else; a set's files are found, written and
// removed here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "recovery/par2_writer.h"

namespace kestrav3 {

// "NAME.par2" and "NAME.vol<first>+<count>.par2", with first padded to the
// digits of the recovery count and count to the digits of the largest count:
// the names par2cmdline gives.
std::string index_name(std::string_view name);
std::string volume_name(std::string_view name, const recovery::Volume& volume, std::uint32_t recovery_slices);

// The set files beside a coded file: NAME.par2 first, then every
// NAME.vol*.par2, in name order. Links and anything but plain files are
// passed over: the set is never read through a link.
std::vector<std::string> set_files_of(const std::string& coded_path);

// Writes the finished set beside the coded file at coded_path: every file
// under a hidden name, sealed, and only then all renamed into place; then it
// removes recovery files of an earlier set of that name. On failure nothing
// of the earlier set has changed and what it wrote is removed; the failure
// names the set file and why. written receives the names written. 0,
// ERR_IO_STOPPED or ERR_READ.
int write_set_files(const std::string& coded_path, const recovery::SetWriter& writer,
                    std::vector<std::string>& written);

// Removes the set beside the coded file at coded_path (NAME.par2 and its
// recovery files, never through a link): called before a new coded file
// takes the name, which the set no longer describes. par2 would otherwise
// "repair" the new coded file back into the old one. How many files it
// removed.
std::size_t remove_old_set(const std::string& coded_path);

}  // namespace kestrav3
