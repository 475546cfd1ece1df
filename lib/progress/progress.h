// Progress reporting: the self-rewriting console line and the shared-memory
// channel that feeds the separate progress window program.
#pragma once
#include <cstdio>
#include <string>

namespace kestrav3 {

// Per-run state of this folder; reset_progress() puts all of it back.
// 1 until the console line has been closed at 100 in this run.
extern int runlevel3;

// Rewrites the console line with "progress: <percent>%".
void progress_bar(int percent);

// Ends a console line that a run left open before 100 with the line feed it
// lacks, so that text printed next starts on a line of its own.
void progress_line_end();

// The shared block's handle while the channel is open, else null.
extern void* hMapFile;
// The shared block's bytes while the channel is open, else null.
extern unsigned char* pBuf;
// The last message written to the block.
extern char szMsg[28];
// The window program's pipe while it runs, else null.
extern std::FILE* fp_windows_progress_bar;

// Starts a run's progress from the state the library is loaded with: the
// console line armed and closed, no window, no channel (a run that is still
// holding them is closed first). Besides the globals above this covers the
// two that progress.cpp keeps to itself: whether the console line is open,
// and the shared block of the channel.
void reset_progress();

// Opens the shared block (progress/progress_block.h); 0, or -1.
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
