// The vertex count and the face count from the parsed value of their count texts.
#pragma once

#include <cstdint>

// The value rounded to the nearest 64-bit float, ties to even: whole counts up to 2^53 stay
// exact, and fractional or negative ones stand as rounded.
double vertex_count_from(long double value);

// The value rounded to the nearest integer, ties to even, as a 64-bit two's-complement integer
// whose low 32 bits, read as signed, are the count. A value outside the 64-bit range, an
// infinity included, gives 0.
std::int32_t face_count_from(long double value);
