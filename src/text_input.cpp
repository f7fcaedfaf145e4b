#include "text_input.h"

#include <cstdlib>
#include <string>
#include <utility>

#include <stdio.h>

bool iscomment(std::string_view line)
{
    return line.empty() || line[0] == '\0' || strCommentChars.find(line[0]) != std::string_view::npos;
}

namespace {

bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_xdigit(char c)
{
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Walks a number the way the C library's scanf collects one for "%lg":
// greedy, one character of look-ahead, no backing up. The collected text is
// what scanf hands to strtod, so converting it gives scanf's value bit for
// bit, and its length is what scanf consumes.
class Collector {
public:
    explicit Collector(std::string_view text) : text_(text) {}

    // Returns the length of the collected token (sign included), or 0 when
    // scanf would report a matching failure.
    std::size_t collect()
    {
        bool signed_number = false;
        if (peek() == '-' || peek() == '+') {
            signed_number = true;
            ++pos_;
            if (at_end())
                return 0;
        }
        char c = lower(peek());
        if (c == 'n')
            return word("nan") ? pos_ : 0;
        if (c == 'i')
            return infinity() ? pos_ : 0;
        bool hex = false;
        bool got_digit = false;
        if (peek() == '0') {
            ++pos_;
            if (lower(peek()) == 'x') {
                ++pos_;
                hex = true;
            } else {
                got_digit = true;
            }
        }
        mantissa_and_exponent(hex, got_digit);
        std::size_t body = pos_ - (signed_number ? 1 : 0);
        if (body == 0 || (hex && body == 2))
            return 0;
        return pos_;
    }

private:
    bool at_end() const { return pos_ >= text_.size() || text_[pos_] == '\0'; }
    char peek() const { return at_end() ? '\0' : text_[pos_]; }

    // Matches the letters of `w` case-insensitively; a mismatch fails.
    bool word(std::string_view w)
    {
        for (char letter : w) {
            if (lower(peek()) != letter)
                return false;
            ++pos_;
        }
        return true;
    }

    // "inf", or "infinity" once the letter after "inf" is an 'i'.
    bool infinity()
    {
        if (!word("inf"))
            return false;
        if (lower(peek()) == 'i')
            return word("inity");
        return true;
    }

    void mantissa_and_exponent(bool hex, bool got_digit)
    {
        const char exp_char = hex ? 'p' : 'e';
        bool got_dot = false;
        bool got_e = false;
        for (; !at_end(); ++pos_) {
            char c = text_[pos_];
            if (is_digit(c) || (!got_e && hex && is_xdigit(c))) {
                got_digit = true;
            } else if (got_e && lower(text_[pos_ - 1]) == exp_char && (c == '-' || c == '+')) {
            } else if (got_digit && !got_e && lower(c) == exp_char) {
                got_e = got_dot = true;
            } else if (!got_dot && c == '.') {
                got_dot = true;
            } else {
                break;
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// strtod on a copy of the token: the source line may go on with characters
// that strtod would take but scanf did not (a "nan(...)" payload, say).
bool convert(std::string_view token, double& value)
{
    char small[64];
    std::string large;
    const char* text;
    if (token.size() < sizeof small) {
        token.copy(small, token.size());
        small[token.size()] = '\0';
        text = small;
    } else {
        large.assign(token);
        text = large.c_str();
    }
    char* end = nullptr;
    double converted = std::strtod(text, &end);
    if (end == text)
        return false;
    value = converted;
    return true;
}

}  // namespace

std::size_t scan_number(std::string_view text, double& value)
{
    std::size_t start = 0;
    while (start < text.size() && is_space(text[start]))
        ++start;
    std::string_view rest = text.substr(start);
    std::size_t length = Collector(rest).collect();
    if (length == 0 || !convert(rest.substr(0, length), value))
        return 0;
    return start + length;
}

int checkline(std::string_view line)
{
    int count = 0;
    double value;
    while (std::size_t used = scan_number(line, value)) {
        line.remove_prefix(used);
        ++count;
    }
    return count;
}

int readline(std::string_view line, double* row, int capacity, const int* flags)
{
    int count = 0;
    double value;
    while (std::size_t used = scan_number(line, value)) {
        line.remove_prefix(used);
        if (count < capacity)
            row[count] = (flags && flags[count] == 0) ? +0.0 : value;
        ++count;
    }
    return count;
}

LineReader::~LineReader()
{
    std::free(current_);
    std::free(spare_);
}

bool LineReader::myfgets()
{
    for (;;) {
        ssize_t length = ::getline(&spare_, &spare_capacity_, stream_);
        if (length < 0) {
            // getline also gives up, without marking the stream, when a line
            // does not fit in memory; that must not pass for the end.
            failed_ = !std::feof(stream_);
            return false;
        }
        std::swap(current_, spare_);
        std::swap(current_capacity_, spare_capacity_);
        current_length_ = static_cast<std::size_t>(length);
        if (!iscomment(line()))
            return true;
    }
}
