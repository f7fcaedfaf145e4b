// Output files that appear whole or not at all. A regular file is written to
// an unnamed temporary file in its directory and takes the place of the old
// one by a rename once it is complete and closed, so a failing or
// interrupted run never leaves a cut-off file and never harms the file it
// would have replaced. Devices, FIFOs and standard output are written
// directly.
#pragma once

#include <string>

class AtomicFile {
public:
    // Starts the file `name`. fd() is below 0 when nothing could be created
    // (errno says why).
    explicit AtomicFile(std::string name);
    // Standard output (a duplicate of its descriptor), written directly.
    static AtomicFile standard_output();
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    ~AtomicFile();  // discards a file that was never committed

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

    // Closes the file and puts it in place under its name, with the mode of
    // the regular file it replaces. False when closing or renaming fails;
    // nothing is left behind then.
    bool commit();

private:
    AtomicFile() = default;
    void discard();

    std::string name_;
    std::string target_;  // where the file goes: the name, symbolic links followed
    int fd_ = -1;
    bool direct_ = false;    // written in place (a device, a FIFO)
    std::string temporary_;  // a named temporary file, where no unnamed one can be made
};

// Lets SIGINT, SIGTERM, SIGHUP and SIGPIPE erase a progress line, remove
// pending temporary files and then end the process by the same signal. Signals the caller ignores stay
// ignored.
void install_signal_cleanup();
