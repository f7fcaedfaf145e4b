#include "fit/factor_count.h"

#include <algorithm>
#include <span>

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

FactorCount parallel(const CountInput& input)
{
    FactorCount count;
    count.parallel = parallel_analysis(input.eigenvalues, input.rows, input.replicates, input.seed);
    count.replicates = input.replicates;
    count.seed = input.seed;
    count.factors = std::max(1, count.parallel->factors);
    count.compared = count.parallel->observed;
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

}  // namespace

const FactorCountRule* find_factor_count(std::string_view name)
{
    return find_named(std::span<const FactorCountRule>(kRules), name);
}

const FactorCountRule* given_factor_count()
{
    return &kGiven;
}
