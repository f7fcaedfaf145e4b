#include "fit/rotation.h"

#include "fit/fit_error.h"
#include "fit/linear_algebra.h"
#include "fit/method_table.h"
#include "fit/polar_factor.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Cholesky>
#include <Eigen/LU>

using Eigen::MatrixXd;
using Eigen::VectorXd;

namespace {

Rotation best_of_starts(const MatrixXd& a, CriterionFunction criterion, const RotationSettings& settings,
                        bool oblique);  // below

constexpr int kMostIterations = 10000;

// Varimax stops when no element of T changes by more than this, or at its
// step cap.
constexpr double kVarimaxChange = 1e-14;
constexpr int kVarimaxIterations = 1000;

// The lengths of the rows of A, which Kaiser's normalization divides them
// by (a row of zeros keeps its zeros).
VectorXd row_lengths(const MatrixXd& a)
{
    VectorXd length = a.rowwise().norm();
    for (Eigen::Index i = 0; i < length.size(); ++i)
        length[i] = length[i] > 0 ? length[i] : 1.0;
    return length;
}

Rotation unrotated(const MatrixXd& a, const RotationSettings&)
{
    const auto k = a.cols();
    return {a, MatrixXd::Identity(k, k), MatrixXd::Identity(k, k), 0};
}

// Kaiser's (1958) varimax with his normalization: the orthogonal rotation T
// of the loadings that maximizes the varimax criterion of their rows scaled
// to unit length, iterated until no element of T changes by more than
// kVarimaxChange (at most kVarimaxIterations steps). One factor is not
// turned: the identity, converged after 0 iterations.
Rotation varimax(const MatrixXd& a, const RotationSettings&)
{
    const auto k = a.cols();
    Rotation result{a, MatrixXd::Identity(k, k), MatrixXd::Identity(k, k), 0};
    if (k < 2)
        return result;
    const MatrixXd normalized = row_lengths(a).cwiseInverse().asDiagonal() * a;
    const double n = static_cast<double>(a.rows());
    MatrixXd& rotation = result.structure;
    result.converged = false;
    // Each step moves to the polar factor of the criterion's gradient. The
    // criterion is flat at its maximum: a stop on its change of 1e-10 left
    // the iris loadings 4e-5 from the fixed point after 72 steps, while the
    // rotation itself settles to rounding level (210 steps, 7e-15 away).
    int& iterations = result.iterations;
    for (iterations = 1; iterations <= kVarimaxIterations; ++iterations) {
        const MatrixXd z = normalized * rotation;
        const VectorXd column_squares = z.array().square().colwise().sum().transpose();
        const MatrixXd target = z.array().cube().matrix() - z * (column_squares / n).asDiagonal();
        const MatrixXd next = polar_factor(normalized.transpose() * target);
        const double change = (next - rotation).cwiseAbs().maxCoeff();
        rotation = next;
        if (change <= kVarimaxChange) {
            result.converged = true;
            break;
        }
    }
    iterations = std::min(iterations, kVarimaxIterations);
    result.pattern = a * result.structure;
    return result;
}

// Promax (Hendrickson and White 1964) as R's stats::promax, from the
// converged varimax V: U the least-squares fit of V U to V o |V|^(m-1),
// columns scaled so that Phi = U^-1 U^-T has a unit diagonal; the pattern is
// V U and the structure V U^-T. With settings.normalize, as psych's
// fa(rotate = "promax"): U is fitted to the rows of V scaled to unit length
// (D^-1 V U to D^-1 V o |D^-1 V|^(m-1)), so that each variable weighs alike
// in the fit, not only in the varimax; the pattern is still V U.
Rotation promax(const MatrixXd& a, const RotationSettings& settings)
{
    Rotation vm = varimax(a, settings);
    const auto k = a.cols();
    if (k < 2)
        return vm;
    const MatrixXd scaled =
        settings.normalize ? MatrixXd(row_lengths(vm.pattern).cwiseInverse().asDiagonal() * vm.pattern) : MatrixXd();
    const MatrixXd& v = settings.normalize ? scaled : vm.pattern;
    const MatrixXd target = v.cwiseProduct(v.cwiseAbs().array().pow(settings.promax_power - 1).matrix());
    MatrixXd u = least_squares(v, target);
    const Eigen::PartialPivLU<MatrixXd> gram(u.transpose() * u);
    const VectorXd d = gram.solve(MatrixXd::Identity(k, k)).diagonal();
    u = u * d.cwiseSqrt().asDiagonal();
    const Eigen::PartialPivLU<MatrixXd> lu(u);
    const MatrixXd u_inverse = lu.solve(MatrixXd::Identity(k, k));
    return {vm.pattern * u, u_inverse * u_inverse.transpose(), vm.structure * u_inverse.transpose(), vm.iterations,
            vm.converged};
}

// Quartimax: Q = -sum(L^4) / 4, gradient -L^3.
Criterion quartimax_criterion(const MatrixXd& l, const RotationSettings&)
{
    return {-l.array().pow(4).sum() / 4, -l.array().cube().matrix()};
}

// Oblimin (Jennrich 2002, as GPArotation's): Q = sum(L^2 o X) / 4 with
// X = (I - gamma/p J) L^2 N, J the matrix of ones and N that of ones off the
// diagonal; gradient L o X. Gamma 0 (quartimin) leaves out the centring.
Criterion oblimin_criterion(const MatrixXd& l, const RotationSettings& settings)
{
    const MatrixXd squares = l.array().square().matrix();
    MatrixXd others = (squares.rowwise().sum() * Eigen::RowVectorXd::Ones(l.cols())) - squares;
    if (settings.oblimin_gamma != 0)
        others.rowwise() -= settings.oblimin_gamma / static_cast<double>(l.rows()) * others.colwise().sum();
    return {squares.cwiseProduct(others).sum() / 4, l.cwiseProduct(others)};
}

// Geomin (Yates 1987; Browne 2001): Q = sum over variables of the
// geometric mean of L_ij^2 + delta over the k factors; its gradient is
// 2 L_ij / (L_ij^2 + delta) times that mean / k.
Criterion geomin_criterion(const MatrixXd& l, const RotationSettings& settings)
{
    const Eigen::ArrayXXd shifted = l.array().square() + settings.geomin_delta;
    const Eigen::ArrayXd means = (shifted.log().rowwise().sum() / static_cast<double>(l.cols())).exp();
    const Eigen::ArrayXXd ratios = l.array() / shifted;
    const MatrixXd gradient = (2.0 / static_cast<double>(l.cols())) * (ratios.colwise() * means).matrix();
    return {means.sum(), gradient};
}

// Crawford and Ferguson's family (as GPArotation's cfT) with kappa = k/2p,
// equamax: Q = ((1 - kappa) sum(L^2 o L^2 N) + kappa sum(L^2 o M L^2)) / 4,
// N and M the matrices of ones off the diagonal (k x k, p x p); gradient
// (1 - kappa) L o L^2 N + kappa L o M L^2.
Criterion equamax_criterion(const MatrixXd& l, const RotationSettings&)
{
    const double kappa = static_cast<double>(l.cols()) / (2.0 * static_cast<double>(l.rows()));
    const MatrixXd squares = l.array().square().matrix();
    const MatrixXd in_rows = (squares.rowwise().sum() * Eigen::RowVectorXd::Ones(l.cols())) - squares;
    const MatrixXd in_columns = (VectorXd::Ones(l.rows()) * squares.colwise().sum()) - squares;
    const MatrixXd mixed = (1 - kappa) * in_rows + kappa * in_columns;
    return {squares.cwiseProduct(mixed).sum() / 4, l.cwiseProduct(mixed)};
}

// Bentler's invariant pattern simplicity (1977): with M = (L^2)'L^2 and D
// its diagonal, Q = -(log det M - log det D) / 4; gradient
// -L o L^2 (M^-1 - D^-1).
Criterion bentler_criterion(const MatrixXd& l, const RotationSettings&)
{
    const MatrixXd squares = l.array().square().matrix();
    const MatrixXd m = squares.transpose() * squares;
    const Eigen::LDLT<MatrixXd> ldlt(m);
    const VectorXd d = m.diagonal();
    const double log_det = ldlt.vectorD().array().log().sum();
    MatrixXd inverse = ldlt.solve(MatrixXd::Identity(m.rows(), m.cols()));
    inverse.diagonal() -= d.cwiseInverse();
    return {-(log_det - d.array().log().sum()) / 4, -l.cwiseProduct(squares * inverse)};
}

// Procrustes to a target B: Q = sum((L - B)^2), gradient 2 (L - B).
Criterion target_criterion(const MatrixXd& l, const RotationSettings& settings)
{
    const MatrixXd off = l - settings.target;
    return {off.squaredNorm(), 2 * off};
}

constexpr RotationParameter kPromaxPower = {"power", "promax_power", &RotationSettings::promax_power, nullptr};
constexpr RotationParameter kGeominDelta = {"delta", "geomin_delta", &RotationSettings::geomin_delta, nullptr};
constexpr RotationParameter kObliminGamma = {"gamma", "oblimin_gamma", &RotationSettings::oblimin_gamma, "quartimin"};

// clang-format off
constexpr RotationMethod kRotations[] = {
    {"none", "no rotation", false, false, false, true, nullptr, nullptr, false, unrotated},
    {"varimax", "varimax rotation (Kaiser normalized)", true, false, true, true, nullptr, nullptr, false, varimax},
    {"quartimax", "quartimax rotation", true, false, false, false, nullptr, quartimax_criterion, false, nullptr},
    {"promax", "promax rotation", true, true, true, false, &kPromaxPower, nullptr, false, promax},
    {"oblimin", "oblimin rotation", true, true, false, false, &kObliminGamma, oblimin_criterion, false, nullptr},
    {"geominT", "orthogonal geomin rotation", true, false, false, false, &kGeominDelta, geomin_criterion, false,
     nullptr},
    {"geominQ", "oblique geomin rotation", true, true, false, false, &kGeominDelta, geomin_criterion, false, nullptr},
    {"equamax", "equamax rotation", true, false, false, false, nullptr, equamax_criterion, false, nullptr},
    {"bentlerT", "orthogonal Bentler rotation", true, false, false, false, nullptr, bentler_criterion, false, nullptr},
    {"bentlerQ", "oblique Bentler rotation", true, true, false, false, nullptr, bentler_criterion, false, nullptr},
    {"targetT", "orthogonal target rotation", true, false, false, false, nullptr, target_criterion, true, nullptr},
    {"targetQ", "oblique target rotation", true, true, false, false, nullptr, target_criterion, true, nullptr},
};
// clang-format on

}  // namespace

