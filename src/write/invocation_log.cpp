#include "write/invocation_log.h"

#include <algorithm>
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

// An argument holding a blank, comma or asterisk as the log shows it: a long
// option's value alone in double quotes after its "=", any other argument
// in double quotes whole.
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

}  // namespace

std::string escaped_word(std::string_view word)
{
    const bool plain = !word.starts_with("$'") && std::none_of(word.begin(), word.end(), [](char c) {
        return static_cast<unsigned char>(c) < ' ' || c == '\x7f';
    });
    if (plain)
        return std::string(word);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string item = "$'";
    for (const char c : word) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '\n')
            item += "\\n";
        else if (byte == '\t')
            item += "\\t";
        else if (byte == '\r')
            item += "\\r";
        else if (byte == '\\' || byte == '\'')
            item += {'\\', c};
        else if (byte < ' ' || byte == 0x7f)
            item += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
        else
            item += c;
    }
    return item + "'";
}

std::string log_line(const std::string& timestamp, int argc, char* const* argv)
{
    std::string line = timestamp;
    for (int i = 0; i < argc; ++i) {
        if (std::string word = escaped_word(argv[i]); word != argv[i])
            line += " " + word;
        else if (std::strpbrk(argv[i], " ,*"))
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
    // Without O_NONBLOCK a FIFO with no reader would hold the run here; with
    // it, such a FIFO cannot be opened (ENXIO) and the run goes on.
    for (int attempt = 0; attempt < kOpenAttempts && fd < 0; ++attempt)
        fd = ::open("logfile", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
