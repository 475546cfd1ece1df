#include "shared/options.h"

namespace kestrav3 {

int code_utf8 = 1;
int win_progress_onoff = 1;
int runlevel = 3;
int console_lines = 1;
int force_replace = 0;
int refuse_existing = 0;
int code_empty = 0;
WalkedInput walked_input;
std::string output_folder;
std::string written_path;
int removed_old_set = 0;

std::string output_folder_for(std::string_view input_folder) {
    return output_folder.empty() ? std::string(input_folder) : output_folder;
}
int recovery_percent = 0;

}  // namespace kestrav3
