// Microbenchmarks of the three hot loops: scanning numbers (with and
// without conversion), printing values, and
// the projection (vector path and the portable one). Items are numbers,
// values and fused steps.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "read/text_input.h"
#include "score/numerics.h"
#include "write/printer.h"

namespace {

// A data line of 20 values as the benchmark files hold them.
std::string data_line()
{
    std::mt19937_64 rng(1);
    std::normal_distribution<double> value(10.0, 20.0);
    std::string line;
    char text[32];
    for (int i = 0; i < 20; ++i) {
        std::snprintf(text, sizeof text, "%.6g ", value(rng));
        line += text;
    }
    line.back() = '\n';
    return line;
}

void BM_Readline(benchmark::State& state)
{
    std::string line = data_line();
    double row[20];
    for (auto _ : state) {
        benchmark::DoNotOptimize(readline(line, row, 20, nullptr));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 20);
}
BENCHMARK(BM_Readline);

void BM_Checkline(benchmark::State& state)
{
    std::string line = data_line();
    for (auto _ : state)
        benchmark::DoNotOptimize(checkline(line));
    state.SetItemsProcessed(state.iterations() * 20);
}
BENCHMARK(BM_Checkline);

std::vector<double> scores_to_print()
{
    std::mt19937_64 rng(2);
    std::normal_distribution<double> value(0.0, 3.0);
    std::vector<double> values(4096);
    for (double& v : values)
        v = value(rng);
    return values;
}

void BM_FormatValue(benchmark::State& state)
{
    std::vector<double> values = scores_to_print();
    char text[kValueChars];
    for (auto _ : state)
        for (double v : values)
            benchmark::DoNotOptimize(format_value(text, v));
    state.SetItemsProcessed(state.iterations() * static_cast<long>(values.size()));
}
BENCHMARK(BM_FormatValue);

void BM_Snprintf(benchmark::State& state)
{
    std::vector<double> values = scores_to_print();
    char text[64];
    for (auto _ : state)
        for (double v : values)
            benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%-.7g", v));
    state.SetItemsProcessed(state.iterations() * static_cast<long>(values.size()));
}
BENCHMARK(BM_Snprintf);

// Arguments: columns, scores. One block of rows as the reader hands it on.
template <bool kVector>
void BM_Project(benchmark::State& state)
{
    const int cols = static_cast<int>(state.range(0));
    const int scores = static_cast<int>(state.range(1));
    const int rows = std::max(4, (1 << 20) / (8 * cols));
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> any(-1.0, 1.0);
    std::vector<double> fsc(static_cast<std::size_t>(cols) * cols), data(static_cast<std::size_t>(rows) * cols);
    std::vector<double> out(data.size());
    for (double& v : fsc)
        v = any(rng);
    for (double& v : data)
        v = any(rng);
    for (auto _ : state) {
        if (kVector)
            project_rows(data.data(), rows, fsc.data(), cols, scores, out.data());
        else
            for (int r = 0; r < rows; ++r)
                project_row(&data[r * cols], fsc.data(), cols, scores, &out[r * cols]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * rows * cols * scores);
}
BENCHMARK_TEMPLATE(BM_Project, true)->Args({20, 3})->Args({500, 500});
BENCHMARK_TEMPLATE(BM_Project, false)->Args({20, 3})->Args({500, 500});

}  // namespace

BENCHMARK_MAIN();
