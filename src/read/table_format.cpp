#include "read/table_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "read/number_scanner.h"

const option kTableOptions[6] = {
    {"delimiter", required_argument, nullptr, kTableOptionCodes},
    {"csv", no_argument, nullptr, kTableOptionCodes + 1},
    {"header", no_argument, nullptr, kTableOptionCodes + 2},
    {"labels", required_argument, nullptr, kTableOptionCodes + 3},
    {"na", required_argument, nullptr, kTableOptionCodes + 4},
    {"decimal", required_argument, nullptr, kTableOptionCodes + 5},
};

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string> comma_list(std::string_view text)
{
    std::vector<std::string> items;
    for (std::size_t begin = 0;;) {
        const std::size_t comma = std::min(text.find(',', begin), text.size());
        items.emplace_back(text.substr(begin, comma - begin));
        if (comma == text.size())
            return items;
        begin = comma + 1;
    }
}

// "1,6" or "2-4": field numbers from 1, kept from 0, in order, once each.
std::string parse_fields(const char* argument, std::vector<int>& fields)
{
    fields.clear();
    for (const std::string& item : comma_list(argument)) {
        char* end = nullptr;
        const long first = std::strtol(item.c_str(), &end, 10);
        long last = first;
        if (end != item.c_str() && *end == '-')
            last = std::strtol(end + 1, &end, 10);
        if (item.empty() || *end != '\0' || first < 1 || last < first || last > 100000)
            return std::string("invalid field list '") + argument + "' (field numbers from 1, as in 1,6 or 1-2)";
        for (long f = first; f <= last; ++f)
            fields.push_back(static_cast<int>(f - 1));
    }
    std::sort(fields.begin(), fields.end());
    fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
    return "";
}

// The field (from 0) that an item of a column list names, or -1 with
// `problem` said: a name of the rows' fields first, then a position.
int listed_field(std::string_view item, const std::vector<std::string>* names, int fields, std::string& problem)
{
    const std::string quoted = '"' + std::string(item) += '"';
    if (names) {
        const auto named = std::find(names->begin(), names->end(), item);
        if (named != names->end() && std::find(named + 1, names->end(), item) != names->end()) {
            problem = quoted + " names more than one field";
            return -1;
        }
        if (named != names->end())
            return static_cast<int>(named - names->begin());
    }
    long long position = 0;
    const auto [end, fault] = std::from_chars(item.data(), item.data() + item.size(), position);
    const bool digits =
        !item.empty() && std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && (fault != std::errc() || position < 1 || position > fields)) {
        problem =
            "position " + std::string(item) + " is not among the " + std::to_string(fields) + " fields of the rows";
        return -1;
    }
    if (digits && end == item.data() + item.size())
        return static_cast<int>(position - 1);
    problem = names ? "no field is named " + quoted
                    : quoted + " is no position (from 1), and the rows have no header to name fields";
    return -1;
}

// Where a field's text starts: past the white space before it (the
// delimiter is no white space here).
const char* field_start(const char* p, const char* end, char delimiter)
{
    while (p != end && is_space(*p) && *p != delimiter)
        ++p;
    return p;
}

// The closing quote of a quoted field whose text starts at `p`, or `end`
// when the field has none: a doubled quote stands for one.
const char* closing_quote(const char* p, const char* end)
{
    for (;;) {
        const void* quote = std::memchr(p, '"', static_cast<std::size_t>(end - p));
        if (!quote)
            return end;
        p = static_cast<const char*>(quote);
        if (p + 1 == end || p[1] != '"')
            return p;
        p += 2;
    }
}

}  // namespace

RowReader::RowReader(const TableFormat& format)
    : format_(format),
      // A token of a missing value that is a number must be compared first.
      fast_(format.delimiter && format.decimal == '.' &&
            std::none_of(format.na.begin(), format.na.end(), [](const std::string& token) {
                double value;
                return !token.empty() && scan_number(token, value) == token.size();
            }))
{
}

bool TableFormat::is_label(int field) const
{
    if (!columns.empty())
        return !std::binary_search(columns.begin(), columns.end(), field);
    return std::binary_search(labels.begin(), labels.end(), field);
}

