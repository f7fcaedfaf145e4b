#include "read/number_scanner.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/cpu.h"
#include "common/vector_targets.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

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

// Exact powers of ten: every one up to 1e22 is a double without rounding.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t kDigitScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The value of the first n (1 to 8) digit bytes of `chunk` (first byte
// lowest): shifted so the digits fill the top, then the pairs, quads and
// octets are combined by three multiplications.
[[gnu::always_inline]] inline std::uint64_t digits_value(std::uint64_t chunk, int n)
{
    std::uint64_t v = (chunk - 0x3030303030303030) << (8 * (8 - n));
    v = v * 10 + (v >> 8);
    v = ((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32)) +
         ((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32))) >>
        32;
    return v;
}

// The magnitude with its sign put in as a bit: a branch on the sign would be
// mispredicted for half the numbers of a column centred on zero.
inline double with_sign(double magnitude, bool negative)
{
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | std::uint64_t{negative} << 63);
}

// Appends the digits at p to `mantissa` (which wraps past 19 digits) and
// returns where they end. Eight bytes are classified at once, so a run of
// digits costs one branch instead of one per digit: the scan pass runs
// about 30% faster. A byte is a digit when its high nibble is 3 before and
// after adding 6; a carry out of a non-digit byte can only spoil the bytes
// after the first non-digit, which are not looked at.
[[gnu::always_inline]] inline const char* digit_run(const char* p, const char* end, std::uint64_t& mantissa)
{
    while (end - p >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, p, sizeof chunk);
        std::uint64_t other = ((chunk & 0xF0F0F0F0F0F0F0F0) ^ 0x3030303030303030) |
                              (((chunk + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) ^ 0x3030303030303030);
        int n = other ? std::countr_zero(other) / 8 : 8;
        if (n == 0)
            return p;
        mantissa = mantissa * kDigitScale[n] + digits_value(chunk, n);
        p += n;
        if (n < 8)
            return p;
    }
    for (; p != end && is_digit(*p); ++p)
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    return p;
}

// The token that nearly every number in a data file is: an optional '-',
// digits with at most one '.', and an exponent with at least one digit.
// For it the collector's greedy walk and the walk below end at the same
// byte, and the token always converts. Anything else (a '+' sign, "0x",
// inf/nan, a lone '.', a dangling "1e+") gives nullptr and goes to the
// collector. With kConvert the value is converted too.
template <bool kConvert>
const char* scan_decimal(const char* p, const char* end, double& value)
{
    const char* q = p;
    const bool negative = *q == '-';
    q += negative;
    const char* first = q;
    std::uint64_t mantissa = 0;
    q = digit_run(q, end, mantissa);
    const long integer_digits = q - first;
    if (q != end && (*q | 0x20) == 'x' && integer_digits == 1 && *first == '0')
        return nullptr;
    long fraction_digits = 0;
    if (q != end && *q == '.') {
        const char* fraction = ++q;
        q = digit_run(q, end, mantissa);
        fraction_digits = q - fraction;
    }
    const long digits = integer_digits + fraction_digits;
    if (digits == 0)
        return nullptr;
    int exponent = 0;
    if (q != end && (*q | 0x20) == 'e') {
        const char* e = q + 1;
        const bool negative_exponent = e != end && *e == '-';
        e += e != end && (*e == '-' || *e == '+');
        if (e == end || !is_digit(*e))
            return nullptr;
        for (; e != end && is_digit(*e); ++e)
            exponent = exponent < 100000 ? exponent * 10 + (*e - '0') : exponent;
        exponent = negative_exponent ? -exponent : exponent;
        q = e;
    }
    if constexpr (kConvert) {
        // Up to 2^53 the mantissa is an exact double, and so is 10^|e| up to
        // 1e22: one correctly rounded multiplication or division then gives
        // the correctly rounded value, as strtod does. Taking this branch
        // before std::from_chars halves the time per number.
        const long scale = exponent - fraction_digits;
        if (digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
            double magnitude = static_cast<double>(mantissa);
            magnitude = scale < 0 ? magnitude / kPowersOfTen[-scale] : magnitude * kPowersOfTen[scale];
            value = with_sign(magnitude, negative);
            return q;
        }
        // from_chars reports magnitudes beyond the double range as errors
        // where "%lg" gives an infinity or zero: those take the cold path.
        double converted;
        auto [stop, failure] = std::from_chars(p, q, converted, std::chars_format::general);
        if (failure != std::errc() || stop != q)
            return nullptr;
        value = converted;
    }
    return q;
}

