// Tests of the vertex count and the face count taken from a count text.
#include "converter/count_rounding.h"

#include <iterator>
#include <limits>

#include <gtest/gtest.h>

#include "converter/number_parse.h"
#include "platform/file_layer/failure.h"

namespace {

TEST(CountRounding, GivesTheCountsOfTheCountTexts) {
    struct Case {
        const char* text;
        long double parsed;
        double vertex_count;
        std::int32_t face_count;
    };
    const Case cases[] = {
        {"8", 8, 8, 8},
        {" 8", 8, 8, 8},
        {"8\r", 8, 8, 8},
        {"1 000", 1000, 1000, 1000},
        {"12abc", 12, 12, 12},
        {"1,000", 1, 1, 1},
        {"1e3", 1000, 1000, 1000},
        {"1d3", 1000, 1000, 1000},
        {"1E3", 1000, 1000, 1000},
        {"2.5", 2.5L, 2.5, 2},
        {"3.5", 3.5L, 3.5, 4},
        {"-5", -5, -5, -5},
        {"&H10", 16, 16, 16},
        {"&h10", 16, 16, 16},
        {"&O17", 15, 15, 15},
        {"", 0, 0, 0},
        {"abc", 0, 0, 0},
        {"--5", 0, 0, 0},
        // A 32-bit float would hold 2^24 here and lose a vertex record.
        {"16777217", 16777217, 16777217, 16777217},
        {"2147483648", 2147483648.0L, 2147483648.0, -2147483647 - 1},
        {"4294967301", 4294967301.0L, 4294967301.0, 5},
        {"1e30", 1e30L, 1e30, 0},
    };
    clear_failure();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const long double parsed = parse_number(c.text).value;
        EXPECT_EQ(parsed, c.parsed);
        EXPECT_EQ(vertex_count_from(parsed), c.vertex_count);
        EXPECT_EQ(face_count_from(parsed), c.face_count);
    }
    EXPECT_EQ(pending_failure_code(), 0);
}

// 1 + 2^-53 lies halfway between the doubles 1 and 1 + 2^-52.
TEST(VertexCount, RoundsToTheNearestDoubleTiesToEven) {
    struct Case {
        const char* name;
        long double value;
        double count;
    };
    const Case cases[] = {
        {"tie to even below", 1.0L + 0x1p-53L, 1.0},
        {"just above the tie", 1.0L + 0x1p-53L + 0x1p-63L, 1.0 + 0x1p-52},
        {"tie to even above", 1.0L + 0x3p-53L, 1.0 + 0x1p-51},
        {"2^53 + 1", 9007199254740993.0L, 9007199254740992.0},
        {"negative fraction stands", -2.5L, -2.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vertex_count_from(c.value), c.count);
    }
}

TEST(FaceCount, RoundsTiesToEvenAndKeepsTheLow32Bits) {
    const long double infinity = std::numeric_limits<long double>::infinity();
    struct Case {
        const char* name;
        long double value;
        std::int32_t count;
    };
    const Case cases[] = {
        {"0.5 to even", 0.5L, 0},
        {"1.5 to even", 1.5L, 2},
        {"-2.5 to even", -2.5L, -2},
        {"-3.5 to even", -3.5L, -4},
        {"just below a half", 2.4999999999999999999L, 2},
        {"a tie that reaches 2^31", 2147483647.5L, -2147483647 - 1},
        {"a tie that reaches 2^32", 4294967295.5L, 0},
        {"2^63 - 1.5 to even", 9223372036854775806.5L, -2},
        {"2^63 - 0.5 reaches 2^63, out of range", 9223372036854775807.5L, 0},
        {"2^63 + 7 is out of range", 9223372036854775815.0L, 0},
        {"-2^63 + 5 is in range", -9223372036854775803.0L, 5},
        {"-2^63 - 1 is out of range", -9223372036854775809.0L, 0},
        {"infinity", infinity, 0},
        {"negative infinity", -infinity, 0},
        {"NaN", std::numeric_limits<long double>::quiet_NaN(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(face_count_from(c.value), c.count);
    }
}

} // namespace
