// Each rotation criterion of the table against GPArotation's vgQ functions,
// and its gradient against central differences of its value.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "fit/rotation.h"

namespace {

TEST(Rotation, CriteriaMatchRAndTheirGradientsMatchCentralDifferences)
{
    Eigen::MatrixXd l(5, 3);
    l << 0.8, 0.1, -0.3, 0.7, 0.3, 0.2, 0.6, -0.4, 0.5, 0.1, 0.9, 0.1, -0.2, 0.5, 0.6;
    const struct {
        const char* name;
        double gamma;  // or geomin's delta
        double value;  // GPArotation:::vgQ.NAME(L, gam = gamma)$f, vgQ.geomin(L, delta = gamma)$f
    } cases[] = {
        {"quartimax", 0, -0.43382500000000007}, {"oblimin", 0, 0.22525000000000001},
        {"oblimin", 0.5, 0.016360000000000013}, {"geominT", 0.01, 0.73645716314210807},
        {"geominQ", 0.5, 3.5350247784612652},   {"equamax", 0, 0.37826499999999996},  // vgQ.cf(L, kappa = 3 / 10)
        {"bentlerT", 0, 0.094662807287678508},  {"bentlerQ", 0, 0.094662807287678508},
        {"targetT", 0, 1.4100000000000001},  // vgQ.target(L, round(L))
        {"targetQ", 0, 1.4100000000000001}};
    std::set<std::string> checked;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " gamma " << c.gamma);
        const CriterionFunction criterion = find_rotation(c.name)->criterion;
        RotationSettings settings;
        settings.oblimin_gamma = settings.geomin_delta = c.gamma;
        settings.target = l.array().round();
        settings.target(2, 2) = 0;  // R rounds 0.5 to even
        const Criterion at = criterion(l, settings);
        EXPECT_NEAR(at.value, c.value, 1e-15);
        constexpr double h = 1e-6;
        for (Eigen::Index i = 0; i < l.size(); ++i) {
            Eigen::MatrixXd up = l, down = l;
            up(i) += h;
            down(i) -= h;
            EXPECT_NEAR(at.gradient(i), (criterion(up, settings).value - criterion(down, settings).value) / (2 * h),
                        1e-9)
                << "entry " << i;
        }
        checked.insert(c.name);
    }
    for (const RotationMethod& method : rotation_methods())
        EXPECT_EQ(checked.count(method.name), method.criterion != nullptr) << method.name << " has no case here";
}

}  // namespace
