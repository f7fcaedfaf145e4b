#include "fit/html_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "fit/fit_json.h"
#include "write/invocation_log.h"

namespace {

// printf into a string, of any length.
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...)
{
    va_list args, again;
    va_start(args, pattern);
    va_copy(again, args);
    char buffer[256];
    const int length = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    std::string text;
    if (length >= static_cast<int>(sizeof buffer)) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), pattern, again);
        text.pop_back();
    } else if (length > 0)
        text.assign(buffer, static_cast<std::size_t>(length));
    va_end(again);
    va_end(args);
    return text;
}

// A double as the JSON report writes it: the shortest text that reads back
// to the same bits, for the data-value attributes.
std::string exact(double value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Text as HTML holds it, in an element or in a quoted attribute, as valid
// UTF-8 as the JSON report has it.
std::string escaped(std::string_view text)
{
    std::string out;
    for (const char c : as_valid_utf8(text))
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    return out;
}

// A variable's label as the console table has it: its name, or its number.
std::string label(const FitSource& source, int i)
{
    return escaped(source.names.empty() ? std::to_string(i + 1) : source.names[static_cast<std::size_t>(i)]);
}

// The characters a box of the factor diagram has room for.
constexpr std::size_t kBoxCharacters = 26;

std::size_t characters(std::string_view utf8)
{
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// A label in a box of the factor diagram: a longer name is cut to end in an
// ellipsis, and shows whole as the box's tooltip.
std::string box_label(const FitSource& source, int i)
{
    if (source.names.empty())
        return label(source, i);
    const std::string name = as_valid_utf8(source.names[static_cast<std::size_t>(i)]);
    if (characters(name) <= kBoxCharacters)
        return escaped(name);
    // The bytes of the first kBoxCharacters - 1 characters; the ellipsis is the last.
    std::size_t end = 0;
    for (std::size_t kept = 0; kept < kBoxCharacters - 1;)
        kept += (name[++end] & 0xC0) != 0x80;
    return escaped(name.substr(0, end)) + "\u2026<title>" + escaped(name) + "</title>";
}

// The diverging scale of the loadings and correlations, blue for positive,
// red for negative, white at 0 (ColorBrewer's RdBu, read by every common
// form of colour blindness), `value` of magnitude `scale` at its ends.
std::string colour(double value, double scale)
{
    static constexpr std::array<unsigned, 11> kStops = {0x67001f, 0xb2182b, 0xd6604d, 0xf4a582, 0xfddbc7, 0xf7f7f7,
                                                        0xd1e5f0, 0x92c5de, 0x4393c3, 0x2166ac, 0x053061};
    const double t = std::isfinite(value) ? std::clamp((value / scale + 1) * 5, 0.0, 10.0) : 5.0;
    const auto low = std::min(static_cast<std::size_t>(t), std::size_t{9});
    const double f = t - static_cast<double>(low);
    int channel[3];
    for (int c = 0; c < 3; ++c) {
        const double a = (kStops[low] >> (16 - 8 * c)) & 255, b = (kStops[low + 1] >> (16 - 8 * c)) & 255;
        channel[c] = static_cast<int>(std::lround(a + f * (b - a)));
    }
    return format("#%02x%02x%02x", channel[0], channel[1], channel[2]);
}

// A heat map cell: the value printed as the console prints it on its
// colour, white text on the dark ends; faded below the cut.
std::string heat_cell(const char* kind, double value, double scale, int digits, bool faded)
{
    return format("<td class=\"%s%s%s\" data-value=\"%s\" style=\"background:%s\">%.*f</td>", kind,
                  std::abs(value) >= 0.6 * scale ? " dark" : "", faded ? " below" : "", exact(value).c_str(),
                  colour(value, scale).c_str(), digits, value);
}

// The drawing primitives of the figures.
struct Svg {
    std::string body;
    double width, height;

    void rect(double x, double y, double w, double h, const char* kind, const std::string& extra = "")
    {
        body += format("<rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"", kind, x, y,
                       std::max(0.0, w), std::max(0.0, h)) +
                extra + "/>\n";
    }
    void text(double x, double y, const std::string& content, const char* kind = "", const char* anchor = "middle")
    {
        body += format("<text class=\"%s\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\">", kind, x, y, anchor) + content +
                "</text>\n";
    }
    void line(double x1, double y1, double x2, double y2, const char* kind)
    {
        body += format("<line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", kind, x1, y1, x2, y2);
    }
    void path(const std::string& d, const char* kind, const std::string& extra = "")
    {
        body += format("<path class=\"%s\" d=\"", kind) + d + "\"" + extra + "/>\n";
    }
    std::string done(const std::string& title, const std::string& defs = "") const
    {
        return format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f "
                      "%.0f\" role=\"img\" aria-label=\"",
                      width, height, width, height) +
               escaped(title) + "\">" + defs + "\n" + body + "</svg>\n";
    }
};

// A step of 1, 2 or 5 times a power of ten that cuts `top` into about five.
double tick_step(double top)
{
    const double power = std::pow(10.0, std::floor(std::log10(top / 5)));
    for (const double m : {1.0, 2.0, 5.0})
        if (top / (m * power) <= 6)
            return m * power;
    return 10 * power;
}

const char kStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;color:#222;max-width:1200px;margin:1.5em auto;padding:0 1em}
h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.8em;border-bottom:1px solid #ccc}
table{border-collapse:collapse;margin:.6em 0;font-variant-numeric:tabular-nums}
td,th{padding:2px 8px;border:1px solid #ddd;text-align:right}th{background:#f3f3f3}
table.run td,table.run th{text-align:left}
td.loading,td.phi{min-width:3.2em}td.dark{color:#fff}td.below{opacity:.3}
figure{margin:.8em 0;width:min-content}.pair{display:flex;flex-wrap:wrap;gap:0 2em;align-items:flex-start}figcaption{font-size:.9em;color:#444}
svg text{font:12px system-ui,sans-serif;fill:#222}svg text.value{font-size:10px}
svg text.halo{paint-order:stroke;stroke:#fff;stroke-width:3px}
.bar.eigen{fill:#92c5de}.bar.eigen.kept{fill:#2166ac}.axis{stroke:#555}.grid{stroke:#e4e4e4}
.parallel{fill:none;stroke:#b2182b;stroke-width:1.5}.parallel.upper{stroke-dasharray:5 3}
.parallel.reduced{stroke:#e08214}.reduced-point{fill:#e08214}.chosen{stroke:#222;stroke-dasharray:2 3}
.kaiser{stroke:#777;stroke-dasharray:1 3}
.box{fill:#fff;stroke:#333}.factor{fill:#f7f7f7;stroke:#333}
.arrow{fill:none;stroke:#2166ac;stroke-width:1.2}.arrow.negative{stroke:#b2182b;stroke-dasharray:5 3}
.arrow.correlation{stroke:#555}.head{fill:#333}
.bar.communality{fill:#2166ac}.bar.uniqueness{fill:#d9d9d9}
@media print{body{max-width:none;margin:0}section{break-inside:avoid}}
)";

// The scree plot: a bar per eigenvalue of the matrix analysed, the kept
// ones dark, the line of eigenvalue 1 for a correlation matrix, parallel
// analysis's simulated means and 95th percentiles (of the components, and
// of the common factors beside the reduced matrix's eigenvalues) when it
// ran on these eigenvalues, and the number of factors marked.
std::string scree_plot(const Fit& result, bool covariance, const FactorReport& factors)
{
    const Eigen::VectorXd& values = result.eigenvalues;
    const auto n = static_cast<int>(values.size());
    const FactorCount& count = factors.count;
    std::vector<const ParallelAnalysis*> parallel;
    if (!covariance)
        for (const auto* analysis : {&count.parallel, &count.parallel_factors})
            if (*analysis)
                parallel.push_back(&**analysis);
    double top = std::max(values.maxCoeff(), 1.0);
    for (const ParallelAnalysis* analysis : parallel)
        top = std::max({top, analysis->observed.maxCoeff(), analysis->upper.size() ? analysis->upper.maxCoeff() : 0});
    const double left = 50, plot_top = 30, plot_height = 240, slot = std::clamp(480.0 / n, 4.0, 48.0);
    Svg svg{{}, left + slot * n + 20, plot_top + plot_height + 45};
    const double step = tick_step(top);
    top = std::ceil(top / step) * step;
    const auto y = [&](double v) { return plot_top + plot_height * (1 - std::max(v, 0.0) / top); };
    const auto x = [&](int s) { return left + slot * (s + 0.5); };
    for (double v = 0; v <= top + step / 2; v += step) {
        svg.line(left, y(v), svg.width - 20, y(v), "grid");
        svg.text(left - 6, y(v) + 4, format("%g", v), "", "end");
    }
    const int k = factors.settings.factors;
    for (int s = 0; s < n; ++s)
        svg.rect(left + slot * s + slot * 0.15, y(values[s]), slot * 0.7, y(0) - y(values[s]),
                 s < k ? "bar eigen kept" : "bar eigen", " data-value=\"" + exact(values[s]) + "\"");
    const int every = (n + 19) / 20;
    for (int s = 0; s < n; s += every)
        svg.text(x(s), y(0) + 16, std::to_string(s + 1));
    svg.line(left, y(0), svg.width - 20, y(0), "axis");
    svg.line(left, plot_top, left, y(0), "axis");
    svg.text(left + slot * n / 2, y(0) + 34, "component");
    if (!covariance && top >= 1)
        svg.line(left, y(1), svg.width - 20, y(1), "kaiser");
    const auto polyline = [&](const Eigen::VectorXd& v, const char* kind) {
        std::string d;
        for (int s = 0; s < v.size(); ++s)
            d += format("%s%.1f,%.1f", s ? "L" : "M", x(s), y(v[s]));
        svg.path(d, kind);
    };
    for (const ParallelAnalysis* analysis : parallel) {
        const bool reduced = analysis == &*count.parallel_factors;
        polyline(analysis->mean, reduced ? "parallel reduced mean" : "parallel mean");
        if (analysis->upper.size())
            polyline(analysis->upper, reduced ? "parallel reduced upper" : "parallel upper");
        if (reduced) {
            polyline(analysis->observed, "parallel reduced");
            for (int s = 0; s < n; ++s)
                svg.body += format("<circle class=\"reduced-point\" cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\"/>\n", x(s),
                                   y(analysis->observed[s]), std::min(3.0, slot / 3));
        }
    }
    svg.line(left + slot * k, plot_top - 8, left + slot * k, y(0), "chosen");
    svg.text(left + slot * k + (2 * k > n ? -4 : 4), plot_top - 12, format("%d factor%s kept", k, k == 1 ? "" : "s"),
             "", 2 * k > n ? "end" : "start");
    return svg.done("scree plot of the eigenvalues");
}

// The scree plot's numbers: the console's eigenvalue table and beside it
// what parallel analysis compared (with --quantile other than 0.95, also
// that quantile).
std::string scree_table(const Fit& result, bool covariance, const FactorReport& factors)
{
    const FactorCount& count = factors.count;
    std::string html = "<table class=\"numbers\"><tr><th>component</th><th>eigenvalue</th><th>% of variance</th>"
                       "<th>cumulative %</th>";
    if (covariance)
        html += "<th>eigenvalue of the correlation matrix</th>";
    const bool quantile = count.quantile > 0 && count.quantile != 0.95;
    const auto compared = [&](const char* which) {
        return quantile ? format("<th>parallel%s: %g quantile</th>", which, count.quantile) : std::string();
    };
    if (count.parallel)
        html += "<th>parallel: mean</th><th>parallel: 95th percentile</th>" + compared("");
    if (count.parallel_factors)
        html += "<th>reduced matrix</th><th>parallel (reduced): mean</th><th>parallel (reduced): 95th "
                "percentile</th>" +
                compared(" (reduced)");
    html += "</tr>\n";
    const double total = result.eigenvalues.sum();
    double cumulative = 0;
    const auto cell = [](const Eigen::VectorXd& v, Eigen::Index s) {
        return s < v.size() ? format("<td>%.6g</td>", v[s]) : std::string("<td>-</td>");
    };
    for (Eigen::Index s = 0; s < result.eigenvalues.size(); ++s) {
        cumulative += result.eigenvalues[s];
        html += format("<tr><td>%d</td><td>%.6g</td><td>%.2f</td><td>%.2f</td>", static_cast<int>(s + 1),
                       result.eigenvalues[s], 100 * result.eigenvalues[s] / total, 100 * cumulative / total);
        if (covariance)
            html += cell(result.correlation_eigenvalues, s);
        if (count.parallel)
            html += cell(count.parallel->mean, s) + cell(count.parallel->upper, s) +
                    (quantile ? cell(count.parallel->simulated, s) : "");
        if (count.parallel_factors)
            html += cell(count.parallel_factors->observed, s) + cell(count.parallel_factors->mean, s) +
                    cell(count.parallel_factors->upper, s) +
                    (quantile ? cell(count.parallel_factors->simulated, s) : "");
        html += "</tr>\n";
    }
    return html + "</table>\n";
}

// The colour scale's legend, from -scale to scale.
std::string legend(double scale, double cut)
{
    Svg svg{{}, 360, 46};
    std::string defs = "<defs><linearGradient id=\"scale\">";
    for (int i = 0; i <= 10; ++i)
        defs += format("<stop offset=\"%d%%\" stop-color=\"%s\"/>", 10 * i, colour(scale * (i - 5) / 5, scale).c_str());
    defs += "</linearGradient></defs>";
    svg.rect(30, 6, 300, 16, "legend", " fill=\"url(#scale)\"");
    for (int i = 0; i <= 4; ++i)
        svg.text(30 + 75 * i, 38, format("%.3g", scale * (i - 2) / 2));
    std::string text = svg.done("colour scale from " + format("%g", -scale) + " to " + format("%g", scale), defs);
    if (cut > 0)
        text += format("<p>Loadings of magnitude below %g are faded.</p>\n", cut);
    return text;
}

// The loadings as a heat map: the console's table (its order, cut and
// digits) with each cell on its colour.
std::string loadings_map(const FitSource& source, const FactorReport& factors, const std::vector<int>& order,
                         double scale)
{
    const FactorSolution& f = factors.solution;
    const Eigen::MatrixXd& pattern = f.rotation.pattern;
    const auto k = static_cast<int>(pattern.cols());
    std::string html = "<table class=\"heat loadings\"><tr><th>variable</th>";
    for (int s = 0; s < k; ++s)
        html += format("<th>F%d</th>", s + 1);
    html += "<th>communality</th><th>uniqueness</th></tr>\n";
    for (const int i : order) {
        html += "<tr><th>" + label(source, i) + "</th>";
        for (int s = 0; s < k; ++s)
            html += heat_cell("loading", pattern(i, s), scale, 3, below_cut(pattern(i, s), factors.cut));
        html += format("<td>%.3f</td><td>%.3f</td></tr>\n", f.communalities[i], f.uniquenesses[i]);
    }
    return html + "</table>\n";
}

// The factor correlations of an oblique rotation as a heat map.
std::string correlation_map(const FactorReport& factors)
{
    if (!factors.settings.rotation->oblique)
        return "";
    const Eigen::MatrixXd& phi = factors.solution.rotation.phi;
    const auto k = static_cast<int>(phi.cols());
    std::string html = "<h3>Factor correlations</h3>\n<table class=\"heat correlations\"><tr><th>factor</th>";
    for (int s = 0; s < k; ++s)
        html += format("<th>F%d</th>", s + 1);
    html += "</tr>\n";
    for (int r = 0; r < k; ++r) {
        html += format("<tr><th>F%d</th>", r + 1);
        for (int s = 0; s < k; ++s)
            html += heat_cell("phi", phi(r, s), 1, 3, false);
        html += "</tr>\n";
    }
    return html + "</table>\n";
}

// The factor diagram: the variables in the loadings table's order in boxes
// on the left, the factors on the right, each beside the variables that
// load on it most, an arrow from a factor to a variable for each loading
// at or above the cut (red and dashed when negative) with its value, and
// for an oblique rotation a curved arrow between two factors for each
// correlation at or above it; `numbers` gets the table of the arrows.
std::string factor_diagram(const FitSource& source, const FactorReport& factors, const std::vector<int>& order,
                           double cut, std::string& numbers)
{
    const Eigen::MatrixXd& pattern = factors.solution.rotation.pattern;
    const Eigen::MatrixXd& phi = factors.solution.rotation.phi;
    const auto k = static_cast<int>(pattern.cols());
    const auto p = static_cast<int>(order.size());
    std::size_t longest = 4;
    for (int i = 0; i < p && !source.names.empty(); ++i)
        longest = std::max(longest, std::min(characters(as_valid_utf8(source.names[i])), kBoxCharacters));
    const double row = 26, box = std::min(7.0 * static_cast<double>(longest) + 16, 200.0), rx = 30, ry = 16;
    const double fx = box + 260;
    std::vector<double> vy(p), fy(k, 0);
    std::vector<int> members(k, 0);
    for (int r = 0; r < p; ++r) {
        Eigen::Index most;
        pattern.row(order[r]).cwiseAbs().maxCoeff(&most);
        vy[order[r]] = 20 + row * r + row / 2;
        fy[most] += vy[order[r]];
        ++members[most];
    }
    // Each factor at the middle of its variables, no nearer than its height
    // to the one above.
    double last = 0;
    for (int s = 0; s < k; ++s) {
        fy[s] = std::max(members[s] ? fy[s] / members[s] : last + 3 * ry, s ? last + 2 * ry + 14 : 20 + ry);
        last = fy[s];
    }
    Svg svg{{}, fx + rx + 40 + 22.0 * k, std::max(40 + row * p, last + ry + 20)};
    const std::string defs = "<defs><marker id=\"head\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"7\" "
                             "markerHeight=\"7\" orient=\"auto-start-reverse\"><path class=\"head\" "
                             "d=\"M0,0L10,5L0,10z\"/></marker></defs>";
    numbers = "<table class=\"numbers\"><tr><th>from</th><th>to</th><th>value</th></tr>\n";
    for (const int i : order) {
        svg.rect(10, vy[i] - 10, box, 20, "box");
        svg.text(10 + box / 2, vy[i] + 4, box_label(source, i));
    }
    for (int s = 0; s < k; ++s)
        for (const int i : order)
            if (!below_cut(pattern(i, s), cut)) {
                const double x1 = fx - rx, y1 = fy[s], x2 = 10 + box, y2 = vy[i];
                svg.path(format("M%.1f,%.1fL%.1f,%.1f", x1, y1, x2, y2),
                         pattern(i, s) < 0 ? "arrow loading negative" : "arrow loading",
                         " marker-end=\"url(#head)\" data-value=\"" + exact(pattern(i, s)) + "\"");
                svg.text(x2 + 0.3 * (x1 - x2), y2 + 0.3 * (y1 - y2) + 3, format("%.2f", pattern(i, s)), "value halo");
                numbers += format("<tr><td>F%d</td><td>", s + 1) + label(source, i) +
                           format("</td><td>%.3f</td></tr>\n", pattern(i, s));
            }
    if (factors.settings.rotation->oblique)
        for (int s = 0; s < k; ++s)
            for (int t = s + 1; t < k; ++t)
                if (!below_cut(phi(s, t), cut)) {
                    const double x = fx + rx, bend = x + 30 + 22.0 * (t - s), mid = (fy[s] + fy[t]) / 2;
                    svg.path(format("M%.1f,%.1fQ%.1f,%.1f %.1f,%.1f", x, fy[s], bend, mid, x, fy[t]),
                             "arrow correlation",
                             " marker-start=\"url(#head)\" marker-end=\"url(#head)\" data-value=\"" + exact(phi(s, t)) +
                                 "\"");
                    svg.text((x + bend) / 2 + 2, mid + 4, format("%.2f", phi(s, t)), "value halo", "start");
                    numbers += format("<tr><td>F%d</td><td>F%d</td><td>%.3f</td></tr>\n", s + 1, t + 1, phi(s, t));
                }
    for (int s = 0; s < k; ++s) {
        svg.body +=
            format("<ellipse class=\"factor\" cx=\"%.1f\" cy=\"%.1f\" rx=\"%.0f\" ry=\"%.0f\"/>\n", fx, fy[s], rx, ry);
        svg.text(fx, fy[s] + 4, format("F%d", s + 1));
    }
    numbers += "</table>\n";
    return svg.done("factor diagram", defs);
}

// Each variable's communality and uniqueness as the two parts of a bar,
// in the loadings table's order; `numbers` gets their table, with each
// variable's complexity and KMO.
std::string communality_bars(const FitSource& source, const FactorReport& factors, const std::vector<int>& order,
                             std::string& numbers)
{
    const FactorSolution& f = factors.solution;
    const auto p = static_cast<int>(order.size());
    double top = 1;
    for (int i = 0; i < p; ++i)
        top = std::max(top, std::max(f.communalities[i], 0.0) + std::max(f.uniquenesses[i], 0.0));
    const double left = 210, width = 420, row = 18;
    Svg svg{{}, left + width + 20, 30 + row * p};
    numbers = "<table class=\"numbers\"><tr><th>variable</th><th>communality</th><th>uniqueness</th>"
              "<th>complexity</th><th>KMO</th></tr>\n";
    for (int r = 0; r < p; ++r) {
        const int i = order[r];
        const double c = std::max(f.communalities[i], 0.0) / top * width, y = 10 + row * r;
        svg.text(left - 6, y + 12, label(source, i), "", "end");
        svg.rect(left, y, c, row - 4, "bar communality", " data-value=\"" + exact(f.communalities[i]) + "\"");
        svg.rect(left + c, y, std::max(f.uniquenesses[i], 0.0) / top * width, row - 4, "bar uniqueness",
                 " data-value=\"" + exact(f.uniquenesses[i]) + "\"");
        numbers += "<tr><th>" + label(source, i) +
                   format("</th><td>%.3f</td><td>%.3f</td><td>%.2f</td><td>%.3f</td></tr>\n", f.communalities[i],
                          f.uniquenesses[i], factors.residual.complexity[i], factors.kmo.variables[i]);
    }
    numbers += "</table>\n";
    return svg.done("communalities and uniquenesses");
}

// How the number of factors was chosen, in words.
std::string chosen_count(const FactorReport& factors, const FactorCountRule* rule)
{
    const FactorCount& count = factors.count;
    const int k = factors.settings.factors;
    std::string text = std::to_string(k) + ": ";
    if (rule == given_factor_count())
        return text + "given (-k)";
    if (count.map)
        return text +
               format("the minimum average partial (MAP) over 1 to %d components", int(count.map->values.size()));
    if (count.parallel || count.parallel_factors)
        return text +
               format("parallel analysis, observed eigenvalues above the %s of %d simulated data sets (seed %llu)",
                      count.quantile > 0 ? format("%g quantile", count.quantile).c_str() : "mean", count.replicates,
                      static_cast<unsigned long long>(count.seed));
    return text + "eigenvalues of the correlation matrix of at least 1 (Kaiser)";
}

std::string row(const char* head, const std::string& value)
{
    return std::string("<tr><th>") + head + "</th><td>" + value + "</td></tr>\n";
}

}  // namespace

std::string html_report(const Fit& result, bool covariance, const FitSource& source, const FactorReport& factors,
                        const ReportRun& run)
{
    const FactorSettings& s = factors.settings;
    const FactorSolution& f = factors.solution;
    const std::vector<int> order = sorted_variables(f.rotation.pattern);
    const auto p = static_cast<int>(result.eigenvalues.size());
    std::string files;
    for (const std::string& file : source.files) {
        if (!files.empty())
            files += ' ';
        files += escaped(escaped_word(file));
    }
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>scorix-fit: " + files +
        "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>Factor analysis of " + files + "</h1>\n";

    html += "<section id=\"run\">\n<h2>The run</h2>\n<table class=\"run\">\n";
    html += row("command", "<code>" + escaped(run.command) + "</code>");
    html += row("data", files);
    html += row(source.matrix.empty() ? "rows used" : "observations (--rows)", std::to_string(source.rows));
    if (!source.matrix.empty())
        html += row("input", escaped(source.matrix) + " matrix");
    if (source.dropped)
        html += row("rows left out", std::to_string(*source.dropped) + " (a missing value)");
    if (source.pairs)
        html += row("missing values", escaped(pairs_note(source)));
    if (source.ordinal)
        html += row("correlations", escaped(ordinal_note(source)));
    std::string names;
    for (int i = 0; i < p; ++i) {
        if (i)
            names += ", ";
        names += label(source, i);
    }
    html += row("variables", std::to_string(p) + (source.names.empty() ? " (numbered, no names)" : ": " + names));
    html += row("method", escaped(method_description(result, covariance, &factors)));
    html += row("extraction", escaped(s.method->description));
    html += row("rotation", escaped(s.rotation->description));
    html += row("score type", escaped(s.scores->description));
    html += row("factors", escaped(chosen_count(factors, run.rule)));
    html += "</table>\n</section>\n";

    html += "<section id=\"scree\">\n<h2>Eigenvalues</h2>\n<div class=\"pair\">\n<figure>\n" +
            scree_plot(result, covariance, factors) + "<figcaption>Scree plot: a bar per eigenvalue of the " +
            (covariance ? "covariance" : "correlation") +
            " matrix, the factors kept in dark blue and marked by the dotted line";
    if (!covariance)
        html += "; the grey dotted line is eigenvalue 1";
    if (!covariance && (factors.count.parallel || factors.count.parallel_factors))
        html += "; red lines: parallel analysis of the components, the simulated mean (solid) and 95th percentile "
                "(dashed); orange: the same for the common factors beside the reduced matrix's eigenvalues (dots)";
    html += ".</figcaption>\n</figure>\n" + scree_table(result, covariance, factors) + "</div>\n";
    if (factors.count.map) {
        html += "<table class=\"numbers\"><tr><th>components</th><th>MAP</th></tr>\n";
        for (Eigen::Index m = 0; m < factors.count.map->values.size(); ++m)
            html +=
                format("<tr><td>%d</td><td>%.6g</td></tr>\n", static_cast<int>(m + 1), factors.count.map->values[m]);
        html += "</table>\n";
    }
    html += "</section>\n";

    const Eigen::VectorXd variance = factor_variance(result, factors);
    const double total = result.eigenvalues.sum();
    const double scale = covariance ? std::max(f.rotation.pattern.cwiseAbs().maxCoeff(), 1e-300) : 1.0;
    html += format("<section id=\"loadings\">\n<h2>Loadings%s</h2>\n", s.rotation->oblique ? " (pattern)" : "") +
            legend(scale, factors.cut) +
            "<p>Variables grouped by the factor they load on most, largest first.</p>\n<div class=\"pair\">\n" +
            loadings_map(source, factors, order, scale) +
            "<div>\n<h3>Variance explained</h3>\n<table class=\"numbers\"><tr><th>factor</th><th>variance</th><th>% of "
            "variance</th></tr>\n";
    for (Eigen::Index t = 0; t < variance.size(); ++t)
        html += format("<tr><td>F%d</td><td>%.6g</td><td>%.2f</td></tr>\n", static_cast<int>(t + 1), variance[t],
                       100 * variance[t] / total);
    html += "</table>\n" + correlation_map(factors) + "</div>\n</div>\n</section>\n";

    // Without a cut every loading would have its arrow: the diagram then
    // draws those of at least 0.3, as psych's fa.diagram does.
    const double cut = factors.cut > 0 ? factors.cut : 0.3;
    std::string numbers;
    html += "<section id=\"diagram\">\n<h2>Factor diagram</h2>\n<div class=\"pair\">\n<figure>\n" +
            factor_diagram(source, factors, order, cut, numbers) +
            format("<figcaption>An arrow from a factor to a variable for each loading of magnitude %g or more "
                   "(negative: red, dashed)%s.</figcaption>\n</figure>\n",
                   cut, s.rotation->oblique ? "; curved arrows: the factor correlations of that size" : "") +
            numbers + "</div>\n</section>\n";

    html += "<section id=\"communalities\">\n<h2>Communalities and uniquenesses</h2>\n<div class=\"pair\">\n"
            "<figure>\n" +
            communality_bars(source, factors, order, numbers) +
            "<figcaption>Each variable's variance: the part the factors explain (communality, blue) and the rest "
            "(uniqueness, grey).</figcaption>\n</figure>\n" +
            numbers + "</div>\n</section>\n";

    html += "<section id=\"fit\">\n<h2>Adequacy and fit</h2>\n<table class=\"run\">\n";
    html += row("KMO", format("%.3f (sampling adequacy; each variable's in the table above)", factors.kmo.overall));
    html += row("Bartlett's sphericity", format("chi2 %.6g, df %g, p %.3g", factors.sphericity.chi2,
                                                factors.sphericity.df, factors.sphericity.p));
    html += row("RMSR", format("%.4g (root mean square of the residual correlations)", factors.residual.rmsr));
    if (const std::optional<ModelFit>& m = factors.fit)
        html += row("model fit", format("chi2 %.6g, df %g, p %.3g, RMSEA %.4g (90%% interval %.4g to %.4g), TLI "
                                        "%.4g, BIC %.6g",
                                        m->test.chi2, m->test.df, m->test.p, m->rmsea, m->rmsea_lower, m->rmsea_upper,
                                        m->tli, m->bic));
    html += row("converged", std::string(f.extraction.converged ? "extraction: yes" : "extraction: no") +
                                 (f.rotation.converged ? ", rotation: yes" : ", rotation: no"));
    html += "</table>\n";
    // How well the scores estimate the factors; a type that cannot weight
    // this solution is left out.
    html += "<table class=\"numbers\"><tr><th>scores</th>";
    for (int t = 0; t < s.factors; ++t)
        html += format("<th>F%d</th>", t + 1);
    html += "</tr>\n";
    for (const ScoreMethod& scores : score_methods())
        try {
            const Eigen::VectorXd r = score_validity(result.analysed, f, scores.weights(result.analysed, f));
            html += "<tr><th>" + escaped(scores.description) + (&scores == s.scores ? " (used)" : "") + "</th>";
            for (Eigen::Index t = 0; t < r.size(); ++t)
                html += format("<td>%.3f</td>", r[t]);
            html += "</tr>\n";
        } catch (const FitError&) {
        }
    html += "</table>\n<p>The correlation of each factor with its score; for regression scores it is the "
            "determinacy.</p>\n</section>\n";

    if (!factors.scales.empty()) {
        html += "<section id=\"reliability\">\n<h2>Reliability</h2>\n<table class=\"numbers\"><tr><th>scale</th>"
                "<th>items</th><th>alpha</th><th>std alpha</th><th>lambda 6</th><th>omega h</th><th>omega t</th>"
                "<th>factors</th></tr>\n";
        for (std::size_t t = 0; t < factors.scales.size(); ++t) {
            const ScaleReliability& v = factors.reliability[t];
            html += "<tr><th>" + escaped(factors.scales[t].name) +
                    format("</th><td>%d</td><td>%.3f</td><td>%.3f</td><td>%.3f</td>",
                           static_cast<int>(factors.scales[t].items.size()), v.alpha, v.std_alpha, v.lambda6) +
                    (v.omega_factors > 0 ? format("<td>%.3f</td><td>%.3f</td><td>%d</td>", v.omega_hierarchical,
                                                  v.omega_total, v.omega_factors)
                                         : std::string("<td>-</td><td>-</td><td>0</td>")) +
                    "</tr>\n";
        }
        html += "</table>\n</section>\n";
    }
    return html + "</body>\n</html>\n";
}
