// The number parse of the header's count texts: based integers, wrapping integers and decimal
// numbers in the extended format.
#include "converter/number_parse.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the 80-bit extended format");

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_sign(char c) {
    return c == '+' || c == '-';
}

bool is_exponent_letter(char c) {
    return c == 'D' || c == 'E' || c == 'd' || c == 'e';
}

// Blanks and tabs count for nothing in a decimal number, wherever they stand.
std::size_t skip_blanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && is_blank(text[pos]))
        ++pos;
    return pos;
}

// The 64 bits as a two's-complement signed integer.
long double as_signed(std::uint64_t bits) {
    const std::uint64_t largest = std::numeric_limits<std::int64_t>::max();
    if (bits <= largest)
        return static_cast<long double>(static_cast<std::int64_t>(bits));
    return static_cast<long double>(-static_cast<std::int64_t>(~bits) - 1);
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

constexpr ParsedNumber overflow = {0, true};

// A based integer, ampersand at text[ampersand]. Its digits follow the letter at once and end
// at the first other character, blanks included.
ParsedNumber parse_based_integer(std::string_view text, std::size_t ampersand) {
    if (ampersand + 2 >= text.size())
        return {0, false}; // an "&" among the last two characters
    const char letter = text[ampersand + 1];
    const bool is_hex = letter == 'H' || letter == 'h';
    const bool is_octal = letter == 'O' || letter == 'o';
    if (!is_hex && !is_octal)
        return {0, false};

    std::uint64_t value = 0;
    int significant_digit_count = 0;
    for (std::size_t pos = ampersand + 2; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (is_hex) {
            const int digit = hex_digit_value(c);
            if (digit < 0)
                break;
            if (value != 0 || digit != 0)
                ++significant_digit_count;
            // 16 hexadecimal digits fill the 64 bits.
            if (significant_digit_count > 16)
                return overflow;
            value = value << 4 | static_cast<std::uint64_t>(digit);
        } else {
            if (c < '0' || c > '7')
                break;
            // A value with any of its top three bits set would lose them in the shift.
            if (value >> 61 != 0)
                return overflow;
            value = value << 3 | static_cast<std::uint64_t>(c - '0');
        }
    }
    return {as_signed(value), false};
}

// The nearest extended float to digits x 10^power, digits being the significant mantissa
// digits without leading zeros.
long double convert_decimal(bool negative, const std::string& digits, std::int64_t power) {
    // The power of ten of the first digit. The extended format ends near 1.19e4932 and its
    // smallest step is near 3.6e-4951, so beyond +-5000 the result is an infinity or a zero
    // whatever the digits; inside, strtold sees an exponent that it reads without trouble.
    const std::int64_t leading_power = power + static_cast<std::int64_t>(digits.size()) - 1;
    if (leading_power > 5000)
        return negative ? -std::numeric_limits<long double>::infinity()
                        : std::numeric_limits<long double>::infinity();
    if (leading_power < -5000)
        return negative ? -0.0L : 0.0L;
    // strtold rounds the exact decimal value to nearest, ties to even. The text has no point,
    // so no locale can change how it reads.
    std::string canonical = negative ? "-" : "";
    canonical += digits;
    canonical += 'e';
    canonical += std::to_string(power);
    return std::strtold(canonical.c_str(), nullptr);
}

// A number of sign, digits with one point, and an exponent, blanks skipped throughout. The
// first character out of that order ends it.
long double parse_decimal_number(std::string_view text, std::size_t pos) {
    bool negative = false;
    if (pos < text.size() && is_sign(text[pos])) {
        negative = text[pos] == '-';
        pos = skip_blanks(text, pos + 1);
    }

    std::string digits; // the significant mantissa digits: from the first one other than 0
    std::int64_t digits_after_point = 0; // leading zeros included: they place the others
    bool seen_point = false;
    bool significant_digit_after_point = false;
    std::uint64_t integer_value = 0; // the digits before the point, wrapping modulo 2^64
    for (; pos < text.size(); pos = skip_blanks(text, pos + 1)) {
        const char c = text[pos];
        if (is_digit(c)) {
            if (seen_point)
                ++digits_after_point;
            if (digits.empty() && c == '0')
                continue; // a leading zero
            digits += c;
            if (seen_point)
                significant_digit_after_point = true;
            else
                integer_value = integer_value * 10 + static_cast<std::uint64_t>(c - '0');
        } else if (c == '.' && !seen_point) {
            seen_point = true;
        } else {
            break;
        }
    }

    std::int64_t exponent = 0;
    if (pos < text.size() && is_exponent_letter(text[pos])) {
        pos = skip_blanks(text, pos + 1);
        bool exponent_negative = false;
        if (pos < text.size() && is_sign(text[pos])) {
            exponent_negative = text[pos] == '-';
            pos = skip_blanks(text, pos + 1);
        }
        int significant_exponent_digit_count = 0;
        for (; pos < text.size() && is_digit(text[pos]); pos = skip_blanks(text, pos + 1)) {
            const int digit = text[pos] - '0';
            if (significant_exponent_digit_count == 0 && digit == 0)
                continue; // a leading zero
            // 18 digits keep the exponent below 10^18 < 2^63; a further one ends the number.
            if (++significant_exponent_digit_count > 18)
                break;
            exponent = exponent * 10 + digit;
        }
        if (exponent_negative)
            exponent = -exponent;
    }

    if (digits.empty())
        return 0;
    if (!significant_digit_after_point && exponent == 0) {
        // An integer: the sign applies modulo 2^64 too, and the bits read as signed.
        return as_signed(negative ? 0 - integer_value : integer_value);
    }
    // |exponent| < 10^18 and digits_after_point is below the text's length, so this fits.
    return convert_decimal(negative, digits, exponent - digits_after_point);
}

} // namespace

ParsedNumber parse_number(std::string_view text) {
    const std::size_t pos = skip_blanks(text, 0);
    // A based integer starts with an "&" ahead of any sign, digit, point or exponent letter.
    if (pos < text.size() && text[pos] == '&')
        return parse_based_integer(text, pos);
    return {parse_decimal_number(text, pos), false};
}
