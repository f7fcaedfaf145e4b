// scorix-fit's JSON report: every key it has for a run, and the numbers of
// the coefficient file and the console table.
#include <cmath>
#include <iterator>
#include <set>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "fit/fit_json.h"
#include "support.h"

namespace {

using nlohmann::json;

std::set<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// scorix-fit's outputs for the rows of state.dat: the report, the
// coefficient file and the console.
std::tuple<json, std::string, std::string> fit_state(std::vector<std::string> args)
{
    ScratchDir dir;
    dir.write("d.dat", read_file(SCORIX_REFERENCE "/state.dat"));
    args.insert(args.end(), {"--json=d.json", "d.dat"});
    const RunResult fit = run_scorix(dir, args, {}, SCORIX_FIT_BINARY);
    EXPECT_EQ(fit.status, 0) << fit.err;
    const std::string fsc = dir.read("d.fsc");
    args.erase(args.end() - 2);  // without the report: the same coefficient file
    EXPECT_EQ(run_scorix(dir, args, {}, SCORIX_FIT_BINARY).status, 0);
    EXPECT_EQ(dir.read("d.fsc"), fsc);
    return {json::parse(dir.read("d.json")), fsc, fit.out};
}

void flatten(const json& value, std::vector<double>& all)
{
    if (!value.is_array())
        return all.push_back(value.get<double>());
    for (const json& v : value)
        flatten(v, all);
}

// The numbers on the lines of `text` that start with `prefix` (after it):
// all of them, or the one at `column`; an empty prefix reads the lines after
// the line that starts with `from`, up to one that holds a word.
std::vector<double> numbers(const std::string& text, const std::string& prefix, int column = -1,
                            const std::string& from = "")
{
    std::vector<double> found;
    std::istringstream lines(text.substr(from.empty() ? 0 : text.find('\n', text.find("\n" + from) + 1) + 1));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        std::istringstream in(line.substr(prefix.size()));
        int i = 0;
        for (double x; in >> x; ++i)
            if (column < 0 || i == column)
                found.push_back(x);
        if (prefix.empty() && !in.eof())
            break;
    }
    return found;
}

