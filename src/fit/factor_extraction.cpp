#include "fit/factor_extraction.h"

#include "fit/method_table.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <Eigen/Cholesky>

#include "common/parallel.h"
#include "fit/linear_algebra.h"

// L-BFGS-B 3.0 (Byrd, Lu, Nocedal and Zhu 1995; Morales and Nocedal 2011),
// the bounded quasi-Newton search of R's optim, by reverse communication: it
// returns with `task` "FG" to have f and g computed at x, "NEW_X" after
// each iteration, anything else when it has stopped.
extern "C" void setulb_(const int* n, const int* m, double* x, const double* l, const double* u, const int* nbd,
                        double* f, double* g, const double* factr, const double* pgtol, double* wa, int* iwa,
                        char* task, const int* iprint, char* csave, int* lsave, int* isave, double* dsave,
                        std::size_t task_length, std::size_t csave_length);

using Eigen::MatrixXd;
using Eigen::VectorXd;

namespace {

// The squared multiple correlation of each variable with all the others,
// scaled by its variance for a covariance matrix: m_ii - 1 / (M^-1)_ii.
VectorXd squared_multiple_correlations(const MatrixXd& matrix)
{
    // The diagonal of the inverse from the Cholesky factor: (M^-1)_ii is the
    // squared length of column i of L^-1.
    const Eigen::LLT<MatrixXd> factor = cholesky(matrix, "the matrix is not positive definite");
    const MatrixXd inverse_factor = factor.matrixL().solve(MatrixXd::Identity(matrix.rows(), matrix.cols()));
    const VectorXd inverse_diagonal = inverse_factor.colwise().squaredNorm().transpose();
    return matrix.diagonal() - inverse_diagonal.cwiseInverse();
}

// Loadings of the leading `factors` eigenpairs: vector times root of value.
MatrixXd leading_loadings(const Decomposition& d, int factors, const char* what)
{
    for (int s = 0; s < factors; ++s)
        if (!(d.values[s] >= 0))
            throw FitError(std::string("eigenvalue ") + std::to_string(s + 1) + " of the " + what +
                           " is negative: no real loadings for " + std::to_string(factors) + " factors");
    return d.vectors.leftCols(factors) * d.values.head(factors).cwiseSqrt().asDiagonal();
}

// The same with a negative eigenvalue taken as 0, as the least-squares
// searches evaluate points where the reduced matrix has fewer than `factors`
// positive ones.
MatrixXd clipped_loadings(const Decomposition& d, int factors)
{
    return d.vectors.leftCols(factors) * d.values.head(factors).cwiseMax(0).cwiseSqrt().asDiagonal();
}

Extraction components(const MatrixXd& matrix, int factors, std::uint64_t)
{
    Extraction result;
    result.loadings = leading_loadings(decreasing_eigen(matrix), factors, "matrix");
    result.uniquenesses = matrix.diagonal() - result.loadings.rowwise().squaredNorm();
    return result;
}

// Principal axis factoring: the loadings of the leading eigenpairs of the
// matrix with its diagonal replaced by the communalities h, which start as
// the squared multiple correlations and become the row sums of squared
// loadings F(h), until their total changes by at most 1e-12 in one such
// step (the stop rule of psych's fa). The plain iteration h <- F(h) can
// crawl (thousands of steps with many factors), so every two steps are
// extrapolated as SQUAREM does (Varadhan and Roland 2008, its step length
// S3): from r = F(h) - h and v = F(F(h)) - F(h) - r the next point is
// h - 2a r + a^2 v with a = -|r|/|v| (at most -1, which is the plain double
// step). The fixed point is the same; the stop test is always that of a
// plain step, on the total and on each communality. That holds where the
// model is identified, (p - k)^2 > p + k; with fewer variables for the
// factors the fixed points form a continuum and the path of the plain
// iteration picks the one psych reports, so there it runs plain. An
// extrapolated point with a communality outside [0, m_ii],
// or whose next step moves further than the plain one did, is left for
// the plain double step.
Extraction principal_axis(const MatrixXd& matrix, int factors, std::uint64_t)
{
    constexpr int kMostIterations = 10000;
    MatrixXd reduced = matrix;
    Extraction result;
    result.iterations = 0;
    // One plain step from h: F(h), its loadings left in result.loadings.
    auto step = [&](const VectorXd& h) -> VectorXd {
        if (result.iterations == kMostIterations)
            throw FitError("principal axis factoring did not converge in " + std::to_string(kMostIterations) +
                           " iterations");
        ++result.iterations;
        reduced.diagonal() = h;
        result.loadings = leading_loadings(leading_eigen(reduced, factors), factors, "reduced matrix");
        return result.loadings.rowwise().squaredNorm();
    };
    // An extrapolated point can leave the total as it is while single
    // communalities still move: each must settle too (to 1e-12 of the
    // largest variance, the rounding of a covariance matrix's scale).
    const VectorXd most = matrix.diagonal();
    const double each = 1e-12 * std::max(1.0, most.maxCoeff());
    auto settled = [each](const VectorXd& from, const VectorXd& to) {
        return std::abs(to.sum() - from.sum()) <= 1e-12 && (to - from).cwiseAbs().maxCoeff() <= each;
    };
    VectorXd h = squared_multiple_correlations(matrix), plain;
    double last_move = INFINITY;  // |F(h) - h| of the last plain step
    const Eigen::Index p = matrix.rows(), free = p - factors;
    const bool extrapolate = free * free > p + factors;
    for (;;) {
        const VectorXd h1 = step(h);
        if (settled(h, h1)) {
            h = h1;
            break;
        }
        const VectorXd r = h1 - h;
        if (plain.size() && r.norm() > last_move) {
            h = plain;  // the extrapolation overshot: back to the plain double step
            plain.resize(0);
            continue;
        }
        const VectorXd h2 = step(h1);
        if (settled(h1, h2)) {
            h = h2;
            break;
        }
        const VectorXd v = h2 - h1 - r;
        last_move = (h2 - h1).norm();
        const double a = std::min(-1.0, -r.norm() / v.norm());
        const VectorXd next = h - 2 * a * r + a * a * v;
        if (extrapolate && a < -1 && next.allFinite() && (next.array() >= 0).all() &&
            (next.array() <= most.array()).all()) {
            h = next;
            plain = h2;
        } else {
            h = h2;
            plain.resize(0);
        }
    }
    result.uniquenesses = matrix.diagonal() - h;
    return result;
}

// A function of the uniquenesses psi in [0.005, 1] that an extraction
// minimizes: value() keeps what gradient() at the same psi needs.
class UniquenessObjective {
public:
    virtual ~UniquenessObjective() = default;
    virtual double value(const VectorXd& psi) = 0;
    virtual VectorXd gradient(const VectorXd& psi) const = 0;
};

// Maximum likelihood as R's factanal fits it: the uniquenesses psi in
// [0.005, 1] that minimize sum over m > k of (g_m - log g_m - 1), the g_m
// being the eigenvalues of Psi^-1/2 R Psi^-1/2 beyond the k largest
// (Joreskog 1967).
class Likelihood final : public UniquenessObjective {
public:
    Likelihood(const MatrixXd& r, int k) : r_(r), k_(k) {}