// The collector and strtod: every form "%lg" reads, at its slower pace.
[[gnu::noinline, gnu::cold]] std::size_t scan_collected(std::string_view text, double& value)
{
    std::size_t length = Collector(text).collect();
    if (length == 0 || !convert(text.substr(0, length), value))
        return 0;
    return length;
}

// One number from p on, converted (kConvert) or only recognized: where it
// ends, or nullptr when no number starts after the white space at p.
template <bool kConvert>
const char* next_number(const char* p, const char* end, double& value)
{
    while (p != end && is_space(*p))
        ++p;
    if (p == end)
        return nullptr;
    if (const char* stop = scan_decimal<kConvert>(p, end, value))
        return stop;
    std::size_t length = scan_collected({p, static_cast<std::size_t>(end - p)}, value);
    return length ? p + length : nullptr;
}

#if defined(__x86_64__)

// The number nearly every data file is made of, [-]digits[.digits] of at
// most 15 digits, ending in white space within the 16 bytes at p: its
// digits are found by comparing all 16 bytes at once, moved without the
// point to the end of a register and combined by three multiply-adds. The
// mantissa is the exact integer scan_decimal forms, and the value the same
// single rounded division of it (by 1 when there is no fraction), so the
// bits are scan_decimal's. Returns the end of the number, or nullptr for
// any other token, which then takes the general path. With kDelimited the
// number may also end at the field delimiter.
template <bool kDelimited = false>
[[SCORIX_TARGET_AVX2]] inline const char* short_decimal(const char* p, double& value, char delimiter = ' ')
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i d = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    const __m128i control = _mm_sub_epi8(x, _mm_set1_epi8('\t'));
    const auto mask = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
    const unsigned digit = mask(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d));
    unsigned white = mask(_mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')),
                                       _mm_cmpeq_epi8(_mm_min_epu8(control, _mm_set1_epi8('\r' - '\t')), control)));
    const unsigned dot = mask(_mm_cmpeq_epi8(x, _mm_set1_epi8('.')));
    if constexpr (kDelimited)
        white |= mask(_mm_cmpeq_epi8(x, _mm_set1_epi8(delimiter)));
    const int sign = *p == '-';
    unsigned other = ~digit & (0xFFFFu << sign) & 0xFFFF;  // the bytes after the sign that are not digits
    if (!other)
        return nullptr;
    const int point = std::countr_zero(other);
    const int has_point = static_cast<int>(dot >> point & 1);
    other &= other - static_cast<unsigned>(has_point);
    if (!other)
        return nullptr;
    const int stop = std::countr_zero(other);
    const int digits = stop - sign - has_point;
    if (!(white >> stop & 1) || digits == 0)
        return nullptr;
    // Byte i of the register takes digit j = i - (16 - digits), which
    // stands at sign + j, one further once past the point; j < 0 gives 0.
    const __m128i j = _mm_sub_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                   _mm_set1_epi8(static_cast<char>(16 - digits)));
    const __m128i past_point = _mm_cmpgt_epi8(j, _mm_set1_epi8(static_cast<char>(point - sign - 1)));
    __m128i index = _mm_sub_epi8(_mm_add_epi8(j, _mm_set1_epi8(static_cast<char>(sign))), past_point);
    index = _mm_or_si128(index, _mm_cmpgt_epi8(_mm_setzero_si128(), j));
    __m128i sum = _mm_maddubs_epi16(_mm_shuffle_epi8(d, index),
                                    _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
    sum = _mm_madd_epi16(sum, _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
    sum = _mm_packs_epi32(sum, sum);
    sum = _mm_madd_epi16(sum, _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1));
    const std::uint64_t mantissa = static_cast<std::uint64_t>(_mm_cvtsi128_si32(sum)) * 100000000 +
                                   static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sum, 4)));
    const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[has_point ? stop - point - 1 : 0];
    value = with_sign(magnitude, sign);
    return p + stop;
}

