#include "container/tester.h"

#include <climits>
#include <cstdio>

#include "container/files.h"
#include "container/groups.h"
#include "platform/platform.h"
#include "progress/progress.h"
#include "shared/options.h"
#include "shared/results.h"
#include "textconv/visible_text.h"

namespace kestrav3 {

void BlockList::add_run(long long first, long long last) {
    if (!runs_.empty() && runs_.back().second + 1 == first)
        runs_.back().second = last;
    else
        runs_.emplace_back(first, last);
    count_ += last - first + 1;
}

std::string BlockList::text() const {
    if (runs_.empty()) return "none";
    std::string out;
    for (const auto& [first, last] : runs_) {
        if (!out.empty()) out += ' ';
        out += std::to_string(first);
        if (last == first) continue;
        out += last == first + 1 ? ' ' : '-';
        out += std::to_string(last);
    }
    return out;
}

BlockList missing_blocks(const HeaderRecord& record, long long complete) {
    BlockList list;
    if (complete < record.nblocks) list.add_run(complete, record.nblocks - 1);
    if (record.rest > 0) list.add(record.nblocks + 1);
    return list;
}

int damage_count(long long blocks, long long trailing, bool header_damaged) {
    const long long bad = blocks + (trailing > 0 ? 1 : 0) + (header_damaged ? 1 : 0);
    return bad > INT_MAX ? INT_MAX : static_cast<int>(bad);
}

BlockList TestOutcome::missing() const { return ended_early ? missing_blocks(record, complete) : BlockList{}; }

int TestOutcome::result() const {
    return damage_count(damaged.count() + missing().count(), trailing, record.header.any());
}

const char* plural(long long n) { return n == 1 ? "" : "s"; }

std::string shown_in_report(const std::string& text) {
    return platform::output_is_terminal() ? visible_text(text) : text;
}

namespace {

std::string blocks_line(const HeaderRecord& record) {
    const long long total = record.nblocks + (record.rest > 0 ? 1 : 0);
    std::string line = std::to_string(total);
    if (total == 0) return line;
    line += " (";
    if (record.nblocks > 0) {
        line += record.nblocks == 1 ? "full block 0" : "full blocks 0-" + std::to_string(record.nblocks - 1);
        line += " of " + std::to_string(record.blocksize) + " bytes";
        if (record.rest > 0) line += ", ";
    }
    if (record.rest > 0)
        line += "rest block " + std::to_string(record.nblocks + 1) + " of " + std::to_string(record.rest) + " bytes";
    return line + ")";
}

std::string copy2_note(const HeaderRecord& record) {
    std::string fields;
    for (const auto field : record.from_copy2) {
        if (!fields.empty()) fields += ", ";
        fields += field;
    }
    return fields + " taken from header copy 2 (copy 1 lacks " + (record.from_copy2.size() == 1 ? "it" : "them") + ")";
}

}  // namespace

int test_streams(const char* path, const char* key, TestOutcome& outcome, const RunSettings& settings) {
    outcome = TestOutcome{};
    outcome.path = path;
    Stream in;
    int result =
        open_coded_file(path, key, RecordUse::blocks, ERR_IO_STOPPED, in, outcome.record, settings.walked_input);
    if (result != 0) return result;

    result = walk_groups(in.get(), outcome.record, [&](const GroupBatch& batch, int count, int, long long first) {
        outcome.complete += count;
        for (int k = 0; k < count; ++k)
            if (!batch.intact(k)) outcome.damaged.add(first + k);
        return 0;
    });
    if (result == groups_ended)
        outcome.ended_early = true;
    else if (result != 0)
        return result;
    if (!outcome.ended_early && (result = count_trailing(in.get(), outcome.trailing)) != 0) return result;
    return outcome.result();
}

void print_test_report(const TestOutcome& outcome) {
    const HeaderRecord& record = outcome.record;
    progress_line_end();
    print_lost_headers(outcome.path, record.header);
    std::printf(" Name:      %s\n", shown_in_report(record.name).c_str());
    std::printf(" Size:      %lld bytes\n", record.nblocks * record.blocksize + record.rest);
    std::printf(" Blocks:    %s\n", blocks_line(record).c_str());
    if (record.header.any()) std::printf(" Note:      %s\n", record.header.note().c_str());
    if (!record.from_copy2.empty()) std::printf(" Note:      %s\n", copy2_note(record).c_str());
    std::printf(" Damaged:   %s\n", outcome.damaged.text().c_str());
    if (outcome.ended_early)
        std::printf(" Missing:   %s (the coded file ends after %lld complete block%s)\n",
                    outcome.missing().text().c_str(), outcome.complete, plural(outcome.complete));
    if (outcome.trailing > 0)
        std::printf(" Trailing:  %lld byte%s after the last group\n", outcome.trailing, plural(outcome.trailing));
    std::printf(" Result:    %s\n", outcome.result() == 0 ? "intact" : "not intact");
}

void print_lost_headers(const std::string& path, const HeaderCheck& header) {
    if (!header.lost) return;
    std::printf(" %s: %s\n", shown_in_report(path).c_str(), std::string(lost_headers).c_str());
}

}  // namespace kestrav3