// Principal components, factor models and each count's section: the report
// holds exactly the keys of the run, the coefficient file the same numbers to
// the bit and the console table the same to its 6 digits.
TEST(FitJson, ReportHasEveryKeyAndTheNumbersOfTheOtherOutputs)
{
    const std::string common =
        "/method /matrix /rotation /scores /rows /variables /factors /mean /std /eigenvalues "
        "/correlation /loadings /structure /factor_correlations /variance /communalities /uniquenesses "
        "/heywood /coefficients /kmo/overall /kmo/variables /bartlett/chi2 /bartlett/df "
        "/bartlett/p /iterations/extraction /iterations/rotation /converged /rmsr /residuals "
        "/complexity /determinacy /cor ";
    const std::string fit = "/fit/chi2 /fit/df /fit/p /fit/rmsea /fit/rmsea_ci /fit/tli /fit/bic /fit/objective "
                            "/fit/starts /fit/starts_at_best ";
    // Bartlett's is null where a uniqueness is not positive (pa's Heywood case).
    const auto quality = [](const json& report) {
        std::string paths;
        for (const char* scores : {"regression", "bartlett", "tenberge"})
            for (const char* figure : {"correlation", "squared", "minimum_correlation"})
                paths += std::string(" /score_quality/") + scores +
                         (report["score_quality"][scores].is_null() ? "" : std::string("/") + figure);
        return paths;
    };
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{}, ""},
        {{"--method=pa", "--rotate=promax", "-k", "2"}, "/promax_power"},
        {{"--method=minres", "--rotate=geominQ", "-k", "2"},
         fit + "/geomin_delta /rotation_starts/starts /rotation_starts/starts_at_best"},
        {{"--method=ml", "-k", "2"}, fit},
        {{"-k", "parallel", "--covariance"},
         "/parallel/observed /parallel/simulated /parallel/replicates /parallel/seed /parallel/factors "
         "/correlation_eigenvalues"},
        {{"-k", "map", "--varimax"}, "/map/values /map/factors /map/components"},
        {{"-k", "parallel", "--parallel=both", "--quantile=0.9"},
         "/parallel/observed /parallel/simulated /parallel/replicates /parallel/seed /parallel/factors "
         "/parallel/quantile /parallel_fa/observed /parallel_fa/simulated /parallel_fa/replicates /parallel_fa/seed "
         "/parallel_fa/factors /parallel_fa/quantile"},
        {{"-k", "3", "--varimax"}, ""},
        {{"--scale=s:2,-3,4,-5,6,7", "--scale=pair:1,8"},
         "/reliability/0/name /reliability/0/items /reliability/0/alpha /reliability/0/std_alpha "
         "/reliability/0/lambda6 /reliability/0/omega_hierarchical /reliability/0/omega_total "
         "/reliability/0/omega_factors /reliability/0/converged /reliability/1/name /reliability/1/items "
         "/reliability/1/alpha /reliability/1/std_alpha /reliability/1/lambda6 /reliability/1/omega_hierarchical "
         "/reliability/1/omega_total /reliability/1/omega_factors /reliability/1/converged"},
    };
    for (const auto& [args, keys] : runs) {
        SCOPED_TRACE(args.empty() ? "pc" : args[0]);
        const auto [report, fsc, console] = fit_state(args);
        std::set<std::string> paths;  // of the values, arrays whole
        const json leaves = report.flatten();
        for (const auto& leaf : leaves.items()) {
            std::string path = leaf.key();
            while (path.find_first_not_of("0123456789", path.rfind('/') + 1) == std::string::npos)
                path.erase(path.rfind('/'));
            paths.insert(path);
        }
        EXPECT_EQ(paths, words(common + keys + quality(report)));
        EXPECT_EQ(report["determinacy"], report["score_quality"]["regression"]["correlation"]);

        // The numbers as the coefficient file writes them (exact) and as the
        // console table prints them.
        std::vector<std::tuple<std::vector<double>, std::string, bool>> same = {
            {numbers(fsc, "# eigenvalue ", 1), "/eigenvalues", true},
            {numbers(fsc, "# communality ", 1), "/communalities", true},
            {numbers(fsc, "# communality ", 2), "/uniquenesses", true},
            {numbers(fsc, "# kmo "), "/kmo/overall", true},
            {numbers(fsc, "# sphericity chi2 ", 0), "/bartlett/chi2", true},
            {numbers(fsc, "", -1, "[MEAN]"), "/mean", true},
            {numbers(fsc, "", -1, "[STD]"), "/std", true},
            {numbers(fsc, "", -1, "[FSC_SORTED]"), "/coefficients", true},
            {numbers(console, "", 1, "component"), "/eigenvalues", false},
        };
        // A factor model's weights are in the coefficients; the plain
        // components and their varimax (no loadings table) have their own.
        if (console.find("loadings (") == std::string::npos)
            same.push_back({numbers(console, "", 1, " variable"), "/communalities", false});
        else {
            // Its loadings table: a line per variable, in any order.
            const std::vector<double> table = numbers(console, "", -1, "variable");
            const std::size_t k = report["factors"], width = k + 3;
            ASSERT_EQ(table.size(), width * report["communalities"].size());
            for (std::size_t at = 0; at < table.size(); at += width) {
                const auto i = static_cast<std::size_t>(table[at]) - 1;
                json row = report["loadings"][i];
                row.insert(row.end(), {report["communalities"][i], report["uniquenesses"][i]});
                for (std::size_t s = 0; s < k + 2; ++s)
                    EXPECT_NEAR(table[at + 1 + s], row[s].get<double>(), 5e-4) << i << " " << s;
            }
        }
        // The scales' lines: items, alpha, std alpha, lambda 6, omega h and t,
        // factors ('-' ends the numbers of a scale without omega).
        for (const json& scale : report.value("reliability", json::array())) {
            std::vector<double> reported = {static_cast<double>(scale["items"].size())};
            for (const char* key : {"alpha", "std_alpha", "lambda6", "omega_hierarchical", "omega_total"})
                if (!scale[key].is_null())
                    reported.push_back(scale[key]);
            if (scale["omega_factors"] != 0)
                reported.push_back(scale["omega_factors"]);
            const std::string name = scale["name"];
            const std::vector<double> line = numbers(console, std::string(5 - name.size(), ' ') + name);
            ASSERT_EQ(line.size(), reported.size()) << name;
            for (std::size_t i = 0; i < line.size(); ++i)
                EXPECT_NEAR(line[i], reported[i], 5e-4) << name << " " << i;
        }
        if (report["method"] == "ml")  // the others' fit is in the report alone
            same.push_back({numbers(fsc, "# fit chi2 ", 0), "/fit/chi2", true});
        if (report["rotation"] == "promax" || report["rotation"] == "geominQ")
            same.push_back({numbers(fsc, "# phi "), "/factor_correlations", true});
        for (const auto& [written, key, exact] : same) {
            std::vector<double> reported;
            flatten(report[json::json_pointer(key)], reported);
            ASSERT_EQ(written.size(), reported.size()) << key;
            for (std::size_t i = 0; i < written.size(); ++i)
                EXPECT_NEAR(written[i], reported[i], exact ? 0 : 5e-6 * std::abs(reported[i])) << key << " " << i;
        }
    }
}

