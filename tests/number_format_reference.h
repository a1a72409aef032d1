// The slow exact reference for the number texts, through snprintf: the sampled and the full sweep
// check the fields against it, and the benchmarks time it as the baseline (bench/ includes this
// header, so that what is timed is what the sweeps trust). It makes no allocation of its own,
// so that the baseline's time is snprintf's.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// Room for the longest expansion: 39 integer digits + the point + 149 decimals + the end.
constexpr std::size_t expansion_size = 256;

// Writes the exact expansion of |value|, with at least 6 decimals (one more than any field
// keeps). A float is a multiple of 2^(ilogb - 23), 2^-149 for the subnormals, so it has exactly
// that many decimals, at most 149: printed with them, nothing is rounded (and the digits are as
// many as "%.160f" gives, less trailing zeros, at half the cost).
inline void write_exact_expansion(float value, char (&expansion)[expansion_size]) {
    const int step_exponent = value == 0 ? 0 : std::max(std::ilogb(value), -126) - 23;
    const int decimals = std::max(6, -step_exponent);
    std::snprintf(expansion, expansion_size, "%.*f", decimals,
                  static_cast<double>(std::fabs(value)));
}

inline std::string exact_expansion(float value) {
    char expansion[expansion_size];
    write_exact_expansion(value, expansion);
    return expansion;
}

// Appends the field of a finite value from its expansion: integer_positions, a point and
// decimals (at most 5), as format_coordinate_field (7, 5) and format_colour_field (1, 3) do.
inline void append_reference_field(float value, const char* expansion, int integer_positions,
                                   int decimals, std::string& text) {
    // Keep the integer digits and the decimals, without the point; half away from zero is a
    // first dropped digit of 5 or more, whatever follows it. A carry out of the first digit
    // shows as the leading "1" of kept.
    char kept[expansion_size];
    std::size_t kept_size = 1;
    kept[0] = '0';
    const char* point = std::strchr(expansion, '.');
    for (const char* c = expansion; c != point; ++c)
        kept[kept_size++] = *c;
    for (int i = 1; i <= decimals; ++i)
        kept[kept_size++] = point[i];
    if (point[decimals + 1] >= '5') {
        std::size_t i = kept_size;
        while (kept[--i] == '9')
            kept[i] = '0';
        kept[i] += 1;
    }
    const std::size_t integer_end = kept_size - static_cast<std::size_t>(decimals);
    std::size_t integer_start = 0;
    while (integer_start < integer_end && kept[integer_start] == '0')
        ++integer_start; // 0 has no digits

    // The layout. Negative zero shows no minus.
    const bool negative = value < 0;
    const int integer_digit_count = static_cast<int>(integer_end - integer_start);
    const int need = integer_digit_count + (negative ? 1 : 0);
    if (need <= integer_positions) {
        int blank_count = integer_positions - need;
        const bool zero_shown = integer_digit_count == 0 && blank_count >= 1;
        blank_count -= zero_shown ? 1 : 0;
        text.append(static_cast<std::size_t>(blank_count), ' ');
        if (negative)
            text += '-';
        if (zero_shown)
            text += '0';
    } else {
        text += negative ? "%-" : "%";
    }
    text.append(kept + integer_start, integer_end - integer_start);
    text += '.';
    text.append(kept + integer_end, static_cast<std::size_t>(decimals));
}

// The same as a text of its own; the sweeps make one expansion for both fields.
inline std::string reference_field(float value, const std::string& expansion, int integer_positions,
                                   int decimals) {
    std::string field;
    append_reference_field(value, expansion.c_str(), integer_positions, decimals, field);
    return field;
}

inline void append_reference_coordinate_field(float value, std::string& text) {
    char expansion[expansion_size];
    write_exact_expansion(value, expansion);
    append_reference_field(value, expansion, 7, 5, text);
}

inline void append_reference_colour_field(float value, std::string& text) {
    char expansion[expansion_size];
    write_exact_expansion(value, expansion);
    append_reference_field(value, expansion, 1, 3, text);
}

// Appends the index item of index: a blank or "-", the decimal digits, one blank.
inline void append_reference_index_item(std::int32_t index, std::string& text) {
    char item[16];
    const long long wide = index;
    std::snprintf(item, sizeof item, "%c%lld ", index < 0 ? '-' : ' ', wide < 0 ? -wide : wide);
    text += item;
}