    // The discrepancy at psi, keeping the eigenpairs for the derivatives.
    double value(const VectorXd& psi) override
    {
        d_ = decreasing_eigen(scaled(r_, psi.cwiseSqrt().cwiseInverse()));
        double f = 0;
        for (Eigen::Index m = k_; m < d_.values.size(); ++m)
            f += d_.values[m] - std::log(d_.values[m]) - 1;
        return f;
    }

    // The gradient at the psi of the last value().
    VectorXd gradient(const VectorXd& psi) const override
    {
        const Eigen::Index rest = psi.size() - k_;
        const MatrixXd omega = d_.vectors.rightCols(rest);
        const MatrixXd weighted = omega * (d_.values.tail(rest).array() - 1).matrix().asDiagonal();
        return -(weighted.cwiseProduct(omega).rowwise().sum()).cwiseProduct(psi.cwiseInverse());
    }

    // The Hessian at the psi of the last value(), whose gradient is given.
    MatrixXd hessian(const VectorXd& psi, const VectorXd& gradient) const
    {
        const Eigen::Index rest = psi.size() - k_;
        const MatrixXd omega = d_.vectors.rightCols(rest);
        const VectorXd gamma = d_.values.tail(rest);
        const VectorXd inverse = psi.cwiseInverse();
        // Residual pairs add (Omega Gamma Omega') o (Omega Omega'); pairs with
        // a leading eigenpair l add (Omega C_l Omega') o (w_l w_l'), with
        // C_l = diag((g_m - 1)(g_m + g_l) / (g_m - g_l)).
        MatrixXd hessian = (omega * gamma.asDiagonal() * omega.transpose()).cwiseProduct(omega * omega.transpose());
        for (int l = 0; l < k_; ++l) {
            const double g = d_.values[l];
            const VectorXd c = ((gamma.array() - 1) * (gamma.array() + g) / (gamma.array() - g)).matrix();
            const VectorXd w = d_.vectors.col(l);
            hessian += (omega * c.asDiagonal() * omega.transpose()).cwiseProduct(w * w.transpose());
        }
        hessian = inverse.asDiagonal() * hessian * inverse.asDiagonal();
        hessian.diagonal() -= gradient.cwiseProduct(inverse);
        return hessian;
    }

