// scorix-fit: properties that catch real faults, every bad input's error, and
// a small case against reference values computed once with numpy.
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "fit/fit_report.h"
#include "support.h"

namespace {

using Eigen::MatrixXd;

// Correlated rows on a grid of 1/64 (exact in binary, also 1e8 away from 0).
MatrixXd sample(int rows, int cols, double offset, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal;
    auto draw = [&](int r, int c) { return MatrixXd(MatrixXd::NullaryExpr(r, c, [&] { return normal(random); })); };
    const MatrixXd mix = draw(cols, cols);
    return ((draw(rows, cols) * mix).array() * 64).round() / 64 + offset;
}

std::string text(const MatrixXd& x)
{
    std::ostringstream out;
    out << x.format(Eigen::IOFormat(17, Eigen::DontAlignCols, " ", "\n")) << '\n';
    return out.str();
}

// Moments of rows [from, to) of x, added in blocks of `block` rows.
Moments moments_of(const Moments::Block& x, Eigen::Index from, Eigen::Index to, Eigen::Index block = 7)
{
    Moments moments(static_cast<int>(x.cols()));
    for (Eigen::Index r = from; r < to; r += block)
        moments.add(x.row(r).data(), static_cast<int>(std::min(block, to - r)));
    return moments;
}

// The components of the moments, the first `varimax` of them turned by varimax.
Fit fit(const Moments& moments, bool covariance = false, int varimax = 0)
{
    Fit f = analyse(moments, covariance);
    if (varimax)
        turn_components(f, {find_extraction("pc"), find_rotation("varimax"), find_scores("regression"), varimax, {}});
    return f;
}

Fit fitted(const MatrixXd& x, int varimax = 0)
{
    return fit(moments_of(x, 0, x.rows()), false, varimax);
}

RunResult run_fit(const ScratchDir& dir, std::vector<std::string> args, const char* threads = "SCORIX_THREADS=2")
{
    args.push_back("d.dat");
    return run_scorix(dir, args, {threads}, SCORIX_FIT_BINARY);
}

// Each method, on rows that end in a label and fill three blocks: scorix-fit
// writes the same bytes on 1, 2 and 8 threads, its coefficients load back to
// the bits fit() gives for its blocks (the first row alone, then blocks of
// 32768 rows), scorix's scores of the fitted rows are white, and the
// eigenpairs solve the analysed matrix.
TEST(Fit, EachMethodGivesWhiteScoresExactCoefficientsAndTrueEigenpairs)
{
    const int n = 70'000;
    const MatrixXd x = sample(n, 4, 50, 1);
    std::string labelled = text(x);
    for (std::size_t p = 0; (p = labelled.find('\n', p)) != std::string::npos; p += 7)
        labelled.insert(p, " label");
    const std::tuple<std::vector<std::string>, bool, int> methods[] = {
        {{}, false, 0}, {{"--covariance"}, true, 0}, {{"--varimax", "-k", "2"}, false, 2}};
    for (const auto& [args, covariance, varimax] : methods) {
        SCOPED_TRACE(args.empty() ? "correlation" : args[0]);
        ScratchDir dir;
        dir.write("d.dat", labelled);
        ASSERT_EQ(run_fit(dir, args, "SCORIX_THREADS=1").status, 0);
        const std::string first = dir.read("d.fsc");
        for (const char* threads : {"SCORIX_THREADS=2", "SCORIX_THREADS=8"}) {
            ASSERT_EQ(run_fit(dir, args, threads).status, 0);
            EXPECT_EQ(first, dir.read("d.fsc")) << threads;
        }
        ASSERT_EQ(run_scorix(dir, {"-q", "-a", "-f", "d.fsc", "d.dat"}).status, 0);
        std::istringstream in(dir.read("d.sco"));
        Moments::Block scores(n, 4);
        for (double& v : scores.reshaped<Eigen::RowMajor>())
            in >> v;
        const MatrixXd centred = scores.rowwise() - scores.colwise().mean();
        EXPECT_LT(scores.colwise().mean().cwiseAbs().maxCoeff(), 1e-6);
        EXPECT_LT((centred.transpose() * centred / (n - 1) - MatrixXd::Identity(4, 4)).cwiseAbs().maxCoeff(), 1e-6);

        const Moments::Block rows = x;
        Moments blocks = moments_of(rows, 0, 1);
        for (int r = 1; r < n; r += 32768)
            blocks.add(rows.row(r).data(), std::min(32768, n - r));
        const Fit f = fit(blocks, covariance, varimax);
        std::istringstream sorted(first.substr(first.find("[FSC_SORTED]") + 13));
        MatrixXd written(4, 4);
        for (double& w : written.reshaped<Eigen::RowMajor>())
            sorted >> w;
        EXPECT_EQ(written, f.coefficients);
        const MatrixXd& v = f.eigenvectors;
        EXPECT_LT((f.analysed * v - v * f.eigenvalues.asDiagonal()).cwiseAbs().maxCoeff(), 1e-12);
    }
}

// Rows offset + q k for small integers k, whose exact mean, standard
// deviation and correlation follow from integer sums: summed in small blocks,
// in one block, and as two parts summed apart and merged.
TEST(Fit, MomentsFarFromZeroMatchExactSums)
{
    std::mt19937_64 random(7);
    const Eigen::Index n = 100003;
    for (double offset : {1e9, 1e12, 1e15})
        for (double spread : {1e-3, 1e-1, 1.0}) {
            const double q = std::ldexp(1.0, std::max(std::ilogb(offset) - 52, std::ilogb(spread) - 6));
            Moments::Block x(n, 2);
            __int128 s1 = 0, s2 = 0, s11 = 0, s22 = 0, s12 = 0;
            for (Eigen::Index r = 0; r < n; ++r) {
                const long long a = static_cast<long long>(random() % 64),
                                b = a / 2 + static_cast<long long>(random() % 64);
                x.row(r) << offset + q * a, offset + q * b;
                s1 += a, s2 += b, s11 += a * a, s22 += b * b, s12 += a * b;
            }
            const long double v1 = static_cast<long double>(n * s11 - s1 * s1),
                              v2 = static_cast<long double>(n * s22 - s2 * s2);
            const double exact_std[] = {static_cast<double>(q * std::sqrt(v1 / (n * (n - 1.0L)))),
                                        static_cast<double>(q * std::sqrt(v2 / (n * (n - 1.0L))))};
            const double exact_r = static_cast<double>((n * s12 - s1 * s2) / std::sqrt(v1 * v2));
            Moments parts[] = {moments_of(x, 0, n), moments_of(x, 0, n, n), moments_of(x, 0, n / 3, 1000)};
            parts[2].merge(moments_of(x, n / 3, n));
            for (const Moments& moments : parts) {
                SCOPED_TRACE(testing::Message() << offset << " + " << q << " k, part " << &moments - parts);
                const Fit f = fit(moments);
                for (int c = 0; c < 2; ++c) {
                    const double exact_shift = q * static_cast<double>(c ? s2 : s1) / n;
                    EXPECT_LE(std::abs(f.mean[c] - offset - exact_shift), std::ldexp(1.0, std::ilogb(offset) - 52));
                    EXPECT_LT(std::abs(f.std[c] / exact_std[c] - 1), 1e-12) << f.std[c] << " " << exact_std[c];
                }
                EXPECT_LT(std::abs(f.analysed(1, 0) / exact_r - 1), 1e-12) << f.analysed(1, 0) << " " << exact_r;
            }
        }
}

// Three varimax factors of the iris rows against R (tests/varimax_reference.R
// wrote the values); communalities kept, columns in any order give the same
// factors, and with near-collinear variables (cond(R) about 1e13) the rotated
// coefficients stay in the span of the rotated components.
TEST(Fit, VarimaxReachesRsFixedPointKeepsCommunalitiesAndIgnoresColumnOrder)
{
    std::istringstream iris(ScratchDir().read(SCORIX_EXAMPLES "/iris.dat"));
    MatrixXd flowers(150, 4), reference(4, 3);
    iris.ignore(99, '\n');
    for (Eigen::Index r = 0; r < 150; ++r)
        iris >> flowers(r, 0) >> flowers(r, 1) >> flowers(r, 2) >> flowers(r, 3), iris.ignore(99, '\n');
    reference << 0.53759879393911747, 0.84233335015592847, 0.0069174643986648215, -0.1749556238800884,
        -0.035200627146719385, 0.98378628189060424, 0.78471747269224246, 0.5415386246098991, -0.27865540339970063,
        0.89159260953100117, 0.40026567203977892, -0.19791653794604663;
    EXPECT_LT((fitted(flowers, 3).loadings.leftCols(3) - reference).cwiseAbs().maxCoeff(), 1e-12);
    // One factor is its own rotation: converged, with no step taken.
    const Fit one = fitted(flowers, 1);
    EXPECT_EQ(std::tuple(one.iterations, one.converged), std::tuple(0, true));

    const MatrixXd x = sample(300, 6, 0, 4);
    const Fit plain = fitted(x), rotated = fitted(x, 3);
    const MatrixXd before = plain.loadings.leftCols(3), after = rotated.loadings.leftCols(3);
    EXPECT_LT((after.rowwise().squaredNorm() - before.rowwise().squaredNorm()).cwiseAbs().maxCoeff(), 1e-12);
    const int order[] = {5, 2, 0, 4, 1, 3};
    MatrixXd swapped(x.rows(), x.cols()), near = x;
    for (int j = 0; j < 6; ++j)
        swapped.col(j) = x.col(order[j]);
    const Fit other = fitted(swapped, 3);
    for (int j = 0; j < 6; ++j)
        EXPECT_LT((other.loadings.row(j) - rotated.loadings.row(order[j])).cwiseAbs().maxCoeff(), 1e-12) << j;
    near.col(5) = x.col(0) + x.col(1) + 0x1p-20 * x.col(5);
    const Fit f = fitted(near, 3);
    EXPECT_LT((f.eigenvectors.rightCols(3).transpose() * f.coefficients.leftCols(3)).cwiseAbs().maxCoeff(), 1e-12);
}

// --drop-incomplete: the fit of rows with holes is that of their complete
// rows alone, on any number of threads, with the holes before the first
// complete row and in all but one of the blocks (8192 rows of 16 variables); a
// variable constant within each block is not constant once they merge.
TEST(Fit, DroppedRowsLeaveTheBitsOfTheRowsUsed)
{
    const MatrixXd x = (sample(20000, 16, 3, 5).array() / 8).round();
    std::string holes = "NA" + repeat(" 1", 15) + "\n";
    for (Eigen::Index r = 0; r < x.rows(); ++r)
        holes += text(x.row(r)) + (r % 1000 == 7 && r / 9000 != 1 ? "2 NA" + repeat(" 3", 14) + "\n" : "");
    ScratchDir dir;
    auto fsc = [&](const std::string& data, const char* threads) {
        dir.write("d.dat", data);
        EXPECT_EQ(run_fit(dir, {"-q", "--drop-incomplete"}, threads).status, 0);
        const std::string text = dir.read("d.fsc");
        return text.substr(text.find("# eigenvalues"));  // after the count of the rows left out
    };
    const std::string expected = fsc(text(x), "SCORIX_THREADS=2");
    for (const char* threads : {"SCORIX_THREADS=1", "SCORIX_THREADS=2", "SCORIX_THREADS=4"})
        EXPECT_TRUE(fsc(holes, threads) == expected) << threads;
    // Pairwise, the pairs' moments merged in file order: the same bits too.
    std::vector<std::string> pairwise;
    for (const char* threads : {"SCORIX_THREADS=1", "SCORIX_THREADS=2", "SCORIX_THREADS=4"}) {
        EXPECT_EQ(run_fit(dir, {"-q", "--missing=pairwise"}, threads).status, 0);
        pairwise.push_back(dir.read("d.fsc"));
    }
    EXPECT_TRUE(pairwise[0] == pairwise[1] && pairwise[1] == pairwise[2] && pairwise[0] != expected);
    MatrixXd steps = sample(70, 3, 0, 3);
    for (Eigen::Index r = 0; r < steps.rows(); ++r)
        steps.row(r).head(2) << r / 7 % 3, r / 7;  // the last block at the least, at the most
    EXPECT_NO_THROW(fitted(steps));
}

// Moment files of whole data files, merged in order, fit to the bits of one
// run over the files: listwise (rows left out), pairwise, polychoric, with
// the files cut mid-block, one of a single row and a moment file of two.
TEST(Fit, MergedMomentFilesFitAsOneRunOverTheirFiles)
{
    const MatrixXd x = (sample(34000, 5, 0, 11).array() / 2).round().cwiseMax(-3).cwiseMin(3);
    std::string rows[3];  // 30001 rows, 1, the rest
    for (Eigen::Index r = 0; r < x.rows(); ++r) {
        const std::string line = text(x.row(r));
        std::string& file = rows[r < 30001 ? 0 : r == 30001 ? 1 : 2];
        file += r % 97 == 5 ? line.substr(line.find(' ')).insert(0, "NA") : line;
    }
    const std::vector<std::string> cases[] = {
        {"--drop-incomplete"},
        {"--missing=pairwise"},
        {"--missing=pairwise", "--cor=polychoric"},
        {"--drop-incomplete", "--cor=polychoric", "--method=ml", "-k", "2"},
    };
    for (const std::vector<std::string>& options : cases) {
        ScratchDir dir;
        for (int k = 0; k < 3; ++k)
            dir.write(std::string("d0.dat").replace(1, 1, std::to_string(k)), rows[k]);
        // A merge takes the reading options from its files, or the same ones.
        auto run = [&](std::vector<std::string> args, const std::vector<std::string>& files, const char* threads,
                       bool reading = true) {
            if (reading)
                args.insert(args.end(), options.begin(), options.end());
            args.insert(args.end(), files.begin(), files.end());
            const RunResult result = run_scorix(dir, args, {threads}, SCORIX_FIT_BINARY);
            EXPECT_EQ(result.status, 0) << result.err;
            const std::string fsc = dir.read("f.fsc");
            return fsc.substr(fsc.find("# rows")) + dir.read("f.json");  // after the line naming the data
        };
        const std::vector<std::string> fit = {"-q", "-o", "f.fsc", "--json=f.json"};
        const std::string one = run(fit, {"d0.dat", "d1.dat", "d2.dat"}, "SCORIX_THREADS=2");
        run({"--moments=a.mom"}, {"d0.dat", "d1.dat"}, "SCORIX_THREADS=2");
        run({"--moments=b.mom", "-k", "9"}, {"d2.dat"}, "SCORIX_THREADS=1");
        EXPECT_TRUE(run(fit, {"a.mom", "b.mom"}, "SCORIX_THREADS=1") == one) << options[0];
        if (options.size() < 3) {
            EXPECT_TRUE(run(fit, {"a.mom", "b.mom"}, "SCORIX_THREADS=1", false) == one) << options[0];
        }
    }
}

// Moment files that do not merge are refused with no output, naming both
// files or the file and its line: other variables, names or reading
// options, a run asking for others, a file cut short or damaged, moment
// files among data files or piped in. A moment file is put in place whole or
// not at all.
TEST(Fit, MomentFilesThatDisagreeOrAreDamagedAreRefused)
{
    const std::tuple<std::string, int, std::string> cases[] = {
        {"$0 --moments=b.mom c.dat && $0 a.mom b.mom", 1, "b.mom: 3 variables, but a.mom has 2"},
        {"$0 --header --moments=a.mom n.dat && $0 --header --moments=b.mom m.dat && $0 a.mom b.mom", 1,
         "b.mom: the names differ from those of a.mom"},
        {"$0 --skip=1 --moments=b.mom d.dat && $0 a.mom b.mom", 1,
         "b.mom: written with other reading options than a.mom (numbers skip=1, --cor=pearson"},
        {"$0 --cor=polychoric a.mom", 1, "a.mom: written with numbers skip=0, --cor=pearson, --missing=complete, but"},
        {"head -n 12 a.mom >b.mom && $0 b.mom", 1, "b.mom:13: the file ends before its 'high' line: cut short?"},
        {"sed '10s/0x1p+0/0x1p+3/' a.mom >b.mom && $0 b.mom", 1,
         "b.mom:16: the checksum of the lines before does not match"},
        {"sed '11s/ 0x/ zz/' a.mom >b.mom && $0 b.mom", 1, "b.mom:11: \"zz"},
        {"$0 a.mom d.dat", 1, "a.mom is a moment file, but d.dat is not"},
        {"$0 - <a.mom", 1, "-:1: a moment file: moment files are merged when named as files"},
        {"cat a.mom | $0 --header --csv -", 1, "-:1: a moment file: moment files are merged when named as files"},
        {"$0 --moments=a.mom c.dat e.dat", 1, "e.dat:2: 1 values, but the first data row (c.dat:1) has 3"},
        {"$0 --moments=a.mom --cor=spearman d.dat", 2, "--moments: --cor=spearman keeps every row"},
        {"$0 --moments=a.mom d.dat >/dev/full && $0 --moments=- d.dat >/dev/full", 1,
         "standard output: No space left on device"},
    };
    for (const auto& [command, status, error] : cases) {
        ScratchDir dir;
        for (const auto& [name, data] : {std::pair("d.dat", "1 2\n3 5\n4 4\n"),
                                         {"c.dat", "1 2 3\n2 1 4\n"},
                                         {"e.dat", "1 2 3\n2\n"},
                                         {"n.dat", "x y\n1 2\n3 5\n"},
                                         {"m.dat", "x z\n1 2\n3 5\n"}})
            dir.write(name, data);
        EXPECT_EQ(run_scorix(dir, {"--moments=a.mom", "d.dat"}, {}, SCORIX_FIT_BINARY).status, 0);
        const std::string kept = dir.read("a.mom");
        const RunResult run = run_scorix(dir, {"-c", command, SCORIX_FIT_BINARY}, {}, "/bin/sh");
        EXPECT_EQ(
            std::tuple(run.status, run.err.substr(0, error.size() + 12), dir.exists("a.fsc"), dir.exists("b.fsc")),
            std::tuple(status, "scorix-fit: " + error, false, false))
            << command;
        EXPECT_TRUE(command.find("header") != std::string::npos || dir.read("a.mom") == kept) << command;
    }
}

TEST(Fit, SmallCaseMatchesNumpy)
{
    MatrixXd x(6, 3), coefficients(3, 3);
    x << 2, 1, 7, 4, 3, 6, 5, 2, 9, 1, 0.5, 3, 3, 4, 4, 6, 5, 8;
    coefficients << 0.44917954340736599, -0.004066604124561472, 3.5020010981482335, 0.3541641413939895,
        0.81919283265099141, -2.1844554143685677, 0.35744751223255788, -0.80655783286159288, -2.2363324703039065;
    const Eigen::Vector3d eigenvalues(2.1979798464256493, 0.75664200855210895, 0.045378145022241606);
    const Eigen::Vector3d std(1.8708286933869707, 1.7440374613713625, 2.3166067138525408);
    const Fit f = fitted(x);
    EXPECT_LT((f.eigenvalues - eigenvalues).cwiseAbs().maxCoeff(), 1e-14);
    EXPECT_LT((f.std - std).cwiseAbs().maxCoeff(), 1e-14);
    EXPECT_LT((f.coefficients - coefficients).cwiseAbs().maxCoeff(), 1e-12);
}

TEST(Fit, BadInputStopsWithFileLineAndNoOutput)
{
    // 200 rows of 120 independent variables: kaiser counts about half of them.
    std::string noise;
    for (std::uint64_t x = 1, n = 0; n < 200 * 120; ++n) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        noise += std::to_string(x >> 54) + (n % 120 == 119 ? "\n" : " ");
    }
    const struct {
        const char* data;
        std::vector<std::string> options;
        int status;
        std::string error;
    } cases[] = {
        {"1 2 3\n2 3\n", {}, 1, "d.dat:2: 2 values, but the first data row (d.dat:1) has 3"},
        {"n,r\n1,2,3,4\n", {"--csv", "--header"}, 1, "d.dat:2: 4 values, but the header (d.dat:1) names 2"},
        {"# a\nx y\n1 2\n",
         {},
         1,
         "d.dat:2: no number at the start of the line (a header? mark it as a comment with '#')"},
        {"1 2\n3 nan\n", {}, 1, "d.dat:2: value 2 is nan, not a finite number (a missing value? --na=nan)"},
        {"1 2\n3 -inf x\n", {}, 1, "d.dat:2: value 2 is -inf, not a finite number"},
        {"1 2\n\n3 4\n", {}, 1, "d.dat:2: empty line (scorix would read it as a row of zeros)"},
        {"1 2\n", {}, 1, "d.dat: a fit needs at least 2 data rows, found 1"},
        {"1 2\n3 5\n", {"."}, 1, ".: read error: Is a directory"},
        {"1 2\n1 3\n1 5\n", {}, 1, "variable 1 is constant (its standard deviation is 0)"},
        {"1 2\n14.23,1.71,2.4\n",
         {},
         1,
         "d.dat:2: \"14.23,1.71,...\": a number runs into \",\"; is the file comma-separated?"},
        {"1 2 x\n3;4\n", {}, 1, "d.dat:2: \"3;4\": a number runs into \";\"; is the file semicolon-separated?"},
        {"1 2 3\n4 5 7\n3 1 1\n",
         {},
         1,
         "3 rows of 3 variables: the correlation matrix of 3 rows has rank at most 2; a fit"},
        {"1 1e-20\n2 3e-20\n3 2e-20\n",
         {"--covariance"},
         1,
         "the variances of variables 2 and 1 are 1e+40 times apart"},
        {"1e200 1\n-1e200 2\n3e200 4\n", {}, 1, "variable 1: its deviations from the mean are too large to square"},
        {"1 2 3\n2 4 5\n3 6 7.5\n4 8 1\n",
         {},
         1,
         "the correlation matrix has lower rank than 3: variables 1, 2 are collinear (smallest eigenvalue "},
        {"1 2\n3 5\n4 4\n", {"--varimax", "-k", "3"}, 1, "3 factors asked for, but there are only 2 variables"},
        {"1 2\n3 5\n4 4\n", {"-k", "3"}, 1, "3 factors asked for, but there are only 2 variables"},
        {noise.c_str(),
         {"--method=minres"},
         1,
         "-k kaiser counts 50 factors for 120 variables, more than a third of them (40): a common factor needs at "
         "least three variables; give the number (-k N), count with -k parallel --parallel=fa, or fit components "
         "(--method=pc)"},
        {"x y\n1 2\n3 x\n", {"--skip=1"}, 1, "d.dat:3: 1 values, but the first data row (d.dat:2) has 2"},
        {"a b\n1 2\n3 5\n", {"--header", "--columns=a,c"}, 1, "d.dat:1: --columns=a,c: no field is named \"c\""},
        {"1 .5\n.5 1\n.1 .2\n", {"--input=correlation", "--rows=9"}, 1, "d.dat: a matrix of 3 rows and 2 columns"},
        {"1 .5 0\n.4 1 0\n0 0 1\n",
         {"--input=correlation", "--rows=9"},
         1,
         "d.dat: the matrix is not symmetric: entries (1, 2) and (2, 1) are 0.5 and 0.40000000000000002\n"},
        {"2 .5\n.5 1\n", {"--input=correlation", "--rows=9"}, 1, "d.dat: entry (1, 1) is 2, but a correlation"},
        {"0 0\n0 1\n", {"--input=covariance", "--rows=9"}, 1, "d.dat: entry (1, 1) is 0, but a covariance matrix"},
        {"1 .5\n.5 1\n", {"--input=correlation", "--rows=2"}, 1, "2 rows of 2 variables: the correlation matrix"},
        {"1 .5\n.5 1\n", {"--input=correlation", "--rows=9", "--mean=d.dat"}, 1, "d.dat: 4 numbers, but the"},
        {"1 .5\n.5 1\n", {"--input=correlation"}, 2, "--input=correlation needs --rows=N, the number of"},
        {"1 .5\n.5 1\n", {"--input=covariance", "--rows=9", "--std=s"}, 2, "--std: the standard deviations of"},
        {"1 .5\n.5 1\n", {"--rows=9"}, 2, "--rows goes with --input=correlation or --input=covariance"},
        {"1 2\n3 5\n", {"--bogus"}, 2, "unrecognized option '--bogus'\nTry 'scorix-fit --help' for more information."},
        {"1,2\n3,5\n4,4\n",
         {"--csv", "--labels=1,2"},
         1,
         "d.dat:1: no variables: the first data row has no value fields"},
        {"x y\nz w\nv u\n", {"--na=NA"}, 1, "d.dat:1: no variables: the first data row has no value fields"},
        {"1 2\n3 5\n", {"--json=d.fsc"}, 2, "--json=d.fsc and the coefficient file d.fsc are the same file\nTry"},
        {"1 2\n3 5\n", {"--json=o", "-o", "./o"}, 2, "--json=o and the coefficient file ./o are the same file"},
        {"1 2\n3 5\n", {"--report=d.fsc"}, 2, "--report=d.fsc and the coefficient file d.fsc are the same file"},
        {"1 2\n3 5\n", {"--json=o", "--report=./o"}, 2, "--report=./o and the JSON report o are the same file"},
        {"1 2\n3 5\n", {"--report=-"}, 2, "--report needs a file name\nTry"},
        {"1 2\n3 5\n", {"-", "-"}, 2, "standard input ('-') named more than once\nTry 'scorix-fit --help' for"},
        {"1 2\n3 5\n", {"--json=-", "-"}, 2, "--json=- and the coefficients of data from standard input cannot both"},
        {"1 2\n3 5.5\n",
         {"--cor=Polychoric"},
         1,
         "d.dat:2: value 2 (5.5) is not a whole number: --cor=polychoric takes categories coded as whole numbers"},
        {"1 0\n0 1\n2 1\n",
         {"--cor=tetrachoric"},
         1,
         "d.dat: variable 1 has more than 2 distinct values: --cor=tetrachoric takes 2 categories"},
        {"1 2\n1 3\n1 5\n", {"--cor=polychoric"}, 1, "variable 1 is constant"},
        {"1 2\n3 5\n", {"--cor=polychoric", "--covariance"}, 2, "--cor=polychoric makes a correlation matrix"},
        {"1 2\n3 5\n", {"--cor=kendall"}, 2, "invalid correlation type 'kendall'"},
        {"1 2\n3 5.5\n",
         {"--cor=mixed", "--ordinal=2"},
         1,
         "d.dat:2: value 2 (5.5) is not a whole number: --cor=mixed takes categories coded as whole numbers"},
        {"1 1\n2 2\n3 3\n4 4\n",
         {"--cor=mixed", "--ordinal=1", "--max-categories=2"},
         1,
         "d.dat:4: variable 1 has more than 2 distinct values: --cor=mixed takes at most 2 categories "
         "(--max-categories)"},
        {"a b\n1 2\n3 5\n", {"--header", "--cor=mixed", "--ordinal=c"}, 1, "d.dat:2: --ordinal=c: no field is named"},
        {"1 2\n3 5\n", {"--max-categories=3"}, 2, "--max-categories goes with --cor=mixed"},
        {"1 2\n3 5\n", {"--cor=spearman", "--covariance"}, 2, "--cor=spearman makes a correlation matrix"},
        {"1 2 NA\n2 NA 5\n3 NA 6\n4 5 NA\n",
         {"--missing=pairwise"},
         1,
         "variables 2 and 3 are both present in 0 rows; a pairwise correlation needs at least 2\n"},
        {"1 .5\n.5 1\n",
         {"--input=correlation", "--rows=9", "--missing=pairwise"},
         2,
         "--input=correlation: --missing"},
        {"1 2\n3 5\n", {"--missing=some"}, 2, "--missing=some: listwise or pairwise\n"},
        {"1 2\n3 5\n4 4\n", {"--scale=a:1,-3"}, 1, "scale a: no variable '-3' (a number from 1 to 2)"},
        {"x,y\n1,2\n3,5\n4,4\n",
         {"--csv", "--header", "--scale=a:x,-y", "--scale=b:y,-x,z"},
         1,
         "scale b: no variable 'z' (a name of the header or a number from 1 to 2)"},
        {"1 2\n3 5\n4 4\n", {"--scale=a:1,-1"}, 1, "scale a: item '-1' is named twice"},
        {"1 2\n3 5\n", {"--scale=a:1"}, 2, "--scale: scale a: a scale needs at least 2 items\nTry"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("d.dat", c.data);
        const RunResult run = run_fit(dir, c.options);
        // The eigenvalues that end the rank message are left out.
        EXPECT_EQ(run.err.substr(0, c.error.size() + 12), "scorix-fit: " + c.error);
        EXPECT_EQ(std::tuple(run.status, run.err.back(), run.out, dir.exists("d.fsc")),
                  std::tuple(c.status, '\n', std::string(), false))
            << c.data;
    }
}

// --cor=mixed takes a variable of whole numbers with at most
// --max-categories values as ordinal, whether the one too many comes within
// a block or at the merge of two (the first row is a block of its own):
// variable 3's fourth value is in the first row, variable 4's in the second
// block; variable 1 has a fraction.
TEST(Fit, MixedTakesVariablesOfAtMostMaxCategoriesAsOrdinal)
{
    const char* data = "0.5 1 4 1 0\n1 2 1 1 1\n2 3 2 2 0\n3 1 3 3 1\n5 2 1 4 1\n4 3 2 1 0\n7 1 3 2 0\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--max-categories=3"}, "ordinal: 2 5;"},
        {{"--max-categories=4"}, "ordinal: 2 3 4 5;"},
        {{"--ordinal=4-5"}, "ordinal: 4 5;"},
        {{"--ordinal=3"}, "ordinal: 3;"},
    };
    for (const auto& [options, listed] : cases) {
        ScratchDir dir;
        dir.write("d.dat", data);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"--cor=mixed", "-o", "-"});
        const RunResult run = run_fit(dir, args);
        EXPECT_NE(run.out.find("mixed correlations (" + listed), std::string::npos) << options[0] << run.err;
    }
}