// Each option against a run without it: values it must change, and values
// it must leave as they were (the report's keys show --method=ml, -k map,
// -k parallel and --covariance above).
TEST(FitJson, EachOptionChangesWhatItShould)
{
    const std::tuple<std::vector<std::string>, std::vector<std::string>, const char*, const char*> cases[] = {
        {{}, {"--covariance"}, "/matrix /std /eigenvalues", "/mean /rows /factors"},
        {{}, {"--method=pa"}, "/method /loadings /iterations/extraction", "/eigenvalues /rotation /scores"},
        {{}, {"--varimax"}, "/rotation /coefficients /loadings", "/factor_correlations /uniquenesses"},
        {{}, {"--rotate=quartimax"}, "/rotation /loadings /iterations/rotation", "/method /factor_correlations"},
        {{"--rotate=promax"}, {"--promax-power=2"}, "/promax_power /loadings", "/rotation /uniquenesses"},
        {{"--rotate=geominT"}, {"--geomin-delta=0.1"}, "/geomin_delta /loadings", "/rotation /uniquenesses"},
        {{"--rotate=oblimin"}, {"--gamma=0.5"}, "/oblimin_gamma /loadings", "/rotation /uniquenesses"},
        {{"--rotate=quartimax"}, {"--normalize"}, "/kaiser_normalized /loadings", "/rotation /uniquenesses"},
        {{"--rotate=geominq"}, {"--rotation-starts=4"}, "/rotation_starts/starts", "/rotation /uniquenesses"},
        {{}, {"--method=minres"}, "/method /loadings /uniquenesses", "/eigenvalues /rotation /scores"},
        {{}, {"--scores=bartlett"}, "/scores /coefficients", "/method /uniquenesses /variance"},
        {{}, {"-k", "2"}, "/factors /loadings", "/coefficients /eigenvalues"},
        {{"-k", "parallel"}, {"--replicates=20"}, "/parallel/replicates /parallel/simulated", "/parallel/seed"},
        {{"-k", "parallel"}, {"--seed=5"}, "/parallel/seed /parallel/simulated", "/parallel/replicates /loadings"},
        // The last -k holds: no count of an earlier one is left for --varimax.
        {{"--varimax"}, {"-k", "4", "-k", "kaiser"}, "", "/coefficients /factors"},
    };
    for (const auto& [base, option, changes, keeps] : cases) {
        std::vector<std::string> args = base;
        args.insert(args.end(), option.begin(), option.end());
        SCOPED_TRACE(args.back());
        const json before = std::get<0>(fit_state(base)), after = std::get<0>(fit_state(args));
        auto at = [](const json& report, const std::string& key) {
            return report.value(json::json_pointer(key), json());
        };
        for (const std::string& key : words(changes))
            EXPECT_NE(at(before, key), at(after, key)) << key;
        for (const std::string& key : words(keeps))
            EXPECT_EQ(at(before, key), at(after, key)) << key;
    }
}

// The matrix a data run factored, given as input with its row count, gives
// that run's report but for the means and standard deviations it lacks; the
// correlation matrix of a covariance matrix (rounded otherwise than the
// data's) its standard deviations and loadings to ML's convergence.
TEST(FitJson, MatrixInputFitsAsTheDataItCameFrom)
{
    ScratchDir dir;
    dir.write("d.dat", read_file(SCORIX_REFERENCE "/swiss.dat"));
    const auto report = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-q", "--method=ml", "--rotate=oblimin", "-k", "2", "--json=r.json"});
        const RunResult run = run_scorix(dir, args, {}, SCORIX_FIT_BINARY);
        EXPECT_EQ(run.status, 0) << run.err;
        return json::parse(dir.read("r.json"));
    };
    const json data = report({"d.dat"}), covariance = report({"--covariance", "d.dat"});
    const std::tuple<const json*, const char*, const json*, const char*> cases[] = {
        {&data, "--input=correlation", &data, "/mean /std /input"},
        {&covariance, "--input=covariance --covariance", &covariance, "/mean /input /correlation_eigenvalues"},
        {&covariance, "--input=covariance", &data, ""},
    };
    for (const auto& [written, options, expected, differ] : cases) {
        SCOPED_TRACE(options);
        std::string text;
        for (const json& row : (*written)["correlation"])
            text += row.dump().substr(1, row.dump().size() - 2) + "\n";  // [a,b] as a,b
        dir.write("m.dat", text);
        const std::set<std::string> args = words(options + std::string(" --csv --rows=47 m.dat"));  // m.dat last
        json fitted = report({args.begin(), args.end()}), want = *expected;
        EXPECT_EQ(std::tuple(fitted["rows"], fitted["input"], fitted["mean"][5]),
                  std::tuple(json(47), (*written)["matrix"], json(0.0)));
        for (const std::string& key : words(differ))
            fitted.erase(key.substr(1)), want.erase(key.substr(1));
        if (*differ) {
            EXPECT_EQ(fitted, want);
            continue;
        }
        EXPECT_EQ(fitted["std"], want["std"]);
        std::vector<double> a, b;
        flatten(fitted["loadings"], a), flatten(want["loadings"], b);
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_NEAR(a[i], b[i], 1e-8) << i;
    }
}