const RotationMethod* find_rotation(std::string_view name)
{
    return find_named(rotation_methods(), name);
}

const RotationMethod& no_rotation()
{
    return kRotations[0];
}

std::span<const RotationMethod> rotation_methods()
{
    return kRotations;
}

bool kaiser_normalized(const RotationMethod& method, const RotationSettings& settings)
{
    return method.kaiser_normalized || (settings.normalize && method.criterion);
}

bool normalize_applies(const RotationMethod& method)
{
    return method.criterion || method.own == promax;
}

Rotation rotate(const RotationMethod& method, const MatrixXd& loadings, const RotationSettings& settings)
{
    if (!method.criterion)
        return method.own(loadings, settings);
    if (method.takes_target && (settings.target.rows() != loadings.rows() || settings.target.cols() != loadings.cols()))
        throw FitError("the target of " + std::string(method.name) + " has " + std::to_string(settings.target.rows()) +
                       " rows and " + std::to_string(settings.target.cols()) + " columns; it needs one row per " +
                       "variable and one column per factor: " + std::to_string(loadings.rows()) + " x " +
                       std::to_string(loadings.cols()));
    if (!kaiser_normalized(method, settings))
        return best_of_starts(loadings, method.criterion, settings, method.oblique);
    // The rows scaled to unit length are rotated, and scaled back.
    const VectorXd length = row_lengths(loadings);
    Rotation result =
        best_of_starts(length.cwiseInverse().asDiagonal() * loadings, method.criterion, settings, method.oblique);
    result.pattern = length.asDiagonal() * result.pattern;
    return result;
}

