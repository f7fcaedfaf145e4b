#include "common/parallel.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>

namespace {

constexpr int kMostThreads = 8;  // CPUs a run takes unless SCORIX_THREADS asks for more
// SCORIX_THREADS beyond this is taken as this. Every thread keeps a block in
// flight (a megabyte of text at least), and the calling thread alone reads
// the lines of every block and writes every output byte: well before this
// many converters it is the one they wait for.
constexpr int kMostRequested = 64;

int threads_from_environment()
{
    const char* text = std::getenv("SCORIX_THREADS");
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1)
        return 0;
    return static_cast<int>(std::min<long>(value, kMostRequested));
}

int available_cpus()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::clamp(CPU_COUNT(&set), 1, kMostThreads);
}

// The pipeline's shared state. Helpers take blocks from `todo`; a block is
// done when its flag in `finished` is set; `stop` sends every helper home.
class Pipeline {
public:
    Pipeline(int threads, int slots, const PipelineSteps& steps)
        : threads_(threads), steps_(steps), finished_(static_cast<std::size_t>(slots), 0)
    {
    }

    ~Pipeline()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        helpers_.clear();  // joins them
    }

    void run(int slots)
    {
        std::vector<int> free_slots;
        for (int slot = slots - 1; slot >= 0; --slot)
            free_slots.push_back(slot);
        std::deque<int> order;  // blocks read and not yet written, in file order
        bool more = true;
        for (;;) {
            while (more && !free_slots.empty()) {
                int slot = free_slots.back();
                if (!steps_.read(slot)) {
                    more = false;
                    break;
                }
                free_slots.pop_back();
                order.push_back(slot);
                {
                    std::lock_guard lock(mutex_);
                    todo_.push_back(slot);
                }
                wake_.notify_one();
                if (order.size() == 2 && helpers_.empty())
                    start_helpers();
            }
            if (order.empty())
                return;
            int next = order.front();
            order.pop_front();
            wait_for(next);
            if (!steps_.write(next))
                return;
            free_slots.push_back(next);
        }
    }

private:
    void start_helpers()
    {
        for (int i = 1; i < threads_; ++i) {
            try {
                helpers_.emplace_back([this] { help(); });
            } catch (const std::system_error&) {
                break;  // the threads already running, or the calling thread alone, do the work
            }
        }
    }

    void help()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !todo_.empty(); });
            if (stop_)
                return;
            work_next(lock);
        }
    }

    // Works on the first waiting block; called and returns with the lock held.
    void work_next(std::unique_lock<std::mutex>& lock)
    {
        int slot = todo_.front();
        todo_.pop_front();
        lock.unlock();
        steps_.work(slot);
        lock.lock();
        finished_[static_cast<std::size_t>(slot)] = 1;
        done_.notify_all();
    }

    // The calling thread works on waiting blocks until `slot` is done.
    void wait_for(int slot)
    {
        std::unique_lock lock(mutex_);
        while (!finished_[static_cast<std::size_t>(slot)]) {
            if (!todo_.empty())
                work_next(lock);
            else
                done_.wait(lock);
        }
        finished_[static_cast<std::size_t>(slot)] = 0;
    }

    const int threads_;
    const PipelineSteps& steps_;
    std::mutex mutex_;
    std::condition_variable wake_;  // helpers: a block waits, or stop
    std::condition_variable done_;  // calling thread: a block is done
    std::deque<int> todo_;
    std::vector<char> finished_;
    bool stop_ = false;
    std::vector<std::jthread> helpers_;
};

}  // namespace

int thread_count()
{
    static const int count = [] {
        int requested = threads_from_environment();
        return requested > 0 ? requested : available_cpus();
    }();
    return count;
}

BlockPlan plan_blocks(int threads, int full_rows)
{
    if (threads <= 1 || full_rows <= 0)
        return {1, full_rows};
    long long count = threads + 2LL;
    const long long all_rows = 4LL * full_rows;
    const long long rows = std::clamp(all_rows / std::max(count, 4LL), 1LL, static_cast<long long>(full_rows));
    count = std::min(count, all_rows / rows);
    return {static_cast<int>(count), static_cast<int>(rows)};
}

void run_pipeline(int threads, int slots, const PipelineSteps& steps)
{
    Pipeline pipeline(threads, slots, steps);
    pipeline.run(slots);
}
