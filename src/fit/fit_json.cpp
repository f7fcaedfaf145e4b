#include "fit/fit_json.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

json rows_of(const Eigen::MatrixXd& m)
{
    json rows = json::array();
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        json row = json::array();
        for (Eigen::Index j = 0; j < m.cols(); ++j)
            row.push_back(m(i, j));
        rows.push_back(std::move(row));
    }
    return rows;
}

json values_of(const Eigen::VectorXd& v)
{
    return std::vector<double>(v.data(), v.data() + v.size());
}

json test_of(const ChiSquareTest& test)
{
    return {{"chi2", test.chi2}, {"df", test.df}, {"p", test.p}};
}

}  // namespace

std::string json_report(const Fit& result, bool covariance, const FitSource& source, const FactorReport& factors)
{
    const FactorSettings& s = factors.settings;
    const FactorSolution& f = factors.solution;
    json heywood = json::array();  // from 1
    for (const int i : f.heywood)
        heywood.push_back(i + 1);
    json report = {
        {"method", s.method->name},
        {"matrix", covariance ? "covariance" : "correlation"},
        {"cor", source.cor ? source.cor->name : "pearson"},
        {"rotation", s.rotation->name},
        {"scores", s.scores->name},
        {"rows", source.rows},
        {"variables", result.mean.size()},
        {"factors", s.factors},
        {"mean", values_of(result.mean)},
        {"std", values_of(result.std)},
        {"eigenvalues", values_of(result.eigenvalues)},
        {"correlation", rows_of(result.analysed)},  // the matrix factored
        {"loadings", rows_of(f.rotation.pattern)},
        {"structure", rows_of(f.structure)},
        {"factor_correlations", rows_of(f.rotation.phi)},
        {"variance", values_of(f.variance)},
        {"communalities", values_of(f.communalities)},
        {"uniquenesses", values_of(f.uniquenesses)},
        {"heywood", heywood},
        {"rmsr", factors.residual.rmsr},
        {"residuals", rows_of(factors.residual.residuals)},
        {"complexity", values_of(factors.residual.complexity)},
        {"coefficients", rows_of(result.coefficients)},
        {"kmo", {{"overall", factors.kmo.overall}, {"variables", values_of(factors.kmo.variables)}}},
        {"bartlett", test_of(factors.sphericity)},
        {"iterations", {{"extraction", f.extraction.iterations}, {"rotation", f.rotation.iterations}}},
        {"converged", f.extraction.converged && f.rotation.converged},
    };
    // How well each score type estimates the factors; a type that cannot
    // weight this solution (Bartlett's with a uniqueness of 0) is null.
    json quality = json::object();
    for (const ScoreMethod& scores : score_methods()) {
        try {
            const Eigen::VectorXd r = score_validity(result.analysed, f, scores.weights(result.analysed, f));
            const Eigen::VectorXd squared = r.cwiseAbs2();
            quality[scores.name] = {{"correlation", values_of(r)},
                                    {"squared", values_of(squared)},
                                    {"minimum_correlation", values_of(2 * squared.array() - 1)}};
        } catch (const FitError&) {
            quality[scores.name] = nullptr;
        }
    }
    report["determinacy"] = quality["regression"]["correlation"];
    report["score_quality"] = quality;
    if (!source.names.empty())
        report["names"] = source.names;
    if (source.dropped)
        report["dropped_rows"] = *source.dropped;
    if (!source.matrix.empty())
        report["input"] = source.matrix;
    // Each ordinal variable's categories and the thresholds between them.
    if (const OrdinalCorrelation* ordinal = source.ordinal; ordinal && source.cor->detects) {
        auto& listed = report["ordinal"] = json::array();
        for (const int i : ordinal->ordinal)
            listed.push_back(source.names.empty() ? json(i + 1) : json(source.names[static_cast<std::size_t>(i)]));
    }
    if (const OrdinalCorrelation* ordinal = source.ordinal; ordinal && source.cor->categories > 0) {
        report["categories"] = ordinal->categories;
        report["thresholds"] = ordinal->thresholds;
        report["smoothed"] = ordinal->smoothed;
    }
    // Pairwise missing values: each pair's count, the smallest of them.
    if (const PairCounts* pairs = source.pairs) {
        json counts = json::array();
        for (Eigen::Index i = 0; i < pairs->counts.rows(); ++i)
            counts.push_back(std::vector<long long>(pairs->counts.row(i).begin(), pairs->counts.row(i).end()));
        report["pairs"] = {{"smallest", pairs->smallest}, {"counts", counts}};
        report["smoothed"] = source.ordinal ? source.ordinal->smoothed : pairs->smoothed;
    }
    if (const RotationParameter* parameter = s.rotation->parameter;
        parameter && !(parameter->at_zero && s.rotation_settings.*parameter->value == 0))
        report[parameter->key] = s.rotation_settings.*parameter->value;
    // Present when asked for: whether the rotation was Kaiser normalized,
    // and how many of its starts reached the best criterion value (one
    // factor is not turned: no starts).
    if (s.rotation_settings.normalize)
        report["kaiser_normalized"] = kaiser_normalized(*s.rotation, s.rotation_settings);
    if (s.rotation->criterion && f.rotation.starts > 1)
        report["rotation_starts"] = {{"starts", f.rotation.starts}, {"starts_at_best", f.rotation.best_starts}};
    if (factors.fit) {
        json fit = test_of(factors.fit->test);
        fit["rmsea"] = factors.fit->rmsea;
        fit["tli"] = factors.fit->tli;
        fit["bic"] = factors.fit->bic;
        fit["rmsea_ci"] = {factors.fit->rmsea_lower, factors.fit->rmsea_upper};
        fit["objective"] = factors.fit->objective;
        fit["starts"] = f.extraction.starts;
        fit["starts_at_best"] = f.extraction.best_starts;
        report["fit"] = fit;
    }
    const FactorCount& count = factors.count;
    // Parallel analysis of the components under "parallel" (its keys as
    // they were), of the common factors under "parallel_fa"; the quantile
    // only when one was compared instead of the mean.
    const auto parallel_of = [&](const ParallelAnalysis& analysis) {
        json section = {{"observed", values_of(analysis.observed)},
                        {"simulated", values_of(analysis.simulated)},
                        {"replicates", count.replicates},
                        {"seed", count.seed},
                        {"factors", analysis.factors}};
        if (count.quantile > 0)
            section["quantile"] = count.quantile;
        return section;
    };
    if (count.parallel)
        report["parallel"] = parallel_of(*count.parallel);
    if (count.parallel_factors)
        report["parallel_fa"] = parallel_of(*count.parallel_factors);
    if (count.map)
        report["map"] = {{"values", values_of(count.map->values)},
                         {"factors", count.map->factors},
                         {"components", {1, count.map->values.size()}}};
    // Each scale's items as psych's keys name them: "-" before a reversed
    // one; by name with a header, else by number from 1.
    if (!factors.scales.empty()) {
        json scales = json::array();
        for (std::size_t s = 0; s < factors.scales.size(); ++s) {
            json items = json::array();
            for (const ScaleItem& item : factors.scales[s].items)
                items.push_back((item.reversed ? "-" : "") + (source.names.empty() ? std::to_string(item.variable + 1)
                                                                                   : source.names[item.variable]));
            const ScaleReliability& v = factors.reliability[s];
            const auto omega = [&](double value) { return v.omega_factors > 0 ? json(value) : json(nullptr); };
            scales.push_back({{"name", factors.scales[s].name},
                              {"items", items},
                              {"alpha", v.alpha},
                              {"std_alpha", v.std_alpha},
                              {"lambda6", v.lambda6},
                              {"omega_hierarchical", omega(v.omega_hierarchical)},
                              {"omega_total", omega(v.omega_total)},
                              {"omega_factors", v.omega_factors},
                              {"converged", v.converged}});
        }
        report["reliability"] = scales;
    }
    // The factor counts compare the correlation matrix's eigenvalues.
    if (covariance)
        report["correlation_eigenvalues"] = values_of(result.correlation_eigenvalues);
    // A name that is not UTF-8 (a header in Latin-1, say) keeps its bytes
    // in the coefficient file; here its bad bytes become U+FFFD, so the
    // report stays valid JSON.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string as_valid_utf8(std::string_view text)
{
    const std::string quoted = json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
    return json::parse(quoted).get<std::string>();
}
