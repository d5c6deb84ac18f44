#include "workpool.h"

#include <algorithm>
#include <vector>

struct WorkGroup::State {
    State(size_t count_, Job job_, GCancellable* cancellable_)
        : count(count_),
          job(std::move(job_)),
          cancellable(cancellable_ ? G_CANCELLABLE(g_object_ref(cancellable_)) : nullptr),
          done(count_, false)
    {
        g_mutex_init(&mutex);
        g_cond_init(&changed);
    }
    ~State()
    {
        g_cond_clear(&changed);
        g_mutex_clear(&mutex);
        if (cancellable)
            g_object_unref(cancellable);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    const size_t count;
    const Job job;
    GCancellable* const cancellable;
    GMutex mutex;
    GCond changed;
    // Guarded by mutex:
    std::vector<bool> done;
    size_t next = 0;
    size_t running = 0;
    bool closed = false;
    int helpers = 0;  // loops handed to the pool
};

namespace {

using State = WorkGroup::State;

bool Stopping(const State& state)
{
    return state.closed || (state.cancellable && g_cancellable_is_cancelled(state.cancellable));
}

// Runs the next job not yet taken, with the mutex held on entry and on
// return; false when there is none or no job may start.
bool RunNext(State* state)
{
    if (Stopping(*state) || state->next >= state->count)
        return false;
    const size_t index = state->next++;
    ++state->running;
    g_mutex_unlock(&state->mutex);
    state->job(index);
    g_mutex_lock(&state->mutex);
    --state->running;
    state->done[index] = true;
    g_cond_broadcast(&state->changed);
    return true;
}

// One loop of the pool: jobs of its group until none is left. It holds the
// group's state, so a loop the pool starts late finds it closed, not gone.
void Loop(gpointer data, gpointer)
{
    const std::unique_ptr<std::shared_ptr<State>> holder(
        static_cast<std::shared_ptr<State>*>(data));
    State* state = holder->get();
    g_mutex_lock(&state->mutex);
    while (RunNext(state)) {
    }
    g_mutex_unlock(&state->mutex);
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
    g_mutex_lock(&state->mutex);
    g_cond_broadcast(&state->changed);
    g_mutex_unlock(&state->mutex);
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
    for (size_t i = 0; pool && i < loops; ++i) {
        GError* error = nullptr;
        // A loop whose thread did not start stays queued: a later thread
        // may still run it. It counts as a helper only when its thread ran.
        if (g_thread_pool_push(pool, new std::shared_ptr<State>(state_), &error)) {
            g_mutex_lock(&state_->mutex);
            ++state_->helpers;
            g_mutex_unlock(&state_->mutex);
            continue;
        }
        g_error_free(error);
        break;
    }
}

WorkGroup::~WorkGroup()
{
    g_mutex_lock(&state_->mutex);
    state_->closed = true;
    while (state_->running > 0)
        g_cond_wait(&state_->changed, &state_->mutex);
    g_mutex_unlock(&state_->mutex);
    if (cancel_handler_ != 0)
        g_cancellable_disconnect(state_->cancellable, cancel_handler_);
}

bool WorkGroup::WaitFor(size_t index)
{
    State* state = state_.get();
    g_mutex_lock(&state->mutex);
    bool done = false;
    for (;;) {
        done = state->done[index];
        if (done || Stopping(*state))
            break;
        // Without a thread of the pool, this one does the work.
        if (state->helpers == 0 && RunNext(state))
            continue;
        g_cond_wait(&state->changed, &state->mutex);
    }
    g_mutex_unlock(&state->mutex);
    return done;
}
