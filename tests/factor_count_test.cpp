// The rules of -k on the correlation matrices of reference data sets: the
// counts R's eigenvalues, parallel analysis and MAP give, what each rule
// compared, and its section of the report.
#include <fstream>

#include <Eigen/Eigenvalues>

#include "fit/factor_count.h"
#include "support.h"

namespace {

std::vector<double> values(const Eigen::VectorXd& v)
{
    return {v.begin(), v.end()};
}

TEST(FactorCount, EachRuleCountsAsRAndKeepsWhatItCompared)
{
    const std::tuple<const char*, int, int, int> sets[] = {{"mtcars", 2, 2, 3}, {"state", 3, 2, 2}};
    for (const auto& [set, kaiser, parallel, map] : sets) {
        std::ifstream in(std::string(SCORIX_REFERENCE) + "/" + set + ".ref");
        std::string key;
        Eigen::Index size = 0, rows = 0;
        for (double value; in >> key >> size >> size && key != "correlation";)
            if (in >> value; key == "rows")
                rows = static_cast<Eigen::Index>(value);
        Eigen::MatrixXd r(size, size);
        for (double& x : r.reshaped())
            in >> x;
        const Eigen::VectorXd eigenvalues =
            Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(r, Eigen::EigenvaluesOnly).eigenvalues().reverse();
        const std::pair<const FactorCountRule*, int> rules[] = {{find_factor_count("kaiser"), kaiser},
                                                                {find_factor_count("parallel"), parallel},
                                                                {find_factor_count("map"), map},
                                                                {given_factor_count(), 7}};
        for (const auto& [rule, factors] : rules) {
            SCOPED_TRACE(std::string(set) + " " + rule->name);
            ASSERT_TRUE(in && rows > 0);
            const FactorCount count = rule->count({r, eigenvalues, rows, 7, 100, 1});
            const std::string name = rule->name;
            EXPECT_EQ(std::tuple(count.factors, count.parallel.has_value(), count.map.has_value()),
                      std::tuple(factors, name == "parallel", name == "map"));
            EXPECT_EQ(values(count.compared), count.map          ? values(count.map->values)
                                              : name == "number" ? std::vector<double>()
                                                                 : values(eigenvalues));
            if (count.parallel) {
                EXPECT_EQ(std::tuple(values(count.parallel->observed), count.replicates, count.seed),
                          std::tuple(values(eigenvalues), 100, std::uint64_t{1}));
            }
        }
    }
    // A number is no rule's name; the rule of a number has no name to find.
    for (const char* word : {"3", "number", "kaiser ", ""})
        EXPECT_EQ(find_factor_count(word), nullptr) << word;
}

}  // namespace