namespace {

// Jennrich's gradient projection (2001, 2002) from the rotation `start`:
// minimizes the criterion over orthogonal rotations T (L = A T) or over
// oblique ones with unit columns (L = A T'^-1, Phi = T'T), until the
// projected gradient is below 1e-8 times `scale`, as GPArotation's GPForth
// and GPFoblq do; after 10,000 steps it stops with the last rotation, not
// converged. `value` gets the criterion of the result.
Rotation gradient_projection(const MatrixXd& a, CriterionFunction criterion, const RotationSettings& settings,
                             bool oblique, const MatrixXd& start, double scale, double& value)
{
    const auto k = a.cols();
    MatrixXd t = start;
    // The loadings of T and the gradient of the criterion with respect to T.
    auto loadings_of = [&](const MatrixXd& rotation) -> MatrixXd {
        return oblique ? MatrixXd(rotation.partialPivLu().solve(a.transpose()).transpose()) : MatrixXd(a * rotation);
    };
    auto gradient_of = [&](const MatrixXd& rotation, const MatrixXd& l, const Criterion& c) -> MatrixXd {
        if (!oblique)
            return a.transpose() * c.gradient;
        return -rotation.transpose().partialPivLu().solve(c.gradient.transpose() * l);
    };
    MatrixXd l = loadings_of(t);
    Criterion c = criterion(l, settings);
    MatrixXd g = gradient_of(t, l, c);
    double step = 1;
    int iteration = 0;
    bool converged = true;
    for (;; ++iteration) {
        MatrixXd projected;
        if (oblique) {
            projected = g - t * (t.cwiseProduct(g).colwise().sum()).asDiagonal();
        } else {
            const MatrixXd m = t.transpose() * g;
            projected = g - t * (m + m.transpose()) / 2;
        }
        const double s = projected.norm();
        if (s < 1e-8 * scale)
            break;
        if (iteration == kMostIterations) {
            converged = false;
            break;
        }
        step *= 2;
        MatrixXd next;
        Criterion c_next;
        MatrixXd l_next;
        bool decreased = false;
        for (int halving = 0; halving <= 10 && !decreased; ++halving) {
            const MatrixXd x = t - step * projected;
            next = oblique ? MatrixXd(x * x.colwise().norm().cwiseInverse().asDiagonal()) : polar_factor(x);
            l_next = loadings_of(next);
            c_next = criterion(l_next, settings);
            decreased = c_next.value < c.value - 0.5 * s * s * step;
            if (!decreased)
                step /= 2;
        }
        // Near the minimum the decrease the test asks for falls below the
        // rounding of the criterion: there the gradient is as small as it gets.
        if (!decreased && s < 1e-6 * scale)
            break;
        t = next;
        l = l_next;
        c = c_next;
        g = gradient_of(t, l, c);
    }
    value = c.value;
    if (oblique)
        return {l, t.transpose() * t, t, iteration, converged};
    return {l, MatrixXd::Identity(k, k), t, iteration, converged};
}

// A random orthogonal k x k matrix, uniform over the group: the Q of the QR
// decomposition of standard normal numbers (Box and Muller's, from the
// Mersenne Twister's bits, which the C++ standard fixes), each column
// signed as the diagonal of R.
MatrixXd random_orthogonal(Eigen::Index k, std::mt19937_64& random)
{
    auto uniform = [&] { return (static_cast<double>(random() >> 11) + 0.5) * 0x1p-53; };
    MatrixXd normal(k, k);
    for (Eigen::Index i = 0; i < normal.size(); ++i)
        normal(i) = std::sqrt(-2 * std::log(uniform())) * std::cos(2 * M_PI * uniform());
    const QrFactors qr = qr_factors(normal);
    return qr.q * qr.r_diagonal.unaryExpr([](double x) { return x < 0 ? -1.0 : 1.0; }).asDiagonal();
}

// The gradient projection from the identity and from settings.starts - 1
// random rotations of the seed: the lowest criterion is kept, and of
// values equal to it within 1e-9 (relative) the earliest, so a run whose
// identity start reaches the best is the same as a run from it alone. The
// criteria grow with the fourth power of the loadings, and so does the
// gradient: the bound of every start is relative to the criterion of A
// (covariance loadings can be in the thousands).
Rotation best_of_starts(const MatrixXd& a, CriterionFunction criterion, const RotationSettings& settings, bool oblique)
{
    const auto k = a.cols();
    if (k < 2)
        return {a, MatrixXd::Identity(k, k), MatrixXd::Identity(k, k), 0};
    const double scale = std::max(1.0, std::abs(criterion(a, settings).value));
    std::mt19937_64 random(settings.seed);
    std::vector<Rotation> found;
    std::vector<double> values;
    for (int s = 0; s < std::max(1, settings.starts); ++s) {
        const MatrixXd start = s == 0 ? MatrixXd::Identity(k, k) : random_orthogonal(k, random);
        values.push_back(0);
        found.push_back(gradient_projection(a, criterion, settings, oblique, start, scale, values.back()));
    }
    const double lowest = *std::min_element(values.begin(), values.end());
    const double near = lowest + 1e-9 * std::max(std::abs(lowest), 1e-300);
    Rotation* best = nullptr;
    int reached = 0;
    for (std::size_t s = 0; s < found.size(); ++s)
        if (values[s] <= near) {
            ++reached;
            if (!best)
                best = &found[s];
        }
    if (!best)  // every value not a number: the identity's run
        best = &found.front();
    best->starts = static_cast<int>(found.size());
    best->best_starts = std::max(reached, 1);
    return std::move(*best);
}

}  // namespace

void orient_factors(Rotation& rotation, const MatrixXd* signs)
{
    const auto k = rotation.pattern.cols();
    const VectorXd variance = (rotation.phi * rotation.pattern.transpose() * rotation.pattern).diagonal();
    std::vector<int> order(k);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return variance[x] > variance[y]; });
    const Rotation unordered = rotation;
    for (Eigen::Index s = 0; s < k; ++s) {
        rotation.pattern.col(s) = unordered.pattern.col(order[s]);
        rotation.structure.col(s) = unordered.structure.col(order[s]);
        for (Eigen::Index r = 0; r < k; ++r)
            rotation.phi(r, s) = unordered.phi(order[r], order[s]);
    }
    for (Eigen::Index s = 0; s < k; ++s) {
        const auto column = rotation.pattern.col(s);
        if ((signs ? column.dot(signs->col(s)) : column.sum()) < 0) {
            rotation.pattern.col(s) *= -1;
            rotation.structure.col(s) *= -1;
            rotation.phi.row(s) *= -1;
            rotation.phi.col(s) *= -1;
        }
    }
}
