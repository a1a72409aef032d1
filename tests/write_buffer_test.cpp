// Tests of the write buffer and its hand-over to the background writer: writes that land in the
// order made, and refused writes that keep every byte before them.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/fault_injection.h"
#include "tests/file_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using WriteBuffer = FileLayerTest;

// The STL file's order: head, a first count, 13 writes per facet, then the count again at 81.
TEST_F(WriteBuffer, BufferedWritesLandInTheOrderMade) {
    FileSlot stl;
    open_byte_file(stl, folder.name("o.stl"), EmptyFirst::Yes);
    const std::string head(80, 'H');
    write_text_at(stl, 1, head);
    write_int_at(stl, 81, 0);
    std::string expected = head + int_bytes(0);
    const int facets = 7000; // 350 KB: more than one buffer
    double position = 85;
    for (int facet = 0; facet < facets; ++facet) {
        for (int i = 0; i < 12; ++i) {
            float value = static_cast<float>(facet) + i / 16.0f;
            write_float_at(stl, position, value);
            expected += float_bytes(value);
            position += 4;
        }
        write_text_at(stl, position, std::string("\0\0", 2));
        expected += std::string("\0\0", 2);
        position += 2;
    }
    write_int_at(stl, 81, facets);
    expected.replace(80, 4, int_bytes(facets));
    close_file(stl);
    EXPECT_EQ(take_code(), 0);
    EXPECT_FALSE(stl.is_open);
    EXPECT_TRUE(file_bytes(folder.name("o.stl")) == expected);
}

// A full buffer goes to the background writer, and a full medium or a refused write of it comes
// out when the slot next waits for that write: at the next full buffer, or at the close. The
// bytes before the failure stay in the file.
TEST_F(WriteBuffer, FailedFlushesKeepTheBytesBefore) {
    const std::string line = "0123456789abcdefghijklmnopqrstuvwxyz\r\n"; // 38 bytes
    std::string text;
    // 760000 bytes: 6898 lines fill the buffer of 262144 bytes, so lines 6898 and 13796 hand a
    // full buffer over, and the second hand-over waits for the first.
    for (int i = 0; i < 20000; ++i)
        text += line;
    struct Case {
        const char* name;
        FaultKind kind;
        int error;
        std::size_t room;
        int code;
        int failing_line; // the write_text_items call that raises; -1: the close
        std::size_t kept;
    };
    const Case cases[] = {
        {"full medium at once", FaultKind::FullMedium, ENOSPC, 0, 75, 13796, 0},
        {"full medium after 1000 bytes", FaultKind::FullMedium, ENOSPC, 1000, 75, 13796, 1000},
        {"a write that stops short", FaultKind::Short, 0, 0, 75, 13796, 0},
        {"read-only medium", FaultKind::Error, EROFS, 0, 70, 13796, 0},
        {"access denied", FaultKind::Error, EACCES, 0, 70, 13796, 0},
        {"quota", FaultKind::Error, EDQUOT, 0, 75, 13796, 0},
        {"full after the first buffer", FaultKind::FullMedium, ENOSPC, 262144, 75, -1, 262144},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileSlot writer;
        open_text_writer(writer, folder.name("t"));
        FaultPlan plan = failing_from(SystemCall::Pwrite, 1, c.error);
        plan.kind = c.kind;
        plan.short_size = c.room;
        FaultGuard guard(plan);
        int failing_line = -1;
        for (int i = 0; i < 20000; ++i) {
            write_text_items(writer, {line.substr(0, 36)}, EndLine::Yes);
            int code = take_code();
            if (code != 0 && failing_line < 0) {
                failing_line = i;
                EXPECT_EQ(code, c.code);
            }
        }
        close_file(writer);
        int close_code = take_code();
        EXPECT_FALSE(writer.is_open);
        EXPECT_EQ(failing_line, c.failing_line);
        EXPECT_EQ(close_code, c.code); // a lasting fault fails the last flush too
        std::string kept = file_bytes(folder.name("t"));
        EXPECT_EQ(kept.size(), c.kept);
        EXPECT_TRUE(kept == text.substr(0, kept.size()));
    }
}

// A background write that is refused once: the line that met the refusal is lost, and the
// refused bytes reach the file before the later lines once the medium takes them again.
TEST_F(WriteBuffer, RefusedBackgroundWriteIsTriedAgainBeforeTheLaterBytes) {
    const std::string line = "0123456789abcdefghijklmnopqrstuvwxyz"; // 36 bytes, 38 with CR LF
    FileSlot writer;
    open_text_writer(writer, folder.name("t"));
    std::string expected;
    std::vector<int> failing_lines;
    {
        FaultGuard guard(failing(SystemCall::Pwrite, 1, EIO)); // the first write fails, once
        for (int i = 0; i < 20000; ++i) {
            write_text_items(writer, {line}, EndLine::Yes);
            if (take_code() != 0)
                failing_lines.push_back(i);
            else
                expected += line + "\r\n";
        }
        close_file(writer);
        EXPECT_EQ(take_code(), 0);
    }
    EXPECT_EQ(failing_lines, std::vector<int>{13796});
    EXPECT_TRUE(file_bytes(folder.name("t")) == expected);
}

TEST_F(WriteBuffer, FailedWriteStopsTheItemsAfterIt) {
    FileSlot writer;
    open_text_writer(writer, folder.name("t"));
    std::string big(300000, 'b'); // larger than the buffer: written at once
    {
        FaultPlan plan = failing_from(SystemCall::Pwrite, 1, ENOSPC);
        plan.kind = FaultKind::FullMedium;
        plan.short_size = 5000;
        FaultGuard guard(plan);
        write_text_items(writer, {"A", big, "B"}, EndLine::Yes);
        EXPECT_EQ(take_code(), 75);
    }
    write_text_items(writer, {"C"}, EndLine::Yes); // goes on where the file ends
    close_file(writer);
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(file_bytes(folder.name("t")), "A" + big.substr(0, 4999) + "C\r\n");
}

TEST_F(WriteBuffer, EveryFlushRaisesItsFailure) {
    struct Case {
        const char* name;
        void (*act)(FileSlot& slot);
        bool closed_after;
    };
    const Case cases[] = {
        {"a write elsewhere", [](FileSlot& slot) { write_int_at(slot, 500, 1); }, false},
        {"a read of the same slot",
         [](FileSlot& slot) {
             std::int32_t value = 3;
             read_int_at(slot, 1, value);
             EXPECT_EQ(value, 3);
         },
         false},
        {"close_file", [](FileSlot& slot) { close_file(slot); }, true},
        {"close_all_files", [](FileSlot&) { close_all_files(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_file(folder.name("f"), "");
        FileSlot slot;
        open_byte_file(slot, folder.name("f"), EmptyFirst::No);
        write_int_at(slot, 1, 0x01020304);
        {
            FaultGuard guard(failing_from(SystemCall::Pwrite, 1, EIO));
            c.act(slot);
        }
        EXPECT_EQ(take_code(), 75);
        EXPECT_EQ(slot.is_open, !c.closed_after);
        close_file(slot);
        close_all_files(); // the end of a run: the next one opens its input anew
        EXPECT_EQ(take_code(), 0);
        // Refused bytes stay pending and reach the file at a later flush; a close under the
        // refusal lets them go with the file.
        EXPECT_EQ(file_bytes(folder.name("f")),
                  c.closed_after ? std::string() : std::string("\x04\x03\x02\x01"));
    }
}

} // namespace
