#include "fit/factor_count.h"

#include <algorithm>
#include <span>

#include "fit/linear_algebra.h"
#include "fit/method_table.h"

namespace {

FactorCount given(const CountInput& input)
{
    FactorCount count;
    count.factors = input.factors;
    return count;
}

FactorCount kaiser(const CountInput& input)
{
    FactorCount count;
    count.factors = kaiser_factors(input.eigenvalues);
    count.compared = input.eigenvalues;
    return count;
}

// Horn's parallel analysis of the components, of the common factors (the
// reduced matrix's eigenvalues, as psych's fa.parallel(fa = "fa", SMC =
// TRUE)), or both from the same draws; both count by the model fitted.
FactorCount parallel(const CountInput& input)
{
    FactorCount count;
    if (input.parallel->components)
        count.parallel =
            parallel_analysis(input.eigenvalues, input.rows, input.replicates, input.seed, false, input.quantile);
    if (input.parallel->factors)
        count.parallel_factors = parallel_analysis(decreasing_eigenvalues(reduced_correlation(input.correlation)),
                                                   input.rows, input.replicates, input.seed, true, input.quantile);
    count.replicates = input.replicates;
    count.seed = input.seed;
    count.quantile = input.quantile;
    const ParallelAnalysis& counted =
        count.parallel_factors && (input.common_factors || !count.parallel) ? *count.parallel_factors : *count.parallel;
    count.factors = std::max(1, counted.factors);
    count.compared = counted.observed;
    return count;
}

FactorCount map(const CountInput& input)
{
    FactorCount count;
    count.map = minimum_average_partial(input.correlation);
    count.factors = count.map->factors;
    count.compared = count.map->values;
    return count;
}

constexpr FactorCountRule kRules[] = {
    {"kaiser", true, kaiser},
    {"parallel", false, parallel},
    {"map", false, map},
};

constexpr FactorCountRule kGiven{"number", true, given};

constexpr ParallelKind kParallelKinds[] = {
    {"pc", true, false},
    {"fa", false, true},
    {"both", true, true},
};

}  // namespace

const FactorCountRule* find_factor_count(std::string_view name)
{
    return find_named(std::span<const FactorCountRule>(kRules), name);
}

const ParallelKind* find_parallel(std::string_view name)
{
    return find_named(std::span<const ParallelKind>(kParallelKinds), name);
}

const FactorCountRule* given_factor_count()
{
    return &kGiven;
}