std::string apply_table_option(TableFormat& format, int code, const char* argument)
{
    const std::string_view text = argument ? argument : "";
    format.table = true;
    switch (code - kTableOptionCodes) {
    case 0:
        if (text == "tab" || text == "\\t")
            format.delimiter = '\t';
        else if (text.size() == 1 && std::strchr(",;|\t", text[0]))
            format.delimiter = text[0];
        else
            return std::string("invalid delimiter '") + argument + "' (one of , ; | or tab)";
        break;
    case 1: format.delimiter = ','; break;
    case 2: format.header = true; break;
    case 3: return parse_fields(argument, format.labels);
    case 4: format.na = comma_list(text); break;
    case 5:
        if (text != "," && text != ".")
            return std::string("invalid decimal mark '") + argument + "' (. or ,)";
        format.decimal = text[0];
        break;
    }
    if (format.decimal == ',' && format.delimiter == ',')
        return "a decimal comma needs another delimiter (--delimiter=';', say)";
    return "";
}

std::string choose_columns(TableFormat& format, std::string_view list, const std::vector<std::string>* names,
                           int fields)
{
    std::vector<int> chosen;
    for (const std::string& item : comma_list(list)) {
        std::string problem;
        int first = listed_field(item, names, fields, problem), last = first;
        // A range splits at a '-' that leaves a field on either side; names
        // may hold one, so the whole item is tried first.
        for (std::size_t dash = item.find('-'); first < 0 && dash != std::string::npos;
             dash = item.find('-', dash + 1)) {
            std::string left, right;
            first = listed_field(std::string_view(item).substr(0, dash), names, fields, left);
            last = first < 0 ? -1 : listed_field(std::string_view(item).substr(dash + 1), names, fields, right);
            if (first >= 0 && last < 0) {
                problem = right;
                first = -1;
                break;
            }
        }
        if (first < 0)
            return problem;
        if (last < first)
            return "the range " + item + " runs backwards";
        for (int f = first; f <= last; ++f)
            chosen.push_back(f);
    }
    std::sort(chosen.begin(), chosen.end());
    if (const auto twice = std::adjacent_find(chosen.begin(), chosen.end()); twice != chosen.end())
        return "field " + std::to_string(*twice + 1) +
               (names ? " (\"" + (*names)[static_cast<std::size_t>(*twice)] + "\")" : std::string()) +
               " is chosen twice";
    format.columns = std::move(chosen);
    return "";
}

bool blank_line(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), is_space);
}

bool RowReader::next_field(const char*& p, const char* end, Field& field)
{
    const char delimiter = format_.delimiter;
    if (!p)
        return false;
    if (!delimiter) {
        while (p != end && is_space(*p))
            ++p;
        if (p == end)
            return false;
    }
    const char* const begin = p;
    const char* q = field_start(p, end, delimiter);
    const char* open = nullptr;  // the quoted part, when the field has one
    const char* close = nullptr;
    if (q != end && *q == '"') {
        // The quoted part may hold the delimiter and white space.
        open = q + 1;
        close = closing_quote(open, end);
        q = close + (close != end);
    }
    const char* const rest = q;  // text after the closing quote
    if (delimiter) {
        const void* next = std::memchr(q, delimiter, static_cast<std::size_t>(end - q));
        q = next ? static_cast<const char*>(next) : end;
    } else {
        while (q != end && !is_space(*q))
            ++q;
    }
    field.raw = {begin, static_cast<std::size_t>(q - begin)};
    field.text = field.raw;
    if (open) {
        field.text = {open, static_cast<std::size_t>(close - open)};
        // Doubled quotes made single, and any text after the closing quote
        // joined to the quoted part: "13"2 is 132, as other readers of
        // such files have it.
        if (std::memchr(open, '"', static_cast<std::size_t>(close - open)) || rest != q) {
            unquoted_.clear();
            for (const char* c = open; c != close; ++c) {
                unquoted_ += *c;
                c += *c == '"';
            }
            unquoted_.append(rest, q);
            field.text = unquoted_;
        }
    }
    p = !delimiter ? q : q == end ? nullptr : q + 1;
    return true;
}

LineEnd line_end(std::string_view line, char delimiter, bool in_quote)
{
    const char* p = line.data();
    const char* const end = p + line.size();
    // Nearly every line holds no quote.
    if (!in_quote && !std::memchr(p, '"', line.size()))
        return LineEnd::record;
    // The fields as next_field finds them, from the one the line begins in.
    for (bool quoted = in_quote;; quoted = false) {
        if (!quoted) {
            p = field_start(p, end, delimiter);
            quoted = p != end && *p == '"';
            p += quoted;
        }
        if (quoted) {
            const char* const open = p;
            p = closing_quote(p, end);
            if (p == end)
                return in_quote && open == line.data() ? LineEnd::quote_carried : LineEnd::quote_opened;
            ++p;
        }
        const void* next = std::memchr(p, delimiter, static_cast<std::size_t>(end - p));
        if (!next)
            return LineEnd::record;
        p = static_cast<const char*>(next) + 1;
    }
}

