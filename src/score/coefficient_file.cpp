#include "score/coefficient_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "common/allocation.h"
#include "common/console.h"

namespace {

// A marker counts only before a NUL byte, where the line ends as text.
bool contains(std::string_view line, std::string_view marker)
{
    return line.substr(0, line.find('\0')).find(marker) != std::string_view::npos;
}

void check_read(const LineReader& reader, const char* path)
{
    if (reader.failed())
        error("Error: reading %s\n", path);
}

// Option -g: every variable is divided by the smallest deviation.
void smallest_for_all(std::vector<double>& values)
{
    if (values.empty())
        return;
    double smallest = values[0];
    for (double v : values)
        if (v < smallest)
            smallest = v;
    std::fill(values.begin(), values.end(), smallest);
}

// Counts the numbers of a vector line, which must match a matrix already
// loaded; the count becomes datacols.
int count_vector(RunState& state, std::string_view line, int site, const char* name)
{
    int n = checkline(line);
    if (state.coefficients.datacols != 0 && state.coefficients.fsc && state.coefficients.datacols != n)
        count_mismatch(site, "fsc", state.coefficients.datacols, name, n);
    state.coefficients.datacols = n;
    return n;
}

void store_vector(const RunState& state, std::string_view line, std::vector<double>& values, int site)
{
    int stored = readline(line, values.data(), static_cast<int>(values.size()), nullptr);
    if (stored != state.coefficients.datacols)
        count_mismatch(site, "tested", state.coefficients.datacols, "read", stored);
}

// Load one section from its vector line (initStd, initMean) or from the
// rows that follow the marker (initFsc).
void initStd(RunState& state, std::string_view line)
{
    int n = count_vector(state, line, 487, "std");
    state.coefficients.std.reset();
    state.coefficients.std = allocate_zeroed<double>(static_cast<unsigned>(n), 493);
    store_vector(state, line, *state.coefficients.std, 496);
    if (state.options.global)
        smallest_for_all(*state.coefficients.std);
}

void initMean(RunState& state, std::string_view line)
{
    int n = count_vector(state, line, 524, "mean");
    state.coefficients.mean.reset();
    try {
        state.coefficients.mean.emplace(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        return;  // the run goes on without means
    }
    store_vector(state, line, *state.coefficients.mean, 534);
}

void initFsc(RunState& state, LineReader& reader, const char* path)
{
    std::string_view first = reader.myfgets() ? reader.line() : std::string_view{};
    int n = checkline(first);
    if (state.coefficients.datacols != 0 && state.coefficients.std && state.coefficients.datacols != n)
        count_mismatch(554, "std", state.coefficients.datacols, "fsc", n);
    state.coefficients.datacols = n;
    state.coefficients.fsc.reset();
    std::uint64_t order = static_cast<unsigned>(n);
    state.coefficients.fsc = allocate_zeroed<double>(order * order, 558);
    // The line after the last row is left to the caller, so a marker
    // standing right after the matrix is still seen.
    int rows = 0;
    while (rows < n) {
        int stored = readline(reader.line(), state.coefficients.fsc->data() + order * rows, n, nullptr);
        if (stored != n)
            count_mismatch(562, "read", stored, "expected", n);
        ++rows;
        if (rows < n && !reader.myfgets())
            break;
    }
    check_read(reader, path);
    if (rows != n)
        count_mismatch(567, "columns", n, "rows", rows);
}

}  // namespace

void readfsc(RunState& state, const char* path)
{
    File file(std::fopen(path, "r"), std::fclose);
    if (!file)
        error("Error: opening %s\n", path);
    LineReader reader(file.get());
    while (reader.myfgets()) {
        std::string_view line = reader.line();
        if (contains(line, "[STD]")) {
            // At the end of the file the vector is read from the last line
            // read, which is the marker itself or a skipped comment.
            reader.myfgets();
            check_read(reader, path);
            initStd(state, reader.line());
        } else if (contains(line, "[MEAN]")) {
            reader.myfgets();
            check_read(reader, path);
            initMean(state, reader.line());
        } else if (contains(line, "[FSC_SORTED]")) {
            initFsc(state, reader, path);
        }
    }
    check_read(reader, path);
}

std::optional<std::vector<std::string>> read_names(const char* path)
{
    File file(std::fopen(path, "r"), std::fclose);
    if (!file)
        return std::nullopt;
    // The names stand in a comment line, however long.
    LineReader reader(file.get());
    while (reader.next_line()) {
        std::vector<std::string> names = names_comment(line_text(reader.line()));
        if (!names.empty())
            return names;
    }
    return std::nullopt;
}
