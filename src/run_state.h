// The one run-wide record: the settings from the command line and what the
// run has loaded. Every module reads and writes it under these names.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "row_matrix.h"
#include "table_format.h"

// Defaults of the command line: the extension of output names (which the
// inverse turns into ".tad") and the number of scores written.
inline constexpr const char* kDefaultExtension = ".sco";
inline constexpr int kDefaultScores = 3;

// One include flag per column: 1 = read, 0 = read as 0.
using ScoreSelection = std::vector<int>;

struct RunState {
    std::optional<std::string> fscname;       // path of the coefficient file (-f)
    std::optional<std::vector<double>> std;   // standard deviation per variable
    std::optional<std::vector<double>> mean;  // mean per variable; may stay absent
    std::optional<std::vector<double>> fsc;   // datacols x datacols coefficients, row-major
    RowMatrix data;                           // the current block of a data file's rows
    RowMatrix result;                         // output rows of the current block
    std::optional<ScoreSelection> readflag;   // include flag per column
    std::optional<std::string> flagline;      // the -b list as given
    int datarows = 0;                         // rows in the current block
    int datacols = 0;                         // number of variables
    int scores = kDefaultScores;              // score columns written; -1 = all
    int add_mean_to_output = 1;               // inverse: add the means back
    int sub_mean_from_input = 1;              // forward: subtract the means
    int reverse = 0;                          // inverse transform (-i)
    int global = 0;                           // smallest std for every variable (-g)
    int allow_fewer_scores = 1;               // short data rows are zero-filled
    int quiet = 0;                            // one-line console summary (-q)
    int debug = 0;                            // step traces and matrix dump (--debug)
    int more = 0;                             // print help directly (--more)
    std::string EXT = kDefaultExtension;      // extension of output names
    TableFormat format;                       // how data rows are written (--csv, --header, ...)
    std::optional<std::vector<std::string>> names;  // the variables' names in the coefficient file
};
