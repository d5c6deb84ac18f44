// Side-by-side work, for every part of the program that has any (the PPD
// fetches of discovery, the printers of the command line), on one pool of
// GLib's threads.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include <gio/gio.h>

// Runs job(0) to job(count - 1), at most `width` at a time, each index
// once, taken in order. A thread that cannot start is no failure: fewer
// run, and with none the waiting thread runs the jobs itself. Once
// `cancellable` is cancelled no job starts any more; jobs under way run to
// their own end (each has its own deadline).
class WorkGroup {
public:
    using Job = std::function<void(size_t index)>;

    WorkGroup(size_t count, int width, Job job, GCancellable* cancellable = nullptr);
    // Starts nothing new and waits for the jobs under way.
    ~WorkGroup();
    WorkGroup(const WorkGroup&) = delete;
    WorkGroup& operator=(const WorkGroup&) = delete;

    // Waits until job `index` is done: true; false when the cancellable was
    // cancelled before it was.
    bool WaitFor(size_t index);

    struct State;

private:
    std::shared_ptr<State> state_;
    gulong cancel_handler_ = 0;
};
