// Tests of the values at byte positions: the rounding of a position, the checks in the order of
// the failure table, and values that keep their bits.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/fault_injection.h"
#include "tests/file_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using ByteAccess = FileLayerTest;

TEST_F(ByteAccess, PositionsRoundToNearestTiesToEven) {
    make_file(folder.name("ten"), "ABCDEFGHIJ");
    FileSlot slot;
    open_byte_file(slot, folder.name("ten"), EmptyFirst::No);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double position;
        int byte; // -1: refused with 63
    };
    const Case cases[] = {
        {"1 is the first byte", 1, 'A'},
        {"1.5 is taken as 2", 1.5, 'B'},
        {"2.5 is taken as 2", 2.5, 'B'},
        {"3.5 is taken as 4", 3.5, 'D'},
        {"just below 1.5 is 1", std::nextafter(1.5, 0.0), 'A'},
        {"just above 0.5 is 1", std::nextafter(0.5, 1.0), 'A'},
        {"0.5 is taken as 0", 0.5, -1},
        {"0", 0, -1},
        {"-0", -0.0, -1},
        {"-1", -1, -1},
        {"NaN", nan, -1},
        {"infinity", infinity, -1},
        {"-infinity", -infinity, -1},
        {"2^63", 0x1p63, -1},
        {"-2^63", -0x1p63, -1},
        {"1e300", 1e300, -1},
        {"just past the end", 11, 0},
        {"just below 2^63 is past the end", std::nextafter(0x1p63, 0.0), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t value = 99;
        read_byte_at(slot, c.position, value);
        if (c.byte < 0) {
            EXPECT_EQ(take_code(), 63);
            EXPECT_EQ(value, 99);
        } else {
            EXPECT_EQ(take_code(), 0);
            EXPECT_EQ(value, c.byte);
        }
    }
    write_int_at(slot, 0.5, 7);
    EXPECT_EQ(take_code(), 63);
    close_file(slot);
    EXPECT_EQ(file_bytes(folder.name("ten")), "ABCDEFGHIJ");
}

TEST_F(ByteAccess, ByteAccessIsCheckedInTheOrderOfTheTable) {
    make_file(folder.name("f"), "0123");
    FileSlot closed, text, read_only, write_only;
    open_text_writer(text, folder.name("t"));
    {
        FaultPlan plan = failing(SystemCall::Open, 1, EACCES);
        FaultGuard guard(plan);
        open_byte_file(read_only, folder.name("f"), EmptyFirst::No);
    }
    open_byte_file(write_only, folder.name("w"), EmptyFirst::Yes);
    ASSERT_EQ(take_code(), 0);
    struct Case {
        const char* name;
        FileSlot* slot;
        double position;
        int read_code;
        int write_code;
    };
    const Case cases[] = {
        {"closed before a bad position", &closed, 0, 52, 52},
        {"a text slot before a bad position", &text, 0, 54, 54},
        {"rights before a bad position", &read_only, 0, 63, 75},
        {"rights before a bad position (write only)", &write_only, 0, 75, 63},
        {"a bad position", &read_only, -3, 63, 75},
        {"read only", &read_only, 1, 0, 75},
        {"write only", &write_only, 1, 75, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t byte = 7;
        float real = 7;
        std::int32_t whole = 7;
        read_byte_at(*c.slot, c.position, byte);
        EXPECT_EQ(take_code(), c.read_code);
        read_float_at(*c.slot, c.position, real);
        EXPECT_EQ(take_code(), c.read_code);
        read_int_at(*c.slot, c.position, whole);
        EXPECT_EQ(take_code(), c.read_code);
        if (c.read_code != 0) {
            EXPECT_EQ(byte, 7);
            EXPECT_EQ(real, 7.0f);
            EXPECT_EQ(whole, 7);
        }
        write_text_at(*c.slot, c.position, "ab");
        EXPECT_EQ(take_code(), c.write_code);
        write_float_at(*c.slot, c.position, 1.0f);
        EXPECT_EQ(take_code(), c.write_code);
        write_int_at(*c.slot, c.position, 1);
        EXPECT_EQ(take_code(), c.write_code);
    }
    close_all_files();
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(file_bytes(folder.name("f")), "0123");
    EXPECT_EQ(file_bytes(folder.name("t")), "");
    EXPECT_EQ(file_bytes(folder.name("w")), int_bytes(1));
}

TEST_F(ByteAccess, ValuesKeepTheirBits) {
    FileSlot slot;
    open_byte_file(slot, folder.name("v"), EmptyFirst::Yes);
    std::uint32_t nan_bits = 0x7fa12345; // a signalling NaN with a payload
    const float nan = float_from_bits(nan_bits);
    write_float_at(slot, 1, nan);
    write_float_at(slot, 5, -std::numeric_limits<float>::infinity());
    write_float_at(slot, 9, -0.0f);
    write_int_at(slot, 13, -2);
    write_text_at(slot, 17, std::string("\0\0", 2));
    close_file(slot);
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(file_bytes(folder.name("v")), std::string("\x45\x23\xa1\x7f"
                                                        "\x00\x00\x80\xff"
                                                        "\x00\x00\x00\x80"
                                                        "\xfe\xff\xff\xff"
                                                        "\x00\x00",
                                                        18));

    FileSlot reader;
    open_byte_file(reader, folder.name("v"), EmptyFirst::No);
    float back;
    read_float_at(reader, 1, back);
    EXPECT_EQ(bits_of(back), nan_bits);
    std::int32_t whole = 0;
    read_int_at(reader, 13, whole);
    EXPECT_EQ(whole, -2);
}

} // namespace
