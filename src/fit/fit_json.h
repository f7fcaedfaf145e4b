// scorix-fit's report as one JSON document (--json): the fit, the factor
// model and the figures that judge it, matrices as arrays of rows (rows are
// variables, columns factors). Written with the JSON library of nlohmann-json3-dev.
#pragma once

#include <string>
#include <string_view>

#include "fit/fit_report.h"

std::string json_report(const Fit& result, bool covariance, const FitSource& source, const FactorReport& factors);

// Text as the report holds it: a byte that is not part of a UTF-8 character
// becomes U+FFFD (a name in Latin-1, say). The web page takes its text so too.
std::string as_valid_utf8(std::string_view text);
