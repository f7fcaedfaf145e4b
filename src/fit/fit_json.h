// scorix-fit's report as one JSON document (--json): the fit, the factor
// model and the figures that judge it, matrices as arrays of rows (rows are
// variables, columns factors). Written with the JSON library of nlohmann-json3-dev.
#pragma once

#include <string>

#include "fit/fit_report.h"

std::string json_report(const Fit& result, bool covariance, const FitSource& source, const FactorReport& factors);
