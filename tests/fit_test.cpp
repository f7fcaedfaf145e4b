// scorix-fit: properties that catch real faults, every bad input's error, and
// a small case against reference values computed once with numpy.
#include <cmath>
#include <random>
#include <sstream>
#include <tuple>

#include "statistics.h"
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

// Moments of the rows, added in blocks of 7 so that the merge is exercised.
Fit fitted(const MatrixXd& x, FitOptions options = {})
{
    const Moments::Block rows = x;
    Moments moments(static_cast<int>(x.cols()));
    for (Eigen::Index r = 0; r < x.rows(); r += 7)
        moments.add(rows.row(r).data(), static_cast<int>(std::min<Eigen::Index>(7, x.rows() - r)));
    return fit(moments, options);
}

RunResult run_fit(const ScratchDir& dir, std::vector<std::string> args, const char* threads = "SCORIX_THREADS=2")
{
    args.push_back("d.dat");
    return run_scorix(dir, args, {threads}, SCORIX_FIT_BINARY);
}

// Each method: scorix-fit writes the same bytes on 1, 2 and 8 threads (the
// rows fill three blocks), scorix's scores of the fitted rows are white, the
// eigenpairs solve the analysed matrix, and rows moved 1e8 away give that
// matrix again.
TEST(Fit, EachMethodGivesWhiteScoresAndLosesNoPrecisionFarFromZero)
{
    const int n = 70'000;
    const MatrixXd x = sample(n, 4, 50, 1);
    const std::pair<std::vector<std::string>, FitOptions> methods[] = {
        {{}, {}}, {{"--covariance"}, {true}}, {{"--varimax", "-k", "2"}, {false, true, 2}}};
    for (const auto& [args, options] : methods) {
        SCOPED_TRACE(args.empty() ? "correlation" : args[0]);
        ScratchDir dir;
        dir.write("d.dat", text(x));
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

        const Fit near = fitted(x, options), far = fitted(x.array() + 1e8, options);
        const MatrixXd& v = far.eigenvectors;
        EXPECT_LT((far.analysed * v - v * far.eigenvalues.asDiagonal()).cwiseAbs().maxCoeff(), 1e-12);
        EXPECT_LT((far.analysed - near.analysed).norm(), 1e-8 * near.analysed.norm());
    }
}

// The criterion: the summed variance of the squared row-normalized loadings
// of each factor.
TEST(Fit, VarimaxRaisesItsCriterionKeepsCommunalitiesAndIgnoresColumnOrder)
{
    const MatrixXd x = sample(300, 6, 0, 4);
    const Fit plain = fitted(x), rotated = fitted(x, {false, true, 3});
    const MatrixXd before = plain.loadings.leftCols(3), after = rotated.loadings.leftCols(3);
    auto criterion = [](const MatrixXd& l) {
        const MatrixXd squares = (l.array().colwise() / l.rowwise().norm().array()).square();
        return (squares.rowwise() - squares.colwise().mean()).squaredNorm();
    };
    EXPECT_GT(criterion(after), criterion(before) + 0.01);
    EXPECT_LT((after.rowwise().squaredNorm() - before.rowwise().squaredNorm()).cwiseAbs().maxCoeff(), 1e-12);
    const int order[] = {5, 2, 0, 4, 1, 3};
    MatrixXd swapped(x.rows(), x.cols());
    for (int j = 0; j < 6; ++j)
        swapped.col(j) = x.col(order[j]);
    const Fit other = fitted(swapped, {false, true, 3});
    for (int j = 0; j < 6; ++j)
        EXPECT_LT((other.loadings.row(j) - rotated.loadings.row(order[j])).cwiseAbs().maxCoeff(), 1e-6) << j;
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
    const struct {
        const char* data;
        std::vector<std::string> options;
        int status;
        std::string error;
    } cases[] = {
        {"1 2 3\n2 3\n", {}, 1, "d.dat:2: 2 values, but the first data row (d.dat:1) has 3"},
        {"# a\nx y\n1 2\n", {}, 1, "d.dat:2: no number at the start of the line (a header? mark it as a comment with '#')"},
        {"1 2\n3 nan\n", {}, 1, "d.dat:2: value 2 is nan, not a finite number"},
        {"1 2\n3 -inf x\n", {}, 1, "d.dat:2: value 2 is -inf, not a finite number"},
        {"1 2\n\n3 4\n", {}, 1, "d.dat:2: empty line (scorix would read it as a row of zeros)"},
        {"1 2\n", {}, 1, "d.dat: a fit needs at least 2 data rows, found 1"},
        {"1 2\n1 3\n1 5\n", {}, 1, "variable 1 is constant (its standard deviation is 0)"},
        {"1 2 3\n2 4 5\n3 6 7.5\n4 8 1\n", {}, 1,
         "the correlation matrix has lower rank than 3: variables 1, 2 are collinear (smallest eigenvalue "},
        {"1 2\n3 5\n4 4\n", {"--varimax", "-k", "3"}, 1, "3 factors asked for, but there are only 2 variables"},
        {"1 2\n3 5\n", {"--bogus"}, 2, "unrecognized option '--bogus'\nTry 'scorix-fit --help' for more information."},
        {"1 2\n3 5\n", {"-k", "2"}, 2, "option -k needs --varimax\nTry 'scorix-fit --help' for more information."},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("d.dat", c.data);
        const RunResult run = run_fit(dir, c.options);
        // The eigenvalues that end the rank message are left out.
        EXPECT_EQ(run.err.substr(0, c.error.size() + 12), "scorix-fit: " + c.error);
        EXPECT_EQ(std::tuple(run.status, run.err.back(), run.out, dir.exists("d.fsc")),
                  std::tuple(c.status, '\n', std::string(), false)) << c.data;
    }
}

}  // namespace
