// scorix-fit: properties of the fit that catch real faults (the scores it
// implies are white, the eigenpairs solve the matrix, far-off data lose no
// precision, varimax keeps communalities), every bad input's error, and one
// small case against reference values computed once with numpy.
#include <cmath>
#include <random>
#include <sstream>

#include "statistics.h"
#include "support.h"

namespace {

using Eigen::MatrixXd;

// Correlated rows on a grid of 1/64 (exact in binary, also 1e8 away from 0).
MatrixXd sample(int rows, int cols, double offset, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal;
    MatrixXd mix(cols, cols), x(rows, cols);
    for (double* m = mix.data(); m != mix.data() + mix.size(); ++m)
        *m = normal(random);
    for (double* v = x.data(); v != x.data() + x.size(); ++v)
        *v = normal(random);
    return ((x * mix).array() * 64).round() / 64 + offset;
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

RunResult run_fit(const ScratchDir& dir, std::vector<std::string> args)
{
    return run_scorix(dir, args, {}, SCORIX_FIT_BINARY);
}

TEST(Fit, ScoresOfTheFittedDataHaveMeanZeroAndUnitCovariance)
{
    const std::vector<std::vector<std::string>> methods = {{}, {"--covariance"}, {"--varimax", "-k", "2"}};
    for (const auto& method : methods) {
        ScratchDir dir;
        dir.write("d.dat", text(sample(200, 4, 50, 1)));
        std::vector<std::string> args = method;
        args.push_back("d.dat");
        ASSERT_EQ(run_fit(dir, args).status, 0);
        const std::string first = dir.read("d.fsc");
        ASSERT_EQ(run_fit(dir, args).status, 0);
        EXPECT_EQ(first, dir.read("d.fsc")) << "not byte-identical across runs";
        ASSERT_EQ(run_scorix(dir, {"-q", "-a", "-f", "d.fsc", "d.dat"}).status, 0);
        std::istringstream in(dir.read("d.sco"));
        Moments::Block scores(200, 4);
        for (double* v = scores.data(); v != scores.data() + scores.size(); ++v)
            in >> *v;
        const MatrixXd centred = scores.rowwise() - scores.colwise().mean();
        EXPECT_LT(scores.colwise().mean().cwiseAbs().maxCoeff(), 1e-6) << method.size();
        const MatrixXd covariance = centred.transpose() * centred / 199.0;
        EXPECT_LT((covariance - MatrixXd::Identity(4, 4)).cwiseAbs().maxCoeff(), 1e-6) << method.size();
    }
}

TEST(Fit, EigenpairsSolveTheAnalysedMatrix)
{
    for (bool covariance : {false, true}) {
        const Fit f = fitted(sample(100, 6, 0, 2), {covariance});
        const MatrixXd& v = f.eigenvectors;
        EXPECT_LT((f.analysed * v - v * f.eigenvalues.asDiagonal()).cwiseAbs().maxCoeff(), 1e-12) << covariance;
    }
}

TEST(Fit, DataFarFromZeroGiveTheCorrelationsOfCentredData)
{
    const MatrixXd centred = sample(3000, 5, 0, 3);
    const MatrixXd far = centred.array() + 1e8;
    EXPECT_LT((fitted(far).analysed - fitted(centred).analysed).cwiseAbs().maxCoeff(), 1e-9);
}

TEST(Fit, VarimaxKeepsCommunalitiesAndIgnoresColumnOrder)
{
    const MatrixXd x = sample(300, 6, 0, 4);
    const FitOptions varimax{false, true, 3};
    const Fit plain = fitted(x), rotated = fitted(x, varimax);
    const MatrixXd kept = plain.loadings.leftCols(3).rowwise().squaredNorm();
    EXPECT_LT((rotated.loadings.leftCols(3).rowwise().squaredNorm() - kept).cwiseAbs().maxCoeff(), 1e-12);
    const int order[] = {5, 2, 0, 4, 1, 3};
    MatrixXd swapped(x.rows(), x.cols());
    for (int j = 0; j < 6; ++j)
        swapped.col(j) = x.col(order[j]);
    const Fit other = fitted(swapped, varimax);
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
        std::vector<std::string> args = c.options;
        args.push_back("d.dat");
        const RunResult result = run_fit(dir, args);
        EXPECT_EQ(result.status, c.status) << c.data;
        // The eigenvalues that end the rank message are left out.
        EXPECT_EQ(result.err.substr(0, c.error.size() + 12), "scorix-fit: " + c.error);
        EXPECT_EQ(result.err.back(), '\n');
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(dir.exists("d.fsc")) << c.data;
    }
}

}  // namespace