RowFields RowReader::read(std::string_view line, double* row, int capacity, const int* flags, std::string* labels)
{
    RowFields found;
    line = line_text(line);
    const char* p = line.data();
    const char* const end = p + line.size();
    const bool delimited = format_.delimiter != 0;
    std::size_t labels_written = 0;
    Field field;
    // The fields come in order, and so do the labels.
    auto label = format_.labels.begin();
    auto column = format_.columns.begin();
    const bool chosen = !format_.columns.empty();  // every field but the columns is a label
    int index = 0;
    for (;; ++index) {
        bool is_label;
        if (chosen) {
            is_label = column == format_.columns.end() || *column != index;
            column += !is_label;
        } else {
            is_label = label != format_.labels.end() && *label == index;
            label += is_label;
        }
        // Nearly every field of a delimited file is a plain number ending
        // at the delimiter: read in place, without splitting it off first.
        if (fast_ && p && found.bad_field < 0 && !is_label) {
            double value;
            const char* stop = scan_field_number(p, end, format_.delimiter, value);
            if (stop && (stop == end || *stop == format_.delimiter)) {
                if (found.count < capacity)
                    row[found.count] = (flags && flags[found.count] == 0) ? +0.0 : value;
                ++found.count;
                p = stop == end ? nullptr : stop + 1;
                continue;
            }
        }
        if (!next_field(p, end, field))
            break;
        if (is_label) {
            if (labels) {
                labels->append(field.raw);
                *labels += format_.separator();
            }
            ++labels_written;
            continue;
        }
        if (found.bad_field >= 0)
            continue;  // only labels are looked for after a bad field
        std::string_view text = trimmed(field.text);
        double value;
        bool missing = delimited && text.empty();
        for (const std::string& token : format_.na)
            missing = missing || (text == token && !token.empty());
        if (missing) {
            value = std::numeric_limits<double>::quiet_NaN();
            if (found.missing++ == 0)
                found.first_missing = index + 1;
        } else {
            if (format_.decimal == ',') {
                number_.assign(text);
                for (char& c : number_)
                    c = c == ',' ? '.' : c == '.' ? ',' : c;
                text = number_;
            }
            const std::size_t length = text.empty() ? 0 : scan_number(text, value);
            if (length != text.size() || text.empty()) {
                found.bad_field = index + 1;
                found.glued = length > 0;
                continue;
            }
        }
        if (found.count < capacity)
            row[found.count] = (flags && flags[found.count] == 0 && !missing) ? +0.0 : value;
        ++found.count;
    }
    // A row that ends before its last value lacks the rest, as if their
    // fields were empty: missing values, never zeros. The first stands in
    // the word that ended the values or in the first value field after the
    // line's end.
    if (found.count < capacity) {
        if (found.missing == 0) {
            if (chosen)
                index = column == format_.columns.end() ? index : *column;
            while (!chosen && format_.is_label(index))
                ++index;
            found.first_missing = found.bad_field >= 0 ? found.bad_field : index + 1;
        }
        found.missing += capacity - found.count;
        std::fill(row + found.count, row + capacity, std::numeric_limits<double>::quiet_NaN());
    }
    // Label fields beyond the end of the line are empty.
    if (labels)
        for (std::size_t i = labels_written; i < format_.labels.size(); ++i)
            *labels += format_.separator();
    return found;
}

std::vector<std::string> RowReader::names(std::string_view line)
{
    std::vector<std::string> names;
    line = line_text(line);
    const char* p = line.data();
    Field field;
    while (next_field(p, line.data() + line.size(), field))
        names.emplace_back(trimmed(field.text));
    return names;
}

std::vector<std::string> RowReader::label_names(std::string_view line)
{
    std::vector<std::string> names;
    line = line_text(line);
    const char* p = line.data();
    Field field;
    for (int index = 0; next_field(p, line.data() + line.size(), field); ++index)
        if (format_.is_label(index))
            names.emplace_back(field.raw);
    names.resize(format_.labels.size());
    return names;
}

std::string quoted_name(const std::string& name)
{
    if (!name.empty() && std::none_of(name.begin(), name.end(), [](char c) { return is_space(c) || c == '"'; }))
        return name;
    std::string quoted = "\"";
    for (char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::vector<std::string> names_comment(std::string_view line)
{
    constexpr std::string_view kMarker = "# names:";
    if (!line.starts_with(kMarker))
        return {};
    static const TableFormat kWords;
    RowReader reader(kWords);
    return reader.names(line.substr(kMarker.size()));
}