// The JSON report, the web page and the coefficient file are put in place
// together: a failure of any, or of the table on standard output, leaves the files of
// an earlier run as they were and no temporary behind.
TEST(Fit, OutputsArePutInPlaceTogetherOrNotAtAll)
{
    const std::pair<std::string, std::string> cases[] = {
        {"-q --json=d.json -o no/such/dir/x.fsc", "no/such/dir/x.fsc: No such file or directory"},
        {"-q --json=d.json -o /dev/full", "/dev/full: No space left on device"},
        {"-q --json=d.json --report=r.html -o /dev/full", "/dev/full: No space left on device"},
        {"-q --report=/dev/full --json=d.json", "/dev/full: No space left on device"},
        {"--json=d.json >/dev/full", "standard output: No space left on device"},
        {"-q --json=d.json -o - >/dev/full", "standard output: No space left on device"},
        {"--help >/dev/full", "standard output: No space left on device"},
    };
    for (const auto& [command, error] : cases)
        for (const char* named : {"SCORIX_NAMED_TEMPORARY=0", "SCORIX_NAMED_TEMPORARY=1"}) {
            ScratchDir dir;
            dir.write("d.dat", "1 2\n3 5\n4 4\n");
            dir.write("d.json", "old\n");
            const RunResult run =
                run_scorix(dir, {"-c", "exec \"$0\" " + command + " d.dat", SCORIX_FIT_BINARY}, {named}, "/bin/sh");
            EXPECT_EQ(std::tuple(run.status, run.err, dir.read("d.json")),
                      std::tuple(1, "scorix-fit: " + error + "\n", std::string("old\n")))
                << command << " " << named;
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << command;
        }
}

