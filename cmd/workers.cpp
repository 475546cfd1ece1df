#include "workers.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

#include "system/program.h"
#include "worker_protocol.h"

namespace kestrav3::cmd {

namespace {

// One worker of -j: the process, the files sent to it in order (the one at
// hand first), and what it has answered so far.
struct Slot {
    system::Worker worker;
    bool unstartable = false;
    std::deque<std::size_t> files;
    std::string answer;

    bool alive() const { return worker.process != 0; }
};

// The reports of a batch run in workers, shown in the files' order as soon
// as every file before them has its own.
class InOrder {
public:
    InOrder(const ShowReport& show, std::size_t count) : show_(show), reports_(count) {}
    void add(std::size_t index, Report report) {
        reports_[index] = std::move(report);
        // A file never run (the run was stopped) has no lines and is not counted.
        for (; shown_ < reports_.size() && reports_[shown_]; ++shown_)
            if (!reports_[shown_]->text.empty()) show_(*reports_[shown_]);
    }

private:
    const ShowReport& show_;
    std::vector<std::optional<Report>> reports_;
    std::size_t shown_ = 0;
};

// The state of a batch run with -j: the files not yet given to anyone, the
// workers, and the reports.
struct Crew {
    const Operation& operation;
    const BatchOptions& options;
    const std::vector<Entry>& entries;
    const std::string& key;
    std::string program;
    std::vector<std::string> args;
    std::deque<std::size_t> waiting;
    std::vector<Slot> slots;
    InOrder reports;
    std::size_t not_run = 0;  // files left when the run was stopped
};

// The run was stopped: the files not yet given to anyone are not run.
void drop_waiting(Crew& crew) {
    for (const std::size_t file : crew.waiting) crew.reports.add(file, Report{Outcome::skipped, ""});
    crew.not_run += crew.waiting.size();
    crew.waiting.clear();
}

bool start_slot(Crew& crew, Slot& slot) {
    slot = Slot{};
    slot.unstartable = !system::start_worker(crew.program, crew.args, slot.worker);
    if (slot.unstartable) return false;
    if (system::feed_worker(slot.worker, crew.key + record_end)) return true;
    system::finish_worker(slot.worker);
    slot = Slot{};
    slot.unstartable = true;
    return false;
}

// The line of a file whose worker ended before it answered. A worker the
// run's stop signal ended may have finished its file just before: with
// --rm, an input that is gone was removed only once its coded file was
// complete and on the device, and the line says so.
Report lost_file(const Crew& crew, const Entry& entry) {
    if (system::stop_signal() == 0) return failure(entry.path, "its worker process ended without a result");
    static char target[4096];
    const char* dir = crew.options.output_dir.empty() ? nullptr : crew.options.output_dir.c_str();
    if (crew.options.remove_input && system::node_kind(entry.path) == system::NodeKind::missing &&
        kestrav3target(KESTRAV3_CODE, entry.path.c_str(), crew.key.c_str(), dir, target, sizeof target) == 0)
        return {Outcome::done, shown(entry.path) + ": written " + shown(target) + ", input removed\n"};
    return failure(entry.path, "stopped with the run, by a signal");
}

// A worker that has gone failed the file at hand; the files queued behind
// it go back to the front of the waiting ones.
void lose_worker(Crew& crew, Slot& slot) {
    if (!slot.files.empty()) {
        const std::size_t lost = slot.files.front();
        slot.files.pop_front();
        crew.reports.add(lost, lost_file(crew, crew.entries[lost]));
        crew.waiting.insert(crew.waiting.begin(), slot.files.begin(), slot.files.end());
    }
    system::finish_worker(slot.worker);
    slot = Slot{};
}

// Reads what the slot's worker has sent; each whole answer is its oldest
// file's report.
void take_answers(Crew& crew, Slot& slot) {
    const bool open = system::read_worker(slot.worker, slot.answer);
    for (std::size_t end = slot.answer.find(record_end); end != std::string::npos && !slot.files.empty();
         end = slot.answer.find(record_end)) {
        const std::size_t file = slot.files.front();
        slot.files.pop_front();
        crew.reports.add(file, worker_report(crew.entries[file].path, slot.answer.substr(0, end)));
        slot.answer.erase(0, end + 1);
    }
    if (!open) lose_worker(crew, slot);
}

// Takes the answers that have come; waits for one when told to.
void take_ready_answers(Crew& crew, bool wait) {
    for (;;) {
        std::vector<system::Worker*> busy;
        std::vector<Slot*> owners;
        for (auto& slot : crew.slots) {
            if (slot.files.empty()) continue;
            busy.push_back(&slot.worker);
            owners.push_back(&slot);
        }
        const int ready = system::wait_for_workers(busy, wait);
        if (ready < 0) return;
        take_answers(crew, *owners[static_cast<std::size_t>(ready)]);
        wait = false;
    }
}

// Gives each worker files from the front of the waiting ones until it
// holds depth of them, starting workers as they are needed.
void feed_slots(Crew& crew, std::size_t depth) {
    for (auto& slot : crew.slots) {
        while (slot.files.size() < depth && !crew.waiting.empty() && !slot.unstartable) {
            if (!slot.alive() && !start_slot(crew, slot)) break;
            const std::size_t file = crew.waiting.front();
            crew.waiting.pop_front();
            slot.files.push_back(file);
            // A worker that cannot be fed has gone: what it answered before
            // still counts.
            if (!system::feed_worker(slot.worker, file_record(crew.entries[file])))
                while (slot.alive()) take_answers(crew, slot);
        }
    }
}

}  // namespace

void run_in_workers(const Operation& operation, const BatchOptions& options, const std::vector<Entry>& entries,
                    const std::string& key, const ShowReport& show) {
    Crew crew{operation,
              options,
              entries,
              key,
              system::own_program(),
              worker_arguments(operation, options),
              {},
              {},
              InOrder(show, entries.size())};
    crew.slots.resize(static_cast<std::size_t>(options.jobs - 1));
    // A stop signal goes to the workers too, and the program waits for
    // them, so that what it prints is what was done.
    system::pass_stop_signals_to_workers();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].problem.empty())
            crew.waiting.push_back(i);
        else
            crew.reports.add(i, run_file(operation, options, entries[i], key));
    }
    for (;;) {
        if (system::stop_signal() != 0) drop_waiting(crew);
        feed_slots(crew, 1);
        if (crew.waiting.empty()) {
            if (std::none_of(crew.slots.begin(), crew.slots.end(), [](const Slot& s) { return !s.files.empty(); }))
                break;
            take_ready_answers(crew, true);
            continue;
        }
        const std::size_t own = crew.waiting.front();
        crew.waiting.pop_front();
        feed_slots(crew, 2);
        crew.reports.add(own, run_file(operation, options, entries[own], key));
        take_ready_answers(crew, false);
    }
    for (auto& slot : crew.slots)
        if (slot.alive()) system::finish_worker(slot.worker);
    if (system::stop_signal() != 0)
        std::fprintf(stderr, "kestrav3: stopped by a signal; %zu file%s not run\n", crew.not_run,
                     crew.not_run == 1 ? "" : "s");
}

}  // namespace kestrav3::cmd
