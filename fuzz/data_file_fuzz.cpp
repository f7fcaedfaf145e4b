// A data file of any bytes through the forward or the inverse pipeline with
// a small coefficient set: it is transformed or stops with a fatal error,
// nothing is read or written out of bounds, and a written output has one
// line per row counted, each of `scores` values. The same bytes compressed
// with gzip give the same output or the same failure; an input that is
// itself compressed runs the decompressor on damaged data.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "byte_stream.h"
#include "driver.h"
#include "fuzz_support.h"
#include "matinv.h"
#include "run_state.h"

namespace {

// The first input byte picks the set-up: bits 0-1 the number of variables
// (1 to 4), bit 2 the inverse direction, bits 3-4 the scores (0 = all),
// bit 5 a column selection, bit 6 no means, bit 7 no mean arithmetic.
RunState make_state(std::uint8_t setup)
{
    RunState state;
    int n = (setup & 3) + 1;
    state.datacols = n;
    state.reverse = (setup >> 2) & 1;
    state.EXT = state.reverse ? ".tad" : ".sco";
    int scores = (setup >> 3) & 3;
    state.scores = scores == 0 ? n : std::min(scores, n);
    state.quiet = 1;
    state.std = std::vector<double>{2.0, 0.5, 1.5, 4.0};
    state.std->resize(static_cast<std::size_t>(n));
    if (!(setup & 0x40)) {
        state.mean = std::vector<double>{1.0, -2.0, 3.0, 0.25};
        state.mean->resize(static_cast<std::size_t>(n));
    }
    state.sub_mean_from_input = state.add_mean_to_output = !(setup & 0x80);
    // A well-conditioned matrix: 2 on the diagonal, small values elsewhere.
    state.fsc = std::vector<double>(static_cast<std::size_t>(n * n));
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            (*state.fsc)[static_cast<std::size_t>(r * n + c)] = r == c ? 2.0 : 0.125 * (r - c);
    state.readflag = std::vector<int>(static_cast<std::size_t>(n), 1);
    if (setup & 0x20)
        (*state.readflag)[0] = 0;
    if (state.reverse) {
        std::vector<int> pivots(static_cast<std::size_t>(n));
        int status = 0;
        int flag = 0;
        double det = 0.0;
        matinv(&status, &flag, n, n, state.fsc->data(), n, pivots.data(), &det);
        FUZZ_CHECK(status == 1);
    }
    return state;
}

// Rows the input holds: every line but the comment lines (first byte one of
// "!#;" or NUL); a last line without a newline counts.
int expected_rows(const std::uint8_t* data, std::size_t size)
{
    int rows = 0;
    for (std::size_t start = 0; start < size;) {
        const void* newline = std::memchr(data + start, '\n', size - start);
        std::size_t end = newline ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(newline) - data) + 1 : size;
        char first = static_cast<char>(data[start]);
        if (first != '!' && first != '#' && first != ';' && first != '\0')
            ++rows;
        start = end;
    }
    return rows;
}

void check_output(int scores, const std::string& text, int rows_in)
{
    std::istringstream in(text);
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        std::istringstream values(line);
        std::string value;
        int count = 0;
        while (values >> value)
            ++count;
        FUZZ_CHECK(count == scores);
        ++rows;
    }
    FUZZ_CHECK(rows == rows_in);
}

// The output of the input file, or nothing after a fatal error, which leaves
// no output behind.
std::optional<std::string> transform(RunState state, const InputFile& input)
{
    std::string output = input.directory() + "/rows" + state.EXT;
    std::filesystem::remove(output);
    try {
        process_file(state, input.path().c_str());
    } catch (const FatalStop&) {
        FUZZ_CHECK(!std::filesystem::exists(output));
        return std::nullopt;
    }
    std::ostringstream text;
    text << std::ifstream(output, std::ios::binary).rdbuf();
    return text.str();
}

void write_gzip(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    gzFile out = gzopen(path.c_str(), "wb");
    FUZZ_CHECK(out && gzwrite(out, data, static_cast<unsigned>(size)) == static_cast<int>(size));
    FUZZ_CHECK(gzclose(out) == Z_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static InputFile input("rows.dat");
    if (size == 0)
        return 0;
    catch_fatal_errors();
    input.write(data + 1, size - 1);
    const RunState state = make_state(data[0]);
    std::optional<std::string> plain = transform(state, input);
    if (ByteStream::open(input.path().c_str()).compressed())
        return 0;
    if (plain)
        check_output(state.scores, *plain, expected_rows(data + 1, size - 1));
    write_gzip(input.path(), data + 1, size - 1);
    FUZZ_CHECK(transform(state, input) == plain);
    return 0;
}
