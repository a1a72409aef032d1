// The table of open files: the three opens and their shared helper, the closes, deletion and the
// size of an open file.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "platform/file_layer/file_buffers.h"
#include "platform/file_layer/refusals.h"
#include "platform/file_layer/syscalls.h"
#include "platform/file_layer/write_buffer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <memory>
#include <vector>

namespace {

// The run's advisory lock on a file it holds open: shared for a file it reads, exclusive for
// one it writes. Taken never waiting, so that a second run is refused at once, and released by
// the close, which ends the open file description that holds it.
struct RunLock {
    dev_t device = 0;
    ino_t inode = 0;
    int operation = LOCK_SH; // the lock the open wants
    bool held = false;       // false: another slot of the run holds it, or no lock could be had
};

// Whether the lock is on the file that info describes.
bool same_file(const RunLock& lock, const struct stat& info) {
    return lock.device == info.st_dev && lock.inode == info.st_ino;
}

// The table of open files. A slot is open exactly while it has an entry here, and the entry
// holds its buffers: so close_all_files reaches every open slot, whoever owns it.
class OpenFileTable {
public:
    void enter(FileSlot& slot, int fd, FileMode mode, bool may_read, bool may_write,
               const RunLock& lock) {
        assert(!slot.is_open);
        entries_.push_back({&slot, std::make_unique<FileBuffers>(), lock});
        slot.is_open = true;
        slot.mode = mode;
        slot.may_read = may_read;
        slot.may_write = may_write;
        slot.position = 0;
        slot.end_mark = false;
        slot.fd = fd;
        slot.file = entries_.back().file.get();
        slot.pending = &slot.file->pending;
        slot.window_length = 0;
    }

    // Called once the slot's fd is closed, and so its lock released.
    void release(FileSlot& slot) {
        auto entry = std::find_if(entries_.begin(), entries_.end(),
                                  [&slot](const Entry& e) { return e.slot == &slot; });
        assert(entry != entries_.end());
        const RunLock lock = entry->lock;
        entries_.erase(entry);
        slot.is_open = false;
        slot.may_read = false;
        slot.may_write = false;
        slot.fd = -1;
        slot.file = nullptr;
        slot.pending = nullptr;
        slot.window_length = 0;
        // Another slot of the run that still holds the file takes the lock over.
        if (lock.held)
            for (Entry& other : entries_)
                if (!other.lock.held && other.lock.device == lock.device &&
                    other.lock.inode == lock.inode) {
                    other.lock.held =
                        flock_retrying(other.slot->fd, other.lock.operation | LOCK_NB) == 0;
                    break;
                }
    }

    // Whether a slot of the run holds the file open: its own lock then stands for a second open.
    bool holds(const struct stat& info) const {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&info](const Entry& e) { return same_file(e.lock, info); });
    }

    FileSlot* any_open_slot() const { return entries_.empty() ? nullptr : entries_.back().slot; }

private:
    struct Entry {
        FileSlot* slot;
        std::unique_ptr<FileBuffers> file;
        RunLock lock;
    };
    std::vector<Entry> entries_;
};

OpenFileTable& open_files() {
    // Never destroyed, so that a slot of static lifetime can still close through it at exit.
    static OpenFileTable* table = new OpenFileTable;
    return *table;
}

// An empty name names no file, and the system would cut a name at a zero byte and so reach
// another file.
bool name_can_exist(const std::string& name) {
    return !name.empty() && name.find('\0') == std::string::npos;
}

// The file the run reads, by device and inode, from the descriptor of the open without emptying.
// An output of the run can name it too (same.stl for the base name same, TEMP1.TMP, a link, a
// hard link, ./same.stl), and writing it would destroy what is being converted. It is kept after
// the input's close at 615, since the clean-up opens and the deletions come later, and forgotten
// when close_all_files ends the run, so that no later run is refused a file that merely has an
// old inode number again.
struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};

FileIdentity g_input_file;

bool is_input_file(const struct stat& info) {
    return g_input_file.known && info.st_dev == g_input_file.device &&
           info.st_ino == g_input_file.inode;
}

// What the run may do to a file it opens.
enum class Use { Read, Write, Empty };

// What the program can use: a regular file, and for a write not the file it reads. A folder keeps
// the code of a missing file. Anything else is refused as a device: the program reads and writes
// at byte positions, which a FIFO, a socket or a device cannot give (pread and pwrite on a pipe
// fail with ESPIPE), and opening one may wait for another process or have effects of its own.
Failure refusal_of_file(const struct stat& info, Use use) {
    if (S_ISDIR(info.st_mode))
        return Failure::FileNotFound;
    if (!S_ISREG(info.st_mode))
        return Failure::DeviceUnavailable;
    if (use != Use::Read && is_input_file(info))
        return Failure::FileAlreadyOpen;
    return Failure::None;
}

