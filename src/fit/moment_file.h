// Moment files: what a pass of scorix-fit over data files gathered (the
// moments, pair moments or contingency tables, with the variables' names
// and the reading options that shaped them), written by --moments=FILE so
// that the rows of many files, on many hosts, are fit by one later run
// that merges the files in order. A text file: the line "scorix-moments 1",
// keyed lines with every double in hexadecimal floating point (read back to
// the same bits), and a last line "end" with a checksum of the lines before
// it. doc/scorix-fit.1 (FILES) describes each line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fit/fit_input.h"
#include "fit/fit_options.h"

// What shapes the state of a moment file, besides the variables: files
// that differ here do not merge.
struct MomentSettings {
    std::string reading;               // the table format, --columns and --skip, as words
    std::string cor = "pearson";       // a type that counts tables, or pearson (co-moments alone)
    std::string missing = "complete";  // complete, listwise (--drop-incomplete) or pairwise
    int max_categories = 0;            // --max-categories (0: the type's own)
    std::optional<std::string> ordinal;
    bool operator==(const MomentSettings&) const = default;
};

// The settings that the reading options of `options` give.
MomentSettings moment_settings(const Options& options);
// The settings as a message shows them.
std::string settings_text(const MomentSettings& settings);
// Sets the options that a fit of a moment file of `settings` takes from it.
void use_moment_settings(Options& options, const MomentSettings& settings);

struct MomentFile {
    std::vector<std::string> data;  // the files whose rows it holds
    MomentSettings settings;
    int variables = 0;  // 0: the files had no data rows
    std::vector<std::string> names;
    Streamed state;
};

// Whether the file at `path` starts as a moment file (standard input, a
// file that cannot be opened: no).
bool is_moment_file(const std::string& path);
// The text of a moment file.
std::string moment_text(const MomentFile& file);
// Reads the moment file at `path`. Throws FitError naming the file and its
// line for a file that cannot be read, is cut short or damaged.
MomentFile read_moment_file(const std::string& path);
