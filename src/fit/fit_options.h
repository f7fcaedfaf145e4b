// scorix-fit's command line: the options of a run as one plain record, the
// help text, and the parsing that fills the record or rejects the line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/progress.h"
#include "fit/correlation.h"
#include "fit/factor_analysis.h"
#include "fit/factor_count.h"
#include "fit/reliability.h"
#include "read/table_format.h"

// A command line that cannot be run; the text says why.
struct UsageError {
    std::string text;
};

struct Options {
    bool covariance = false;            // --covariance: the covariance matrix, not the correlation matrix
    int factors = 0;                    // -k with a number
    std::optional<std::string> output;  // -o; "-" is standard output
    bool quiet = false;                 // -q: no table
    std::vector<std::string> files;     // the data files, in order
    const ExtractionMethod* method = find_extraction("pc");
    const RotationMethod* rotation = find_rotation("none");
    const ScoreMethod* scores = find_scores("regression");
    const FactorCountRule* rule = find_factor_count("kaiser");  // -k; a number: factors
    RotationSettings rotation_settings;                         // --target is read into it
    std::optional<std::string> target;                          // --target
    int replicates = 100;                                       // --replicates
    std::uint64_t seed = 1;                                     // --seed
    std::optional<std::string> json;                            // --json; "-" is standard output
    std::optional<std::string> report;                          // --report: the web page
    TableFormat format;                                         // --csv, --header, ...
    bool drop_incomplete = false;                               // --drop-incomplete
    bool pairwise = false;                                      // --missing=pairwise
    const ParallelKind* parallel = find_parallel("pc");         // --parallel
    double quantile = 0;                                        // --quantile; 0: the mean
    double cut = 0;                                             // --cut: the console table blanks smaller loadings
    long long skip = 0;                                         // --skip: lines passed over at the start of each file
    std::optional<std::string> columns;                         // --columns: the variables' fields
    const char* input = "data";                                 // --input: data, correlation or covariance
    long long rows = 0;                                         // --rows: the observations behind a matrix
    std::optional<std::string> mean, std;                       // --mean, --std: files of a matrix's figures

    // The data file holds a correlation or covariance matrix, not rows.
    bool matrix_input() const { return std::string_view(input) != "data"; }
    const CorrelationType* cor = find_correlation("pearson");  // --cor
    CorrelationSettings correlation;                           // --no-smooth
    std::vector<ScaleWords> scales;                            // --reliability, --scale: in the order given
    std::optional<std::string> moments;  // --moments: write the rows' streamed state there instead of fitting
    ProgressMode progress = ProgressMode::automatic;  // --progress, --no-progress

    // The plain components, or their varimax: the coefficients of earlier
    // versions, byte for byte, by the components' orientation policy
    // (turn_components).
    bool components_only() const
    {
        return method->components && scores->component_coefficients && rotation->component_coefficients &&
               rule->components;
    }
};

// The options of the command line. Returns nothing when --help or --version
// has been answered (on standard output); throws UsageError for a line that
// cannot be run, FitError for a target file that cannot be read.
std::optional<Options> parse_options(int argc, char** argv);
