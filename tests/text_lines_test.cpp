// Tests of the text lines, written and read back: items and line ends, the line rules, lines
// across blocks, and failed reads.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/fault_injection.h"
#include "tests/file_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using TextLines = FileLayerTest;

struct LineCase {
    const char* name;
    std::string bytes;
    bool at_end_at_once;
    std::vector<std::string> lines;
    std::vector<bool> at_end_after;
};

TEST_F(TextLines, TextWriterAppendsItemsAndLineEnds) {
    FileSlot writer;
    open_text_writer(writer, folder.name("t"));
    write_text_items(writer, {" 0 ", ", "}, EndLine::No);
    write_text_items(writer, {"-1,"}, EndLine::Yes);
    write_text_items(writer, {}, EndLine::Yes);
    write_text_items(writer, {"", "a", ""}, EndLine::No);
    std::string expected = " 0 , -1,\r\n\r\na";
    // More than a buffer of lines, and one text larger than the buffer among them.
    for (int i = 0; i < 30000; ++i) {
        std::string line = "line " + std::to_string(i);
        write_text_items(writer, {line, " ,"}, EndLine::Yes);
        expected += line + " ,\r\n";
        if (i == 20000) {
            std::string big(300000, 'b');
            write_text_items(writer, {"<", big, ">"}, EndLine::Yes);
            expected += "<" + big + ">\r\n";
        }
    }
    EXPECT_EQ(writer.position, expected.size());
    EXPECT_EQ(file_size(writer), expected.size());
    close_file(writer);
    EXPECT_EQ(take_code(), 0);
    EXPECT_TRUE(file_bytes(folder.name("t")) == expected);

    FileSlot closed, bytes;
    open_byte_file(bytes, folder.name("b"), EmptyFirst::Yes);
    write_text_items(closed, {"x"}, EndLine::Yes);
    EXPECT_EQ(take_code(), 52);
    write_text_items(bytes, {"x"}, EndLine::Yes);
    EXPECT_EQ(take_code(), 54);
    close_file(bytes);
    EXPECT_EQ(file_bytes(folder.name("b")), "");
}

TEST_F(TextLines, TextLinesReadBackByTheLineRules) {
    const std::string hundred(100, 'h');
    const std::string eighty(80, 'e');
    const LineCase cases[] = {
        {"CR LF", "a\r\nb", false, {"a", "b"}, {false, true}},
        {"CR CR is two line ends", "a\r\rb", false, {"a", "", "b"}, {false, false, true}},
        {"LF CR is one", "a\n\rb", false, {"a", "b"}, {false, true}},
        {"LF LF is two", "a\n\n", false, {"a", ""}, {false, true}},
        {"26 ends the file",
         "ab\x1a"
         "cd",
         false,
         {"ab"},
         {true}},
        {"the last line ends with CR LF", "a\r\nb\r\n", false, {"a", "b"}, {false, true}},
        {"the last line ends with CR", "a\r", false, {"a"}, {true}},
        {"the last line ends with LF CR", "a\n\r", false, {"a"}, {true}},
        {"26 after a line end", "a\r\n\x1a\r\n", false, {"a"}, {true}},
        {"a line end alone", "\r\n", false, {""}, {true}},
        {"a zero byte belongs to the line",
         std::string("a\0b\r\n", 5),
         false,
         {std::string("a\0b", 3)},
         {true}},
        {"a line of 100 characters is whole",
         hundred + "\r\nnext\r\n",
         false,
         {hundred, "next"},
         {false, true}},
        {"a line of 80 characters", eighty + "\r\n", false, {eighty}, {true}},
        {"an empty file", "", true, {}, {}},
        {"26 first",
         "\x1a"
         "abc",
         true,
         {},
         {}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        make_file(folder.name("t"), c.bytes);
        FileSlot reader;
        open_text_reader(reader, folder.name("t"));
        ASSERT_EQ(take_code(), 0);
        EXPECT_EQ(at_end_of_file(reader), c.at_end_at_once);
        const std::string old = "old";
        TextLine buffer{old.data(), old.size()};
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            read_text_line(reader, buffer);
            EXPECT_EQ(take_code(), 0);
            EXPECT_EQ(text_of(buffer), c.lines[i]);
            EXPECT_EQ(at_end_of_file(reader), c.at_end_after[i]);
        }
        std::uint64_t position = reader.position;
        read_text_line(reader, buffer);
        EXPECT_EQ(take_code(), 62);
        EXPECT_EQ(text_of(buffer), "");       // a blank line
        EXPECT_EQ(reader.position, position); // a byte 26 stays where it is
        EXPECT_TRUE(at_end_of_file(reader));
        close_file(reader);
    }
}

