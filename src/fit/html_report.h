// scorix-fit's report as one web page (--report): the run, the scree plot,
// the loadings as a heat map, the factor diagram, the communalities and the
// figures that judge the fit, each figure inline SVG or a coloured table with
// its numbers in a table, taken from the records the console table and the
// JSON report print. No script and nothing fetched: the page reads offline
// and prints.
#pragma once

#include <string>

#include "fit/factor_count.h"
#include "fit/fit_report.h"

// What the page says of the run beyond its results.
struct ReportRun {
    std::string command;          // the command line, its odd words escaped as the log line has them
    const FactorCountRule* rule;  // -k
};

std::string html_report(const Fit& result, bool covariance, const FitSource& source, const FactorReport& factors,
                        const ReportRun& run);
