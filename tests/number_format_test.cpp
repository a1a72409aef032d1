// Tests of the coordinate and colour fields, their lines and the index item.
#include "converter/number_format.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_layer/failure.h"
#include "tests/byte_values.h"
#include "tests/number_format_reference.h"

namespace {

struct FieldCase {
    const char* name;
    float value;
    const char* coordinate;
    const char* colour;
};

void expect_fields(const FieldCase& c) {
    SCOPED_TRACE(c.name);
    std::string coordinate;
    std::string colour;
    EXPECT_TRUE(format_coordinate_field(c.value, coordinate));
    EXPECT_TRUE(format_colour_field(c.value, colour));
    EXPECT_EQ(coordinate, c.coordinate);
    EXPECT_EQ(colour, c.colour);
    EXPECT_EQ(pending_failure_code(), 0);
}

TEST(NumberField, ShowsTheExactValueRoundedHalfAwayFromZero) {
    const FieldCase cases[] = {
        {"0", 0.0f, "      0.00000", "0.000"},
        {"1", 1.0f, "      1.00000", "1.000"},
        {"-1", -1.0f, "     -1.00000", "%-1.000"},
        {"1.5", 1.5f, "      1.50000", "1.500"},
        {"-2.25", -2.25f, "     -2.25000", "%-2.250"},
        {"0.5", 0.5f, "      0.50000", "0.500"},
        {"-0.5", -0.5f, "     -0.50000", "-.500"},
        {"tie at five decimals", 0.015625f, "      0.01563", "0.016"},
        {"negative tie at five decimals", -0.015625f, "     -0.01563", "-.016"},
        {"tie at three decimals", 0.0625f, "      0.06250", "0.063"},
        {"tie with six integer digits", -123456.703125f, "-123456.70313", "%-123456.703"},
        {"just below the tie at 0.000005", 0.000005f, "      0.00000", "0.000"},
        {"0.000006", 0.000006f, "      0.00001", "0.000"},
        {"tiny negative keeps its minus", -0.000001f, "     -0.00000", "-.000"},
        {"0.0005 lies above its tie", 0.0005f, "      0.00050", "0.001"},
        {"0.1", 0.1f, "      0.10000", "0.100"},
        {"128/255", 128.0f / 255.0f, "      0.50196", "0.502"},
        {"0.9996 carries into the integer", 0.9996f, "      0.99960", "1.000"},
        {"9.9996 carries into the overflow form", 9.9996f, "      9.99960", "%10.000"},
        {"9.999996 carries and still fits", 9.999996f, "     10.00000", "%10.000"},
        {"123.456789", 123.456789f, "    123.45679", "%123.457"},
        {"-999999.875 fills every position", -999999.875f, "-999999.87500", "%-999999.875"},
        {"-1000000", -1000000.0f, "%-1000000.00000", "%-1000000.000"},
        {"1234567.5", 1234567.5f, "1234567.50000", "%1234567.500"},
        {"-1234567.5", -1234567.5f, "%-1234567.50000", "%-1234567.500"},
        {"9999999", 9999999.0f, "9999999.00000", "%9999999.000"},
        {"10000000", 10000000.0f, "%10000000.00000", "%10000000.000"},
        {"smallest positive", float_from_bits(0x00000001), "      0.00000", "0.000"},
    };
    for (const FieldCase& c : cases)
        expect_fields(c);
}

// A fault in the half test or in the carry shows on the floats right beside a tie or a
// boundary.
TEST(NumberField, RoundsTiesAndTheirNeighboursByTheExactValue) {
    const FieldCase cases[] = {
        {"below the tie 1/64", std::nextafter(0.015625f, 0.0f), "      0.01562", "0.016"},
        {"above the tie 1/64", std::nextafter(0.015625f, 1.0f), "      0.01563", "0.016"},
        {"below the tie -1/64", std::nextafter(-0.015625f, 0.0f), "     -0.01562", "-.016"},
        {"above the tie -1/64", std::nextafter(-0.015625f, -1.0f), "     -0.01563", "-.016"},
        {"below the tie 1/16", std::nextafter(0.0625f, 0.0f), "      0.06250", "0.062"},
        {"above the tie 1/16", std::nextafter(0.0625f, 1.0f), "      0.06250", "0.063"},
        {"below the tie -1/16", std::nextafter(-0.0625f, 0.0f), "     -0.06250", "-.062"},
        {"tie 15/16", 0.9375f, "      0.93750", "0.938"},
        {"below the tie 15/16", std::nextafter(0.9375f, 0.0f), "      0.93750", "0.937"},
        {"negative tie 15/16", -0.9375f, "     -0.93750", "-.938"},
        {"above 0.000005", std::nextafter(0.000005f, 1.0f), "      0.00001", "0.000"},
        {"-0.000005", -0.000005f, "     -0.00000", "-.000"},
        {"below -0.000005", std::nextafter(-0.000005f, -1.0f), "     -0.00001", "-.000"},
        {"below 0.0005", std::nextafter(0.0005f, 0.0f), "      0.00050", "0.000"},
        {"largest below 1", std::nextafter(1.0f, 0.0f), "      1.00000", "1.000"},
        {"largest above -1", std::nextafter(-1.0f, 0.0f), "     -1.00000", "%-1.000"},
        {"below 9.9996", std::nextafter(9.9996f, 0.0f), "      9.99960", "%10.000"},
        {"9.9994 stays", 9.9994f, "      9.99940", "9.999"},
        {"-9.999996 carries", -9.999996f, "    -10.00000", "%-10.000"},
        {"999999.99 is the float 1000000", 999999.99f, "1000000.00000", "%1000000.000"},
        {"-9999999", -9999999.0f, "%-9999999.00000", "%-9999999.000"},
    };
    for (const FieldCase& c : cases)
        expect_fields(c);
}

TEST(NumberField, ShowsSignedZerosAndSubnormalsAsZero) {
    const FieldCase cases[] = {
        {"negative zero shows no minus", float_from_bits(0x80000000), "      0.00000", "0.000"},
        {"smallest negative", float_from_bits(0x80000001), "     -0.00000", "-.000"},
        {"largest subnormal", float_from_bits(0x007FFFFF), "      0.00000", "0.000"},
        {"smallest normal", float_from_bits(0x00800000), "      0.00000", "0.000"},
        {"1e-12", 1e-12f, "      0.00000", "0.000"},
    };
    for (const FieldCase& c : cases)
        expect_fields(c);
}

// Whole floats past 2^64 need more than 64 bits for their digits, all of them exact.
TEST(NumberField, ShowsEveryDigitOfLargeMagnitudes) {
    const FieldCase cases[] = {
        {"2^24", 16777216.0f, "%16777216.00000", "%16777216.000"},
        {"below 1e17", std::nextafter(1e17f, 0.0f), "%99999989840740352.00000",
         "%99999989840740352.000"},
        {"nearest 1e17", 1e17f, "%99999998430674944.00000", "%99999998430674944.000"},
        {"above 1e17", std::nextafter(1e17f, 2e17f), "%100000007020609536.00000",
         "%100000007020609536.000"},
        {"largest below 2^64", std::nextafter(0x1p64f, 0.0f), "%18446742974197923840.00000",
         "%18446742974197923840.000"},
        {"2^64", 0x1p64f, "%18446744073709551616.00000", "%18446744073709551616.000"},
        {"FLT_MAX", FLT_MAX, "%340282346638528859811704183484516925440.00000",
         "%340282346638528859811704183484516925440.000"},
        {"-FLT_MAX, the longest field", -FLT_MAX, "%-340282346638528859811704183484516925440.00000",
         "%-340282346638528859811704183484516925440.000"},
    };
    for (const FieldCase& c : cases)
        expect_fields(c);
    std::string longest;
    format_coordinate_field(-FLT_MAX, longest);
    EXPECT_EQ(longest.size(), 47u);
}

TEST(NumberField, AppendsToTheTextGiven) {
    std::string text = "x =";
    EXPECT_TRUE(format_coordinate_field(-2.25f, text));
    EXPECT_TRUE(format_colour_field(0.5f, text));
    EXPECT_EQ(text, "x =     -2.250000.500");
}

// The field fails and leaves the reporting to its caller: no failure is raised.
TEST(NumberField, FailsForNaNAndInfinity) {
    struct Case {
        const char* name;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {"quiet NaN", 0x7FC00000},    {"signalling NaN", 0x7F800001},
        {"negative NaN", 0xFFC00000}, {"NaN with every fraction bit", 0x7FFFFFFF},
        {"infinity", 0x7F800000},     {"negative infinity", 0xFF800000},
    };
    clear_failure();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string coordinate = "before";
        EXPECT_FALSE(format_coordinate_field(float_from_bits(c.bits), coordinate));
        EXPECT_EQ(coordinate, "before");
        std::string colour = "before";
        EXPECT_FALSE(format_colour_field(float_from_bits(c.bits), colour));
        EXPECT_EQ(colour, "before");
        EXPECT_EQ(pending_failure_code(), 0);
    }
}

