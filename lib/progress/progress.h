// Progress reporting: the self-rewriting console line and the shared-memory
// channel that feeds the separate progress window program.
#pragma once
#include <cstdio>
#include <string>

namespace kestrav3 {

// 1 until the console line has been closed at 100; never set back.
extern int runlevel3;

// Rewrites the console line with "progress: <percent>%".
void progress_bar(int percent);

// Ends a console line that a run left open before 100 with the line feed it
// lacks, so that text printed next starts on a line of its own.
void progress_line_end();

// Channel state while the window program runs.
extern void* hMapFile;
extern unsigned char* pBuf;
extern char szMsg[28];
extern std::FILE* fp_windows_progress_bar;

// Size and name of the shared-memory block the window program reads. On
// POSIX the name starts a fresh name of each run's own block.
constexpr int progress_block_size = 256;
constexpr const char* progress_block_name = "MyFileMappingObject";

int shmem_sender_open();
// Writes "<percent + 1>\n" at the start of the block.
void shmem_sender_gprg(int percent);
void shmem_sender_close();
// 1 when the window program was started and the channel is open.
int open_win_progress_bar();
// The same with the given window program, which is started with the name
// of the block as its one argument.
int open_progress_window(const std::string& program);
// The name of the open block as the window program is given it.
const char* progress_block_in_use();
void close_win_progress_bar();

}  // namespace kestrav3
