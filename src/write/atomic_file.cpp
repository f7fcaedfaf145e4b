#include "write/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/console.h"
#include "common/progress.h"

namespace {

// The temporary files that have a name at the moment: each from its link
// into the directory until the rename that puts it in place. A run holds a
// few at once (scorix-fit's JSON report and coefficient file wait for each
// other); a signal handler reads them.
constexpr int kPendingSlots = 4;
std::atomic<const char*> pending[kPendingSlots];

// Removes the temporary files that have a name at the moment; safe in a
// signal handler. A fatal error runs it before the process ends.
void discard_pending_files()
{
    for (std::atomic<const char*>& slot : pending)
        if (const char* name = slot.exchange(nullptr))
            ::unlink(name);
}

// Marks `name` (nullptr: none) as a temporary file to remove if the run ends
// early, by a signal or by a fatal error, in place of `before`, which the
// caller no longer holds.
void hold_pending(const char* name, const char* before = nullptr)
{
    static const bool registered = (at_fatal_error(discard_pending_files), true);
    (void)registered;
    for (std::atomic<const char*>& slot : pending) {
        const char* expected = before;
        if (slot.compare_exchange_strong(expected, name))
            return;
    }
}

// Where a write to `name` lands: the final target of a chain of symbolic
// links, so that the link stays and its target is replaced.
std::string follow_links(std::string name)
{
    namespace fs = std::filesystem;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code failed;
        fs::path link = fs::read_symlink(name, failed);
        if (failed)
            break;
        name = link.is_absolute() ? link.string() : (fs::path(name).parent_path() / link).string();
    }
    return name;
}

std::string directory_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside `target` that no file may have: ".scorix.PID.N". It is short
// whatever the target's name, so any name the file system takes works (the
// target's own name, up to 255 bytes, would not fit in a longer one).
std::string free_name(const std::string& target, int attempt)
{
    std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    return dir + ".scorix." + std::to_string(::getpid()) + "." + std::to_string(attempt);
}

// An unnamed file in `dir`, or -1 with errno EOPNOTSUPP where the file
// system has none. SCORIX_NAMED_TEMPORARY=1 makes every file system look so,
// for the tests of the named fallback.
int open_unnamed(const std::string& dir)
{
    static const bool named_only = [] {
        const char* value = std::getenv("SCORIX_NAMED_TEMPORARY");
        return value && std::string_view(value) == "1";
    }();
    if (named_only) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

mode_t current_umask()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

void end_by_signal(int signal)
{
    erase_progress_on_signal();
    discard_pending_files();
    // The handler was reset to the default action on entry: the signal,
    // raised again, ends the process as soon as the handler returns.
    ::raise(signal);
}

}  // namespace

AtomicFile::AtomicFile(std::string name) : name_(std::move(name)), target_(follow_links(name_))
{
    struct stat old;
    bool replaces = ::stat(target_.c_str(), &old) == 0;
    if (replaces && !S_ISREG(old.st_mode)) {
        // A device or a FIFO has no contents to keep; a directory fails here.
        direct_ = true;
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        return;
    }
    mode_t mode = replaces ? (old.st_mode & 07777) : (0666 & ~current_umask());
    fd_ = open_unnamed(directory_of(target_));
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a named one, removed on every
        // way out but SIGKILL.
        for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
            temporary_ = free_name(target_, attempt);
            fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST)
                break;
        }
        if (fd_ < 0) {
            temporary_.clear();
            return;
        }
        hold_pending(temporary_.c_str());
    }
    if (fd_ < 0)
        return;
    if (replaces && ::fchown(fd_, old.st_uid, old.st_gid) != 0) {
        // Only a privileged user can give the file another owner; the new
        // file is then the caller's, as a rewritten file would be.
    }
    ::fchmod(fd_, mode);
}

AtomicFile AtomicFile::standard_output()
{
    AtomicFile file;
    file.name_ = "standard output";
    file.direct_ = true;
    file.fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    // Opened for reading only, it stands for a closed one
    // (hold_standard_descriptors): it cannot be opened for the output.
    if (file.fd_ >= 0 && (::fcntl(file.fd_, F_GETFL) & O_ACCMODE) == O_RDONLY) {
        ::close(file.fd_);
        file.fd_ = -1;
    }
    return file;
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : name_(std::move(other.name_)),
      target_(std::move(other.target_)),
      fd_(std::exchange(other.fd_, -1)),
      direct_(other.direct_)
{
    // A short name lives inside the string: its text moves.
    const char* const before = other.temporary_.c_str();
    temporary_ = std::move(other.temporary_);
    other.temporary_.clear();
    if (!temporary_.empty())
        hold_pending(temporary_.c_str(), before);
}

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::discard()
{
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
    if (!temporary_.empty()) {
        hold_pending(nullptr, temporary_.c_str());
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool AtomicFile::commit()
{
    if (direct_)
        return ::close(std::exchange(fd_, -1)) == 0;
    if (temporary_.empty()) {
        // Give the unnamed file a name beside its target, then rename it
        // over the target: the name it replaces changes in one step.
        std::string descriptor = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; temporary_.empty() && attempt < 100; ++attempt) {
            std::string candidate = free_name(target_, attempt);
            if (::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                ::linkat(fd_, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0) {
                temporary_ = std::move(candidate);
                hold_pending(temporary_.c_str());
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (temporary_.empty()) {
            discard();
            return false;
        }
    }
    bool placed = ::close(std::exchange(fd_, -1)) == 0 && ::rename(temporary_.c_str(), target_.c_str()) == 0;
    if (placed) {
        hold_pending(nullptr, temporary_.c_str());
        temporary_.clear();
    }
    discard();
    return placed;
}

void install_signal_cleanup()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action = {};
        action.sa_handler = end_by_signal;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}
