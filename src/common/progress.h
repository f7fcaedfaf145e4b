// The progress line of long work: one line on standard error, when it is a
// terminal, telling how far the work is (bytes read of the file's size, or
// steps done of their total), the rate and the time left; drawn only once
// the work has lasted a second, a few times a second at most, and erased
// when the work is done and before any console text is written. Nothing of
// it reaches standard error that is not a terminal, unless the user asks
// for it (--progress).
//
// The thread that starts the work draws, from `tick`, at points of its own
// choosing (a block read, a pair done); other threads only count (`advance`)
// or move the counter the work was given (the bytes a reader consumed).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

// Whether progress lines are drawn: on a terminal (automatic), always or
// never. Set once from the command line, before any work starts.
enum class ProgressMode { automatic, on, off };
void set_progress_mode(ProgressMode mode);

class Progress {
public:
    // Work of `total` units (below 0: unknown, as for a pipe), counted in
    // `counter` when one is given (it must outlive the progress), else by
    // `advance`. `bytes` shows the amounts as sizes ("12 MB", "45%"), else as
    // counts ("120/1000").
    Progress(std::string label, long long total, bool bytes, const std::atomic<long long>* counter = nullptr);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    // Erases the line if it is shown.
    ~Progress();

    // Counts `units` more done; from any thread, a relaxed atomic add (none
    // when no line is drawn).
    void advance(long long units = 1)
    {
        if (live_)
            own_.fetch_add(units, std::memory_order_relaxed);
    }

    // Draws the line when it is due; does nothing on any thread but the one
    // that made the progress, or when no line is drawn at all. A clock read
    // and a comparison otherwise: call it per block, not per row.
    void tick()
    {
        if (live_ && std::this_thread::get_id() == owner_)
            draw_if_due();
    }

private:
    void draw_if_due();

    std::string label_;
    long long total_;
    bool bytes_;
    const std::atomic<long long>* counter_;
    std::atomic<long long> own_{0};
    bool live_ = false;  // this progress may draw: enabled, and no other progress is under way
    std::thread::id owner_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point next_draw_;
};

// Held while other text goes to the terminal: the progress line is erased
// first and is not drawn until the pause ends. Nests.
class ProgressPause {
public:
    ProgressPause();
    ~ProgressPause();
    ProgressPause(const ProgressPause&) = delete;
    ProgressPause& operator=(const ProgressPause&) = delete;
};

// Erases the progress line and draws none from now on: the run is ending on
// a fatal error.
void end_progress();

// Erases a progress line that stands on the terminal, from a handler of a
// signal that ends the run: async-signal-safe, and without the lock, which
// the interrupted thread may hold.
void erase_progress_on_signal();

// The console's last text on a terminal ended without a newline: a line is
// being built there (the quiet run's one line), which a progress line would
// overwrite, so none is drawn meanwhile. Set by the console.
void set_console_line_open(bool open);
