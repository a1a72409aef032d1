// Tests of the table of open files: the three opens and their refusals, the closes, deletion
// and the size of an open file, on real files; the refusals root never meets come through the
// system-call seam.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/fault_injection.h"
#include "tests/file_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using FileTable = FileLayerTest;

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

TEST_F(FileTable, OpenRefusalsGiveTheirCodes) {
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

TEST_F(FileTable, OpenRefusalsOfTheSystemGiveTheirCodes) {
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
        {"under another program's lease", SystemCall::Open, EWOULDBLOCK, 55},
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

// A FIFO, a socket or a device gives no byte positions, and opening a FIFO that nothing reads
// waited for a reader for good. Every open refuses them at once, before opening where it can,
// and a file that is not looked at first is still opened without waiting and refused.
TEST_F(FileTable, OpensRefuseAnythingButARegularFile) {
    ASSERT_EQ(::mkfifo(folder.name("fifo").c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo(folder.name("read fifo").c_str(), 0666), 0);
    const int reader = ::open(folder.name("read fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::filesystem::create_symlink("/dev/null", folder.name("null link"));
    struct Case {
        const char* name;
        std::string file;
        bool looked_at; // false: the look before the open fails, so only the open can tell
    };
    const Case cases[] = {
        {"a FIFO that nothing reads", folder.name("fifo"), true},
        {"the same, not looked at first", folder.name("fifo"), false},
        {"a FIFO that is read", folder.name("read fifo"), true},
        {"the same, not looked at first", folder.name("read fifo"), false},
        {"a device", "/dev/null", true},
        {"a link to a device", folder.name("null link"), true},
        {"the same, not looked at first", folder.name("null link"), false},
    };
    for (const Case& c : cases)
        for (Opener opener : all_openers) {
            SCOPED_TRACE(std::string(c.name) + ", " + opener_name(opener));
            int fds = open_fd_count();
            FileSlot slot;
            {
                FaultGuard guard(failing_from(SystemCall::Stat, c.looked_at ? 0 : 1, EIO));
                open_with(opener, slot, c.file);
                // Looked at first, a FIFO or a device is not even opened.
                EXPECT_EQ(guard.calls(SystemCall::Open) > 0, !c.looked_at);
            }
            EXPECT_EQ(take_code(), 68);
            EXPECT_FALSE(slot.is_open);
            EXPECT_EQ(open_fd_count(), fds);
        }
    ::close(reader);
    EXPECT_TRUE(std::filesystem::is_fifo(folder.name("fifo")));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.name("null link")));
}

// The emptying comes after every check of the opened file, and a refused emptying refuses the
// open: the file keeps its bytes and the slot stays closed.
TEST_F(FileTable, RefusedEmptyingRefusesTheOpen) {
    struct Case {
        const char* name;
        int error;
        int code;
    };
    const Case cases[] = {
        {"not permitted, as for an append-only file", EPERM, 70},
        {"a running program", ETXTBSY, 70},
        {"write-protected medium", EROFS, 70},
        {"write fault", EIO, 53},
    };
    for (const Case& c : cases)
        for (Opener opener : {Opener::ByteEmpty, Opener::TextWriter}) {
            SCOPED_TRACE(std::string(c.name) + ", " + opener_name(opener));
            make_file(folder.name("kept"), "kept bytes");
            int fds = open_fd_count();
            FileSlot slot;
            {
                FaultGuard guard(failing_from(SystemCall::Ftruncate, 1, c.error));
                open_with(opener, slot, folder.name("kept"));
            }
            EXPECT_EQ(take_code(), c.code);
            EXPECT_FALSE(slot.is_open);
            EXPECT_EQ(open_fd_count(), fds);
            EXPECT_EQ(file_bytes(folder.name("kept")), "kept bytes");
        }
}

// An output could name the file being converted, under its own name, another spelling or a
// link, and its open emptied it. From the first open without emptying until the end of the run,
// no open that could write that file is made, before or after the input's close, and no
// deletion removes it; reading it stays allowed.
TEST_F(FileTable, NoOpenWritesTheFileTheRunReads) {
    make_file(folder.name("in"), "input bytes");
    std::filesystem::create_directory(folder.name("sub"));
    std::filesystem::create_hard_link(folder.name("in"), folder.name("hard"));
    std::filesystem::create_symlink("in", folder.name("soft"));
    FileSlot input;
    open_byte_file(input, folder.name("in"), EmptyFirst::No);
    FileSlot other; // a later open without emptying does not take the input's place
    open_byte_file(other, folder.name("other"), EmptyFirst::No);
    close_file(other);
    ASSERT_EQ(take_code(), 0);
    const std::string spellings[] = {folder.name("in"), folder.path() + "/./in",
                                     folder.name("sub/../in"), folder.name("hard"),
                                     folder.name("soft")};
    for (bool input_open : {true, false}) {
        if (!input_open)
            close_file(input); // the clean-up opens and the deletions come after this close
        for (const std::string& name : spellings)
            for (Opener opener : {Opener::ByteKeep, Opener::ByteEmpty, Opener::TextWriter})
                for (bool looked_at : {true, false}) {
                    SCOPED_TRACE(name + ", " + opener_name(opener) +
                                 (looked_at ? "" : ", not looked at first") +
                                 (input_open ? "" : ", the input closed"));
                    int fds = open_fd_count();
                    FileSlot slot;
                    {
                        FaultGuard guard(failing_from(SystemCall::Stat, looked_at ? 0 : 1, EIO));
                        open_with(opener, slot, name);
                    }
                    EXPECT_EQ(take_code(), 55);
                    EXPECT_FALSE(slot.is_open);
                    EXPECT_EQ(open_fd_count(), fds);
                    EXPECT_EQ(file_bytes(folder.name("in")), "input bytes");
                }
        for (const std::string& name : spellings) {
            SCOPED_TRACE(name);
            delete_file(name);
            EXPECT_EQ(take_code(), 55);
        }
        FileSlot reader;
        open_text_reader(reader, folder.name("soft"));
        EXPECT_EQ(take_code(), 0);
        EXPECT_TRUE(reader.is_open);
        close_file(reader);
    }
    for (const char* name : {"in", "hard", "soft"})
        EXPECT_TRUE(file_exists(folder.name(name))) << name;

    // The end of the run forgets its input: the next run may empty the file.
    close_all_files();
    FileSlot writer;
    open_text_writer(writer, folder.name("soft"));
    EXPECT_EQ(take_code(), 0);
    EXPECT_TRUE(writer.is_open);
    EXPECT_EQ(file_bytes(folder.name("in")), "");
}

// Another run's hold on a file: a lock of another open file description, which flock treats as
// it treats another process's.
class ForeignLock {
public:
    ForeignLock(const std::string& name, int operation)
        : fd_(::open(name.c_str(), O_RDONLY | O_CLOEXEC)) {
        EXPECT_EQ(::flock(fd_, operation | LOCK_NB), 0) << name;
    }
    ~ForeignLock() { ::close(fd_); }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;

private:
    int fd_;
};

// Whether another process could lock the file as operation says, now.
bool others_may_lock(const std::string& name, int operation) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = ::flock(fd, operation | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

// Two runs in one folder wrote into each other's TEMP1.TMP. A file another run holds is refused
// at once with 55, and neither emptied nor written: a writer holds its file exclusively, a
// reader shares it with other readers.
TEST_F(FileTable, OpensRefuseAFileAnotherRunHolds) {
    const std::string name = folder.name("TEMP1.TMP");
    // The run's writer holds its file against every other run until it closes the file.
    FileSlot writer;
    open_text_writer(writer, name);
    ASSERT_EQ(take_code(), 0);
    EXPECT_FALSE(others_may_lock(name, LOCK_SH));
    close_file(writer);
    EXPECT_TRUE(others_may_lock(name, LOCK_EX));

    struct Case {
        const char* name;
        int held;
        Opener opener;
        int code;
    };
    const Case cases[] = {
        {"read by another run", LOCK_SH, Opener::ByteKeep, 0},
        {"read by another run", LOCK_SH, Opener::TextReader, 0},
        {"read by another run", LOCK_SH, Opener::ByteEmpty, 55},
        {"read by another run", LOCK_SH, Opener::TextWriter, 55},
        {"written by another run", LOCK_EX, Opener::ByteKeep, 55},
        {"written by another run", LOCK_EX, Opener::TextReader, 55},
        {"written by another run", LOCK_EX, Opener::ByteEmpty, 55},
        {"written by another run", LOCK_EX, Opener::TextWriter, 55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + opener_name(c.opener));
        make_file(name, "another run's text\r\n");
        {
            ForeignLock other_run(name, c.held);
            int fds = open_fd_count();
            FileSlot slot;
            open_with(c.opener, slot, name);
            EXPECT_EQ(take_code(), c.code);
            EXPECT_EQ(slot.is_open, c.code == 0);
            if (slot.is_open) {
                // The run's own lock is shared too: a writer elsewhere is kept out.
                EXPECT_TRUE(others_may_lock(name, LOCK_SH));
                EXPECT_FALSE(others_may_lock(name, LOCK_EX));
                close_file(slot);
            }
            EXPECT_EQ(open_fd_count(), fds);
        }
        EXPECT_EQ(file_bytes(name), "another run's text\r\n");
        close_all_files(); // a new run: the file kept open is no longer its input
    }
}

// A deletion of a file that another run holds, to read or to write, fails with 55 and leaves the
// file; once the other run lets it go, it is deleted.
TEST_F(FileTable, DeletionRefusesAFileAnotherRunHolds) {
    const std::string name = folder.name("TEMP1.TMP");
    for (int held : {LOCK_SH, LOCK_EX}) {
        SCOPED_TRACE(held == LOCK_SH ? "read by another run" : "written by another run");
        make_file(name, "another run's text\r\n");
        int fds = open_fd_count();
        {
            ForeignLock other_run(name, held);
            delete_file(name);
            EXPECT_EQ(take_code(), 55);
            EXPECT_EQ(file_bytes(name), "another run's text\r\n");
        }
        delete_file(name);
        EXPECT_EQ(take_code(), 0);
        EXPECT_FALSE(file_exists(name));
        EXPECT_EQ(open_fd_count(), fds);
    }
}

// A run may hold one file in two slots (a temporary file and an output that is a link to it);
// its own lock never refuses its own open or deletion, which worked before runs took locks.
// The lock stays with the file while any slot of the run holds it.
TEST_F(FileTable, TheRunsOwnLockRefusesNothingOfTheRun) {
    const std::string name = folder.name("TEMP1.TMP");
    std::filesystem::create_symlink("TEMP1.TMP", folder.name("out.stl"));
    FileSlot writer;
    open_text_writer(writer, name);
    FileSlot stl;
    open_byte_file(stl, folder.name("out.stl"), EmptyFirst::Yes);
    FileSlot reader;
    open_text_reader(reader, name);
    EXPECT_EQ(take_code(), 0);
    EXPECT_TRUE(stl.is_open);
    EXPECT_TRUE(reader.is_open);
    close_file(writer);
    close_file(stl);
    ASSERT_EQ(take_code(), 0);
    // The reader took the lock over: another run may read the file, not write it.
    EXPECT_TRUE(others_may_lock(name, LOCK_SH));
    EXPECT_FALSE(others_may_lock(name, LOCK_EX));
    delete_file(name);
    EXPECT_EQ(take_code(), 0);
    EXPECT_FALSE(file_exists(name));
    close_file(reader);
    EXPECT_EQ(take_code(), 0);
}

TEST_F(FileTable, OpenOfAnOpenSlotFailsAndKeepsTheFile) {
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
        close_all_files(); // the end of a run: the next one opens its input anew
    }
}

TEST_F(FileTable, OpensObtainTheirRights) {
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
        close_all_files(); // the end of a run: the next one may empty what this one read
    }
    FaultGuard guard(failing_from(SystemCall::Open, 1, EACCES));
    FileSlot slot;
    open_byte_file(slot, folder.name("f"), EmptyFirst::No);
    EXPECT_EQ(guard.calls(SystemCall::Open), 3);
    EXPECT_EQ(take_code(), 70);
}

TEST_F(FileTable, OpensCreateAndEmptyFiles) {
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

TEST_F(FileTable, DeleteRefusalsGiveTheirCodes) {
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

// The run deletes its own files, which are regular files: a FIFO or a device of the same name
// was refused by every open and stays.
TEST_F(FileTable, DeleteLeavesAnythingButARegularFile) {
    ASSERT_EQ(::mkfifo(folder.name("fifo").c_str(), 0666), 0);
    std::filesystem::create_symlink("/dev/null", folder.name("null link"));
    for (const char* name : {"fifo", "null link"}) {
        SCOPED_TRACE(name);
        delete_file(folder.name(name));
        EXPECT_EQ(take_code(), 68);
    }
    EXPECT_TRUE(std::filesystem::is_fifo(folder.name("fifo")));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.name("null link")));
}

TEST_F(FileTable, CloseAllFilesReachesEverySlot) {
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

TEST_F(FileTable, FileSizeCountsBufferedWrites) {
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

} // namespace
