// The number texts formatted the slow, plain way, through snprintf: the baseline that the
// benchmarks time against, and the reference that their output is checked against first.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// Appends the field of value with integer_positions, a point and decimals: the same bytes as
// format_coordinate_field (7, 5) and format_colour_field (1, 3) for every finite float.
inline void append_reference_field(float value, int integer_positions, int decimals,
                                   std::string& text) {
    // Step 1: the exact decimal expansion. A float of binary exponent e (frexp) is a multiple of
    // 2^(e - 24), which takes 24 - e decimals; 2^-149, the smallest, takes 149. With that many
    // snprintf rounds nothing.
    int exponent = 0;
    std::frexp(value, &exponent);
    const int exact_decimals = std::min(149, std::max(decimals + 1, 24 - exponent));
    char expansion[200]; // 39 integer digits + the point + 149 decimals + the end
    std::snprintf(expansion, sizeof expansion, "%.*f", exact_decimals,
                  std::fabs(static_cast<double>(value)));

    // Step 2: keep the integer digits and the decimals, without the point; half away from zero
    // is a first dropped digit of 5 or more, whatever follows it. A carry out of the first
    // digit shows as the leading "1" of kept.
    char kept[200];
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
        ++integer_start;

    // Step 3: the layout. Negative zero shows no minus.
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

inline void append_reference_coordinate_field(float value, std::string& text) {
    append_reference_field(value, 7, 5, text);
}

inline void append_reference_colour_field(float value, std::string& text) {
    append_reference_field(value, 1, 3, text);
}

// Appends the index item of index: a blank or "-", the decimal digits, one blank.
inline void append_reference_index_item(std::int32_t index, std::string& text) {
    char item[16];
    const long long wide = index;
    std::snprintf(item, sizeof item, "%c%lld ", index < 0 ? '-' : ' ', wide < 0 ? -wide : wide);
    text += item;
}
