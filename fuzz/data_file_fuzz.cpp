// A data file of any bytes, forward or inverse with a small coefficient set:
// transformed, or stopped by a fatal error that leaves no output; an output
// has one line of `scores` values per row. Gzipped, the same bytes give the
// same output or failure; a compressed input tries the decompressor.
#include <algorithm>
#include <iterator>
#include <optional>
#include <sstream>

#include <zlib.h>

#include "harness.h"
#include "read/byte_stream.h"
#include "score/driver.h"
#include "score/matinv.h"

namespace {

// The output of rows.dat in `dir`, or nothing after a fatal error.
std::optional<std::string> transform(RunState state, const ScratchDir& dir)
{
    const std::string output = state.options.reverse ? "rows.tad" : "rows.sco";
    std::filesystem::remove(dir.file(output));
    try {
        process_file(state, dir.file("rows.dat").c_str());
    } catch (const FatalStop&) {
        FUZZ_CHECK(!std::filesystem::exists(dir.file(output)));
        return std::nullopt;
    }
    return dir.read(output);
}

// The first input byte picks the set-up: bits 0-1 the number of variables
// (1 to 4), bit 2 the inverse direction, bits 3-4 the scores (0 = all),
// bit 5 a column selection, bit 6 no means, bit 7 no mean arithmetic.
void one_input(const std::uint8_t* data, std::size_t size)
{
    static ScratchDir dir;
    if (size == 0)
        return;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    dir.write("rows.dat", text);
    const int setup = data[0], n = (setup & 3) + 1, scores = (setup >> 3) & 3;
    RunState state;
    state.coefficients.datacols = n;
    state.options.reverse = (setup >> 2) & 1;
    state.options.EXT = state.options.reverse ? ".tad" : ".sco";
    state.options.scores = scores == 0 ? n : std::min(scores, n);
    state.options.quiet = 1;
    state.coefficients.std = std::vector<double>{2.0, 0.5, 1.5, 4.0};
    state.coefficients.std->resize(n);
    if (!(setup & 0x40))
        state.coefficients.mean = std::vector<double>(n, -1.5);
    state.options.sub_mean_from_input = state.options.add_mean_to_output = !(setup & 0x80);
    state.coefficients.readflag = std::vector<int>(n, 1);
    state.coefficients.readflag->at(0) = !(setup & 0x20);
    // A well-conditioned matrix: 2 on the diagonal, small values elsewhere.
    state.coefficients.fsc = std::vector<double>(n * n);
    for (int k = 0; k < n * n; ++k)
        state.coefficients.fsc->at(k) = k / n == k % n ? 2.0 : 0.125 * (k / n - k % n);
    std::vector<int> pivots(n);
    int status = 1;
    double det = 0.0;
    if (state.options.reverse)
        matinv(&status, n, n, state.coefficients.fsc->data(), n, pivots.data(), &det);
    FUZZ_CHECK(status == 1);
    const std::optional<std::string> plain = transform(state, dir);
    if (ByteStream::open(dir.file("rows.dat").c_str()).compressed())
        return;
    if (plain) {
        // Every line is a row but the comment lines (first byte one of "!#;"
        // or NUL); a last line without a newline counts; a UTF-8 byte-order
        // mark at the start is no part of the first line.
        int rows = 0;
        const bool marked = text.starts_with("\xef\xbb\xbf");
        std::istringstream input(marked ? text.substr(3) : text), output(*plain);
        for (std::string line; std::getline(input, line);)
            rows += line.empty() || std::string_view("!#;", 4).find(line[0]) == std::string_view::npos;
        for (std::string line; std::getline(output, line); --rows) {
            std::istringstream values(line);
            FUZZ_CHECK(std::distance(std::istream_iterator<std::string>(values), {}) == state.options.scores);
        }
        FUZZ_CHECK(rows == 0);
    }
    gzFile packed = gzopen(dir.file("rows.dat").c_str(), "wb");
    FUZZ_CHECK(packed &&
               gzwrite(packed, text.data(), static_cast<unsigned>(text.size())) == static_cast<int>(size - 1));
    FUZZ_CHECK(gzclose(packed) == Z_OK);
    FUZZ_CHECK(transform(state, dir) == plain);
}

}  // namespace

FUZZ_TARGET(data_file, one_input)