#endif

// readline's loop; with kShort numbers that fit short_decimal take it.
// Where the numbers end is found once the loop is done, back from where it
// stopped over the white space it skipped: keeping that position in the
// loop took a run over a million rows of 20 from 0.25 to 0.48 s of CPU.
template <bool kShort>
inline int read_numbers(std::string_view line, double* row, int capacity, const int* flags, std::size_t* numbers_stop)
{
    int count = 0;
    double value;
    const char* const end = line.data() + line.size();
    for (const char* p = line.data();; ++count) {
        while (p != end && is_space(*p))
            ++p;
        const char* stop = nullptr;
#if defined(__x86_64__)
        if constexpr (kShort)
            if (end - p >= 16)
                stop = short_decimal(p, value);
#endif
        if (!stop && !(stop = next_number<true>(p, end, value))) {
            if (numbers_stop) {
                while (p != line.data() && is_space(p[-1]))
                    --p;
                *numbers_stop = static_cast<std::size_t>(p - line.data());
            }
            return count;
        }
        if (count < capacity)
            row[count] = (flags && flags[count] == 0) ? +0.0 : value;
        p = stop;
    }
}

#if defined(__x86_64__)
// Flattened: the loop and short_decimal are inlined into this one function.
// It needs only SSSE3 but is compiled for the avx2 level, the level that
// readline calls it at.
[[SCORIX_TARGET_AVX2, gnu::flatten]] int read_numbers_ssse3(std::string_view line, double* row, int capacity,
                                                            const int* flags, std::size_t* numbers_stop)
{
    return read_numbers<true>(line, row, capacity, flags, numbers_stop);
}
#endif

#if defined(__x86_64__)
[[SCORIX_TARGET_AVX2]] const char* short_field_number(const char* p, char delimiter, double& value)
{
    return short_decimal<true>(p, value, delimiter);
}
#endif

}  // namespace

const char* scan_field_number(const char* p, const char* end, char delimiter, double& value)
{
#if defined(__x86_64__)
    if (end - p >= 16 && vectors() != Vectors::none)
        if (const char* stop = short_field_number(p, delimiter, value))
            return stop;
#endif
    if (p == end || is_space(*p))
        return nullptr;
    const char* stop = next_number<true>(p, end, value);
    return stop && (stop == end || *stop == delimiter || is_space(*stop)) ? stop : nullptr;
}

std::size_t scan_number(std::string_view text, double& value)
{
    const char* stop = next_number<true>(text.data(), text.data() + text.size(), value);
    return stop ? static_cast<std::size_t>(stop - text.data()) : 0;
}

int checkline(std::string_view line)
{
    // Counting needs only where each number ends; leaving out the
    // conversion makes this scan about 1.2 times as fast as readline's
    // (226 against 270 ns on a line of 20 numbers).
    int count = 0;
    double value;
    const char* end = line.data() + line.size();
    for (const char* p = line.data(); (p = next_number<false>(p, end, value)); ++count) {
    }
    return count;
}

std::size_t numbers_end(std::string_view line)
{
    double value;
    const char* end = line.data() + line.size();
    const char* stop = line.data();
    for (const char* p = stop; (p = next_number<false>(p, end, value)); stop = p) {
    }
    return static_cast<std::size_t>(stop - line.data());
}

int readline(std::string_view line, double* row, int capacity, const int* flags, std::size_t* numbers_stop)
{
#if defined(__x86_64__)
    if (vectors() != Vectors::none)
        return read_numbers_ssse3(line, row, capacity, flags, numbers_stop);
#endif
    return read_numbers<false>(line, row, capacity, flags, numbers_stop);
}
