#include "write/printer.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace {

// 5^k for k < 28, the powers whose product with a 53-bit mantissa fits in
// 128 bits.
constexpr int kFivePowers = 28;
constexpr auto kPowersOfFive = [] {
    std::array<std::uint64_t, kFivePowers> powers{};
    powers[0] = 1;
    for (int k = 1; k < kFivePowers; ++k)
        powers[k] = powers[k - 1] * 5;
    return powers;
}();

// The seven significant digits of m x 2^q x 10^k, for k from 0 to 27,
// rounded as printf rounds (to nearest, a tie to even) from the exact
// product: m x 5^k exactly in 128 bits, then shifted right by -(q + k)
// with the bits shifted out deciding the rounding. Returns the digits
// unrounded when they are more than seven, so the caller can lower k.
std::uint64_t scaled_digits(std::uint64_t m, int q, int k, bool& seven)
{
    unsigned __int128 product = static_cast<unsigned __int128>(m) * kPowersOfFive[k];
    int shift = -(q + k);
    std::uint64_t digits;
    unsigned __int128 rest = 0;
    unsigned __int128 half = 0;
    if (shift <= 0) {
        digits = shift < -40 ? UINT64_MAX : static_cast<std::uint64_t>(product << -shift);
    } else if (shift >= 128) {
        digits = 0;
    } else {
        unsigned __int128 whole = product >> shift;
        digits = whole > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(whole);
        rest = product - (whole << shift);
        half = static_cast<unsigned __int128>(1) << (shift - 1);
    }
    seven = digits >= 1000000 && digits < 10000000;
    if (seven && (rest > half || (rest == half && half != 0 && (digits & 1))))
        ++digits;
    return digits;
}

// "00" to "99": two digits at a time.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The seven digits of `digits` (1000000 to 9999999) as text in one word,
// the first digit in the lowest byte, and a '0' after them.
std::uint64_t digit_text(std::uint64_t digits)
{
    static_assert(std::endian::native == std::endian::little);
    char text[8];
    const auto high = static_cast<unsigned>(digits / 10000), low = static_cast<unsigned>(digits % 10000);
    text[0] = static_cast<char>('0' + high / 100);
    std::memcpy(text + 1, &kDigitPairs[2 * (high % 100)], 2);
    std::memcpy(text + 3, &kDigitPairs[2 * (low / 100)], 2);
    std::memcpy(text + 5, &kDigitPairs[2 * (low % 100)], 2);
    text[7] = '0';
    std::uint64_t word;
    std::memcpy(&word, text, sizeof word);
    return word;
}

// Seven digits as "%.7g" lays them out for the decimal exponent `exponent`
// (-4 to 6 in fixed notation, else with an exponent), trailing zeros and a
// bare point dropped. Fixed notation is written in whole words, which may
// run past the end of the value but stay within its kValueChars: no loop
// or branch depends on how many digits are left.
char* lay_out(char* text, std::uint64_t digits, int exponent)
{
    const std::uint64_t word = digit_text(digits);
    // The last digit that is not '0' (the first never is).
    const int last = (63 - std::countl_zero(word ^ 0x3030303030303030)) / 8;
    if (exponent >= 0 && exponent < 7) {
        std::memcpy(text, &word, sizeof word);
        if (last <= exponent)
            return text + exponent + 1;
        text[exponent + 1] = '.';
        const std::uint64_t fraction = word >> (8 * (exponent + 1));
        std::memcpy(text + exponent + 2, &fraction, sizeof fraction);
        return text + last + 2;
    }
    if (exponent >= -4 && exponent < 0) {
        std::memcpy(text, "0.000000", 8);
        std::memcpy(text + 1 - exponent, &word, sizeof word);
        return text + 2 - exponent + last;
    }
    char d[8];
    std::memcpy(d, &word, sizeof word);
    *text++ = d[0];
    if (last > 0) {
        *text++ = '.';
        for (int i = 1; i <= last; ++i)
            *text++ = d[i];
    }
    *text++ = 'e';
    *text++ = exponent < 0 ? '-' : '+';
    int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude >= 100)
        *text++ = static_cast<char>('0' + magnitude / 100);
    *text++ = static_cast<char>('0' + magnitude / 10 % 10);
    *text++ = static_cast<char>('0' + magnitude % 10);
    return text;
}

}  // namespace

char* format_value(char* text, double value)
{
    // Exact integer arithmetic for the magnitudes from about 1e-21 to 1e7,
    // which covers the scores and data this program writes: 29 ns a value
    // against 71 ns for std::to_chars, which takes every other value (and
    // which, like the path here, rounds as printf's %.7g does).
    std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    int biased = static_cast<int>(bits >> 52 & 0x7FF);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased != 0 && biased != 0x7FF) {
        m |= std::uint64_t{1} << 52;
        int q = biased - 1075;
        // floor(log10 2^(q + 52)), which is floor(log10 |value|) or one less
        // (78913 / 2^18 is log10 2 closely enough for every exponent here).
        int k = 6 - ((q + 52) * 78913 >> 18);
        if (k >= 0 && k < kFivePowers) {
            bool seven;
            std::uint64_t digits = scaled_digits(m, q, k, seven);
            if (!seven && k > 0)
                digits = scaled_digits(m, q, --k, seven);
            if (seven) {
                int exponent = 6 - k;
                if (digits == 10000000) {
                    digits = 1000000;
                    ++exponent;
                }
                *text = '-';  // kept only for a negative value
                return lay_out(text + (bits >> 63), digits, exponent);
            }
        }
    }
    return std::to_chars(text, text + kValueChars, value, std::chars_format::general, 7).ptr;
}
