// The reading of a row of a table as people keep them, for both programs:
// fields separated by white space or by one delimiter byte (quoted as
// RFC 4180 has it), a header line of names, label fields that are carried
// along rather than read, the tokens that stand for a missing value, and
// decimal commas. What a number is stays with the number scanner
// (number_scanner.h): each field goes to it whole, and a field is a number
// when the scanner takes all of it but white space around it.
#pragma once

#include <getopt.h>

#include <string>
#include <string_view>
#include <vector>

#include "read/text_input.h"

// How the rows of a data file are written. Unless `table` is set the data
// files are read as runs of numbers (readline) and nothing here is used.
struct TableFormat {
    bool table = false;                 // one of the options below was given
    char delimiter = 0;                 // 0: runs of white space separate fields
    char decimal = '.';                 // ',': decimal commas
    bool header = false;                // the first line that is not a comment holds names
    std::vector<int> labels;            // label fields, numbered from 0, increasing
    std::vector<int> columns;           // or the value fields (the others are labels), from 0, increasing
    std::vector<std::string> na{"NA"};  // tokens of a missing value

    bool is_label(int field) const;
    // The separator of the fields written: the delimiter, or a blank.
    char separator() const { return delimiter ? delimiter : ' '; }
};

// The long options both programs take for it; their codes are
// kTableOptionCodes and up.
inline constexpr int kTableOptionCodes = 0x200;
extern const option kTableOptions[6];

// Applies the table option `code` with its argument; returns "" or what is
// wrong with the argument.
std::string apply_table_option(TableFormat& format, int code, const char* argument);

// Chooses the value fields of `format` (its `columns`) by `list`, items
// separated by commas: a position (from 1), a name of `names` (the name of
// each field of the rows, when they have names), or a range of either,
// first-last. The rows have `fields` fields. Returns "" or what is wrong: an
// unknown name, a position beyond the fields, a range that runs backwards, a
// field chosen twice.
std::string choose_columns(TableFormat& format, std::string_view list, const std::vector<std::string>* names,
                           int fields);

// One field of a line: as it stands (quotes included) and its text (quotes
// taken off, any text after the closing quote joined, white space around it
// kept).
struct Field {
    std::string_view raw;
    std::string_view text;
};

// What reading a row found.
struct RowFields {
    int count = 0;                // value fields read (numbers and missing values), not those a short row lacks
    int missing = 0;              // of them missing, and those a short row lacks
    int first_missing = -1;       // the field (from 1) of the first missing value
    int bad_field = -1;           // the field (from 1) that is neither a number, a missing value nor a label
    bool glued = false;           // and it starts with a number that runs into other text
    std::size_t numbers_end = 0;  // runs of numbers: where they end in the line
};

// Reads rows and names in one format. Not shared between threads: it keeps
// the scratch text of unquoted and decimal-comma fields.
class RowReader {
public:
    explicit RowReader(const TableFormat& format);

    // Stores the value fields of `line` into row[0], row[1], ... up to
    // `capacity` of them (a missing value as NaN, a value whose flag is 0 as
    // +0.0; the values a short row lacks are missing) and appends the label fields as they stand to `labels`, each
    // followed by the separator. A field that is neither a number, a missing
    // value nor a label ends the values of the row and is noted (in
    // delimited mode an error; with white space a word after the numbers),
    // and the rest of the line is looked at only for labels.
    RowFields read(std::string_view line, double* row, int capacity, const int* flags, std::string* labels);

    // The fields of a header line, quotes taken off.
    std::vector<std::string> names(std::string_view line);
    // The raw fields of the label columns of a header line, for an output's header.
    std::vector<std::string> label_names(std::string_view line);

private:
    // The next field from `p`, which moves past it and its delimiter;
    // false at the end of the line.
    bool next_field(const char*& p, const char* end, Field& field);

    const TableFormat& format_;
    const bool fast_;  // plain numbers are read in place (scan_field_number)
    std::string unquoted_;
    std::string number_;
};

// Where a line of a delimited table leaves its record. A quoted field may
// hold line breaks, so a record ends at the first line break outside quotes;
// `in_quote` says that the line begins inside a quoted field. (With white
// space between the fields a quote closes at the end of its line.)
enum class LineEnd { record, quote_carried, quote_opened };
LineEnd line_end(std::string_view line, char delimiter, bool in_quote);

// True for a line of white space only.
bool blank_line(std::string_view line);

// A name as it is written in a list of names: quoted when it holds white
// space, a quote, or nothing.
std::string quoted_name(const std::string& name);

// The names of a "# names: ..." comment line, or nothing for another line.
std::vector<std::string> names_comment(std::string_view line);
