// What scorix-fit writes: the text of the coefficient file (comment lines
// with the method, the eigenvalues and the loadings, then the sections that
// scorix reads, every number with 17 significant digits) and the console
// table of the eigenvalues.
#pragma once

#include <string>
#include <vector>

#include "statistics.h"

// Where a fit came from, for the comment lines.
struct FitSource {
    std::vector<std::string> files;
    long long rows = 0;
};

std::string coefficient_text(const Fit& result, const FitOptions& options, const FitSource& source);

// Component, eigenvalue, % of variance and cumulative %, one line each.
std::string eigenvalue_table(const Fit& result, const FitOptions& options, const FitSource& source);
