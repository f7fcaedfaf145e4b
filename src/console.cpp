#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <unistd.h>

namespace {

[[noreturn]] void wait_and_exit()
{
    // Holds a terminal user's window until a line is entered; with standard
    // input at its end or closed it returns at once.
    std::getchar();
    std::exit(1);
}

FatalHandler fatal_handler = wait_and_exit;
std::string incomplete_output;

// Every text is flushed at once, so the console keeps program order even
// where standard error comes between standard output.
void print(std::FILE* stream, const char* format, va_list args)
{
    std::vfprintf(stream, format, args);
    std::fflush(stream);
}

}  // namespace

void message(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    print(stdout, format, args);
    va_end(args);
}

void error(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    print(stderr, format, args);
    va_end(args);
    if (!incomplete_output.empty()) {
        ::unlink(incomplete_output.c_str());
        incomplete_output.clear();
    }
    fatal_handler();
    std::abort();  // a handler that returns breaks the contract
}

void set_fatal_handler(FatalHandler handler)
{
    fatal_handler = handler ? handler : wait_and_exit;
}

void set_incomplete_output(std::string path)
{
    incomplete_output = std::move(path);
}
