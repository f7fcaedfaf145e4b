#include "fit/moment_file.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <sys/stat.h>

#include "fit/fit_error.h"

namespace {

// A name, file name or option word as one word of a line: the bytes that
// would end or split it (white space and control bytes, '%', ',') as %XX.
std::string encoded(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string word;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7f || c == '%' || c == ',')
            word += {'%', kHex[byte >> 4], kHex[byte & 15]};
        else
            word += c;
    }
    return word;
}

std::optional<std::string> decoded(std::string_view word)
{
    std::string text;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%') {
            text += word[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= word.size() + 0 || std::sscanf(std::string(word.substr(i + 1, 2)).c_str(), "%2X", &value) != 1)
            return std::nullopt;
        text += static_cast<char>(value);
        i += 2;
    }
    return text;
}

std::string list_text(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty())
            text += ',';
        text += encoded(item);
    }
    return text;
}

// FNV-1a of the lines before the last one: a changed or lost byte is found.
std::uint64_t checksum(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return hash;
}

void append_doubles(std::string& text, const double* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        char value[40];
        std::snprintf(value, sizeof value, " %a", values[i]);
        text += value;
    }
}

const char* const kKinds[] = {"ordinal", "detect", "continuous"};

// The lines of a moment file being read, one after another, and the errors
// that name the file and the line.
class Lines {
public:
    Lines(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}

    [[noreturn]] void fail(const std::string& what) const
    {
        throw FitError(path_ + ":" + std::to_string(number_) + ": " + what);
    }
    // The rest of the next line, which starts with `key` (and a blank, when
    // more follows).
    std::string_view next(std::string_view key)
    {
        if (at_ >= text_.size()) {
            number_ += 1;
            fail("the file ends before its '" + std::string(key) + "' line: cut short?");
        }
        const std::size_t end = text_.find('\n', at_);
        ++number_;
        if (end == std::string::npos)
            fail("the last line has no end: cut short?");
        line_ = std::string_view(text_).substr(at_, end - at_);
        at_ = end + 1;
        if (!line_.starts_with(key) || (line_.size() > key.size() && line_[key.size()] != ' '))
            fail("'" + std::string(key) + "' expected, found \"" + shown(line_) + "\"");
        return line_.size() > key.size() ? line_.substr(key.size() + 1) : std::string_view();
    }
    bool ahead(std::string_view key) const
    {
        const std::string_view rest = std::string_view(text_).substr(at_);
        return rest.starts_with(key) && rest.size() > key.size() &&
               (rest[key.size()] == ' ' || rest[key.size()] == '\n');
    }
    std::size_t offset() const { return at_; }
    std::string_view text() const { return text_; }

    static std::vector<std::string_view> words(std::string_view rest)
    {
        std::vector<std::string_view> found;
        for (std::size_t start = 0; start < rest.size();) {
            const std::size_t end = std::min(rest.find(' ', start), rest.size());
            found.push_back(rest.substr(start, end - start));
            start = end + 1;
        }
        return found;
    }
    std::vector<double> doubles(std::string_view rest, std::size_t count) const
    {
        const std::vector<std::string_view> found = words(rest);
        if (found.size() != count)
            fail(std::to_string(found.size()) + " numbers, but " + std::to_string(count) + " belong here");
        std::vector<double> values;
        for (const std::string_view word : found) {
            // The word is followed by a blank or a newline, where strtod
            // stops: it is read in place.
            char* end = nullptr;
            const double value = std::strtod(word.data(), &end);
            if (word.empty() || std::isspace(static_cast<unsigned char>(word[0])) || end != word.data() + word.size() ||
                !std::isfinite(value))
                fail("\"" + shown(word) + "\" is not a finite number");
            values.push_back(value);
        }
        return values;
    }
    long long integer(std::string_view word, long long most) const
    {
        const std::string text(word);
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno || value < 0 || value > most || !std::isdigit(text[0]))
            fail("\"" + shown(word) + "\" is not a count from 0 to " + std::to_string(most));
        return value;
    }
    std::string word(std::string_view rest) const
    {
        const std::optional<std::string> text = decoded(rest);
        if (!text || rest.find(' ') != std::string_view::npos)
            fail("\"" + shown(rest) + "\" is not one word of %XX escapes");
        return *text;
    }

