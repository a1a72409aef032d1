// Tests of the number parse of the header's count texts.
#include "converter/number_parse.h"

#include <iterator>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_layer/failure.h"

namespace {

struct Case {
    const char* name;
    std::string text;
    long double value;
};

// Each text parses to its value and raises no failure.
void expect_values(const Case* cases, std::size_t count) {
    clear_failure();
    for (std::size_t i = 0; i < count; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const ParsedNumber parsed = parse_number(c.text);
        EXPECT_EQ(parsed.value, c.value) << '"' << c.text << '"';
        EXPECT_FALSE(parsed.overflowed);
        EXPECT_EQ(pending_failure_code(), 0);
    }
}

constexpr long double two_to_63 = 9223372036854775808.0L;

TEST(ParseNumber, SkipsBlanksAndTabsWhereverTheyStand) {
    const Case cases[] = {
        {"blank before", " 8", 8},
        {"tab before", "\t8", 8},
        {"blank between digits", "1 000", 1000},
        {"tab between digits", "1\t000", 1000},
        {"blanks around the point", "1 . 5", 1.5L},
        {"blank after the sign", "- 5", -5},
        {"blanks around the exponent letter", "1 e 3", 1000},
        {"blank after the exponent sign", "1e- 1", 0.1L},
        {"only blanks", "  \t ", 0},
    };
    expect_values(cases, std::size(cases));
}

TEST(ParseNumber, EndsAtTheFirstCharacterOutOfOrder) {
    const Case cases[] = {
        {"a letter", "12abc", 12},
        {"a comma", "1,000", 1},
        {"a CR", "8\r", 8},
        {"a second sign at the start", "--5", 0},
        {"a sign after a sign", "+-5", 0},
        {"a sign after the digits", "5-3", 5},
        {"a second point", "1.2.3", 1.2L},
        {"a point after the exponent letter", "1e3.5", 1000},
        {"a second exponent letter", "1e3e2", 1000},
        {"a second exponent sign", "1e+-3", 1},
        {"an ampersand after the start", "2&H10", 2},
        {"an exponent letter without digits", "1e", 1},
        {"an exponent sign without digits", "1e+", 1},
        {"an exponent letter then a letter", "7dx", 7},
        {"a letter first", "abc", 0},
        {"empty", "", 0},
    };
    expect_values(cases, std::size(cases));
}

TEST(ParseNumber, ReadsSignDigitsPointAndExponent) {
    const Case cases[] = {
        {"plus sign", "+7", 7},
        {"minus sign", "-5", -5},
        {"minus zero", "-0", 0},
        {"zero point zero", "0.0", 0},
        {"leading zeros", "000123", 123},
        {"point first", ".5", 0.5L},
        {"point last", "5.", 5},
        {"negative fraction", "-.25", -0.25L},
        {"fraction", "2.5", 2.5L},
        {"exponent letter e", "1e3", 1000},
        {"exponent letter E", "1E3", 1000},
        {"exponent letter d", "1d3", 1000},
        {"exponent letter D with sign", "2.5D-3", 0.0025L},
        {"exponent that brings a fraction back", "0.001e3", 1},
        {"negative exponent", "12e-1", 1.2L},
        {"no significant digit before an exponent", "0e5", 0},
        {"no digit at all before an exponent", ".e5", 0},
        {"leading zeros of the exponent", "1e-00000000000000000000000000001", 0.1L},
        {"nearest to 0.1", "0.1", 0.1L},
        {"1e30", "1e30", 1e30L},
    };
    expect_values(cases, std::size(cases));
}

// The integer path accumulates in 64 bits, so digits past 2^64 wrap; any other form of the
// same digits is converted and keeps its magnitude.
TEST(ParseNumber, IntegersWrapModulo2To64) {
    const Case cases[] = {
        {"2^24 + 1", "16777217", 16777217},
        {"2^63 - 1 is exact", "9223372036854775807", 9223372036854775807.0L},
        {"2^63 reads as signed", "9223372036854775808", -two_to_63},
        {"-2^63", "-9223372036854775808", -two_to_63},
        {"2^64", "18446744073709551616", 0},
        {"2^64 + 1", "18446744073709551617", 1},
        {"-(2^64 - 1)", "-18446744073709551615", 1},
        {"exponent 0 keeps an integer", "18446744073709551617e0", 1},
        {"a significant zero after the point", "18446744073709551617.0", 18446744073709551616.0L},
        {"a shifted point", "1844674407370955161.7e1", 18446744073709551616.0L},
    };
    expect_values(cases, std::size(cases));
}

// 64 significand bits: 1 + 2^-64 lies halfway between 1 and 1 + 2^-63.
TEST(ParseNumber, RoundsOtherNumbersToTheNearestExtendedValue) {
    const std::string zeros(4999, '0');
    const Case cases[] = {
        {"tie to even below", "1.0000000000000000000542101086242752217003726400434970855712890625",
         1.0L},
        {"just above the tie",
         "1.00000000000000000005421010862427522170037264004349708557128906250001", 1.0L + 0x1p-63L},
        {"tie to even above", "1.0000000000000000001626303258728256651011179201304912567138671875",
         1.0L + 0x1p-62L},
        {"large", "1e4000", 1e4000L},
        {"near the largest", "1.18e4932", 1.18e4932L},
        {"small", "2.5e-4000", 2.5e-4000L},
        {"too large", "1e5000", std::numeric_limits<long double>::infinity()},
        {"too large, negative", "-1.2e4932", -std::numeric_limits<long double>::infinity()},
        {"too small", "1e-5000", 0},
        {"smallest step", "3.7e-4951", std::numeric_limits<long double>::denorm_min()},
        {"many leading zeros and a large exponent", "0." + zeros + "15e5000", 1.5L},
        {"many digits and a small exponent", "1" + zeros + "e-4999", 1},
        {"an exponent of 18 digits", "1e-100000000000000000", 0},
        {"an exponent of 19 digits", "1e1000000000000000000",
         std::numeric_limits<long double>::infinity()},
    };
    expect_values(cases, std::size(cases));
}

TEST(ParseNumber, ReadsHexadecimalAndOctalIntegers) {
    const Case cases[] = {
        {"&H", "&H10", 16},
        {"&h", "&h10", 16},
        {"&O", "&O17", 15},
        {"&o", "&o17", 15},
        {"both letter cases", "&HfF", 255},
        {"one digit", "&H1", 1},
        {"blanks before", " \t&H10", 16},
        {"16 digits read as signed", "&HFFFFFFFFFFFFFFFF", -1},
        {"largest", "&H7FFFFFFFFFFFFFFF", 9223372036854775807.0L},
        {"smallest", "&H8000000000000000", -two_to_63},
        {"leading zeros are not counted", "&H000000000000000000001", 1},
        {"64 octal bits", "&O1777777777777777777777", -1},
        {"a blank ends the digits", "&H1 0", 1},
        {"a letter ends the digits", "&H1G", 1},
        {"8 is no octal digit", "&O18", 1},
        {"no digits", "&HG", 0},
        {"a sign before", "-&H10", 0},
        {"a plus before", "+&H10", 0},
        {"another letter", "&X10", 0},
        {"a blank after the ampersand", "& H10", 0},
        {"ampersand alone", "&", 0},
        {"ampersand among the last two", "&H", 0},
        {"octal among the last two", "&O", 0},
    };
    expect_values(cases, std::size(cases));
}

TEST(ParseNumber, BasedIntegerWiderThan64BitsOverflows) {
    const char* const texts[] = {
        "&H10000000000000000",      // 17 significant digits
        "&h00FFFFFFFFFFFFFFFFF",    // 17 after the leading zeros
        "&O2000000000000000000000", // 2^64
        "&O7777777777777777777777", // 66 bits
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        clear_failure();
        const ParsedNumber parsed = parse_number(text);
        EXPECT_EQ(parsed.value, 0);
        EXPECT_TRUE(parsed.overflowed);
        EXPECT_EQ(pending_failure_code(), 0); // the header scan reports it
    }
}

} // namespace
