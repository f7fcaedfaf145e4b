#include "invocation_log.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kOpenAttempts = 11;

std::string timestamp_now()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[30] = "";
    if (localtime_r(&now, &local))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

std::string logfile_long_opt(const char* argument)
{
    const char* equals = std::strchr(argument, '=');
    if (std::strncmp(argument, "--", 2) == 0 && equals) {
        std::string item = " ";
        item.append(argument, equals + 1);
        return item + "\"" + (equals + 1) + "\"";
    }
    return std::string(" \"") + argument + "\"";
}

std::string log_line(const std::string& timestamp, int argc, char* const* argv)
{
    std::string line = timestamp;
    for (int i = 0; i < argc; ++i) {
        if (std::strpbrk(argv[i], " ,*"))
            line += logfile_long_opt(argv[i]);
        else
            line += std::string(" ") + argv[i];
    }
    line += '\n';
    return line;
}

void logfile(int argc, char* const* argv)
{
    int fd = -1;
    for (int attempt = 0; attempt < kOpenAttempts && fd < 0; ++attempt)
        fd = ::open("logfile", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::fputs("No logfile entry\n", stderr);
        std::fflush(stderr);
        return;
    }
    // One write per line: runs sharing a directory append whole lines, never
    // parts of each other's.
    std::string line = log_line(timestamp_now(), argc, argv);
    [[maybe_unused]] ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}
