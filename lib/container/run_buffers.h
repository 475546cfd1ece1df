// The container's per-run buffers, for the start of a run. They live for
// the whole process, as large blocks the pipelines fill in place, and each
// run overwrites what it reads; clearing them makes a run start from the
// state the library is loaded with.
#pragma once

namespace kestrav3 {

// The coder's batch of groups, its rest block and its plain header block
// (encoder.cpp).
void clear_coder_buffers();
// The two header copies the restore, the test and the metadata reader decode
// (header.cpp).
void clear_header_copies();
// The batch of groups the restore and the test read into (groups.cpp).
void clear_group_batch();
// Not per-run, so not cleared: the counter behind the hidden files' names
// (files.cpp), which must differ from one run to the next.

}  // namespace kestrav3