TEST_F(TextLines, TextLinesAcrossBlocks) {
    // Line ends that straddle the 64 KiB blocks: CR LF at offsets 65535 and 65536, LF CR at
    // 131071 and 131072, and a line that spans a whole block.
    std::vector<std::string> lines = {std::string(65535, 'x'), std::string(131071 - 65537, 'y'),
                                      std::string(70000, 'z')};
    std::string bytes = lines[0] + "\r\n" + lines[1] + "\n\r" + lines[2] + "\r\n";
    for (int i = 0; i < 20000; ++i) {
        lines.push_back(std::string(i % 97, static_cast<char>('a' + i % 26)));
        bytes += lines.back() + "\r\n";
    }
    make_file(folder.name("t"), bytes);
    FileSlot reader;
    open_text_reader(reader, folder.name("t"));
    TextLine buffer;
    int mismatches = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        read_text_line(reader, buffer);
        std::string line = text_of(buffer);
        while (buffer.continues) { // the line of 70000 characters comes in two segments
            read_text_line(reader, buffer);
            line += text_of(buffer);
        }
        mismatches += line != lines[i];
        mismatches += at_end_of_file(reader) != (i + 1 == lines.size());
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(reader.position, bytes.size());
}

TEST_F(TextLines, LongLinesComeInBoundedSegments) {
    // Lines around one and two segments long, each ended in every way a line can end: a segment
    // continues only where a character of the line follows it, so no empty segment comes after a
    // full one and the end of the file is seen where the whole line would see it.
    const std::size_t segment = longest_line_segment;
    struct Ending {
        const char* name;
        std::string bytes;
    };
    const Ending endings[] = {{"CR LF", "\r\n"}, {"LF", "\n"}, {"26", "\x1a"}, {"end of file", ""}};
    for (std::size_t length :
         {segment - 1, segment, segment + 1, 2 * segment, 2 * segment + 1, 3 * segment + 7}) {
        for (const Ending& ending : endings) {
            SCOPED_TRACE(std::to_string(length) + " " + ending.name);
            std::string line;
            for (std::size_t i = 0; i < length; ++i)
                line += i % 3 == 0 ? ' ' : static_cast<char>('a' + i % 26);
            make_file(folder.name("t"), "first\r\n" + line + ending.bytes);
            FileSlot reader;
            open_text_reader(reader, folder.name("t"));
            TextLine buffer;
            read_text_line(reader, buffer);
            EXPECT_EQ(text_of(buffer), "first");
            std::string read;
            std::vector<std::size_t> segments;
            do {
                read_text_line(reader, buffer);
                read += text_of(buffer);
                segments.push_back(buffer.length);
            } while (buffer.continues);
            EXPECT_EQ(take_code(), 0);
            EXPECT_TRUE(read == line);
            // Every segment but the last is full; the last is never empty but for an empty line.
            const std::size_t full_segments = (length - 1) / segment;
            EXPECT_EQ(segments.size(), full_segments + 1);
            for (std::size_t i = 0; i + 1 < segments.size(); ++i)
                EXPECT_EQ(segments[i], segment);
            EXPECT_EQ(segments.back(), length - full_segments * segment);
            EXPECT_TRUE(at_end_of_file(reader));
            close_file(reader);
        }
    }
}

TEST_F(TextLines, ReadFailureInTheMiddleOfALineEndsIt) {
    // The first segment is taken; the read of the second fails. The line ends there, empty and
    // with no segment to follow, so that the segment before is not given again as a line of its
    // own; the next read starts at the failing byte.
    const std::size_t segment = longest_line_segment;
    const std::string line = std::string(segment, 'a') + std::string(2 * segment, 'b');
    make_file(folder.name("t"), line + "\r\nnext\r\n");
    FileSlot reader;
    open_text_reader(reader, folder.name("t"));
    TextLine buffer;
    read_text_line(reader, buffer);
    ASSERT_TRUE(buffer.continues);
    EXPECT_EQ(text_of(buffer), std::string(segment, 'a'));
    {
        FaultGuard guard(failing(SystemCall::Pread, 1, EIO));
        read_text_line(reader, buffer);
        EXPECT_TRUE(guard.reached());
    }
    EXPECT_EQ(take_code(), 75);
    EXPECT_EQ(text_of(buffer), "");
    EXPECT_FALSE(buffer.continues);
    std::string rest;
    do {
        read_text_line(reader, buffer);
        rest += text_of(buffer);
    } while (buffer.continues);
    EXPECT_EQ(take_code(), 0);
    // The failing block began at the second segment: what is read again starts there.
    EXPECT_TRUE(line.substr(line.size() - rest.size()) == rest);
    EXPECT_EQ(rest.find('a'), std::string::npos);
    read_text_line(reader, buffer);
    EXPECT_EQ(text_of(buffer), "next");
    EXPECT_TRUE(at_end_of_file(reader));
}