TEST(CoordinateLine, PutsOneBlankBetweenFieldsAndACommaAfterTheLast) {
    struct Case {
        const char* name;
        float x, y, z;
        const char* line;
    };
    const Case cases[] = {
        {"fields that fit", 1.5f, -2.25f, 0.0f, "      1.50000      -2.25000       0.00000,"},
        {"overflow forms", -1234567.5f, 12345678.0f, 0.1f,
         "%-1234567.50000 %12345678.00000       0.10000,"},
    };
    clear_failure();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line = "left from the line before";
        EXPECT_TRUE(format_coordinate_line(c.x, c.y, c.z, line));
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(pending_failure_code(), 0);
    }
}

TEST(ColourLine, PutsOneBlankBetweenFieldsAndACommaAfterTheLast) {
    std::string line = "left from the line before";
    clear_failure();
    EXPECT_TRUE(format_colour_line(128.0f / 255.0f, 255.0f / 255.0f, 0.0f / 255.0f, line));
    EXPECT_EQ(line, "0.502 1.000 0.000,");
    EXPECT_EQ(pending_failure_code(), 0);
}

TEST(NumberLine, KeepsTheTextBuiltBeforeTheFailingField) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        float x, y, z;
        const char* coordinate_line;
        const char* colour_line;
    };
    const Case cases[] = {
        {"NaN in x", nan, 1.0f, 0.0f, "", ""},
        {"NaN in y", 1.5f, nan, 0.0f, "      1.50000 ", "1.500 "},
        {"infinity in z", 1.5f, -2.25f, -infinity, "      1.50000      -2.25000 ",
         "1.500 %-2.250 "},
        {"the first failure stops the line", 0.5f, infinity, nan, "      0.50000 ", "0.500 "},
    };
    clear_failure();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line = "left from the line before";
        EXPECT_FALSE(format_coordinate_line(c.x, c.y, c.z, line));
        EXPECT_EQ(line, c.coordinate_line);
        line = "left from the line before";
        EXPECT_FALSE(format_colour_line(c.x, c.y, c.z, line));
        EXPECT_EQ(line, c.colour_line);
        EXPECT_EQ(pending_failure_code(), 0);
    }
}

