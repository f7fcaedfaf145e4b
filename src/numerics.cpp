#include "numerics.h"

#include <cmath>

#include "console.h"

void standardize(RunState& state)
{
    if (state.debug)
        message("standardize()\n");
    const double* mean = (state.sub_mean_from_input && state.mean) ? state.mean->data() : nullptr;
    const double* std = state.std->data();
    for (int r = 0; r < state.datarows; ++r) {
        double* row = state.data.row(r);
        for (int c = 0; c < state.datacols; ++c) {
            double value = row[c];
            if (mean)
                value = value - mean[c];
            row[c] = value / std[c];
        }
    }
}

void project_row(const double* row, const double* fsc, int cols, int scores, double* out)
{
    for (int s = 0; s < scores; ++s) {
        double sum = +0.0;
        for (int k = 0; k < cols; ++k)
            sum = std::fma(row[k], fsc[static_cast<std::size_t>(k) * cols + s], sum);
        out[s] = sum;
    }
}

void scorix(RunState& state)
{
    if (state.debug)
        message("scorix()\n");
    const double* fsc = state.fsc->data();
    for (int r = 0; r < state.datarows; ++r)
        project_row(state.data.row(r), fsc, state.datacols, state.scores, state.result.row(r));
}

void unstandardize(RunState& state)
{
    if (state.debug)
        message("unstandardize()\n");
    const double* mean = (state.add_mean_to_output && state.mean) ? state.mean->data() : nullptr;
    const double* std = state.std->data();
    for (int r = 0; r < state.datarows; ++r) {
        double* row = state.result.row(r);
        for (int c = 0; c < state.scores; ++c) {
            double value = row[c] * std[c];
            if (mean)
                value = value + mean[c];
            row[c] = value;
        }
    }
}
