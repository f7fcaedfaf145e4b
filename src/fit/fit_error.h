// The one failure of scorix-fit's fitting modules: a fit that cannot be made
// from the data (too few rows, a singular matrix, a method that does not
// converge), told to the user with its text and exit status 1.
#pragma once

#include <stdexcept>

// A fit that cannot be made from the data; the text says why.
struct FitError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