private:
    static std::string shown(std::string_view text)
    {
        std::string part(text.substr(0, 40));
        for (char& c : part)
            if (static_cast<unsigned char>(c) < ' ')
                c = '?';
        return part + (text.size() > 40 ? "..." : "");
    }

    std::string path_, text_;
    std::size_t at_ = 0;
    int number_ = 0;
    std::string_view line_;
};

}  // namespace

// The state of the classes that stream rows, line by line.
struct MomentCodec {
    static void write(std::string& text, const Moments& moments)
    {
        const Eigen::Index p = moments.mean_.size();
        text += "moments " + std::to_string(moments.rows_) + "\norigin";
        append_doubles(text, moments.origin_.data(), static_cast<std::size_t>(p));
        text += "\nmean";
        append_doubles(text, moments.mean_.data(), static_cast<std::size_t>(p));
        text += "\nlow";
        append_doubles(text, moments.low_.data(), static_cast<std::size_t>(p));
        text += "\nhigh";
        append_doubles(text, moments.high_.data(), static_cast<std::size_t>(p));
        text += '\n';
        for (Eigen::Index i = 0; i < p; ++i) {
            text += "comoments";
            for (Eigen::Index j = 0; j <= i; ++j)
                append_doubles(text, &moments.comoments_(i, j), 1);
            text += '\n';
        }
    }
    static Moments read_moments(Lines& lines, int p)
    {
        Moments moments(p);
        moments.rows_ = lines.integer(lines.next("moments"), INT64_MAX);
        const auto vector = [&](const char* key) {
            const std::vector<double> values = lines.doubles(lines.next(key), static_cast<std::size_t>(p));
            return Eigen::VectorXd(Eigen::Map<const Eigen::VectorXd>(values.data(), p));
        };
        moments.origin_ = vector("origin");
        moments.mean_ = vector("mean");
        moments.low_ = vector("low");
        moments.high_ = vector("high");
        for (int i = 0; i < p; ++i) {
            const std::vector<double> row = lines.doubles(lines.next("comoments"), static_cast<std::size_t>(i) + 1);
            for (int j = 0; j <= i; ++j)
                moments.comoments_(i, j) = row[static_cast<std::size_t>(j)];
            if (!(moments.low_[i] <= moments.high_[i]) || !(row.back() >= 0))
                lines.fail("variable " + std::to_string(i + 1) + ": a negative sum of squares or a range upside down");
        }
        return moments;
    }

    static void write(std::string& text, const PairMoments& pairs)
    {
        text += "pairs " + std::to_string(pairs.rows_) + "\n";
        for (const PairMoments::Pair& pair : pairs.pairs_) {
            text += "pair " + std::to_string(pair.n);
            const double values[] = {pair.mean_a, pair.mean_b, pair.ab, pair.aa, pair.bb};
            append_doubles(text, values, std::size(values));
            text += '\n';
        }
    }
    static PairMoments read_pairs(Lines& lines, int p)
    {
        PairMoments pairs(p);
        pairs.rows_ = lines.integer(lines.next("pairs"), INT64_MAX);
        for (PairMoments::Pair& pair : pairs.pairs_) {
            const std::string_view rest = lines.next("pair");
            const std::size_t blank = std::min(rest.find(' '), rest.size());
            pair.n = lines.integer(rest.substr(0, blank), pairs.rows_);
            const std::vector<double> values = lines.doubles(rest.substr(std::min(blank + 1, rest.size())), 5);
            pair.mean_a = values[0];
            pair.mean_b = values[1];
            pair.ab = values[2];
            pair.aa = values[3];
            pair.bb = values[4];
        }
        return pairs;
    }