TEST_F(TextLines, TextLineReadFailures) {
    make_file(folder.name("t"), "abc\r\n");
    FileSlot closed, bytes;
    const std::string kept = "kept";
    TextLine buffer{kept.data(), kept.size()};
    read_text_line(closed, buffer);
    EXPECT_EQ(take_code(), 52);
    EXPECT_EQ(text_of(buffer), "kept");
    EXPECT_FALSE(at_end_of_file(closed));
    EXPECT_EQ(take_code(), 52);
    open_byte_file(bytes, folder.name("t"), EmptyFirst::No);
    read_text_line(bytes, buffer);
    EXPECT_EQ(take_code(), 54);
    EXPECT_EQ(text_of(buffer), "kept");
    EXPECT_FALSE(at_end_of_file(bytes));
    EXPECT_EQ(take_code(), 54);

    struct Case {
        const char* name;
        std::string bytes;
        int error;
        int code;
        std::string buffer_after;      // the failing read's buffer
        std::vector<std::string> then; // the lines read after it
    };
    const std::string x65530(65530, 'x');
    const Case cases[] = {
        // The second block fails while the line is taken: the bytes taken are lost and the
        // next read starts at the failing byte.
        {"read fault in the line",
         x65530 + "abcdefghij\r\nrest\r\n",
         EIO,
         75,
         "kept",
         {"ghij", "rest"}},
        {"read refused in the line",
         x65530 + "abcdefghij\r\nrest\r\n",
         EACCES,
         70,
         "kept",
         {"ghij", "rest"}},
        // The line is complete when the look after its CR fails: it goes into the buffer, and
        // the LF not yet taken then ends an empty line.
        {"look after CR fails",
         std::string(65535, 'x') + "\r\nnext\r\n",
         EIO,
         75,
         std::string(65535, 'x'),
         {"", "next"}},
        {"look after CR LF fails",
         std::string(65534, 'x') + "\r\nnext\r\n",
         EIO,
         75,
         std::string(65534, 'x'),
         {"next"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_file(folder.name("t"), c.bytes);
        FileSlot reader;
        open_text_reader(reader, folder.name("t"));
        buffer = TextLine{kept.data(), kept.size()};
        {
            FaultGuard guard(failing(SystemCall::Pread, 1, c.error));
            read_text_line(reader, buffer);
            EXPECT_TRUE(guard.reached());
        }
        EXPECT_EQ(take_code(), c.code);
        EXPECT_EQ(text_of(buffer), c.buffer_after);
        for (const std::string& line : c.then) {
            read_text_line(reader, buffer);
            EXPECT_EQ(take_code(), 0);
            EXPECT_EQ(text_of(buffer), line);
        }
        EXPECT_TRUE(at_end_of_file(reader));
        close_file(reader);
    }
}

TEST_F(TextLines, FirstByteLookFailureLeavesTheReaderOpen) {
    make_file(folder.name("t"), "\x1a");
    struct Case {
        const char* name;
        int error;
        int code;
    };
    const Case cases[] = {
        {"refused", EACCES, 70}, {"not permitted", EPERM, 70}, {"fault", EIO, 75}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileSlot reader;
        {
            FaultGuard guard(failing(SystemCall::Pread, 1, c.error));
            open_text_reader(reader, folder.name("t"));
        }
        EXPECT_EQ(take_code(), c.code);
        EXPECT_TRUE(reader.is_open);
        EXPECT_FALSE(reader.end_mark);
        TextLine buffer;
        read_text_line(reader, buffer); // reads the 26 now
        EXPECT_EQ(take_code(), 62);
        EXPECT_TRUE(at_end_of_file(reader));
        close_file(reader);
    }
    // An empty file asks the system for its size; a failure there is a read fault.
    make_file(folder.name("e"), "");
    FileSlot reader;
    open_text_reader(reader, folder.name("e"));
    FaultGuard guard(failing_from(SystemCall::Fstat, 1, EIO));
    EXPECT_FALSE(at_end_of_file(reader));
    EXPECT_EQ(take_code(), 75);
}

} // namespace
