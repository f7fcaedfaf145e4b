// The one run-wide record, in two parts with one owner each: the settings
// as the command line gave them (the driver's; read-only once the run is set
// up) and the coefficients as loaded and checked (the coefficient file's and
// the score selection's). What belongs to one data file (its reader, its
// blocks of rows in flight) lives as long as that file's processing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "read/table_format.h"

// Defaults of the command line: the extension of output names (which the
// inverse turns into ".tad") and the number of scores written.
inline constexpr const char* kDefaultExtension = ".sco";
inline constexpr int kDefaultScores = 3;

// One include flag per column: 1 = read, 0 = read as 0.
using ScoreSelection = std::vector<int>;

struct RunOptions {
    std::optional<std::string> fscname;   // path of the coefficient file (-f)
    std::optional<std::string> flagline;  // the -b list as given
    int scores = kDefaultScores;          // score columns written; -1 = all (at most the variables once loaded)
    int add_mean_to_output = 1;           // inverse: add the means back
    int sub_mean_from_input = 1;          // forward: subtract the means
    int reverse = 0;                      // inverse transform (-i)
    int global = 0;                       // smallest std for every variable (-g)
    int allow_fewer_scores = 1;           // short data rows are zero-filled
    int quiet = 0;                        // one-line console summary (-q)
    int debug = 0;                        // step traces and matrix dump (--debug)
    int more = 0;                         // print help directly (--more)
    int progress = -1;                    // progress line: 1 always, 0 never, -1 on a terminal
    std::string EXT = kDefaultExtension;  // extension of output names
    TableFormat format;                   // how data rows are read and written (--csv, --header, ...)
};

struct Coefficients {
    std::optional<std::vector<double>> std;         // standard deviation per variable
    std::optional<std::vector<double>> mean;        // mean per variable; may stay absent
    std::optional<std::vector<double>> fsc;         // datacols x datacols coefficients, row-major
    int datacols = 0;                               // number of variables
    std::optional<ScoreSelection> readflag;         // include flag per column, from the -b list
    std::optional<std::vector<std::string>> names;  // the variables' names, when the file gives them
};

struct RunState {
    RunOptions options;
    Coefficients coefficients;
};