    MatrixXd loadings(const VectorXd& psi) const
    {
        const VectorXd root = (d_.values.head(k_).array() - 1).max(0).sqrt().matrix();
        return psi.cwiseSqrt().asDiagonal() * d_.vectors.leftCols(k_) * root.asDiagonal();
    }

private:
    const MatrixXd& r_;
    int k_;
    Decomposition d_;
};

// A variable at a bound that its gradient pushes outwards stays there.
bool held_at_bound(double psi, double gradient)
{
    return (psi <= kLeastUniqueness && gradient > 0) || (psi >= kMostUniqueness && gradient < 0);
}

// The largest gradient of a variable free to move.
double projected_gradient(const VectorXd& psi, const VectorXd& gradient)
{
    double most = 0;
    for (Eigen::Index i = 0; i < psi.size(); ++i)
        if (!held_at_bound(psi[i], gradient[i]))
            most = std::max(most, std::abs(gradient[i]));
    return most;
}

// A minimum is one whose projected gradient is at most this.
constexpr double kGradientTolerance = 1e-8;
constexpr int kMostIterations = 1000;

// Where one start's search ended.
struct Search {
    VectorXd psi;
    double objective = 0;
    int iterations = 0;
    bool converged = false;
};

// The basin of a start: L-BFGS-B bounded by [0.005, 1], with its default
// memory of 5 pairs, stopped once an iteration lowers the objective by less
// than `factr` times the machine epsilon of it. Maximum likelihood's search
// stops at 1e10 (2e-6), not factanal's 1e7: Newton finishes from there, and
// of 456 random starts on the wine and breast cancer data all but one ended
// in the same minimum as with 1e7, in a third of the time.
Search quasi_newton(UniquenessObjective& objective, VectorXd psi, double factr = 1e10)
{
    const int n = static_cast<int>(psi.size()), memory = 5, silent = -1;
    const double pgtol = 0;
    const VectorXd lower = VectorXd::Constant(n, kLeastUniqueness), upper = VectorXd::Constant(n, kMostUniqueness);
    const std::vector<int> both_bounds(static_cast<std::size_t>(n), 2);
    std::vector<double> work(static_cast<std::size_t>(2 * memory * n + 5 * n + 11 * memory * memory + 8 * memory));
    std::vector<int> iwork(3 * static_cast<std::size_t>(n));
    std::array<char, 60> task, csave;
    std::array<int, 4> lsave;
    std::array<int, 44> isave;
    std::array<double, 29> dsave;
    task.fill(' ');
    std::memcpy(task.data(), "START", 5);
    auto asks = [&task](std::string_view what) { return std::string_view(task.data(), 60).starts_with(what); };
    double f = 0;
    VectorXd g = VectorXd::Zero(n);
    Search result;
    for (;;) {
        setulb_(&n, &memory, psi.data(), lower.data(), upper.data(), both_bounds.data(), &f, g.data(), &factr, &pgtol,
                work.data(), iwork.data(), task.data(), &silent, csave.data(), lsave.data(), isave.data(), dsave.data(),
                task.size(), csave.size());
        if (asks("FG")) {
            f = objective.value(psi);
            g = objective.gradient(psi);
        } else if (!asks("NEW_X") || ++result.iterations == kMostIterations) {
            break;  // converged, or a line search that found no decrease
        }
    }
    result.psi = psi;
    result.objective = f;
    return result;
}

// The minimum of the basin to rounding: projected Newton steps with the
// exact Hessian and a backtracking line search; variables held at a bound by
// their gradient stay out of the Newton system (Bertsekas 1982).
Search newton(Likelihood& likelihood, Search from)
{
    Search& result = from;
    VectorXd& psi = result.psi;
    const Eigen::Index p = psi.size();
    double f = likelihood.value(psi);
    for (int steps = 0;; ++steps) {
        const VectorXd gradient = likelihood.gradient(psi);
        const double projected = projected_gradient(psi, gradient);
        result.objective = f;
        result.converged = projected <= kGradientTolerance;
        if (projected <= 1e-13 || steps == kMostIterations)
            return result;
        std::vector<Eigen::Index> free;
        for (Eigen::Index i = 0; i < p; ++i)
            if (!held_at_bound(psi[i], gradient[i]))
                free.push_back(i);
        const auto n_free = static_cast<Eigen::Index>(free.size());
        const MatrixXd hessian = likelihood.hessian(psi, gradient);
        MatrixXd h(n_free, n_free);
        VectorXd g(n_free);
        for (Eigen::Index a = 0; a < n_free; ++a) {
            g[a] = gradient[free[a]];
            for (Eigen::Index b = 0; b < n_free; ++b)
                h(a, b) = hessian(free[a], free[b]);
        }
        Eigen::LDLT<MatrixXd> solver(h);
        VectorXd direction = solver.solve(-g);
        // Far from the minimum the Hessian may not be positive definite:
        // then its eigenvalues by their magnitude (bounded below), which
        // still descends and keeps the scale of Newton's step.
        if (solver.info() != Eigen::Success || !solver.isPositive() || !(direction.dot(g) < 0)) {
            const Decomposition eigen = increasing_eigen(h);
            const VectorXd size = eigen.values.cwiseAbs();
            const VectorXd inverse = size.cwiseMax(1e-6 * std::max(1e-300, size.maxCoeff())).cwiseInverse();
            direction = -eigen.vectors * inverse.asDiagonal() * (eigen.vectors.transpose() * g);
        }
        VectorXd step = VectorXd::Zero(p);
        for (Eigen::Index a = 0; a < n_free; ++a)
            step[free[a]] = direction[a];
        double alpha = 1, f_next = f;
        VectorXd next;
        bool accepted = false;
        if (-gradient.dot(step) <= 1e-10 * std::max(1.0, f)) {
            // The decrease Newton's model predicts is lost in the rounding
            // of the discrepancy (whose eigenvalues grow as 1 / psi): so
            // near the minimum the full step is taken when it lowers the
            // gradient instead.
            next = (psi + step).cwiseMax(kLeastUniqueness).cwiseMin(kMostUniqueness);
            f_next = likelihood.value(next);
            accepted = projected_gradient(next, likelihood.gradient(next)) < projected;
        }
        for (int halving = 0; halving < 60 && !accepted; ++halving, alpha /= 2) {
            next = (psi + alpha * step).cwiseMax(kLeastUniqueness).cwiseMin(kMostUniqueness);
            f_next = likelihood.value(next);
            accepted = f_next <= f + 1e-4 * gradient.dot(next - psi);
        }
        // No decrease left: the minimum to rounding, or a search that failed.
        if (!accepted)
            return result;
        const double moved = (next - psi).cwiseAbs().maxCoeff();
        psi = next;
        f = f_next;
        ++result.iterations;
        if (moved <= 1e-15)
            steps = kMostIterations - 1;  // the gradient here decides
    }
}

// Several starts, as factanal's nstart: the one given, then uniquenesses
// drawn uniformly from [0.005, 1] (Mersenne Twister, whose numbers the C++
// standard fixes: the same seed, the same starts everywhere), each searched
// by `search`. The lowest objective is kept, and of equal ones (to 1e-9)
// the earliest; `result` gets the count of starts, of those that reached
// it, and the iterations and convergence of the kept one. None is kept
// when every objective is not a number: then `not_a_number` is thrown.
// With more than one thread the starts are searched side by side, which
// needs a `search` whose result depends on its start alone: then every
// thread count finds the same.
template <class SearchFrom>
Search lowest_of_starts(VectorXd start, std::uint64_t seed, SearchFrom search, Extraction& result,
                        const char* not_a_number, int threads = 1)
{
    std::mt19937_64 random(seed);
    std::vector<VectorXd> starts;
    for (int s = 0; s < kLikelihoodStarts; ++s) {
        if (s > 0)
            for (double& u : start)
                u = kLeastUniqueness +
                    (kMostUniqueness - kLeastUniqueness) * (static_cast<double>(random() >> 11) * 0x1p-53);
        starts.push_back(start);
    }
    std::vector<Search> found(starts.size());
    std::vector<std::exception_ptr> failed(starts.size());
    std::atomic<std::size_t> next = 0;
    auto work = [&] {
        for (std::size_t s; (s = next++) < starts.size();) {
            try {
                found[s] = search(starts[s]);
            } catch (...) {
                failed[s] = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int t = 1; t < std::min(threads, kLikelihoodStarts); ++t)
            helpers.emplace_back(work);
        work();
    }
    for (const std::exception_ptr& failure : failed)
        if (failure)
            std::rethrow_exception(failure);
    double lowest = INFINITY;
    for (const Search& s : found)
        lowest = std::min(lowest, s.objective);
    const double near = lowest + 1e-9 * std::max(1.0, std::abs(lowest));
    result.starts = kLikelihoodStarts;
    const Search* best = nullptr;
    for (const Search& s : found)
        if (s.objective <= near) {
            ++result.best_starts;
            if (!best)
                best = &s;
        }
    if (!best)
        throw FitError(not_a_number);
    result.iterations = best->iterations;
    result.converged = best->converged;
    return *best;
}

// The likelihood has local minima, and no start reaches the best one every
// time: on the breast cancer data (30 variables) with 5 factors factanal's
// start, (1 - k / 2p) / (R^-1)_ii, stops at 20.23 where 20.11 is best, and
// 24 random starts in 100 reach it; 45 to 59 in 100 do on the wine data
// with 5 factors and the breast cancer data with 3 and 4 (where Newton from
// the first start alone stopped at 0.3314, 28.24 and 25.68). With 29 of
// them all miss it with a probability of 4e-4 on the first, below 1e-7 on
// the others, at under half a second for 30 variables. Each start's basin
// by L-BFGS-B, its minimum by Newton.
Extraction maximum_likelihood(const MatrixXd& r, int factors, std::uint64_t seed)
{
    const Eigen::Index p = r.rows();
    const MatrixXd correlation = unit_diagonal(r);
    Likelihood likelihood(correlation, factors);
    const VectorXd start = ((1 - 0.5 * factors / static_cast<double>(p)) *
                            (VectorXd::Ones(p) - squared_multiple_correlations(correlation)))
                               .cwiseMax(kLeastUniqueness)
                               .cwiseMin(kMostUniqueness);
    Extraction result;
    const Search best = lowest_of_starts(
        start, seed, [&](const VectorXd& from) { return newton(likelihood, quasi_newton(likelihood, from)); }, result,
        "maximum likelihood did not converge: the discrepancy is not a number");
    result.objective = likelihood.value(best.psi);
    result.loadings = r.diagonal().cwiseSqrt().asDiagonal() * likelihood.loadings(best.psi);
    result.uniquenesses = result.fitted = r.diagonal().cwiseProduct(best.psi);
    return result;
}

// The least-squares extractions: the loadings L of the k leading eigenpairs
// of M - diag(psi), L = V sqrt(max(lambda, 0)), and the uniquenesses psi
// that minimize a sum of squares of the residuals E = M - diag(psi) - LL'.
// Minimum residual (ordinary least squares, Harman and Jones 1966) sums the
// off-diagonal ones; weighted least squares the whole of W E W, W the
// diagonal of 1 / (M^-1)_ii (the uniquenesses the squared multiple
// correlations leave), which counts the variables of low communality more;
// generalized least squares the whole of M^-1 E (psych's fm = "wls" and
// "gls"). Each searches u = psi / m_ii in [0.005, 1] with the weights and
// the sum divided by powers of the largest variance, so that a covariance
// matrix has the bounds and tolerances of its correlations.
enum class Weighing { off_diagonal, uniquenesses, inverse };

class Residuals final : public UniquenessObjective {
public:
    Residuals(const MatrixXd& m, int k, Weighing weighing)
        : m_(m), k_(k), weighing_(weighing), variances_(m.diagonal()), scale_(std::max(1.0, m.diagonal().maxCoeff()))
    {
        if (weighing_ == Weighing::uniquenesses)
            weights_ = (m.diagonal() - squared_multiple_correlations(m)) / scale_;
        else if (weighing_ == Weighing::inverse)
            inverse_ =
                cholesky(m, "the matrix is not positive definite").solve(MatrixXd::Identity(m.rows(), m.rows())) *
                scale_;
    }

    // The sum at psi, keeping Q, the symmetric matrix whose inner product
    // with a change of E is half the sum's change.
    double value(const VectorXd& u) override
    {
        MatrixXd reduced = m_;
        reduced.diagonal() -= variances_.cwiseProduct(u);
        d_ = decreasing_eigen(reduced);
        const MatrixXd residual = reduced - loadings() * loadings().transpose();
        double sum = 0;
        switch (weighing_) {
        case Weighing::off_diagonal:
            q_ = residual;
            q_.diagonal().setZero();
            sum = q_.squaredNorm();
            break;
        case Weighing::uniquenesses: {
            const MatrixXd weighted = weights_.asDiagonal() * residual * weights_.asDiagonal();
            sum = weighted.squaredNorm();
            q_ = weights_.asDiagonal() * weighted * weights_.asDiagonal();
            break;
        }
        case Weighing::inverse: {
            const MatrixXd weighted = inverse_ * residual;
            sum = weighted.squaredNorm();
            const MatrixXd q = inverse_ * weighted;
            q_ = (q + q.transpose()) / 2;
            break;
        }
        }
        return sum / (scale_ * scale_);
    }

    // With V, lambda the eigenpairs of M - diag(psi), a change of psi_i
    // changes E by -e_i e_i' - d(LL'), where a leading pair m moves by
    // d lambda_m / d psi_i = -v_mi^2 and d v_m / d psi_i =
    // -sum over n != m of v_n v_ni v_mi / (lambda_m - lambda_n).
    VectorXd gradient(const VectorXd&) const override
    {
        VectorXd g = -2 * q_.diagonal();
        for (int m = 0; m < k_ && d_.values[m] > 0; ++m) {
            const double lambda = d_.values[m];
            const VectorXd pulled = d_.vectors.transpose() * (q_ * d_.vectors.col(m));  // v_n' Q v_m
            VectorXd c = 4 * lambda * pulled.array() / (lambda - d_.values.array());
            c[m] = 2 * pulled[m];
            g += d_.vectors.col(m).cwiseProduct(d_.vectors * c);
        }
        return g.cwiseProduct(variances_) / (scale_ * scale_);
    }

    MatrixXd loadings() const { return clipped_loadings(d_, k_); }

private:
    const MatrixXd& m_;
    int k_;
    Weighing weighing_;
    VectorXd variances_;
    double scale_;
    VectorXd weights_;  // of the uniquenesses
    MatrixXd inverse_;  // M^-1
    Decomposition d_;
    MatrixXd q_;
};

// Above this many variables minimum residual searches its starts on the
// full sum of squares (below), whose evaluation needs only the leading
// eigenpairs, and finishes the best one on the off-diagonal sum: for 500
// variables one full decomposition takes 0.2 s, and a search of 30 starts
// several hundred of them.
constexpr Eigen::Index kManyVariables = 100;

// The leading eigenpairs of M - diag(psi) while a search moves psi a little
// at a time: subspace iteration on a block of a few more vectors than
// factors, from the block of the last evaluation, each sweep one product of
// the matrix with the block and a Rayleigh-Ritz step. The matrix is shifted
// by the largest uniqueness, which makes it positive semi-definite (M is
// positive definite), so the sweep finds the largest eigenvalues, not those
// of largest magnitude. Pairs whose residual stays above 1e-11 of the
// largest eigenvalue after 10 sweeps (eigenvalues too close together), and
// the first evaluation, take the tridiagonal route of principal axis. On
// 500 variables with 10 factors a sweep costs about a thousandth of a full
// decomposition, and an evaluation takes about four. Where eigenvalues
// beyond the k-th come near it (4 factors fitted to data of 10), most
// evaluations end on the tridiagonal route: 10 sweeps before it, not 40,
// took 2.7 s of CPU instead of 3.9 s on 150 such variables.
class LeadingPairs {
public:
    explicit LeadingPairs(int wanted) : wanted_(wanted) {}

    const Decomposition& update(const MatrixXd& s, double shift)
    {
        const Eigen::Index p = s.rows(), block = std::min<Eigen::Index>(p, wanted_ + 4);
        if (pairs_.vectors.cols() == block) {
            MatrixXd v = pairs_.vectors;
            for (int sweep = 0; sweep < 10; ++sweep) {
                MatrixXd w = s * v + shift * v;
                const MatrixXd h = v.transpose() * w;
                const Decomposition ritz = increasing_eigen((h + h.transpose()) / 2);
                const MatrixXd y = ritz.vectors.rowwise().reverse();
                v = v * y;
                w = w * y;
                const VectorXd theta = ritz.values.reverse();
                const double tolerance = 1e-11 * std::max(std::abs(theta[0]), 1e-300);
                bool converged = true;
                for (int m = 0; m < wanted_ && converged; ++m)
                    converged = (w.col(m) - theta[m] * v.col(m)).norm() <= tolerance;
                if (converged) {
                    pairs_ = {theta.array() - shift, v};
                    return pairs_;
                }
                v = orthonormal_columns(w);
            }
        }
        pairs_ = leading_eigen(s, static_cast<int>(block));
        return pairs_;
    }

private:
    int wanted_;
    Decomposition pairs_;
};

// The full sum of squares ||E||^2 of the residuals E = S - LL', S = M -
// diag(psi), L of the k leading eigenpairs of S: the sum of squares of the
// eigenvalues beyond the k-th, whose derivative by psi_i is -2 E_ii. Where
// no uniqueness is at a bound its minimum is that of minimum residual's
// off-diagonal sum: there E_ii = 0, so the two sums agree and so do their
// gradients, while at any other psi the off-diagonal sum is the smaller.
// Scaled as Residuals.
class FullResiduals final : public UniquenessObjective {
public:
    FullResiduals(const MatrixXd& m, int k)
        : m_(m), k_(k), variances_(m.diagonal()), scale_(std::max(1.0, m.diagonal().maxCoeff())), pairs_(k)
    {
    }

    double value(const VectorXd& u) override
    {
        MatrixXd reduced = m_;
        const VectorXd psi = variances_.cwiseProduct(u);
        reduced.diagonal() -= psi;
        const Decomposition& d = pairs_.update(reduced, psi.maxCoeff());
        const MatrixXd loadings = clipped_loadings(d, k_);
        reduced.noalias() -= loadings * loadings.transpose();
        diagonal_ = reduced.diagonal();
        return reduced.squaredNorm() / (scale_ * scale_);
    }

    VectorXd gradient(const VectorXd&) const override
    {
        return -2 * diagonal_.cwiseProduct(variances_) / (scale_ * scale_);
    }

private:
    const MatrixXd& m_;
    int k_;
    VectorXd variances_;
    double scale_;
    LeadingPairs pairs_;
    VectorXd diagonal_;  // of the residuals
};

// Each start's minimum by L-BFGS-B to the rounding of the objective, begun
// afresh from where it stopped while that still lowers it (a restart drops
// the curvature pairs that misled the last line search); converged when the
// projected gradient is below 1e-8. The first start is psych's, 1 - the
// squared multiple correlations.
Extraction least_squares(const MatrixXd& m, int factors, std::uint64_t seed, Weighing weighing, const char* method)
{
    Residuals residuals(m, factors, weighing);
    const VectorXd start = (VectorXd::Ones(m.rows()) - squared_multiple_correlations(m).cwiseQuotient(m.diagonal()))
                               .cwiseMax(kLeastUniqueness)
                               .cwiseMin(kMostUniqueness);
    auto search = [&](const VectorXd& from) {
        Search result = quasi_newton(residuals, from, 1);
        for (int restart = 0; restart < 10; ++restart) {
            const Search again = quasi_newton(residuals, result.psi, 1);
            const bool lower = again.objective < result.objective;
            if (lower)
                result = {again.psi, again.objective, result.iterations + again.iterations, false};
            if (!lower)
                break;
        }
        residuals.value(result.psi);
        result.converged = projected_gradient(result.psi, residuals.gradient(result.psi)) <= kGradientTolerance;
        return result;
    };
    Extraction result;
    const std::string not_a_number = std::string(method) + " did not converge: the residuals are not numbers";
    VectorXd psi;
    if (weighing == Weighing::off_diagonal && m.rows() > kManyVariables) {
        // The starts on the full sum, the best finished on the off-diagonal
        // one: at once when no uniqueness is at a bound, where the two have
        // the same minimum. Each start's search begins with the eigenpairs
        // of psych's start and carries its own from there, so that it
        // depends on its start alone and the starts can be searched on
        // every thread.
        FullResiduals first(m, factors);
        first.value(start);
        auto coarse = [&first](const VectorXd& from) {
            FullResiduals full = first;
            Search found = quasi_newton(full, from, 10);
            full.value(found.psi);
            found.converged = projected_gradient(found.psi, full.gradient(found.psi)) <= kGradientTolerance;
            return found;
        };
        psi = lowest_of_starts(start, seed, coarse, result, not_a_number.c_str(), thread_count()).psi;
        const int iterations = result.iterations;
        residuals.value(psi);
        result.converged = projected_gradient(psi, residuals.gradient(psi)) <= kGradientTolerance;
        if (!result.converged) {
            const Search finished = search(psi);
            psi = finished.psi;
            result.iterations = iterations + finished.iterations;
            result.converged = finished.converged;
        }
    } else {
        psi = lowest_of_starts(start, seed, search, result, not_a_number.c_str()).psi;
    }
    if (weighing != Weighing::off_diagonal) {
        // The weighted sums' valleys are flatter than the rounding of their
        // larger values lets L-BFGS-B see: projected Newton steps finish
        // them, with the Hessian from central differences of the gradient.
        for (int step = 0; step < 20; ++step) {
            residuals.value(psi);
            const VectorXd g = residuals.gradient(psi);
            result.converged = projected_gradient(psi, g) <= kGradientTolerance;
            std::vector<Eigen::Index> free;
            for (Eigen::Index i = 0; i < psi.size(); ++i)
                if (!held_at_bound(psi[i], g[i]))
                    free.push_back(i);
            if (projected_gradient(psi, g) <= 1e-13 || free.empty())
                break;
            const auto n = static_cast<Eigen::Index>(free.size());
            MatrixXd h(n, n);
            for (Eigen::Index a = 0; a < n; ++a) {
                VectorXd up = psi, down = psi;
                constexpr double delta = 1e-6;
                up[free[a]] += delta;
                down[free[a]] -= delta;
                residuals.value(up);
                const VectorXd g_up = residuals.gradient(up);
                residuals.value(down);
                const VectorXd g_down = residuals.gradient(down);
                for (Eigen::Index b = 0; b < n; ++b)
                    h(b, a) = (g_up[free[b]] - g_down[free[b]]) / (2 * delta);
            }
            const Eigen::LDLT<MatrixXd> solver((h + h.transpose()) / 2);
            VectorXd gf(n);
            for (Eigen::Index a = 0; a < n; ++a)
                gf[a] = g[free[a]];
            const VectorXd direction = solver.solve(-gf);
            if (solver.info() != Eigen::Success || !solver.isPositive() || !direction.allFinite())
                break;
            VectorXd next = psi;
            for (Eigen::Index a = 0; a < n; ++a)
                next[free[a]] += direction[a];
            next = next.cwiseMax(kLeastUniqueness).cwiseMin(kMostUniqueness);
            residuals.value(next);
            if (!(projected_gradient(next, residuals.gradient(next)) < projected_gradient(psi, g)))
                break;  // no nearer the minimum: the rounding decides
            psi = next;
        }
    }
    result.objective = residuals.value(psi);
    result.loadings = residuals.loadings();
    result.fitted = m.diagonal().cwiseProduct(psi);
    result.uniquenesses = m.diagonal() - result.loadings.rowwise().squaredNorm();
    if (weighing != Weighing::off_diagonal)
        result.converged = projected_gradient(psi, residuals.gradient(psi)) <= kGradientTolerance;
    return result;
}

Extraction minimum_residual(const MatrixXd& m, int factors, std::uint64_t seed)
{
    return least_squares(m, factors, seed, Weighing::off_diagonal, "minimum residual");
}

Extraction weighted_least_squares(const MatrixXd& m, int factors, std::uint64_t seed)
{
    return least_squares(m, factors, seed, Weighing::uniquenesses, "weighted least squares");
}

Extraction generalized_least_squares(const MatrixXd& m, int factors, std::uint64_t seed)
{
    return least_squares(m, factors, seed, Weighing::inverse, "generalized least squares");
}

int all_factors(int variables)
{
    return variables;
}

int fewer_factors(int variables)
{
    return variables - 1;
}

// Degrees of freedom ((p - k)^2 - p - k) / 2 must not be negative.
int identified_factors(int variables)
{
    int k = 0;
    while ((variables - k - 1) * (variables - k - 1) >= variables + k + 1)
        ++k;
    return k;
}

constexpr ExtractionMethod kMethods[] = {
    {"pc", "principal components", true, ChiSquareSource::none, false, components, all_factors},
    {"pa", "principal axis factoring", false, ChiSquareSource::none, false, principal_axis, fewer_factors},
    {"ml", "maximum likelihood factor analysis", false, ChiSquareSource::likelihood, true, maximum_likelihood,
     identified_factors},
    {"minres", "minimum residual factor analysis", false, ChiSquareSource::model, true, minimum_residual,
     identified_factors},
    {"uls", "minimum residual factor analysis", false, ChiSquareSource::model, true, minimum_residual,
     identified_factors},
    {"wls", "weighted least squares factor analysis", false, ChiSquareSource::model, true, weighted_least_squares,
     identified_factors},
    {"gls", "generalized least squares factor analysis", false, ChiSquareSource::model, true, generalized_least_squares,
     identified_factors},
};

}  // namespace

const ExtractionMethod* find_extraction(std::string_view name)
{
    return find_named(std::span<const ExtractionMethod>(kMethods), name);
}
