// The one pool of workers: each job once, never more at a time than the
// group's width, and after a cancellation no job starts.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "workpool.h"

namespace {

TEST(WorkGroup, RunsEachJobOnceAtMostWidthAtATime)
{
    constexpr size_t kJobs = 200;
    std::vector<std::atomic<int>> runs(kJobs);
    std::atomic<int> running{0}, most{0};
    {
        WorkGroup group(kJobs, 3, [&](size_t i) {
            const int now = ++running;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            g_usleep(100);
            ++runs[i];
            --running;
        });
        for (size_t i = kJobs; i-- > 0;)
            EXPECT_TRUE(group.WaitFor(i));
    }
    for (size_t i = 0; i < kJobs; ++i)
        EXPECT_EQ(runs[i].load(), 1) << i;
    EXPECT_LE(most.load(), 3);
}

TEST(WorkGroup, AfterACancellationNoJobStartsAndWaitingEnds)
{
    GCancellable* stop = g_cancellable_new();
    std::atomic<int> started{0};
    {
        WorkGroup group(
            100, 2,
            [&](size_t i) {
                ++started;
                if (i == 0)
                    g_cancellable_cancel(stop);
            },
            stop);
        EXPECT_FALSE(group.WaitFor(99));
    }
    EXPECT_LE(started.load(), 2) << "only the jobs under way when it came";
    g_object_unref(stop);
}

}  // namespace
