// Factor extraction, rotations, score weights and the adequacy figures
// against reference values computed once with R (tests/reference/
// make_reference.R) on six data sets that R ships.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "factor_adequacy.h"
#include "factor_analysis.h"
#include "statistics.h"
#include "support.h"

namespace {

using Eigen::MatrixXd;

// The blocks "key rows cols" of a .ref file.
std::map<std::string, MatrixXd> reference(const std::string& name)
{
    std::ifstream in(std::string(SCORIX_REFERENCE) + "/" + name + ".ref");
    std::map<std::string, MatrixXd> blocks;
    std::string key;
    Eigen::Index rows, cols;
    while (in >> key >> rows >> cols) {
        MatrixXd& m = blocks[key] = MatrixXd(rows, cols);
        for (Eigen::Index i = 0; i < rows; ++i)
            for (Eigen::Index j = 0; j < cols; ++j)
                in >> m(i, j);
    }
    EXPECT_FALSE(blocks.empty()) << name;
    return blocks;
}

// The largest difference, relative to the value for values beyond 1.
double gap(const MatrixXd& ours, const MatrixXd& theirs)
{
    if (ours.rows() != theirs.rows() || ours.cols() != theirs.cols())
        return INFINITY;
    return ((ours - theirs).array().abs() / theirs.array().abs().max(1)).maxCoeff();
}

const char* const kSets[] = {"usarrests", "swiss", "attitude", "mtcars", "state", "bfi"};

FactorSolution solve(const MatrixXd& r, const char* method, const char* rotation, const char* scores, int k)
{
    return factor_solution(r, {find_extraction(method), find_rotation(rotation), find_scores(scores), k, {}});
}

TEST(FactorAnalysis, ExtractionsRotationsAndScoresMatchR)
{
    for (const char* set : kSets) {
        SCOPED_TRACE(set);
        auto ref = reference(set);
        const MatrixXd& r = ref["correlation"];
        const int k = static_cast<int>(ref["factors"](0)), kml = static_cast<int>(ref["ml_factors"](0));
        const FactorSolution pc = solve(r, "pc", "none", "regression", k);
        EXPECT_LT(gap(pc.rotation.pattern, ref["pc"]), 1e-8);
        const FactorSolution pa = solve(r, "pa", "none", "regression", k);
        EXPECT_LT(gap(pa.rotation.pattern, ref["pa"]), 1e-8);
        EXPECT_LT(gap(pa.communalities, ref["pa_communalities"]), 1e-8);
        const FactorSolution ml = solve(r, "ml", "none", "regression", kml);
        EXPECT_LT(gap(ml.rotation.pattern, ref["ml"]), 1e-6);
        EXPECT_LT(gap(ml.uniquenesses, ref["ml_uniquenesses"]), 1e-6);
        const ModelFit fit = model_fit(r, static_cast<long long>(ref["rows"](0)), kml, ml.extraction.objective);
        const Eigen::Matrix<double, 6, 1> figures(fit.test.chi2, fit.test.df, fit.test.p, fit.rmsea, fit.tli, fit.bic);
        EXPECT_LT(gap(figures, ref["ml_fit"]), 1e-6) << figures.transpose();
        if (k < 2)
            continue;
        const struct {
            const char* rotation;
            double tolerance;
        } rotations[] = {{"varimax", 1e-8}, {"promax", 1e-8}, {"quartimax", 1e-6}, {"oblimin", 1e-6}};
        for (const auto& [rotation, tolerance] : rotations) {
            SCOPED_TRACE(rotation);
            const FactorSolution f = solve(r, "pa", rotation, "regression", k);
            EXPECT_LT(gap(f.rotation.pattern, ref[rotation]), tolerance);
            const std::string phi = std::string(rotation) + "_phi";
            if (ref.count(phi)) {
                EXPECT_LT(gap(f.rotation.phi, ref[phi]), tolerance);
            }
            EXPECT_LT(gap(f.communalities, pa.communalities), 1e-10) << "a rotation keeps the communalities";
        }
        EXPECT_LT(gap(solve(r, "pa", "promax", "regression", k).weights, ref["regression"]), 1e-8);
        EXPECT_LT(gap(solve(r, "pa", "promax", "bartlett", k).weights, ref["bartlett"]), 1e-8);
    }
}

TEST(FactorAnalysis, AdequacyAndNumberOfFactorsMatchR)
{
    for (const char* set : kSets) {
        SCOPED_TRACE(set);
        auto ref = reference(set);
        const MatrixXd& r = ref["correlation"];
        const auto rows = static_cast<long long>(ref["rows"](0));
        const SamplingAdequacy kmo = sampling_adequacy(r);
        EXPECT_LT(std::abs(kmo.overall - ref["kmo"](0)), 1e-8);
        EXPECT_LT(gap(kmo.variables, ref["kmo"].bottomRows(r.rows())), 1e-8);
        const ChiSquareTest test = sphericity(r, rows);
        EXPECT_LT(gap(Eigen::Vector3d(test.chi2, test.df, test.p), ref["sphericity"]), 1e-8);
        const MatrixXd& map = ref["map"];
        EXPECT_LT(gap(minimum_average_partial(r).head(map.rows()), map), 1e-8);
        // Parallel analysis: the two means within five Monte-Carlo errors of
        // their difference (some 70 comparisons over the sets).
        const ParallelAnalysis parallel = parallel_analysis(ref["eigenvalues"], rows, 100, 1);
        const Eigen::ArrayXd error = 5 * std::sqrt(2.0) * parallel.spread.array() / 10;
        EXPECT_TRUE(((parallel.simulated - ref["parallel"]).array().abs() <= error).all())
            << parallel.simulated.transpose() << "\n" << ref["parallel"].transpose();
        EXPECT_EQ(parallel.factors, ref["parallel_factors"](0));
    }
}

}  // namespace