TEST(IndexItem, WritesSignPositionDigitsAndOneBlank) {
    struct Case {
        std::int32_t index;
        const char* item;
    };
    const Case cases[] = {
        {0, " 0 "},
        {7, " 7 "},
        {-1, "-1 "},
        {10, " 10 "},
        {12345, " 12345 "},
        {2147483647, " 2147483647 "},
        {-2147483647 - 1, "-2147483648 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        IndexItem item;
        format_index_item(c.index, item);
        EXPECT_EQ(item.text(), c.item);
    }
}

// Both fields against the slow exact reference on a few million floats spread over every
// exponent, with a denser sample of [0, 2) where coordinates and colours mostly lie.
TEST(NumberField, MatchesTheExactReferenceOnASample) {
    int mismatch_count = 0;
    auto check = [&](std::uint32_t bits) {
        const float value = float_from_bits(bits);
        if (!std::isfinite(value))
            return;
        const std::string expansion = exact_expansion(value);
        std::string coordinate;
        std::string colour;
        format_coordinate_field(value, coordinate);
        format_colour_field(value, colour);
        const std::string want_coordinate = reference_field(value, expansion, 7, 5);
        const std::string want_colour = reference_field(value, expansion, 1, 3);
        if ((coordinate != want_coordinate || colour != want_colour) && ++mismatch_count <= 10) {
            ADD_FAILURE() << "bits 0x" << std::hex << bits << ": \"" << coordinate << "\" \""
                          << colour << "\", want \"" << want_coordinate << "\" \"" << want_colour
                          << "\"";
        }
    };
    // 1433 is prime, so the sample meets every low-bit pattern; 2^32 / 1433 is about 3 million.
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 1433)
        check(static_cast<std::uint32_t>(bits));
    // 0x40000000 is the bits of 2.0f; 0x40000000 / 1021 is about 1 million.
    for (std::uint32_t bits = 0; bits < 0x40000000u; bits += 1021) {
        check(bits);
        check(bits | 0x80000000u);
    }
    EXPECT_EQ(mismatch_count, 0);
    clear_failure();
}

// The sweeps trust the shorter expansion to hold every digit of "%.160f"; a wrong count of
// decimals would round it.
TEST(NumberField, ReferenceExpansionIsExact) {
    for (std::uint64_t bits = 0; bits < 0x7F800000u; bits += 8191) {
        const float value = float_from_bits(static_cast<std::uint32_t>(bits));
        char full[256];
        std::snprintf(full, sizeof full, "%.160f", static_cast<double>(value));
        const std::string expansion = exact_expansion(value);
        SCOPED_TRACE(expansion);
        ASSERT_EQ(std::string(full).compare(0, expansion.size(), expansion), 0);
        ASSERT_EQ(std::string(full).find_first_not_of('0', expansion.size()), std::string::npos);
    }
}

} // namespace