    static void write(std::string& text, const CategoryTables& tables)
    {
        const auto max = static_cast<std::size_t>(tables.max_);
        text += "tables " + std::to_string(tables.rows_) + " " + std::to_string(tables.max_) + "\n";
        for (int i = 0; i < tables.variables_; ++i) {
            const std::vector<double>& values = tables.values_[static_cast<std::size_t>(i)];
            text += std::string("categories ") + kKinds[static_cast<int>(tables.kinds_[static_cast<std::size_t>(i)])];
            append_doubles(text, values.data(), values.size());
            text += "\nmargin";
            for (std::size_t a = 0; a < max; ++a) {
                text += ' ';
                text += std::to_string(tables.margins_[static_cast<std::size_t>(i) * max + a]);
            }
            text += '\n';
        }
        for (std::size_t at = 0; at < tables.cells_.size(); at += max * max) {
            text += "table";
            for (std::size_t c = 0; c < max * max; ++c) {
                text += ' ';
                text += std::to_string(tables.cells_[at + c]);
            }
            text += '\n';
        }
    }
    static CategoryTables read_tables(Lines& lines, int p)
    {
        const std::vector<std::string_view> head = Lines::words(lines.next("tables"));
        if (head.size() != 2)
            lines.fail("'tables ROWS CATEGORIES' expected");
        const long long rows = lines.integer(head[0], INT64_MAX);
        const auto max = static_cast<int>(lines.integer(head[1], 32));
        std::vector<CategoryTables::Kind> kinds(static_cast<std::size_t>(p));
        std::vector<std::vector<double>> values(static_cast<std::size_t>(p));
        std::vector<std::int64_t> margins(static_cast<std::size_t>(p) * static_cast<std::size_t>(max));
        const auto counts = [&](std::string_view rest, std::int64_t* into, std::size_t count) {
            const std::vector<std::string_view> words = Lines::words(rest);
            if (words.size() != count)
                lines.fail(std::to_string(words.size()) + " counts, but " + std::to_string(count) + " belong here");
            for (std::size_t c = 0; c < count; ++c)
                into[c] = lines.integer(words[c], rows);
        };
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const std::string_view rest = lines.next("categories");
            const std::size_t blank = std::min(rest.find(' '), rest.size());
            const auto kind = std::find(std::begin(kKinds), std::end(kKinds), rest.substr(0, blank));
            if (kind == std::end(kKinds))
                lines.fail("\"" + std::string(rest.substr(0, blank)) + "\": ordinal, detect or continuous expected");
            kinds[i] = static_cast<CategoryTables::Kind>(kind - std::begin(kKinds));
            const std::string_view listed = rest.substr(std::min(blank + 1, rest.size()));
            values[i] = lines.doubles(listed, Lines::words(listed).size());
            if (static_cast<int>(values[i].size()) > max)
                lines.fail("more categories than " + std::to_string(max));
            counts(lines.next("margin"), margins.data() + i * static_cast<std::size_t>(max),
                   static_cast<std::size_t>(max));
        }
        CategoryTables tables(p, max, kinds);
        tables.rows_ = rows;
        tables.values_ = std::move(values);
        tables.margins_ = std::move(margins);
        const auto cells = static_cast<std::size_t>(max) * static_cast<std::size_t>(max);
        for (std::size_t at = 0; at < tables.cells_.size(); at += cells)
            counts(lines.next("table"), tables.cells_.data() + at, cells);
        return tables;
    }
};

MomentSettings moment_settings(const Options& options)
{
    MomentSettings settings;
    const TableFormat& format = options.format;
    std::string& reading = settings.reading;
    if (format.table) {
        reading = "table delimiter=" + std::to_string(static_cast<unsigned char>(format.delimiter)) +
                  " decimal=" + encoded(std::string(1, format.decimal)) + (format.header ? " header" : "") +
                  " na=" + list_text(format.na);
        if (!format.labels.empty()) {
            std::vector<std::string> labels;
            for (const int field : format.labels)
                labels.push_back(std::to_string(field + 1));
            reading += " labels=" + list_text(labels);
        }
    } else {
        reading = "numbers";
    }
    if (options.columns)
        reading += " columns=" + encoded(*options.columns);
    reading += " skip=" + std::to_string(options.skip);
    if (options.cor->categories > 0)
        settings.cor = options.cor->name;
    settings.missing = options.pairwise ? "pairwise" : options.drop_incomplete ? "listwise" : "complete";
    settings.max_categories = options.correlation.max_categories;
    settings.ordinal = options.correlation.ordinal;
    return settings;
}

std::string settings_text(const MomentSettings& settings)
{
    std::string text = settings.reading + ", --cor=" + settings.cor + ", --missing=" + settings.missing;
    if (settings.max_categories)
        text += ", --max-categories=" + std::to_string(settings.max_categories);
    if (settings.ordinal)
        text += ", --ordinal=" + *settings.ordinal;
    return text;
}

void use_moment_settings(Options& options, const MomentSettings& settings)
{
    options.cor = find_correlation(settings.cor);
    options.pairwise = settings.missing == "pairwise";
    options.drop_incomplete = settings.missing == "listwise";
    options.correlation.max_categories = settings.max_categories;
    options.correlation.ordinal = settings.ordinal;
}