// Locks the open file for the run, never waiting. A lock of another process refuses the open
// with 55; a file that a slot of the run holds open already keeps that slot's lock, which this
// open's own would clash with. A file system that keeps no locks leaves the file unlocked, as
// it was before runs took locks.
Failure lock_for_run(int fd, const struct stat& info, RunLock& lock) {
    lock.device = info.st_dev;
    lock.inode = info.st_ino;
    lock.held = false;
    if (open_files().holds(info))
        return Failure::None;
    if (flock_retrying(fd, lock.operation | LOCK_NB) == 0)
        lock.held = true;
    else if (errno == EWOULDBLOCK)
        return Failure::FileAlreadyOpen;
    return Failure::None;
}

// Opens name, checks what was opened, since the name may have changed after may_open looked at
// it, and locks it as lock.operation says; empties the file only then, so that a refused file
// keeps its bytes, the ones another run writes included. Gives the fd with the lock taken, or
// -1 with the code of the refusal.
int open_named(const std::string& name, int flags, Use use, RunLock& lock, Failure& refusal) {
    // O_NONBLOCK: no open waits for another process, as the open of a FIFO without a reader
    // would, for good. It changes nothing for a regular file, the only kind that is kept.
    int fd = open_retrying(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        refusal = open_refusal(errno, name);
        return -1;
    }
    struct stat info;
    if (fstat_retrying(fd, &info) != 0)
        refusal = open_refusal(errno, name);
    else
        refusal = refusal_of_file(info, use);
    if (refusal == Failure::None)
        refusal = lock_for_run(fd, info, lock);
    if (refusal == Failure::None && use == Use::Empty && ftruncate_retrying(fd, 0) != 0)
        refusal = open_refusal(errno, name); // a refused emptying refuses the open
    if (refusal != Failure::None) {
        g_syscalls.close(fd);
        return -1;
    }
    return fd;
}

// The checks that every open makes first, in the order of the failure table, then a look at the
// file before it is opened: a FIFO, a device or the input is refused without being opened.
bool may_open(const FileSlot& slot, const std::string& name, Use use) {
    if (failure_pending())
        return false; // the step already failed; its check reports the first code
    if (slot.is_open) {
        raise_failure(Failure::FileAlreadyOpen);
        return false;
    }
    if (!name_can_exist(name)) {
        raise_failure(Failure::FileNotFound);
        return false;
    }
    // A name that cannot be looked at is left to the open, whose refusal tells why.
    struct stat info;
    if (stat_retrying(name.c_str(), &info) == 0) {
        Failure refusal = refusal_of_file(info, use);
        if (refusal != Failure::None) {
            raise_failure(refusal);
            return false;
        }
    }
    return true;
}

// Flushes and releases an open slot, whatever is pending.
void release_slot(FileSlot& slot) {
    // A refused flush is tried once more before the bytes are let go with the file.
    if (!flush_writes(slot))
        flush_writes(slot);
    // Some file systems (NFS) report a lost write only here. EINTR is not retried: Linux has
    // released the fd already.
    if (g_syscalls.close(slot.fd) != 0 && errno != EINTR)
        raise_failure(write_refusal(errno));
    open_files().release(slot);
}

} // namespace

FileSlot::~FileSlot() {
    // The table must not keep a slot that is gone.
    if (is_open)
        release_slot(*this);
}

void open_byte_file(FileSlot& slot, const std::string& name, EmptyFirst empty_first) {
    const Use use = empty_first == EmptyFirst::Yes ? Use::Empty : Use::Write;
    if (!may_open(slot, name, use))
        return;
    Failure refusal = Failure::None;
    RunLock lock;
    if (empty_first == EmptyFirst::Yes) {
        lock.operation = LOCK_EX;
        int fd = open_named(name, O_WRONLY | O_CREAT, use, lock, refusal);
        if (fd < 0)
            raise_failure(refusal);
        else
            open_files().enter(slot, fd, FileMode::ByteAccess, false, true, lock);
        return;
    }
    // The byte file that is kept is the run's input, which it only reads: others may read it
    // too. Reading and writing where allowed, else reading only, else writing only; a missing
    // file is created and an existing one never emptied.
    lock.operation = LOCK_SH;
    struct Attempt {
        int flags;
        bool may_read;
        bool may_write;
    };
    const Attempt attempts[] = {
        {O_RDWR | O_CREAT, true, true}, {O_RDONLY, true, false}, {O_WRONLY | O_CREAT, false, true}};
    for (const Attempt& attempt : attempts) {
        int fd = open_named(name, attempt.flags, use, lock, refusal);
        if (fd >= 0) {
            open_files().enter(slot, fd, FileMode::ByteAccess, attempt.may_read, attempt.may_write,
                               lock);
            // The run's first such open is of its input; a later one is checked against it.
            if (!g_input_file.known)
                g_input_file = {true, lock.device, lock.inode};
            return;
        }
    }
    raise_failure(refusal); // the code of the last refusal
}