// The data-value attributes of the page's elements of `kind` (a class
// name) from `from` on, up to the next `until`.
std::vector<double> page_values(const std::string& page, const std::string& kind, const std::string& from = "",
                                const std::string& until = "</svg>")
{
    const std::size_t start = page.find(from), end = page.find(until, start);
    const std::string part = page.substr(start, end - start);
    // Each element whose class list starts with `kind`, and its data-value
    // within the same tag.
    std::vector<double> values;
    const std::string opening = "class=\"" + kind, attribute = " data-value=\"";
    for (std::size_t at = part.find(opening); at != std::string::npos; at = part.find(opening, at + 1)) {
        const std::size_t tag_end = part.find('>', at), value = part.find(attribute, at);
        if (value < tag_end)
            values.push_back(std::stod(part.substr(value + attribute.size())));
    }
    return values;
}

// The web page (--report) of a run holds the numbers of its JSON report,
// exactly: a bar per eigenvalue, the loadings in the rows of their
// variables, in the console table's order, an arrow per loading at the cut
// or above (0.3 without one), parallel analysis's lines when it ran.
TEST(FitJson, WebPageDrawsTheNumbersOfTheJsonReport)
{
    const std::vector<std::string> runs[] = {
        {},
        {"--method=ml", "--rotate=varimax", "-k", "2"},
        {"--method=minres", "--rotate=promax", "-k", "3", "--cut=0.4"},
        {"--method=pa", "--rotate=oblimin", "-k", "parallel", "--parallel=both", "--quantile=0.95"},
    };
    for (std::vector<std::string> args : runs) {
        SCOPED_TRACE(testing::PrintToString(args));
        ScratchDir dir;
        // A name in Latin-1 shows as the JSON has it; one too long for its
        // box in the diagram is cut there.
        const std::string longest = "opportunities_to_learn_new_things_at_work";
        dir.write("d.dat", "rating complaints privileges caf\xe9 " + longest + " critical advance\n" +
                               read_file(SCORIX_REFERENCE "/attitude.dat"));
        args.insert(args.end(), {"--header", "--json=d.json", "--report=d.html", "d.dat"});
        const RunResult run = run_scorix(dir, args, {}, SCORIX_FIT_BINARY);
        ASSERT_EQ(run.status, 0) << run.err;
        const json report = json::parse(dir.read("d.json"));
        const std::string page = dir.read("d.html");
        EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"en\">", 0), 0u);
        EXPECT_TRUE(page.ends_with("</html>\n"));
        EXPECT_EQ(as_valid_utf8(page), page);
        EXPECT_NE(page.find(">opportunities_to_learn_ne\u2026<title>" + longest + "</title></text>"),
                  std::string::npos);
        EXPECT_EQ(page_values(page, "bar eigen"), report["eigenvalues"].get<std::vector<double>>());
        // Each row of the heat map: the variable's name, then its loadings.
        const std::vector<std::string> names = report["names"];
        std::vector<std::string> order;
        std::size_t arrows = 0;
        const double cut = args[0] == "--method=minres" ? 0.4 : 0.3;
        const std::string map = page.substr(page.find("<table class=\"heat loadings\">"));
        for (std::size_t row = map.find("<tr><th>", map.find("</tr>")); order.size() < names.size();
             row = map.find("<tr><th>", row + 1)) {
            order.push_back(map.substr(row + 8, map.find("</th>", row) - row - 8));
            const auto i = std::find(names.begin(), names.end(), order.back()) - names.begin();
            ASSERT_LT(i, std::ssize(names)) << order.back();
            const std::vector<double> loadings = report["loadings"][i];
            EXPECT_EQ(page_values(map.substr(row), "loading", "", "</tr>"), loadings) << order.back();
            for (const double loading : loadings)
                arrows += std::abs(loading) >= cut;
        }
        EXPECT_EQ(page_values(page, "arrow loading", "factor diagram").size(), arrows);
        // The console lists its loadings table's variables in the same order.
        if (const std::size_t table = run.out.find("loadings (pattern"); table != std::string::npos) {
            std::istringstream lines(run.out.substr(run.out.find("uniqueness\n", table) + 11));
            for (const std::string& name : order) {
                std::string first;
                lines >> first;
                lines.ignore(1000, '\n');
                EXPECT_EQ(as_valid_utf8(first), name);
            }
        }
        EXPECT_EQ(page.find("class=\"parallel mean\"") != std::string::npos, report.contains("parallel"));
        EXPECT_EQ(page.find("class=\"parallel reduced mean\"") != std::string::npos, report.contains("parallel_fa"));
    }
}

}  // namespace