// Names as they come: a header name with a comma and quotes is read back by
// scorix --header, one that is not UTF-8 keeps its bytes in the .fsc and is
// U+FFFD in the JSON, a file name holding a newline stays in its comment
// line, a second file must have the first one's names, and a name holding a
// line break is refused.
TEST(Fit, NamesOfAnyFormKeepTheCoefficientFileWhole)
{
    ScratchDir dir;
    const std::string rows = "1,2,3\n2,1,5\n3,3,1\n4,4,2\n7,1,1\n";
    dir.write("x\n[STD]", "\"a \"\"b\"\", c\",caf\xe9,d\n" + rows);
    dir.write("d.csv", "\"a \"\"b\"\", c\",caf\xe9,d\n" + rows);
    dir.write("e.csv", "\"a \"\"b\"\", c\",d,caf\xe9\n" + rows);
    const std::vector<std::string> fit = {"-q", "--csv", "--header", "-k", "2", "-o", "d.fsc"};
    auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    ASSERT_EQ(run_scorix(dir, with(fit, {"--json=d.json", "x\n[STD]"}), {}, SCORIX_FIT_BINARY).err, "");
    const std::string fsc = dir.read("d.fsc");
    EXPECT_NE(fsc.find("\n# data: $'x\\n[STD]'\n"), std::string::npos) << fsc;
    EXPECT_NE(fsc.find("\n# names: \"a \"\"b\"\", c\" caf\xe9 d\n"), std::string::npos) << fsc;
    EXPECT_EQ(nlohmann::json::parse(dir.read("d.json"))["names"][1], "caf\xef\xbf\xbd");
    const RunResult scored = run_scorix(dir, {"-q", "-f", "d.fsc", "--csv", "--header", "d.csv"});
    EXPECT_EQ(std::tuple(scored.status, scored.err), std::tuple(0, std::string()));
    const RunResult other = run_scorix(dir, with(fit, {"d.csv", "e.csv"}), {}, SCORIX_FIT_BINARY);
    EXPECT_EQ(std::tuple(other.status, other.err),
              std::tuple(1, std::string("scorix-fit: e.csv:1: the names differ from those of d.csv\n")));
    const FitSource broken{{"d.csv"}, 5, {"a", "b\nc"}, {}, ""};
    EXPECT_THROW(coefficient_text(fitted(sample(5, 2, 0, 1)), false, broken), FitError);
}

// The console's loadings table of an oblique model: named, sorted by the
// factor each variable loads on most, cut, then the factor correlations.
TEST(Fit, ConsoleTableSortsCutsAndNamesTheLoadings)
{
    ScratchDir dir;
    dir.write("d.dat", "rating complaints privileges learning raises critical advance\n" +
                           read_file(SCORIX_REFERENCE "/attitude.dat"));
    const RunResult run = run_fit(dir, {"--header", "--method=pa", "--rotate=oblimin", "-k", "2", "--cut=0.4"});
    for (const char* line : {"\n  variable        1        2  communality  uniqueness\ncomplaints    0.958      ",
                             "\n   advance             0.966        0.907       0.093\n",
                             "\n    factor        1        2\n         1    1.000    0.343\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
}

}  // namespace