void open_text_writer(FileSlot& slot, const std::string& name) {
    if (!may_open(slot, name, Use::Empty))
        return;
    Failure refusal = Failure::None;
    RunLock lock;
    lock.operation = LOCK_EX;
    int fd = open_named(name, O_WRONLY | O_CREAT, Use::Empty, lock, refusal);
    if (fd < 0)
        raise_failure(refusal);
    else
        open_files().enter(slot, fd, FileMode::TextWriter, false, true, lock);
}

void open_text_reader(FileSlot& slot, const std::string& name) {
    if (!may_open(slot, name, Use::Read))
        return;
    Failure refusal = Failure::None;
    RunLock lock;
    lock.operation = LOCK_SH;
    int fd = open_named(name, O_RDONLY, Use::Read, lock, refusal);
    if (fd < 0) {
        raise_failure(refusal);
        return;
    }
    open_files().enter(slot, fd, FileMode::TextReader, true, false, lock);
    look_at_first_text_byte(slot);
}

void close_file(FileSlot& slot) {
    if (failure_pending())
        return; // the step already failed; its check reports the first code
    if (slot.is_open)
        release_slot(slot);
}

void make_open_file_table() {
    open_files();
}

void close_all_files() {
    // Even while a failure is pending: this is the buffered bytes' last way into their files.
    while (FileSlot* slot = open_files().any_open_slot())
        release_slot(*slot);
    g_input_file = {}; // the run is over
}

void delete_file(const std::string& name) {
    if (failure_pending())
        return; // the step already failed; its check reports the first code
    if (!name_can_exist(name)) {
        raise_failure(Failure::FileNotFound);
        return;
    }
    // Only a regular file is the run's to delete, and never its input: a FIFO or a device of
    // the name stays, as it stayed through the opens, and so does the input under any name.
    struct stat info;
    const bool seen = stat_retrying(name.c_str(), &info) == 0;
    if (seen) {
        Failure refusal = refusal_of_file(info, Use::Write);
        if (refusal != Failure::None) {
            raise_failure(refusal);
            return;
        }
    }
    // Nor a file that another process holds: the run takes an exclusive lock on it, never
    // waiting, and holds it through the unlink. A file the run holds open has the run's lock.
    // A file that cannot be opened to be locked is refused as its open would be.
    int lock_fd = -1;
    if (seen && !open_files().holds(info)) {
        lock_fd = open_retrying(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
        if (lock_fd < 0) {
            raise_failure(open_refusal(errno, name));
            return;
        }
        RunLock lock;
        lock.operation = LOCK_EX;
        if (lock_for_run(lock_fd, info, lock) != Failure::None) {
            g_syscalls.close(lock_fd);
            raise_failure(Failure::FileAlreadyOpen);
            return;
        }
    }
    const int result = unlink_retrying(name.c_str());
    const int error = errno;
    if (lock_fd >= 0)
        g_syscalls.close(lock_fd);
    if (result != 0)
        raise_failure(delete_refusal(error));
}

std::uint64_t file_size(FileSlot& slot) {
    if (!slot.is_open)
        return 0;
    FileBuffers& file = *slot.file;
    if (!file.size_known) {
        struct stat info;
        if (fstat_retrying(slot.fd, &info) == 0) {
            file.size_known = true;
            file.known_size = static_cast<std::uint64_t>(info.st_size);
        }
    }
    // When the system cannot tell, the buffered writes still bound what the slot has written.
    std::uint64_t size = file.size_known ? file.known_size : 0;
    if (file.flight.size != 0)
        size = std::max<std::uint64_t>(size, file.flight.offset + file.flight.size);
    if (file.pending.size != 0)
        size = std::max<std::uint64_t>(size, file.pending.start + file.pending.size);
    return size;
}
