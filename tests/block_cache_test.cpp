// Tests of the read blocks under the value reads: zeros past the end, reads that see the
// slot's own writes, and random reads and writes against a plain copy of the file.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/file_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

using BlockCache = FileLayerTest;

TEST_F(BlockCache, ReadsPastTheEndGiveZeros) {
    make_file(folder.name("f"), std::string("\x09\x09\x09\x09\x01\x02", 6));
    FileSlot slot;
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    struct Case {
        const char* name;
        double position;
        std::int32_t value;
    };
    const Case cases[] = {
        {"all four bytes exist", 3, 0x02010909},
        {"two bytes 2 before the end", 5, 513},
        {"one byte", 6, 2},
        {"none", 7, 0},
        {"far past the end", 1e15, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t value = -1;
        read_int_at(slot, c.position, value);
        EXPECT_EQ(take_code(), 0);
        EXPECT_EQ(value, c.value);
        float real = -1;
        read_float_at(slot, c.position, real);
        EXPECT_EQ(static_cast<std::int32_t>(bits_of(real)), c.value);
    }
    EXPECT_EQ(slot.position, 1000000000000003u); // just after the last bytes read
    close_file(slot);
    EXPECT_EQ(file_bytes(folder.name("f")).size(), 6u);
}

TEST_F(BlockCache, ReadsSeeTheSlotsOwnWrites) {
    const std::string original = pattern_bytes(200000);
    make_file(folder.name("f"), original);
    FileSlot slot;
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    std::int32_t value = 0;
    // Offsets 65534 to 65537 lie in two blocks.
    read_int_at(slot, 65535, value);
    EXPECT_EQ(int_bytes(value), original.substr(65534, 4));
    write_int_at(slot, 65536, 0x11223344); // over cached bytes of both blocks
    read_int_at(slot, 65535, value);
    EXPECT_EQ(value, 0x22334400 | static_cast<std::uint8_t>(original[65534]));
    write_int_at(slot, 300001, 0x55667788); // past the end, with a gap
    read_int_at(slot, 299999, value);       // two gap bytes, then the written ones
    EXPECT_EQ(value, 0x77880000);
    read_int_at(slot, 200001, value); // the old end, now inside the file
    EXPECT_EQ(value, 0);
    EXPECT_EQ(file_size(slot), 300004u);
    close_file(slot);
    EXPECT_EQ(take_code(), 0);
    std::string expected = original;
    expected.replace(65535, 4, int_bytes(0x11223344));
    expected.resize(300000, '\0');
    expected += int_bytes(0x55667788);
    EXPECT_EQ(file_bytes(folder.name("f")), expected);
}

// A write that continues the pending bytes into a block read before them: that block must be
// dropped as well, or the read after the flush gives the file's old bytes.
TEST_F(BlockCache, ContinuedWriteDropsTheNextBlock) {
    const std::string original = pattern_bytes(200000);
    make_file(folder.name("f"), original);
    FileSlot slot;
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    std::int32_t value = 0;
    read_int_at(slot, 65537, value);    // block 1
    read_int_at(slot, 1, value);        // then block 0
    write_text_at(slot, 65533, "ABCD"); // the last 4 bytes of block 0
    write_text_at(slot, 65537, "EFGH"); // continues them, into block 1
    read_int_at(slot, 65537, value);
    EXPECT_EQ(int_bytes(value), "EFGH");
    read_int_at(slot, 65535, value);
    EXPECT_EQ(int_bytes(value), "CDEF");
    close_file(slot);
    EXPECT_EQ(take_code(), 0);
    std::string expected = original;
    expected.replace(65532, 8, "ABCDEFGH");
    EXPECT_TRUE(file_bytes(folder.name("f")) == expected);
}

// Reads and writes at random positions on one slot, against a plain copy of the file.
TEST_F(BlockCache, CachedReadsAndBufferedWritesMatchTheFile) {
    std::mt19937 generator(20240611);
    std::string model = pattern_bytes(1000000 + 1234);
    make_file(folder.name("f"), model);
    FileSlot slot;
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    std::uint64_t near = 0; // most accesses stay near the last one, as a facet's vertices do
    int mismatches = 0;
    for (int i = 0; i < 40000; ++i) {
        std::uint64_t offset = generator() % 8 == 0
                                   ? generator() % (model.size() + 70000)
                                   : (near + generator() % 4000) % (model.size() + 10);
        if (generator() % 10 == 0)
            offset = (1 + generator() % 20) * 65536 - generator() % 4; // across a block boundary
        near = offset;
        double position = static_cast<double>(offset) + 1;
        int action = generator() % 10;
        if (action < 6) {
            std::int32_t value = 0;
            read_int_at(slot, position, value);
            std::string expected = offset < model.size() ? model.substr(offset, 4) : "";
            expected.resize(4, '\0');
            mismatches += int_bytes(value) != expected;
        } else if (action < 8) {
            std::uint8_t value = 0;
            read_byte_at(slot, position, value);
            mismatches += value != (offset < model.size() ? std::uint8_t(model[offset]) : 0);
        } else {
            std::string text(1 + generator() % 60, static_cast<char>('a' + generator() % 26));
            write_text_at(slot, position, text);
            if (model.size() < offset + text.size())
                model.resize(offset + text.size(), '\0');
            model.replace(offset, text.size(), text);
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(file_size(slot), model.size());
    close_file(slot);
    EXPECT_EQ(take_code(), 0);
    EXPECT_TRUE(file_bytes(folder.name("f")) == model);
}

} // namespace
