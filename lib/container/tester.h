// The test of a coded file: every group read and checked as the restore
// does, nothing written.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "container/header.h"

namespace kestrav3 {

// Block numbers added in ascending order, kept as runs of consecutive numbers
// (a damaged stretch of a large file costs one entry, not one per block).
class BlockList {
public:
    void add(long long number) { add_run(number, number); }
    void add_run(long long first, long long last);
    long long count() const { return count_; }
    // Calls f with every number, in ascending order.
    template <typename F>
    void for_each(F&& f) const {
        for (const auto& [first, last] : runs_)
            for (long long n = first; n <= last; ++n) f(n);
    }
    // The runs, first and last number of each, in ascending order.
    const std::vector<std::pair<long long, long long>>& runs() const { return runs_; }
    // "none", or the numbers separated by spaces, a run of three or more
    // written as first-last.
    std::string text() const;

private:
    std::vector<std::pair<long long, long long>> runs_;
    long long count_ = 0;
};

// The blocks a coded file that ends after complete whole groups lacks, in
// the log's numbering.
BlockList missing_blocks(const HeaderRecord& record, long long complete);

// What a test or a restore returns: the count of damaged and missing blocks,
// one more for bytes after the last group and one more for damaged header
// copies (at most INT_MAX).
int damage_count(long long blocks, long long trailing, bool header_damaged);

// The line that says the key is right though both header copies are lost.
void print_lost_headers(const std::string& path, const HeaderCheck& header);

// The pieces of the test's and the restore's reports: "s" unless n is 1,
// and a name or path as a report shows it (escaped on a terminal).
const char* plural(long long n);
std::string shown_in_report(const std::string& text);

struct TestOutcome {
    std::string path;  // the coded file, as the caller named it
    HeaderRecord record;
    BlockList damaged;         // blocks whose digest differs from their record
    long long complete = 0;    // groups read whole
    bool ended_early = false;  // the file ends before the last group is whole
    long long trailing = 0;    // bytes after the last group

    // The blocks the file ends before, in the log's numbering.
    BlockList missing() const;
    // 0 when intact; otherwise damage_count.
    int result() const;
};

// Reads the coded file at path as the restore does and checks every block;
// writes nothing. Returns outcome.result(), or a negative error code when the
// file cannot be read (the restore's codes for the same failures).
int test_streams(const char* path, const char* key, TestOutcome& outcome, const RunSettings& settings = {});

// The report lines of a finished test (see the README for their form).
void print_test_report(const TestOutcome& outcome);

}  // namespace kestrav3
