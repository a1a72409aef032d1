// The two roundings that turn a parsed count text into the vertex count and the face count.
#include "converter/count_rounding.h"

#include <cmath>
#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the 80-bit extended format");
static_assert(std::numeric_limits<double>::is_iec559, "double must be the IEEE 64-bit format");

double vertex_count_from(long double value) {
    // The narrowing rounds in the current mode, which the run keeps at to nearest, ties to
    // even; past the range of a double it gives an infinity.
    return static_cast<double>(value);
}

std::int32_t face_count_from(long double value) {
    // std::nearbyint in the default mode: to nearest, ties to even, in the extended format.
    const long double whole = std::nearbyint(value);
    // The 64-bit range is [-2^63, 2^63); the comparison is false for a NaN as well.
    if (!(whole >= -0x1p63L && whole < 0x1p63L))
        return 0;
    const std::uint64_t bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(whole));
    const std::uint32_t low = static_cast<std::uint32_t>(bits);
    // The low 32 bits as a two's-complement number.
    if (low <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return static_cast<std::int32_t>(low);
    return static_cast<std::int32_t>(low - 0x80000000u) + std::numeric_limits<std::int32_t>::min();
}
