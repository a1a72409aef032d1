// The slow exact reference for the number fields, shared by the sampled and the full sweep:
// the exact decimal expansion that snprintf gives, rounded on its digits and laid out anew.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

// The exact expansion of |value|, with at least 6 decimals. A float is a multiple of
// 2^(ilogb - 23), 2^-149 for the subnormals, so it has exactly that many decimals, at most 149:
// printed with them, nothing is rounded (and the digits are as many as "%.160f" gives, less
// trailing zeros, at half the cost).
inline std::string exact_expansion(float value) {
    const int step_exponent = value == 0 ? 0 : std::max(std::ilogb(value), -126) - 23;
    const int decimals = std::max(6, -step_exponent);
    char expansion[256]; // 39 integer digits + the point + 149 decimals at most
    std::snprintf(expansion, sizeof expansion, "%.*f", decimals,
                  static_cast<double>(std::fabs(value)));
    return expansion;
}

// The field of a finite value from its expansion: integer_positions, a point and decimals.
inline std::string reference_field(float value, const std::string& expansion,
                                   std::size_t integer_positions, std::size_t decimals) {
    const std::size_t point = expansion.find('.');
    std::string kept = expansion.substr(0, point) + expansion.substr(point + 1, decimals);
    // Half away from zero: the first dropped digit alone decides.
    if (expansion[point + 1 + decimals] >= '5') {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9')
            kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    std::string integer_digits = kept.substr(0, kept.size() - decimals);
    integer_digits.erase(0, integer_digits.find_first_not_of('0')); // 0 has no digits
    const std::string decimal_digits = kept.substr(kept.size() - decimals);

    std::string body = (value < 0 ? "-" : "") + integer_digits;
    if (body.size() > integer_positions)
        return "%" + body + "." + decimal_digits;
    if (integer_digits.empty() && body.size() < integer_positions)
        body += "0";
    return std::string(integer_positions - body.size(), ' ') + body + "." + decimal_digits;
}
