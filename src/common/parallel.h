// The threads of a run: how many it may use, and an ordered pipeline that
// reads blocks on the calling thread, works on them on any thread and
// writes them in the order they were read. Workers never end the run
// themselves: they record what went wrong and the calling thread reports it
// once every worker is stopped.
#pragma once

#include <functional>

// Threads a run may use: SCORIX_THREADS when it holds a positive integer
// (at most 64, a larger value is taken as 64), otherwise the CPUs the
// process may run on, at most 8. Read once.
int thread_count();

// The blocks a pipeline keeps in flight and the rows each holds.
struct BlockPlan {
    int count;
    int rows;
};

// Blocks for `threads` threads where a full block holds `full_rows` (0 for
// rows without values): one per thread and two more, so that the calling
// thread can read and write while every thread converts. Beyond four blocks
// each gets fewer rows, so that all hold the rows of four full ones; a block
// never holds fewer than one row, so rows too wide for that mean fewer
// blocks.
BlockPlan plan_blocks(int threads, int full_rows);

// The three steps of a pipeline over `slots` numbered 0 to slots - 1.
struct PipelineSteps {
    // Calling thread: fills the slot with the next block; false when no
    // block is left.
    std::function<bool(int slot)> read;
    // Any thread: the work on a block that was read.
    std::function<void(int slot)> work;
    // Calling thread, blocks in the order they were read; false stops the
    // pipeline (every worker is stopped and joined when run_pipeline returns).
    std::function<bool(int slot)> write;
};

// Runs blocks through the steps with up to `threads` threads, the calling
// thread included. Helper threads start only once a second block is
// waiting, so a file of one block starts none; with one thread everything
// runs on the calling thread.
void run_pipeline(int threads, int slots, const PipelineSteps& steps);