bool is_moment_file(const std::string& path)
{
    // Only a regular file is looked into: the first bytes of a pipe or a
    // FIFO (standard input, a process substitution) would be gone for the
    // reading of the data.
    struct stat status;
    if (path == "-" || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    std::ifstream in(path, std::ios::binary);
    std::string first(kMomentFirstLine.size() + 1, '\0');
    return in.read(first.data(), static_cast<std::streamsize>(first.size())) &&
           first == std::string(kMomentFirstLine) + '\n';
}

std::string moment_text(const MomentFile& file)
{
    const MomentSettings& settings = file.settings;
    std::string text = std::string(kMomentFirstLine) + "\n";
    for (const std::string& data : file.data)
        text += "data " + encoded(data) + "\n";
    text += "reading " + settings.reading + "\ncor " + settings.cor + "\nmissing " + settings.missing +
            "\nmax-categories " + std::to_string(settings.max_categories) + "\n";
    if (settings.ordinal)
        text += "ordinal " + encoded(*settings.ordinal) + "\n";
    text += "variables " + std::to_string(file.variables) + "\n";
    for (const std::string& name : file.names)
        text += "name " + encoded(name) + "\n";
    text += "dropped " + std::to_string(file.state.dropped) + "\n";
    if (file.state.moments)
        MomentCodec::write(text, *file.state.moments);
    if (file.state.pairs)
        MomentCodec::write(text, *file.state.pairs);
    if (file.state.tables)
        MomentCodec::write(text, *file.state.tables);
    char end[40];
    std::snprintf(end, sizeof end, "end %016llx\n", static_cast<unsigned long long>(checksum(text)));
    return text + end;
}

MomentFile read_moment_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    if (!in || !(buffer << in.rdbuf()) || in.bad())
        throw FitError(path + ": " + std::strerror(errno));
    Lines lines(path, std::move(buffer).str());
    MomentFile file;
    if (lines.next("scorix-moments") != "1")
        lines.fail("a moment file of another version (this program reads 'scorix-moments 1')");
    while (lines.ahead("data"))
        file.data.push_back(lines.word(lines.next("data")));
    MomentSettings& settings = file.settings;
    settings.reading = lines.next("reading");
    settings.cor = lines.word(lines.next("cor"));
    if (!find_correlation(settings.cor) || find_correlation(settings.cor)->keeps_rows)
        lines.fail("\"" + settings.cor + "\" is not a correlation type of a moment file");
    settings.missing = lines.word(lines.next("missing"));
    if (settings.missing != "complete" && settings.missing != "listwise" && settings.missing != "pairwise")
        lines.fail("\"" + settings.missing + "\": complete, listwise or pairwise expected");
    settings.max_categories = static_cast<int>(lines.integer(lines.next("max-categories"), 32));
    if (lines.ahead("ordinal"))
        settings.ordinal = lines.word(lines.next("ordinal"));
    file.variables = static_cast<int>(lines.integer(lines.next("variables"), 1 << 20));
    while (lines.ahead("name"))
        file.names.push_back(lines.word(lines.next("name")));
    if (!file.names.empty() && static_cast<int>(file.names.size()) != file.variables)
        lines.fail(std::to_string(file.names.size()) + " names of " + std::to_string(file.variables) + " variables");
    file.state.dropped = lines.integer(lines.next("dropped"), INT64_MAX);
    const int p = file.variables;
    if (p > 0 && lines.ahead("moments"))
        file.state.moments = MomentCodec::read_moments(lines, p);
    if (p > 0 && lines.ahead("pairs"))
        file.state.pairs = MomentCodec::read_pairs(lines, p);
    if (p > 0 && lines.ahead("tables"))
        file.state.tables = MomentCodec::read_tables(lines, p);
    if ((file.state.moments || file.state.pairs) && settings.cor != "pearson" && !file.state.tables)
        lines.fail("'tables' expected: --cor=" + settings.cor + " counts them");
    const std::size_t before = lines.offset();
    char sum[40];
    std::snprintf(sum, sizeof sum, "%016llx",
                  static_cast<unsigned long long>(checksum(lines.text().substr(0, before))));
    if (lines.next("end") != sum)
        lines.fail("the checksum of the lines before does not match: the file is damaged");
    if (lines.offset() != lines.text().size())
        lines.fail("text after the 'end' line");
    return file;
}
