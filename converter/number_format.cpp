// The number texts: coordinate and colour fields from the bits of the float, their lines, and
// the index item.
#include "converter/number_format.h"

#include <cstring>

namespace {

// Every whole float is below 2^128, so this holds its integer part exactly.
__extension__ typedef unsigned __int128 WideUnsigned;

// A field of integer_positions, a point and decimals; scale is 10^decimals.
struct FieldShape {
    int integer_positions;
    int decimals;
    std::uint64_t scale;
};

constexpr FieldShape coordinate_shape{7, 5, 100000};
constexpr FieldShape colour_shape{1, 3, 1000};

// The longest field: "%", "-", 39 integer digits, the point and 5 decimals make 47.
constexpr int longest_field = 47;

// Writes the decimal digits of n (at least one) backwards, ending before end; gives the first.
char* write_digits(std::uint64_t n, char* end) {
    do {
        *--end = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    return end;
}

// The same for integers past 2^64: 19 digits at a time, since 10^19 < 2^64.
char* write_wide_digits(WideUnsigned n, char* end) {
    const std::uint64_t ten_to_19 = 10000000000000000000u;
    while (n > ~std::uint64_t{0}) {
        std::uint64_t group = static_cast<std::uint64_t>(n % ten_to_19);
        n /= ten_to_19;
        for (int i = 0; i < 19; ++i) {
            *--end = static_cast<char>('0' + group % 10);
            group /= 10;
        }
    }
    return write_digits(static_cast<std::uint64_t>(n), end);
}

bool format_number_field(float value, const FieldShape& shape, std::string& text) {
    // Step 1: decode the bits into sign, significand and power of two.
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint32_t biased_exponent = (bits >> 23) & 0xFF;
    const std::uint32_t fraction = bits & 0x7FFFFF;
    if (biased_exponent == 0xFF)
        return false; // a NaN or an infinity has no digits
    // Negative zero is not below zero, so it shows no minus.
    const bool negative = (bits >> 31) != 0 && (bits & 0x7FFFFFFF) != 0;
    // |value| = significand x 2^exponent, significand < 2^24; 149 = 126 + 23 fraction bits.
    const std::uint64_t significand = biased_exponent == 0 ? fraction : fraction | 0x800000;
    const int exponent = biased_exponent == 0 ? -149 : static_cast<int>(biased_exponent) - 150;

    char field[longest_field];
    char* const end = field + sizeof field;
    char* first = end;

    // Step 2: round to the field's decimals, half away from zero on the exact value, and
    // write the decimals and the point.
    char* digits_end;
    if (exponent >= 0) {
        // A whole number: the decimals are zeros and nothing rounds.
        for (int i = 0; i < shape.decimals; ++i)
            *--first = '0';
        *--first = '.';
        digits_end = first;
        // 2^24 x 2^40 = 2^64: up to exponent 40 the integer fits in 64 bits.
        if (exponent <= 40)
            first = write_digits(significand << exponent, first);
        else
            first = write_wide_digits(static_cast<WideUnsigned>(significand) << exponent, first);
    } else {
        // |value| x 10^F = significand x 10^F / 2^shift, and significand x 10^F < 2^24 x 10^5
        // < 2^41, so one shift gives the kept digits and the mask the dropped part.
        const int shift = -exponent;
        const std::uint64_t scaled = significand * shape.scale;
        std::uint64_t rounded = 0;
        // Past a shift of 41 the kept part is 0 and the dropped part, below 2^41, stays under
        // the half unit 2^(shift - 1): the result is 0 with no carry. So a shift of 64 or
        // more, which a 64-bit shift cannot make, leaves rounded at 0.
        if (shift < 64) {
            rounded = scaled >> shift;
            const std::uint64_t dropped = scaled & ((std::uint64_t{1} << shift) - 1);
            // Half away from zero: a dropped part of half a unit or more adds one unit.
            if (dropped >= (std::uint64_t{1} << (shift - 1)))
                rounded += 1;
        }
        std::uint64_t decimals = rounded % shape.scale;
        for (int i = 0; i < shape.decimals; ++i) {
            *--first = static_cast<char>('0' + decimals % 10);
            decimals /= 10;
        }
        *--first = '.';
        digits_end = first;
        // The integer part has no digits when it is 0.
        const std::uint64_t integer_part = rounded / shape.scale;
        if (integer_part != 0)
            first = write_digits(integer_part, first);
    }

    // Step 3: the layout, decided on the rounded integer digits.
    const bool integer_part_is_zero = first == digits_end;
    const int need = static_cast<int>(digits_end - first) + (negative ? 1 : 0);
    if (need <= shape.integer_positions) {
        int blank_count = shape.integer_positions - need;
        // A "0" stands before the point only where a position is still free.
        if (integer_part_is_zero && blank_count >= 1) {
            *--first = '0';
            blank_count -= 1;
        }
        if (negative)
            *--first = '-';
        while (blank_count-- > 0)
            *--first = ' ';
    } else {
        // Too wide for its positions: the sign and the digits in full, with "%" in front.
        if (negative)
            *--first = '-';
        *--first = '%';
    }
    text.append(first, end);
    return true;
}

// The line of three fields: one blank after the first and the second, "," after the third.
bool format_line(float first, float second, float third, const FieldShape& shape,
                 std::string& text) {
    text.clear();
    if (!format_number_field(first, shape, text))
        return false;
    text += ' ';
    if (!format_number_field(second, shape, text))
        return false;
    text += ' ';
    if (!format_number_field(third, shape, text))
        return false;
    text += ',';
    return true;
}

} // namespace

bool format_coordinate_field(float value, std::string& text) {
    return format_number_field(value, coordinate_shape, text);
}

bool format_colour_field(float value, std::string& text) {
    return format_number_field(value, colour_shape, text);
}

bool format_coordinate_line(float x, float y, float z, std::string& text) {
    return format_line(x, y, z, coordinate_shape, text);
}

bool format_colour_line(float red, float green, float blue, std::string& text) {
    return format_line(red, green, blue, colour_shape, text);
}

void format_index_item(std::int32_t index, IndexItem& item) {
    char* const end = item.chars + sizeof item.chars;
    char* first = end;
    *--first = ' ';
    const bool negative = index < 0;
    // The magnitude in unsigned arithmetic, so that -2147483648 has one.
    const std::uint32_t as_bits = static_cast<std::uint32_t>(index);
    const std::uint32_t magnitude = negative ? 0u - as_bits : as_bits;
    first = write_digits(magnitude, first);
    *--first = negative ? '-' : ' ';
    item.first = static_cast<std::uint8_t>(first - item.chars);
}
