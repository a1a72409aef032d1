// Tests of the file layer on real files in a fresh temporary folder; the refusals that root
// never meets come through the system-call seam.
#include "platform/failure.h"
#include "platform/file_access.h"
#include "tests/fault_injection.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/file_access_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr)
            std::abort();
        path = buffer.data();
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string name(const std::string& file) const { return path + "/" + file; }
};

void make_file(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

bool file_exists(const std::string& name) {
    return std::filesystem::exists(name);
}

std::string file_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes 0, 1, 2, ... 250, 0, 1, ...: a byte's value tells its offset, and no block repeats the
// one before it at the same place.
std::string pattern_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

int open_fd_count() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (dirent* entry = readdir(folder))
        count += entry->d_name[0] != '.';
    closedir(folder);
    return count;
}

// The pending code, cleared as the answer Yes does.
int take_code() {
    int code = pending_failure_code();
    clear_failure();
    return code;
}

std::string text_of(const TextLine& line) {
    return line.length == 0 ? std::string() : std::string(line.chars, line.length);
}

std::string int_bytes(std::int32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::string float_bytes(float value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

class FileAccess : public ::testing::Test {
protected:
    void SetUp() override { clear_failure(); }
    void TearDown() override {
        close_all_files();
        clear_failure();
    }
    TempFolder folder;
};

enum class Opener { ByteKeep, ByteEmpty, TextWriter, TextReader };
const Opener all_openers[] = {Opener::ByteKeep, Opener::ByteEmpty, Opener::TextWriter,
                              Opener::TextReader};

const char* opener_name(Opener opener) {
    switch (opener) {
    case Opener::ByteKeep:
        return "open_byte_file";
    case Opener::ByteEmpty:
        return "open_byte_file emptied";
    case Opener::TextWriter:
        return "open_text_writer";
    case Opener::TextReader:
        return "open_text_reader";
    }
    return "";
}

void open_with(Opener opener, FileSlot& slot, const std::string& name) {
    switch (opener) {
    case Opener::ByteKeep:
        open_byte_file(slot, name, EmptyFirst::No);
        break;
    case Opener::ByteEmpty:
        open_byte_file(slot, name, EmptyFirst::Yes);
        break;
    case Opener::TextWriter:
        open_text_writer(slot, name);
        break;
    case Opener::TextReader:
        open_text_reader(slot, name);
        break;
    }
}

TEST_F(FileAccess, PositionsRoundToNearestTiesToEven) {
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

TEST_F(FileAccess, OpenRefusalsGiveTheirCodes) {
    make_file(folder.name("plain.txt"), "plain");
    std::filesystem::create_directory(folder.name("sub"));
    struct Case {
        const char* name;
        std::string file;
        int code;
    };
    const Case cases[] = {
        {"a missing folder", folder.name("missing/x.txt"), 76},
        {"a missing folder two deep", folder.name("missing/deeper/x.txt"), 76},
        {"a file used as a folder", folder.name("plain.txt/x.txt"), 76},
        {"an empty name", "", 53},
        {"a folder", folder.name("sub"), 53},
        {"a folder with a slash", folder.name("sub/"), 53},
        {"a zero byte, which would cut the name", folder.name("plain.txt") + '\0' + "x", 53},
    };
    for (const Case& c : cases)
        for (Opener opener : all_openers) {
            SCOPED_TRACE(std::string(c.name) + ", " + opener_name(opener));
            int fds = open_fd_count();
            FileSlot slot;
            open_with(opener, slot, c.file);
            EXPECT_EQ(take_code(), c.code);
            EXPECT_FALSE(slot.is_open);
            EXPECT_EQ(open_fd_count(), fds);
        }
    EXPECT_EQ(file_bytes(folder.name("plain.txt")), "plain");

    FileSlot reader;
    open_text_reader(reader, folder.name("missing.txt"));
    EXPECT_EQ(take_code(), 53);
    EXPECT_FALSE(reader.is_open);
    EXPECT_FALSE(file_exists(folder.name("missing.txt")));
}

TEST_F(FileAccess, OpenRefusalsOfTheSystemGiveTheirCodes) {
    make_file(folder.name("plain.txt"), "plain");
    struct Case {
        const char* name;
        SystemCall call;
        int error;
        int code;
    };
    const Case cases[] = {
        {"access denied", SystemCall::Open, EACCES, 70},
        {"not permitted", SystemCall::Open, EPERM, 70},
        {"write-protected medium", SystemCall::Open, EROFS, 70},
        {"a running program", SystemCall::Open, ETXTBSY, 70},
        {"held exclusively", SystemCall::Open, EBUSY, 70},
        {"no such device address", SystemCall::Open, ENXIO, 68},
        {"no such device", SystemCall::Open, ENODEV, 68},
        {"too many open files", SystemCall::Open, EMFILE, 53},
        {"too many files in the system", SystemCall::Open, ENFILE, 53},
        {"read fault", SystemCall::Open, EIO, 53},
        {"name too long", SystemCall::Open, ENAMETOOLONG, 53},
        {"missing in an existing folder", SystemCall::Open, ENOENT, 53},
        {"the look at the opened file fails", SystemCall::Fstat, EIO, 53},
    };
    for (const Case& c : cases)
        for (Opener opener : all_openers) {
            SCOPED_TRACE(std::string(c.name) + ", " + opener_name(opener));
            int fds = open_fd_count();
            FileSlot slot;
            {
                FaultGuard guard(failing_from(c.call, 1, c.error));
                open_with(opener, slot, folder.name("plain.txt"));
            }
            EXPECT_EQ(take_code(), c.code);
            EXPECT_FALSE(slot.is_open);
            EXPECT_EQ(open_fd_count(), fds);
        }
}

TEST_F(FileAccess, OpenOfAnOpenSlotFailsAndKeepsTheFile) {
    make_file(folder.name("a"), "A");
    for (Opener opener : all_openers) {
        SCOPED_TRACE(opener_name(opener));
        FileSlot slot;
        open_byte_file(slot, folder.name("a"), EmptyFirst::No);
        open_with(opener, slot, folder.name("b"));
        EXPECT_EQ(take_code(), 55);
        EXPECT_FALSE(file_exists(folder.name("b")));
        std::uint8_t value = 0;
        read_byte_at(slot, 1, value);
        EXPECT_EQ(take_code(), 0);
        EXPECT_EQ(value, 'A');
    }
}

TEST_F(FileAccess, OpensObtainTheirRights) {
    struct Case {
        const char* name;
        Opener opener;
        int refused_opens; // the first so many open calls are refused with EACCES
        bool may_read;
        bool may_write;
    };
    const Case cases[] = {
        {"reading and writing", Opener::ByteKeep, 0, true, true},
        {"reading only when writing is refused", Opener::ByteKeep, 1, true, false},
        {"writing only when reading is refused too", Opener::ByteKeep, 2, false, true},
        {"emptied first", Opener::ByteEmpty, 0, false, true},
        {"text writer", Opener::TextWriter, 0, false, true},
        {"text reader", Opener::TextReader, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_file(folder.name("f"), "0123456789");
        FileSlot slot;
        {
            FaultPlan plan = failing(SystemCall::Open, 1, EACCES);
            plan.fail_count = c.refused_opens;
            plan.fail_at = c.refused_opens > 0 ? 1 : 0;
            FaultGuard guard(plan);
            open_with(c.opener, slot, folder.name("f"));
        }
        EXPECT_EQ(take_code(), 0);
        ASSERT_TRUE(slot.is_open);
        EXPECT_EQ(slot.may_read, c.may_read);
        EXPECT_EQ(slot.may_write, c.may_write);
        EXPECT_EQ(slot.position, 0u);
        if (c.opener == Opener::ByteKeep) {
            std::int32_t value = -7;
            read_int_at(slot, 2, value);
            EXPECT_EQ(take_code(), c.may_read ? 0 : 75);
            EXPECT_EQ(value, c.may_read ? 0x34333231 : -7); // "1234"
            write_text_at(slot, 4, "xy");
            EXPECT_EQ(take_code(), c.may_write ? 0 : 75);
            close_file(slot);
            // Never emptied: the bytes beyond the write stay.
            EXPECT_EQ(file_bytes(folder.name("f")), c.may_write ? "012xy56789" : "0123456789");
        }
        close_file(slot);
    }
    FaultGuard guard(failing_from(SystemCall::Open, 1, EACCES));
    FileSlot slot;
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    EXPECT_EQ(guard.calls(SystemCall::Open), 3);
    EXPECT_EQ(take_code(), 70);
}

TEST_F(FileAccess, OpensCreateAndEmptyFiles) {
    FileSlot missing;
    open_byte_file(missing, folder.name("new.ply"), EmptyFirst::No);
    EXPECT_EQ(take_code(), 0);
    EXPECT_TRUE(file_exists(folder.name("new.ply")));
    std::int32_t value = -1;
    read_int_at(missing, 1, value);
    EXPECT_EQ(value, 0);
    std::uint8_t byte = 9;
    read_byte_at(missing, 1000, byte);
    EXPECT_EQ(byte, 0);
    close_file(missing);
    EXPECT_EQ(file_bytes(folder.name("new.ply")), "");

    make_file(folder.name("old.stl"), std::string(1000, 'x'));
    FileSlot stl;
    open_byte_file(stl, folder.name("old.stl"), EmptyFirst::Yes);
    EXPECT_EQ(file_bytes(folder.name("old.stl")), "");
    write_text_at(stl, 1, std::string(80, 'h'));
    close_file(stl);
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(file_bytes(folder.name("old.stl")), std::string(80, 'h'));

    make_file(folder.name("old.txt"), "old text\r\n");
    FileSlot writer;
    open_text_writer(writer, folder.name("old.txt"));
    EXPECT_EQ(file_bytes(folder.name("old.txt")), "");
    close_file(writer);
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(file_bytes(folder.name("old.txt")), "");
}

TEST_F(FileAccess, ByteAccessIsCheckedInTheOrderOfTheTable) {
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

TEST_F(FileAccess, ReadsPastTheEndGiveZeros) {
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
        std::int32_t bits;
        std::memcpy(&bits, &real, 4);
        EXPECT_EQ(bits, c.value);
    }
    EXPECT_EQ(slot.position, 1000000000000003u); // just after the last bytes read
    close_file(slot);
    EXPECT_EQ(file_bytes(folder.name("f")).size(), 6u);
}

TEST_F(FileAccess, ValuesKeepTheirBits) {
    FileSlot slot;
    open_byte_file(slot, folder.name("v"), EmptyFirst::Yes);
    std::uint32_t nan_bits = 0x7fa12345; // a signalling NaN with a payload
    float nan;
    std::memcpy(&nan, &nan_bits, 4);
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
    std::uint32_t back_bits;
    std::memcpy(&back_bits, &back, 4);
    EXPECT_EQ(back_bits, nan_bits);
    std::int32_t whole = 0;
    read_int_at(reader, 13, whole);
    EXPECT_EQ(whole, -2);
}

TEST_F(FileAccess, ReadsSeeTheSlotsOwnWrites) {
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

// Reads and writes at random positions on one slot, against a plain copy of the file.
TEST_F(FileAccess, CachedReadsAndBufferedWritesMatchTheFile) {
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

// The STL file's order: head, a first count, 13 writes per facet, then the count again at 81.
TEST_F(FileAccess, BufferedWritesLandInTheOrderMade) {
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

TEST_F(FileAccess, TextWriterAppendsItemsAndLineEnds) {
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

// A full buffer goes to the background writer, and a full medium or a refused write of it comes
// out when the slot next waits for that write: at the next full buffer, or at the close. The
// bytes before the failure stay in the file.
TEST_F(FileAccess, FailedFlushesKeepTheBytesBefore) {
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
TEST_F(FileAccess, RefusedBackgroundWriteIsTriedAgainBeforeTheLaterBytes) {
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

TEST_F(FileAccess, FailedWriteStopsTheItemsAfterIt) {
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

TEST_F(FileAccess, EveryFlushRaisesItsFailure) {
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
        EXPECT_EQ(take_code(), 0);
        // Refused bytes stay pending and reach the file at a later flush; a close under the
        // refusal lets them go with the file.
        EXPECT_EQ(file_bytes(folder.name("f")),
                  c.closed_after ? std::string() : std::string("\x04\x03\x02\x01"));
    }
}

TEST_F(FileAccess, InterruptedAndShortCallsAreFinished) {
    const std::string original = pattern_bytes(150000);
    make_file(folder.name("in"), original);
    struct Case {
        const char* name;
        FaultPlan plan;
    };
    FaultPlan short_reads = failing_from(SystemCall::Pread, 1, 0);
    short_reads.kind = FaultKind::Short;
    short_reads.short_size = 1000;
    FaultPlan short_writes = failing_from(SystemCall::Pwrite, 1, 0);
    short_writes.kind = FaultKind::Short;
    short_writes.short_size = 777;
    const Case cases[] = {
        {"interrupted open", failing(SystemCall::Open, 1, EINTR)},
        {"interrupted fstat", failing(SystemCall::Fstat, 1, EINTR)},
        {"interrupted read", failing(SystemCall::Pread, 1, EINTR)},
        {"interrupted write", failing(SystemCall::Pwrite, 1, EINTR)},
        {"interrupted unlink", failing(SystemCall::Unlink, 1, EINTR)},
        {"interrupted close", failing(SystemCall::Close, 1, EINTR)},
        {"short reads", short_reads},
        {"short writes", short_writes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultGuard guard(c.plan);
        FileSlot input, output;
        open_byte_file(input, folder.name("in"), EmptyFirst::No);
        open_text_writer(output, folder.name("out"));
        std::string copied;
        for (double position = 1; position <= 150000; position += 4) {
            std::int32_t value = 0;
            read_int_at(input, position, value);
            copied += int_bytes(value);
        }
        copied.resize(150000);
        write_text_items(output, {copied}, EndLine::No);
        close_file(input);
        close_file(output);
        make_file(folder.name("gone"), "");
        delete_file(folder.name("gone"));
        EXPECT_EQ(take_code(), 0);
        EXPECT_TRUE(guard.reached());
        EXPECT_TRUE(file_bytes(folder.name("out")) == original);
        EXPECT_FALSE(file_exists(folder.name("gone")));
    }
}

struct LineCase {
    const char* name;
    std::string bytes;
    bool at_end_at_once;
    std::vector<std::string> lines;
    std::vector<bool> at_end_after;
};

TEST_F(FileAccess, TextLinesReadBackByTheLineRules) {
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

TEST_F(FileAccess, TextLinesAcrossBlocks) {
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
        mismatches += text_of(buffer) != lines[i];
        mismatches += at_end_of_file(reader) != (i + 1 == lines.size());
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(reader.position, bytes.size());
}

TEST_F(FileAccess, TextLineReadFailures) {
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

TEST_F(FileAccess, FirstByteLookFailureLeavesTheReaderOpen) {
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

TEST_F(FileAccess, DeleteRefusalsGiveTheirCodes) {
    std::filesystem::create_directory(folder.name("sub"));
    struct Case {
        const char* name;
        std::string file;
        SystemCall call; // Stat: no fault
        int error;
        int code;
        bool gone;
    };
    const std::string file = folder.name("f");
    const Case cases[] = {
        {"a file", file, SystemCall::Stat, 0, 0, true},
        {"a missing name", folder.name("missing"), SystemCall::Stat, 0, 53, false},
        {"a missing folder", folder.name("missing/f"), SystemCall::Stat, 0, 53, false},
        {"a folder", folder.name("sub"), SystemCall::Stat, 0, 53, false},
        {"an empty name", "", SystemCall::Stat, 0, 53, false},
        {"a zero byte, which would cut the name", file + '\0' + "x", SystemCall::Stat, 0, 53,
         false},
        {"access denied", file, SystemCall::Unlink, EACCES, 55, false},
        {"not permitted", file, SystemCall::Unlink, EPERM, 55, false},
        {"a folder, said as EPERM", folder.name("sub"), SystemCall::Unlink, EPERM, 53, false},
        {"write-protected medium", file, SystemCall::Unlink, EROFS, 55, false},
        {"in use", file, SystemCall::Unlink, EBUSY, 55, false},
        {"any other refusal", file, SystemCall::Unlink, EIO, 53, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_file(file, "f");
        {
            FaultGuard guard(failing_from(c.call, c.error == 0 ? 0 : 1, c.error));
            delete_file(c.file);
        }
        EXPECT_EQ(take_code(), c.code);
        EXPECT_EQ(file_exists(file), !c.gone);
        EXPECT_TRUE(std::filesystem::is_directory(folder.name("sub")));
    }
}

TEST_F(FileAccess, PendingFailureSilencesEveryOperation) {
    make_file(folder.name("in"), "0123456789");
    make_file(folder.name("text"), "line\r\n");
    make_file(folder.name("old"), "old");
    FileSlot bytes, writer, reader, unopened;
    open_byte_file(bytes, folder.name("in"), EmptyFirst::No);
    open_text_writer(writer, folder.name("out"));
    open_text_reader(reader, folder.name("text"));
    write_text_items(writer, {"before"}, EndLine::Yes);
    ASSERT_EQ(take_code(), 0);

    raise_failure(Failure::Overflow);
    open_byte_file(unopened, folder.name("new"), EmptyFirst::No);
    open_text_writer(unopened, folder.name("old"));
    open_text_reader(unopened, folder.name("text"));
    EXPECT_FALSE(unopened.is_open);
    std::uint8_t byte = 7;
    float real = 7;
    std::int32_t whole = 7;
    read_byte_at(bytes, 1, byte);
    read_float_at(bytes, 1, real);
    read_int_at(bytes, 1, whole);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(real, 7.0f);
    EXPECT_EQ(whole, 7);
    write_int_at(bytes, 1, 0);
    write_float_at(bytes, 1, 0);
    write_text_at(bytes, 1, "zz");
    write_text_items(writer, {"after"}, EndLine::Yes);
    const std::string kept = "kept";
    TextLine buffer{kept.data(), kept.size()};
    read_text_line(reader, buffer);
    EXPECT_EQ(text_of(buffer), "kept");
    EXPECT_EQ(reader.position, 0u);
    EXPECT_EQ(bytes.position, 0u);
    read_text_line(unopened, buffer); // not even 52
    EXPECT_FALSE(at_end_of_file(unopened));
    delete_file(folder.name("old"));
    close_file(bytes);
    EXPECT_TRUE(bytes.is_open);
    EXPECT_EQ(pending_failure_code(), 6);

    // The end of a run closes every file with the code still pending: nothing is lost.
    close_all_files();
    EXPECT_EQ(take_code(), 6);
    EXPECT_FALSE(bytes.is_open || writer.is_open || reader.is_open);
    EXPECT_FALSE(file_exists(folder.name("new")));
    EXPECT_EQ(file_bytes(folder.name("old")), "old");
    EXPECT_EQ(file_bytes(folder.name("in")), "0123456789");
    EXPECT_EQ(file_bytes(folder.name("out")), "before\r\n");

    // A reader at its end says no while a failure is pending.
    open_text_reader(reader, folder.name("old"));
    read_text_line(reader, buffer);
    ASSERT_TRUE(at_end_of_file(reader));
    raise_failure(Failure::Overflow);
    EXPECT_FALSE(at_end_of_file(reader));
}

TEST_F(FileAccess, CloseAllFilesReachesEverySlot) {
    struct Owner {
        FileSlot text;
        FileSlot stl;
    };
    auto owner = std::make_unique<Owner>();
    FileSlot mine;
    open_text_writer(owner->text, folder.name("a"));
    open_byte_file(owner->stl, folder.name("b"), EmptyFirst::Yes);
    open_byte_file(mine, folder.name("c"), EmptyFirst::No);
    write_text_items(owner->text, {"text"}, EndLine::Yes);
    write_int_at(owner->stl, 1, 0x64636261);
    write_text_at(mine, 3, "c");
    {
        FileSlot dropped; // a slot that goes away while open is closed with its bytes
        open_text_writer(dropped, folder.name("d"));
        write_text_items(dropped, {"dropped"}, EndLine::No);
    }
    EXPECT_EQ(file_bytes(folder.name("d")), "dropped");
    int fds = open_fd_count();
    close_all_files();
    EXPECT_EQ(take_code(), 0);
    EXPECT_EQ(open_fd_count(), fds - 3);
    EXPECT_FALSE(owner->text.is_open || owner->stl.is_open || mine.is_open);
    EXPECT_EQ(file_bytes(folder.name("a")), "text\r\n");
    EXPECT_EQ(file_bytes(folder.name("b")), "abcd");
    EXPECT_EQ(file_bytes(folder.name("c")), std::string("\0\0c", 3));
    close_file(mine); // closed already: nothing
    close_all_files();
    EXPECT_EQ(take_code(), 0);
    owner.reset();
}

TEST_F(FileAccess, FileSizeCountsBufferedWrites) {
    make_file(folder.name("f"), "0123456789");
    FileSlot slot, closed;
    EXPECT_EQ(file_size(closed), 0u);
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    EXPECT_EQ(file_size(slot), 10u);
    write_int_at(slot, 21, 1);
    EXPECT_EQ(file_size(slot), 24u);
    write_int_at(slot, 3, 1); // inside: flushes the one before
    EXPECT_EQ(file_size(slot), 24u);
    close_file(slot);
    EXPECT_EQ(file_bytes(folder.name("f")).size(), 24u);
    EXPECT_EQ(take_code(), 0);
}

// The converter's use of the layer, with the fault at call 1, 2, 3, ... of one system call
// until a run no longer reaches it. From the fault on, every call of that kind fails, as on a
// failing disk. Each operation is a step: its code is taken as the answer Yes would.
struct SweepCase {
    const char* name;
    FaultPlan plan;
    int open_code;  // the code when the first failing operation is an open
    int other_code; // the code when it is any other operation
};

struct SweepRun {
    std::vector<int> codes;
    std::vector<bool> code_from_open;
    int read_mismatches = 0;
    int line_mismatches = 0;
};

void check_operation(SweepRun& run, bool is_open) {
    if (!failure_pending())
        return;
    run.codes.push_back(take_code());
    run.code_from_open.push_back(is_open);
}

constexpr int sweep_facets = 6000;
constexpr std::size_t sweep_input_size = 150000;

std::string sweep_line(int facet) {
    return " " + std::to_string(facet) + " ,  " + std::to_string(facet * 7) + " , -1,";
}

float sweep_float(int facet, int i) {
    return static_cast<float>(facet) * 0.5f + i;
}

std::string sweep_stl(std::int32_t count) {
    std::string bytes = std::string(80, 'S') + int_bytes(count);
    for (int facet = 0; facet < sweep_facets; ++facet) {
        for (int i = 0; i < 12; ++i)
            bytes += float_bytes(sweep_float(facet, i));
        bytes += std::string("\0\0", 2);
    }
    return bytes;
}

// The last line of a file cut short may be the start of its line.
bool is_line_read(const TextLine& buffer, const std::string& line, bool last) {
    if (text_of(buffer) == line)
        return true;
    for (std::size_t size = 0; last && size < line.size(); ++size)
        if (text_of(buffer) == line.substr(0, size))
            return true;
    return false;
}

void run_sweep_scenario(const TempFolder& folder, const std::string& input, SweepRun& run) {
    FileSlot in, temp, stl, reader;
    open_byte_file(in, folder.name("in.ply"), EmptyFirst::No);
    check_operation(run, true);
    open_text_writer(temp, folder.name("TEMP1.TMP"));
    check_operation(run, true);
    open_byte_file(stl, folder.name("out.stl"), EmptyFirst::Yes);
    check_operation(run, true);
    write_text_at(stl, 1, std::string(80, 'S'));
    check_operation(run, false);
    write_int_at(stl, 81, 0);
    check_operation(run, false);
    double write_pos = 85;
    for (int facet = 0; facet < sweep_facets; ++facet) {
        // Three vertices elsewhere in the file, one of them across a block boundary at times.
        const std::uint64_t offsets[] = {facet * 19u % (sweep_input_size - 3),
                                         (facet * 7919u + 65530) % sweep_input_size,
                                         65533u + facet % 6};
        for (std::uint64_t offset : offsets) {
            const std::int32_t sentinel = -12345;
            std::int32_t value = sentinel;
            read_int_at(in, static_cast<double>(offset) + 1, value);
            bool failed = failure_pending();
            check_operation(run, false);
            std::string expected = input.substr(offset, 4);
            expected.resize(4, '\0');
            run.read_mismatches += failed ? value != sentinel : int_bytes(value) != expected;
        }
        write_text_items(temp, {sweep_line(facet)}, EndLine::Yes);
        check_operation(run, false);
        for (int i = 0; i < 12; ++i) {
            write_float_at(stl, write_pos, sweep_float(facet, i));
            check_operation(run, false);
            write_pos += 4;
        }
        write_text_at(stl, write_pos, std::string("\0\0", 2));
        check_operation(run, false);
        write_pos += 2;
    }
    write_int_at(stl, 81, sweep_facets);
    check_operation(run, false);
    close_file(in);
    check_operation(run, false);
    close_file(temp);
    check_operation(run, false);
    close_file(stl);
    check_operation(run, false);

    open_text_reader(reader, folder.name("TEMP1.TMP"));
    check_operation(run, true);
    TextLine buffer;
    bool reads_good = true;
    for (int line = 0; line < sweep_facets + 10; ++line) {
        read_text_line(reader, buffer);
        reads_good = reads_good && !failure_pending();
        check_operation(run, false);
        bool end = at_end_of_file(reader);
        check_operation(run, false);
        if (reads_good && line < sweep_facets)
            run.line_mismatches += !is_line_read(buffer, sweep_line(line), end);
        if (end)
            break;
    }
    close_file(reader);
    check_operation(run, false);
    delete_file(folder.name("TEMP1.TMP"));
    check_operation(run, false);
    close_all_files();
    check_operation(run, false);
}

bool is_prefix(const std::string& bytes, const std::string& whole) {
    return bytes.size() <= whole.size() && whole.compare(0, bytes.size(), bytes) == 0;
}

TEST_F(FileAccess, FaultSweepKeepsEveryByteBeforeTheFault) {
    const std::string input = pattern_bytes(sweep_input_size);
    std::string text;
    for (int facet = 0; facet < sweep_facets; ++facet)
        text += sweep_line(facet) + "\r\n";
    const std::string stl = sweep_stl(sweep_facets);
    const std::string stl_first_count = sweep_stl(0);

    FaultPlan full_medium = failing_from(SystemCall::Pwrite, 1, ENOSPC);
    full_medium.kind = FaultKind::FullMedium;
    full_medium.short_size = 1000;
    const SweepCase cases[] = {
        {"open fault", failing_from(SystemCall::Open, 1, EIO), 53, 52},
        {"open refused", failing_from(SystemCall::Open, 1, EACCES), 70, 52},
        {"read fault", failing_from(SystemCall::Pread, 1, EIO), 75, 75},
        {"read refused", failing_from(SystemCall::Pread, 1, EACCES), 70, 70},
        {"write fault", failing_from(SystemCall::Pwrite, 1, EIO), 0, 75},
        {"write refused", failing_from(SystemCall::Pwrite, 1, EROFS), 0, 70},
        {"full medium", full_medium, 0, 75},
        {"fstat fault", failing_from(SystemCall::Fstat, 1, EIO), 53, 75},
        {"close fault", failing_from(SystemCall::Close, 1, EIO), 0, 75},
        {"unlink refused", failing_from(SystemCall::Unlink, 1, EACCES), 0, 55},
    };
    for (const SweepCase& c : cases) {
        int fail_at = 1;
        for (;; ++fail_at) {
            SCOPED_TRACE(std::string(c.name) + " at call " + std::to_string(fail_at));
            ASSERT_LT(fail_at, 200);
            TempFolder run_folder;
            make_file(run_folder.name("in.ply"), input);
            int fds = open_fd_count();
            SweepRun run;
            bool reached = false;
            {
                FaultPlan plan = c.plan;
                plan.fail_at = fail_at;
                FaultGuard guard(plan);
                run_sweep_scenario(run_folder, input, run);
                reached = guard.reached();
            }
            EXPECT_EQ(open_fd_count(), fds);
            EXPECT_EQ(file_bytes(run_folder.name("in.ply")), input);
            EXPECT_EQ(run.read_mismatches, 0);
            EXPECT_EQ(run.line_mismatches, 0);
            if (!reached) {
                EXPECT_TRUE(run.codes.empty());
                EXPECT_TRUE(file_bytes(run_folder.name("out.stl")) == stl);
                EXPECT_FALSE(file_exists(run_folder.name("TEMP1.TMP")));
                break;
            }
            ASSERT_FALSE(run.codes.empty()) << "a fault reported as success";
            EXPECT_EQ(run.codes[0], run.code_from_open[0] ? c.open_code : c.other_code);
            for (int code : run.codes)
                EXPECT_TRUE(code == c.open_code || code == c.other_code || code == 52 ||
                            code == 53 || code == 62)
                    << code;
            // What reached each file is exactly what was written before the fault.
            std::string stl_bytes = file_bytes(run_folder.name("out.stl"));
            EXPECT_TRUE(stl_bytes == stl || is_prefix(stl_bytes, stl_first_count))
                << stl_bytes.size();
            if (file_exists(run_folder.name("TEMP1.TMP"))) {
                EXPECT_TRUE(is_prefix(file_bytes(run_folder.name("TEMP1.TMP")), text));
            }
        }
        EXPECT_GT(fail_at, 1) << c.name << ": the scenario never made this call";
    }
}

} // namespace
