#include "workpool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

// The locks here are the C++ library's, not GLib's: the race detector of
// the test builds follows these and cannot see inside GLib's.
struct WorkGroup::State {
    State(size_t count_, Job job_, GCancellable* cancellable_)
        : count(count_),
          job(std::move(job_)),
          cancellable(cancellable_ ? G_CANCELLABLE(g_object_ref(cancellable_)) : nullptr),
          done(count_, false)
    {
    }
    ~State()
    {
        if (cancellable)
            g_object_unref(cancellable);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    const size_t count;
    const Job job;
    GCancellable* const cancellable;
    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by mutex:
    std::vector<bool> done;
    size_t next = 0;
    size_t running = 0;
    bool closed = false;
    int helpers = 0;  // loops the pool took with a thread to run them
};

namespace {

using State = WorkGroup::State;
using Lock = std::unique_lock<std::mutex>;

// The groups whose loops were handed to the pool and have not started: a
// loop takes the oldest. Handed over under this lock, not through the
// pool's own queue, so that the handover is one the race detector sees.
// Never destroyed: a loop the pool starts late may come after exit began.
struct Pending {
    std::mutex mutex;
    std::deque<std::shared_ptr<State>> groups;
};
Pending& ThePending()
{
    static Pending* pending = new Pending;
    return *pending;
}

bool Stopping(const State& state)
{
    return state.closed || (state.cancellable && g_cancellable_is_cancelled(state.cancellable));
}

// Runs the next job not yet taken, with `lock` held on entry and on return;
// false when there is none or no job may start.
bool RunNext(State* state, Lock& lock)
{
    if (Stopping(*state) || state->next >= state->count)
        return false;
    const size_t index = state->next++;
    ++state->running;
    lock.unlock();
    state->job(index);
    lock.lock();
    --state->running;
    state->done[index] = true;
    state->changed.notify_all();
    return true;
}

// One loop of the pool: jobs of its group until none is left. It holds the
// group's state, so a loop the pool starts late finds it closed, not gone.
void Loop(gpointer, gpointer)
{
    std::shared_ptr<State> state;
    {
        Pending& pending = ThePending();
        const std::lock_guard<std::mutex> lock(pending.mutex);
        state = std::move(pending.groups.front());
        pending.groups.pop_front();
    }
    Lock lock(state->mutex);
    while (RunNext(state.get(), lock)) {
    }
}

// The program's one pool. Groups bound their own width; the pool itself
// does not, so that one group never waits for another's threads.
GThreadPool* SharedPool()
{
    static GThreadPool* pool = g_thread_pool_new(Loop, nullptr, -1, FALSE, nullptr);
    return pool;
}

void WakeWaiters(GCancellable*, gpointer data)
{
    auto* state = static_cast<State*>(data);
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->changed.notify_all();
}

// Hands one loop of `state` to the pool; false when no thread started for
// it (it stays queued: a later thread may still run it).
bool HandOver(GThreadPool* pool, const std::shared_ptr<State>& state)
{
    Pending& pending = ThePending();
    const std::lock_guard<std::mutex> lock(pending.mutex);
    pending.groups.push_back(state);
    GError* error = nullptr;
    if (g_thread_pool_push(pool, GINT_TO_POINTER(1), &error))
        return true;
    g_error_free(error);
    return false;
}

}  // namespace

WorkGroup::WorkGroup(size_t count, int width, Job job, GCancellable* cancellable)
    : state_(std::make_shared<State>(count, std::move(job), cancellable))
{
    if (cancellable)
        cancel_handler_ =
            g_cancellable_connect(cancellable, G_CALLBACK(WakeWaiters), state_.get(), nullptr);
    const size_t loops = std::min(count, static_cast<size_t>(std::max(width, 0)));
    GThreadPool* pool = SharedPool();
    for (size_t i = 0; pool && i < loops && HandOver(pool, state_); ++i) {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->helpers;
    }
}

WorkGroup::~WorkGroup()
{
    {
        Lock lock(state_->mutex);
        state_->closed = true;
        state_->changed.wait(lock, [&] { return state_->running == 0; });
    }
    if (cancel_handler_ != 0)
        g_cancellable_disconnect(state_->cancellable, cancel_handler_);
}

bool WorkGroup::WaitFor(size_t index)
{
    State* state = state_.get();
    Lock lock(state->mutex);
    for (;;) {
        if (state->done[index])
            return true;
        if (Stopping(*state))
            return false;
        // Without a thread of the pool, this one does the work.
        if (state->helpers == 0 && RunNext(state, lock))
            continue;
        state->changed.wait(lock);
    }
}
